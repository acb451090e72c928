#include "testing/trees.h"

#include <filesystem>

#include "platform/platform.h"
#include "platform/test_support.h"

namespace testing_trees {

namespace fs = std::filesystem;

void make_tree(const std::string& folder, const Tree& tree) {
  fs::create_directories(folder);
  for (const auto& [path, content] : tree) {
    fs::path full = fs::path(folder) / path;
    if (content == "/") {
      fs::create_directories(full);
    } else {
      fs::create_directories(full.parent_path());
      test_support::write_file(full.generic_string(), content);
    }
  }
}

Tree snapshot(const std::string& folder) {
  Tree tree;
  std::error_code error;
  if (!fs::is_directory(folder, error)) return tree;
  for (auto it = fs::recursive_directory_iterator(folder, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    // Lexically: a link must be named where it stands, not where it leads.
    std::string relative = it->path().lexically_relative(folder).generic_string();
    std::error_code link_error;
    // The product's own question also sees the links that the library does
    // not (under Wine), whose target it cannot read: "-> " alone.
    std::uint32_t attributes = platform::file_attributes(it->path().string().c_str());
    if (it->is_symlink(link_error) ||
        (attributes != platform::kInvalidAttributes && (attributes & platform::kAttrLink))) {
      it.disable_recursion_pending();
      tree[relative] = "-> " + fs::read_symlink(it->path(), link_error).generic_string();
    } else if (it->is_directory(link_error)) {
      tree[relative] = "/";
    } else if (!it->is_regular_file(link_error)) {
      tree[relative] = "|";  // reading a pipe would wait for a writer
    } else {
      tree[relative] = test_support::read_file(it->path().generic_string());
    }
  }
  return tree;
}

std::string path_of_length(std::size_t length, char fill) {
  constexpr std::size_t kLongestName = 255;
  std::string path;
  for (; length > kLongestName; length -= kLongestName) path += std::string(kLongestName - 1, fill) + "/";
  return path + std::string(length, fill);
}

}  // namespace testing_trees
