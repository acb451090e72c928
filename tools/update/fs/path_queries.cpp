#include "fs/path_queries.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

bool path_exists(const char* path) { return platform::file_attributes(path) != platform::kInvalidAttributes; }

int is_folder(const char* path) {
  if (!path) return 0;
  std::size_t length = std::strlen(path);
  if (length < 2) return 0;
  // Only the first 260 characters would fit: a longer path would be tested
  // cut, which names another entry.
  if (length > 260) return 0;
  char buffer[261] = {};
  std::memcpy(buffer, path, length);
  if (length == 2) {
    if (buffer[1] != ':') return 0;
    buffer[2] = '/';
  } else if (buffer[length - 1] == '/') {
    buffer[length - 1] = '\0';
  }
  std::uint32_t attributes = platform::file_attributes(buffer);
  return attributes != platform::kInvalidAttributes && (attributes & platform::kAttrFolder) ? 1 : 0;
}

int first_match_is_folder(const char* path) {
  char pattern[platform::kPathBuffer];
  int length = std::snprintf(pattern, sizeof pattern, "%s%s", path, "*.*");
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof pattern) return -1;
  platform::FolderEntry entry;
  platform::FolderSearch* search = platform::find_first(pattern, &entry);
  if (!search) return -1;
  int answer = (entry.attributes & platform::kAttrFolder) ? 1 : 0;
  platform::find_close(search);
  return answer;
}

int make_folder(const char* path) {
  return platform::create_folder(path) != platform::CreateFolderResult::failed ? 1 : 0;
}

int make_folder_path(const char* path) {
  std::size_t length = std::strlen(path);
  if (length > 260) return 0;
  int result = 1;
  std::size_t position = 0;
  while (position < length) {
    // The next "/" if one remains; only when none does, the next backslash.
    const char* separator = std::strchr(path + position, '/');
    if (!separator) separator = std::strchr(path + position, '\\');
    if (!separator) break;
    std::size_t prefix_length = static_cast<std::size_t>(separator - path);
    if (prefix_length > 0) {
      char prefix[261] = {};
      std::memcpy(prefix, path, prefix_length);
      result = make_folder(prefix);
    }
    position = prefix_length + 1;
  }
  return result;
}

std::string folder_part(const std::string& path) {
  std::string::size_type last = path.find_last_of("/\\");
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}
