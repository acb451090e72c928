#include "testing/trees.h"

#include <filesystem>

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
    if (it->is_symlink(link_error))
      tree[relative] = "-> " + fs::read_symlink(it->path(), link_error).generic_string();
    else if (it->is_directory(link_error))
      tree[relative] = "/";
    else
      tree[relative] = test_support::read_file(it->path().generic_string());
  }
  return tree;
}

std::vector<std::string> pass_log_lines(const std::string& log_path) {
  std::vector<std::string> lines;
  std::string text = test_support::read_file(log_path);
  std::string end = test_support::kTextLineEnd;
  std::size_t start = text.rfind("Run param is: ");
  if (start == std::string::npos) return lines;
  start = text.find(end, start);
  while (start != std::string::npos && start + end.size() < text.size()) {
    start += end.size();
    std::size_t stop = text.find(end, start);
    std::string line = text.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
    std::size_t colon = line.find("s: ");
    std::string body = colon == std::string::npos ? line : line.substr(colon + 3);
    std::size_t key_end = body.find(" : ");
    bool configuration_line = key_end != std::string::npos && body.find(' ') == key_end;
    if (!configuration_line) lines.push_back(body);
    start = stop;
  }
  return lines;
}

}  // namespace testing_trees
