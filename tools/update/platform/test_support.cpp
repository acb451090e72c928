// The parts of the test helpers that the standard library does alike everywhere.
#include "platform/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace test_support {

void remove_tree(const std::string& path) {
  std::error_code error;
  // Read-only entries must become writable first for Windows to delete them.
  for (auto it = std::filesystem::recursive_directory_iterator(path, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    std::error_code ignored;
    if (!it->is_symlink(ignored))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(path, error);
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found &&
         !error;
}

std::string program_path() { return CORVANE_PROGRAM; }

namespace {
const char* const kHomeVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DOCUMENTS_DIR"};
}

OwnHome::OwnHome(const std::string& home) {
  for (int i = 0; i < 3; ++i) {
    const char* value = std::getenv(kHomeVariables[i]);
    saved[i] = value ? value : "";
  }
  std::filesystem::create_directories(home);
  set_environment("HOME", home);
  set_environment("XDG_CONFIG_HOME", "");
  set_environment("XDG_DOCUMENTS_DIR", "");
}

OwnHome::~OwnHome() {
  for (int i = 0; i < 3; ++i) set_environment(kHomeVariables[i], saved[i]);
}

}  // namespace test_support
