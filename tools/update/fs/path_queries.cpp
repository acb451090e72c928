#include "fs/path_queries.h"

#include <cstdio>
#include <cstring>

#include "fs/path_text.h"
#include "platform/platform.h"

bool path_exists(const char* path) { return platform::file_attributes(path) != platform::kInvalidAttributes; }

int is_folder(const char* path) {
  if (!path) return 0;
  std::size_t length = std::strlen(path);
  if (length < 2) return 0;
  // A path longer than a path buffer (its trailing "/" aside) is not
  // examined: cut to fit, it would name another entry.
  if (length > platform::kPathMax) return 0;
  std::string text(path, length);
  if (length == 2) {
    if (text[1] != ':') return 0;
    text += '/';
  } else if (text.back() == '/') {
    text.pop_back();
  }
  std::uint32_t attributes = platform::file_attributes(text.c_str());
  return attributes != platform::kInvalidAttributes && (attributes & platform::kAttrFolder) ? 1 : 0;
}

int first_match_is_folder(const char* path) {
  std::string text(path);
  std::string folder = folder_part(text);
  platform::FolderSearch* search = platform::open_folder(folder.c_str(), text.c_str() + folder.size());
  if (!search) return -1;
  platform::FolderEntry entry;
  if (!platform::next_entry(search, &entry)) {
    platform::close_folder(search);
    return -1;
  }
  int answer = entry.kind == platform::EntryKind::folder || entry.kind == platform::EntryKind::mount ||
                       (entry.kind == platform::EntryKind::link && entry.points_to_folder)
                   ? 1
                   : 0;
  platform::close_folder(search);
  return answer;
}

int make_folder(const char* path) {
  platform::Status made = platform::create_folder(path);
  return made.ok() || made.failure == platform::Failure::exists ? 1 : 0;
}

int make_folder_path(const char* path) {
  std::size_t length = std::strlen(path);
  if (length > platform::kPathMax) return 0;
  int result = 1;
  std::size_t position = 0;
  while (position < length) {
    // The next "/" if one remains; only when none does, the next backslash.
    const char* separator = std::strchr(path + position, '/');
    if (!separator) separator = std::strchr(path + position, '\\');
    if (!separator) break;
    std::size_t prefix_length = static_cast<std::size_t>(separator - path);
    if (prefix_length > 0) result = make_folder(std::string(path, prefix_length).c_str());
    position = prefix_length + 1;
  }
  return result;
}

bool passes_through_link(const std::string& folder, const std::string& name) {
  for (std::string::size_type i = 1; i < name.size(); ++i) {
    if (!is_separator(name[i]) || is_separator(name[i - 1])) continue;
    std::uint32_t attributes = platform::file_attributes((folder + name.substr(0, i)).c_str());
    if (attributes != platform::kInvalidAttributes && (attributes & platform::kAttrLink)) return true;
  }
  return false;
}
