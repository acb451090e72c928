// The parts of the test helpers that the standard library does alike everywhere.
#include "platform/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/platform.h"

namespace test_support {

void remove_tree(const std::string& path) {
  std::error_code error;
  // Links go first, each as itself: the library sees no link under Wine, and
  // would delete what one points to or walk into it. Read-only entries must
  // become writable for Windows to delete them.
  std::vector<std::string> links;
  for (auto it = std::filesystem::recursive_directory_iterator(path, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    std::string entry = it->path().string();
    std::uint32_t attributes = platform::file_attributes(entry.c_str());
    if (attributes != platform::kInvalidAttributes && (attributes & platform::kAttrLink)) {
      it.disable_recursion_pending();
      links.push_back(entry);
      continue;
    }
    std::error_code ignored;
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, ignored);
  }
  for (const std::string& link : links) remove_link(link);
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
