#include "fs/path_text.h"

#include <algorithm>

namespace {

bool is_step_up(const std::string& step) {
  return step.find_first_not_of(". ") == std::string::npos && std::count(step.begin(), step.end(), '.') >= 2;
}

}  // namespace

bool is_separator(char c) { return c == '/' || c == '\\'; }

std::string folder_or_current(const std::string& folder) { return folder.empty() ? "." : folder; }

std::string without_trailing_separators(const std::string& path) {
  std::string::size_type end = path.find_last_not_of("/\\");
  return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

std::string folder_part(const std::string& path) {
  std::string::size_type last = path.find_last_of("/\\");
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

bool leads_outside(const std::string& name) {
  if (name.empty()) return false;
  if (is_separator(name[0]) || (name.size() >= 2 && name[1] == ':')) return true;
  std::string::size_type start = 0;
  while (start <= name.size()) {
    std::string::size_type end = start;
    while (end < name.size() && !is_separator(name[end])) ++end;
    if (is_step_up(name.substr(start, end - start))) return true;
    start = end + 1;
  }
  return false;
}

bool has_rewritten_step(const std::string& name, bool trailing_trimmed) {
  std::string::size_type start = 0;
  while (start < name.size()) {
    std::string::size_type end = start;
    while (end < name.size() && !is_separator(name[end])) ++end;
    std::string step = name.substr(start, end - start);
    if (step == ".") return true;
    if (trailing_trimmed && !step.empty() && (step.back() == '.' || step.back() == ' ')) return true;
    start = end + 1;
  }
  return false;
}

void to_forward_slashes(std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size() && text[i] != '\0'; ++i) {
    unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x80) {
      result += text[i];
      // The second byte of a double-byte character stays as it is, even 0x5C.
      if (i + 1 < text.size() && text[i + 1] != '\0') result += text[++i];
    } else {
      result += byte == '\\' ? '/' : text[i];
    }
  }
  text = result;
}

void replace_backslashes(char* text) {
  for (; *text; ++text)
    if (*text == '\\') *text = '/';
}
