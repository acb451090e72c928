#include "run/name_checks.h"

#include <algorithm>

#include "platform/platform.h"

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

bool is_step_up(const std::string& step) {
  return step.find_first_not_of(". ") == std::string::npos && std::count(step.begin(), step.end(), '.') >= 2;
}

}  // namespace

std::string without_trailing_separators(const std::string& name) {
  std::string::size_type end = name.find_last_not_of("/\\");
  return end == std::string::npos ? std::string() : name.substr(0, end + 1);
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

bool passes_through_link(const std::string& folder, const std::string& name) {
  for (std::string::size_type i = 1; i < name.size(); ++i) {
    if (!is_separator(name[i]) || is_separator(name[i - 1])) continue;
    std::uint32_t attributes = platform::file_attributes((folder + name.substr(0, i)).c_str());
    if (attributes != platform::kInvalidAttributes && (attributes & platform::kAttrLink)) return true;
  }
  return false;
}
