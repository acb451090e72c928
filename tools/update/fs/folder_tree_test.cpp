#include "fs/folder_tree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/test_support.h"
#include "testing/trees.h"

namespace {

namespace fs = std::filesystem;
using test_support::exists;
using test_support::read_file;
using test_support::write_file;
using testing_trees::make_tree;
using testing_trees::snapshot;
using testing_trees::Tree;

// Creates entries below root: a name ending in "/" is a folder, any other a
// file whose content is its own name.
void build(const std::string& root, const std::vector<std::string>& entries) {
  Tree tree;
  for (const std::string& entry : entries) {
    if (entry.back() == '/')
      tree[entry.substr(0, entry.size() - 1)] = "/";
    else
      tree[entry] = entry;
  }
  make_tree(root, tree);
}

// The trouble the entry hook raises at the entry whose path ends in
// "deeper/boom": a real fault or a C++ exception. The hook owns nothing that
// needs a destructor, since a fault skips them.
enum class Trouble { null_write, divide_by_zero, exception };
Trouble trouble = Trouble::null_write;
int* volatile null_target = nullptr;
volatile int dividend = 1;
volatile int zero = 0;

// The faults are meant: a sanitized build must let them happen, not report them.
__attribute__((no_sanitize("undefined"))) void make_trouble(const char* path) {
  const char kAt[] = "deeper/boom";
  std::size_t length = std::strlen(path);
  if (length < sizeof kAt - 1 || std::strcmp(path + length - (sizeof kAt - 1), kAt) != 0) return;
  switch (trouble) {
    case Trouble::null_write:
      *null_target = 1;
      break;
    case Trouble::divide_by_zero:
      dividend = dividend / zero;
      break;
    case Trouble::exception:
      throw std::runtime_error("entry refused");
  }
}

// Works in a fresh folder that is also the current folder, so that relative
// paths control the lengths of composed paths. Every test must leave no
// folder search open.
class FolderTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    folder_ = test_support::make_temp_folder();
    fs::current_path(folder_);
    open_handles_ = test_support::open_handle_count();
  }
  void TearDown() override {
    if (open_handles_ >= 0) {
      EXPECT_EQ(test_support::open_handle_count(), open_handles_) << "a folder listing was left open";
    }
    fs::current_path(previous_);
    test_support::remove_tree(folder_);
  }
  fs::path previous_;
  std::string folder_;
  int open_handles_ = -1;
};

TEST_F(FolderTreeTest, CopyOfEmptyOrMissingSource) {
  build("empty/", {});
  build("dst/", {});
  EXPECT_EQ(copy_folder_tree("empty/", "dst/"), 1);
  EXPECT_TRUE(snapshot("dst/").empty());
  EXPECT_EQ(copy_folder_tree("missing/", "dst/"), 0);
  EXPECT_TRUE(snapshot("dst/").empty());
}

TEST_F(FolderTreeTest, CopyOfNestedTreeIsWhole) {
  // Names with and without a dot: "*.*" matches both.
  build("src/", {"a.txt", "noext", "sub/", "sub/b.dat", "sub/deeper/", "sub/deeper/c", "sub/empty/"});
  auto source = snapshot("src/");
  build("dst/", {});
  EXPECT_EQ(copy_folder_tree("src/", "dst/"), 1);
  EXPECT_EQ(snapshot("dst/"), source);
  EXPECT_EQ(snapshot("src/"), source);
}

TEST_F(FolderTreeTest, CopyOverwritesFilesAndReusesFolders) {
  build("src/", {"a", "sub/", "sub/b"});
  build("dst/", {"sub/", "sub/kept"});
  write_file("dst/a", "old a");
  write_file("dst/sub/b", "old b");
  EXPECT_EQ(copy_folder_tree("src/", "dst/"), 1);
  Tree expected = {
      {"a", "a"}, {"sub", "/"}, {"sub/b", "sub/b"}, {"sub/kept", "sub/kept"}};
  EXPECT_EQ(snapshot("dst/"), expected);
}

