// Folder trees for tests: made from a table and read back into one, so that a
// test states a whole tree before and after a run in a few lines.
#pragma once

#include <map>
#include <string>

namespace testing_trees {

// Relative path ("/" separators) -> a file's content, or "/" for a folder.
using Tree = std::map<std::string, std::string>;

// Creates the tree below folder (which is created when missing).
void make_tree(const std::string& folder, const Tree& tree);

// Every entry below folder; empty when folder does not exist. A link is shown
// as "-> " and what it points to (under Wine, which cannot read it, "-> "
// alone), and is not followed; anything neither file nor folder (a pipe) as
// "|", and is never read.
Tree snapshot(const std::string& folder);

// A relative path of exactly length characters: steps of fill joined by "/",
// none longer than a name may be (255 characters), so that a test can reach
// the path limit of its build (platform::kPathMax). Up to 255 characters it
// is one name.
std::string path_of_length(std::size_t length, char fill);

}  // namespace testing_trees
