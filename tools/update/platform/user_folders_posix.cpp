// The user's standard folders on a Linux desktop, standing in for the
// shell-folder library: the user-dirs settings file
// ($XDG_CONFIG_HOME/user-dirs.dirs), the XDG_*_DIR variables, then the usual
// folder below the home folder.
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace platform {

// Nothing to load: the settings are read at each query.
struct ShellLibrary {
  int unused;
};

namespace {

ShellLibrary user_dirs = {0};

// The value of key in user-dirs.dirs, with "$HOME" expanded. Empty when absent.
std::string user_dirs_entry(const char* key, const std::string& home) {
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
    config = xdg;
  else if (!home.empty())
    config = home + "/.config";
  else
    return std::string();
  FILE* file = std::fopen((config + "/user-dirs.dirs").c_str(), "r");
  if (!file) return std::string();
  std::string value;
  char line[1024];
  std::size_t key_length = std::strlen(key);
  while (std::fgets(line, sizeof line, file)) {
    if (std::strncmp(line, key, key_length) != 0 || line[key_length] != '=') continue;
    std::string raw = line + key_length + 1;
    while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.pop_back();
    if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') raw = raw.substr(1, raw.size() - 2);
    if (raw.compare(0, 5, "$HOME") == 0) raw = home + raw.substr(5);
    value = raw;
  }
  std::fclose(file);
  return value;
}

// The folder the desktop settings name, or empty text when none is known.
std::string user_folder(UserFolder folder) {
  const char* home_env = std::getenv("HOME");
  std::string home = home_env ? home_env : "";
  const char* key = nullptr;
  const char* fallback = nullptr;
  switch (folder) {
    case UserFolder::documents: key = "XDG_DOCUMENTS_DIR"; fallback = "/Documents"; break;
    case UserFolder::videos: key = "XDG_VIDEOS_DIR"; fallback = "/Videos"; break;
    case UserFolder::pictures: key = "XDG_PICTURES_DIR"; fallback = "/Pictures"; break;
    case UserFolder::app_data: {
      const char* config = std::getenv("XDG_CONFIG_HOME");
      if (config && *config) return config;
      return home.empty() ? std::string() : home + "/.config";
    }
  }
  std::string path = user_dirs_entry(key, home);
  if (path.empty()) {
    const char* env = std::getenv(key);
    if (env && *env) path = env;
  }
  if (path.empty() && !home.empty()) path = home + fallback;
  return path;
}

}  // namespace

ShellLibrary* load_shell_library() {
  return &user_dirs;
}

void free_shell_library(ShellLibrary*) {}

bool shell_has_narrow_query(ShellLibrary* library) { return library != nullptr; }

// Linux paths are bytes already: there is no wide query.
bool shell_has_wide_query(ShellLibrary*) { return false; }

long shell_folder_path_narrow(ShellLibrary* library, UserFolder folder, bool create, char* buffer) {
  buffer[0] = '\0';
  if (!library) return 1;
  std::string path = user_folder(folder);
  if (path.empty() || path.size() >= kPathMax) return 1;
  struct stat status;
  if (stat(path.c_str(), &status) != 0) {
    if (!create || mkdir(path.c_str(), 0777) != 0) return 1;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return 0;
}

long shell_folder_path_wide(ShellLibrary*, UserFolder, bool, char* buffer) {
  buffer[0] = '\0';
  return 1;
}

}  // namespace platform