TEST_F(FolderTreeTest, FileWhereSubFolderGoesFailsOnlyThatSubFolder) {
  build("src/", {"a", "sub/", "sub/b", "sub/c", "z"});
  build("dst/", {});
  write_file("dst/sub", "a file");
  EXPECT_EQ(copy_folder_tree("src/", "dst/"), 0);
  Tree expected = {{"a", "a"}, {"sub", "a file"}, {"z", "z"}};
  EXPECT_EQ(snapshot("dst/"), expected);
}

TEST_F(FolderTreeTest, CopyTakesHiddenAndReadOnlyFiles) {
  build("src/", {"hidden", "readonly", "system", "sub/", "sub/readonly"});
  const std::uint32_t kKept = platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem;
  struct Case {
    const char* name;
    std::uint32_t attributes;
  } cases[] = {{"hidden", platform::kAttrHidden},
               {"readonly", platform::kAttrReadOnly},
               {"system", platform::kAttrSystem},
               {"sub/readonly", platform::kAttrReadOnly}};
  for (const Case& c : cases) ASSERT_TRUE(platform::set_attributes(("src/" + std::string(c.name)).c_str(), c.attributes));
  build("dst/", {});
  EXPECT_EQ(copy_folder_tree("src/", "dst/"), 1);
  for (const Case& c : cases) {
    std::string copy = "dst/" + std::string(c.name);
    EXPECT_EQ(read_file(copy), c.name);
    std::uint32_t attributes = platform::file_attributes(copy.c_str());
    // POSIX keeps only read-only (the write bits); Windows keeps all three.
    std::uint32_t expected = test_support::kWindows ? c.attributes : c.attributes & platform::kAttrReadOnly;
    EXPECT_EQ(attributes & kKept, expected) << c.name;
  }
}

