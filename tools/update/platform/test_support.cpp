// The parts of the test helpers that the standard library does alike everywhere.
#include "platform/test_support.h"

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

}  // namespace test_support