TEST_F(FolderTreeTest, CopyKeepsPermissionBitsAndModificationTime) {
  if (test_support::kWindows) GTEST_SKIP() << "Windows keeps attributes, tested above";
  build("src/", {"tool", "sub/", "sub/script"});
  const fs::perms kExecutable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec;
  const fs::perms kScript = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_exec;
  fs::permissions("src/tool", kExecutable);
  fs::permissions("src/sub/script", kScript);
  auto old_time = fs::last_write_time("src/tool") - std::chrono::hours(24 * 30);
  fs::last_write_time("src/tool", old_time);
  // An older, longer copy with other bits stands in the way: it takes the new
  // content and the new bits.
  build("dst/", {"sub/"});
  write_file("dst/tool", "an older and longer tool");
  fs::permissions("dst/tool", fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(copy_folder_tree("src/", "dst/"), 1);
  EXPECT_EQ(read_file("dst/tool"), "tool");
  EXPECT_EQ(fs::status("dst/tool").permissions(), kExecutable);
  EXPECT_EQ(fs::status("dst/sub/script").permissions(), kScript);
  EXPECT_EQ(fs::last_write_time("dst/tool"), old_time);
  EXPECT_EQ(read_file("dst/sub/script"), "sub/script");
}

TEST_F(FolderTreeTest, DeleteRemovesNestedTreeWithReadOnlyFiles) {
  build("tree/", {"a", "sub/", "sub/b", "sub/deeper/", "sub/deeper/c", "sub/empty/"});
  build("beside/", {"kept"});
  for (const char* path : {"tree/a", "tree/sub/deeper/c"})
    ASSERT_TRUE(platform::set_attributes(path, platform::kAttrReadOnly));
  ASSERT_TRUE(platform::set_attributes("tree/sub/b", platform::kAttrHidden | platform::kAttrSystem));
  EXPECT_EQ(delete_folder_tree("tree/"), 1);
  EXPECT_FALSE(exists("tree"));
  EXPECT_EQ(read_file("beside/kept"), "kept");
}

TEST_F(FolderTreeTest, DeleteOfMissingFolderChangesNothing) {
  build("beside/", {"kept"});
  write_file("file", "x");
  EXPECT_EQ(delete_folder_tree("missing/"), 0);
  EXPECT_EQ(delete_folder_tree("file/"), 0);
  EXPECT_EQ(read_file("file"), "x");
  EXPECT_EQ(read_file("beside/kept"), "kept");
}

TEST_F(FolderTreeTest, HeldFileStaysWithItsFoldersAndEverythingElseGoes) {
  if (!test_support::kWindows) GTEST_SKIP() << "POSIX lets an open file be deleted";
  build("tree/", {"a", "keep/", "keep/inner/", "keep/inner/held", "keep/inner/other", "keep/x", "gone/",
                  "gone/y", "z"});
  test_support::HeldEntry* held = test_support::hold_open("tree/keep/inner/held");
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(delete_folder_tree("tree/"), 0);
  Tree expected = {
      {"keep", "/"}, {"keep/inner", "/"}, {"keep/inner/held", "keep/inner/held"}};
  EXPECT_EQ(snapshot("tree/"), expected);
  test_support::release(held);
  EXPECT_EQ(delete_folder_tree("tree/"), 1);
  EXPECT_FALSE(exists("tree"));
}

// A fault or exception two levels down ends only the level that raised it:
// that level yields 0 with its search closed (checked for every test), its
// parent goes on with its next entry, and the top level with its own.
TEST_F(FolderTreeTest, FaultInsideALevelEndsOnlyThatLevel) {
  const std::vector<std::string> kTree = {"a", "sub/", "sub/b", "sub/deeper/", "sub/deeper/boom", "z"};
  struct Case {
    const char* name;
    Trouble trouble;
  } cases[] = {{"null_write", Trouble::null_write},
               {"divide_by_zero", Trouble::divide_by_zero},
               {"exception", Trouble::exception}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string src = std::string("src-") + c.name + "/";
    std::string dst = std::string("dst-") + c.name + "/";
    std::string doomed = std::string("doomed-") + c.name + "/";
    build(src, kTree);
    build(dst, {});
    build(doomed, kTree);
    trouble = c.trouble;

    EXPECT_EQ(copy_folder_tree(src.c_str(), dst.c_str(), nullptr, make_trouble), 0);
    Tree copied = {
        {"a", "a"}, {"sub", "/"}, {"sub/b", "sub/b"}, {"sub/deeper", "/"}, {"z", "z"}};
    EXPECT_EQ(snapshot(dst), copied);

    EXPECT_EQ(delete_folder_tree(doomed.c_str(), nullptr, make_trouble), 0);
    Tree left = {
        {"sub", "/"}, {"sub/deeper", "/"}, {"sub/deeper/boom", "sub/deeper/boom"}};
    EXPECT_EQ(snapshot(doomed), left);

    // The guard leaves nothing behind: the same walks without trouble succeed.
    EXPECT_EQ(copy_folder_tree(src.c_str(), dst.c_str()), 1);
    EXPECT_EQ(snapshot(dst), snapshot(src));
    EXPECT_EQ(delete_folder_tree(doomed.c_str()), 1);
    EXPECT_FALSE(exists(doomed));
  }
}

TEST_F(FolderTreeTest, FaultInTheNamedFolderYieldsZero) {
  build("src/", {"deeper/", "deeper/boom"});
  build("dst/", {});
  trouble = Trouble::null_write;
  // The hook faults at an entry of the named folder: the top level ends.
  EXPECT_EQ(copy_folder_tree("src/deeper/", "dst/", nullptr, make_trouble), 0);
  EXPECT_TRUE(snapshot("dst/").empty());
  EXPECT_EQ(delete_folder_tree("src/deeper/", nullptr, make_trouble), 0);
  EXPECT_TRUE(exists("src/deeper/boom"));
}

// A link in the tree is removed as itself and never walked through, and so is
// a named folder that is a link: what they point to, outside, stays whole.
TEST_F(FolderTreeTest, DeleteRemovesLinksNeverWhatTheyPointTo) {
  build("outside/", {"precious", "inner/", "inner/deep"});
  const auto outside = snapshot("outside/");
  build("tree/", {"a", "sub/", "sub/b"});
  if (!test_support::make_folder_link("tree/sub/link", folder_ + "outside") ||
      !test_support::make_folder_link("named", folder_ + "outside"))
    GTEST_SKIP() << "this system makes no links to folders";
  const int result = delete_folder_tree("tree/");
  const int named = delete_folder_tree("named/");
  EXPECT_EQ(snapshot("outside/"), outside);
  EXPECT_FALSE(exists("tree/a"));
  EXPECT_FALSE(exists("tree/sub/b"));
  if (!test_support::kWindows) {
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(exists("tree"));
    EXPECT_EQ(named, 1);
    EXPECT_FALSE(exists("named"));
  } else {
    // Wine cannot remove the Unix links it shows as reparse points; whatever
    // the system managed, the results tell it.
    EXPECT_EQ(result, exists("tree/sub/link") ? 0 : 1);
    EXPECT_EQ(named, exists("named") ? 0 : 1);
    for (const char* link : {"tree/sub/link", "named"}) {
      if (exists(link)) {
        EXPECT_TRUE(test_support::remove_folder_link(link)) << link;
      }
    }
  }
}

// The guard lets the system handle its own faults: only a fault that nothing
// deeper handles ends the level.
TEST_F(FolderTreeTest, GuardLeavesFaultsTheSystemHandlesItself) {
  static bool answer;
  answer = false;
  EXPECT_TRUE(platform::run_guarded([](void*) { answer = test_support::system_handles_own_fault(); }, nullptr));
  EXPECT_TRUE(answer);
}

// Copying a tree onto itself never empties a file by copying it over itself.
TEST_F(FolderTreeTest, CopyOntoItselfLeavesFilesWhole) {
  build("src/", {"a", "sub/", "sub/b"});
  const auto before = snapshot("src/");
  EXPECT_EQ(copy_folder_tree("src/", "src/"), 0);
  EXPECT_EQ(snapshot("src/"), before);
}

// A composed path holds at most 259 characters. An entry whose path would be
// longer fails, the walk goes on, and nothing is done with a cut path (which
// would name another entry: here the victim, which is the past-limit file's
// name cut to fit).
TEST_F(FolderTreeTest, EntryPathsAtAndPastTheLimit) {
  const std::string kSource = "src/" + std::string(50, 'd') + "/";  // 55 characters
  const std::string kTarget = "dst/" + std::string(50, 'd') + "/";
  const std::string at(259 - kSource.size(), 'y');
  const std::string past(260 - kSource.size(), 'x');
  const std::string victim(259 - kTarget.size(), 'x');
  const std::string folder_past(259 - kSource.size(), 'z');  // its path ends in "/": 260
  build(kSource, {at, past, folder_past + "/"});
  build(kTarget, {});
  write_file(kTarget + victim, "victim");

  EXPECT_EQ(copy_folder_tree(kSource.c_str(), kTarget.c_str()), 0);
  Tree copied = {{at, at}, {victim, "victim"}};
  EXPECT_EQ(snapshot(kTarget), copied);

  EXPECT_EQ(delete_folder_tree(kSource.c_str()), 0);
  Tree left = {{past, past}, {folder_past, "/"}};
  EXPECT_EQ(snapshot(kSource), left);
  // What stays is removed from near by: the runtime library under Wine
  // refuses paths this long when written out in full.
  fs::current_path(kSource);
  fs::remove(past);
  fs::remove(folder_past);
  fs::current_path(folder_);
}

// The search pattern "<folder>*.*" must fit too: a folder of 256 characters
// is walked, one of 257 is not (and is left as it is).
TEST_F(FolderTreeTest, NamedFolderAtAndPastTheLimit) {
  struct Case {
    std::string folder;
    std::string target;
    int expected;
  } cases[] = {{"l/" + std::string(253, 'e') + "/", "at/", 1}, {"l/" + std::string(254, 'e') + "/", "past/", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder.size());
    build(c.folder, {"f"});
    build(c.target, {});
    EXPECT_EQ(copy_folder_tree(c.folder.c_str(), c.target.c_str()), c.expected);
    EXPECT_EQ(exists(c.target + "f"), c.expected == 1);
    EXPECT_EQ(delete_folder_tree(c.folder.c_str()), c.expected);
    EXPECT_EQ(exists(c.folder), c.expected == 0);
    // What stays is removed by its short relative paths: the runtime library
    // under Wine refuses paths this long when written out in full.
    platform::delete_file((c.folder + "f").c_str());
    platform::remove_folder(c.folder.c_str());
  }
}

}  // namespace
