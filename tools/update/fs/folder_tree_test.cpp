#include "fs/folder_tree.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
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
using testing_trees::path_of_length;
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

// Every folder a copy fills, the named one included, gets its source's
// permission bits (Windows: attributes) and modification time once its
// contents are in, a folder that cannot be written to included.
TEST_F(FolderTreeTest, CopyGivesEveryFolderItsSourcesModeAndTime) {
  build("src/", {"f", "sub/", "sub/g", "sub/deeper/", "sub/deeper/h"});
  struct Case {
    const char* folder;
    fs::perms mode;            // POSIX
    std::uint32_t attributes;  // Windows
  } cases[] = {{"src", fs::perms::owner_all, 0},
               {"src/sub", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec,
                platform::kAttrHidden},
               {"src/sub/deeper", fs::perms::owner_read | fs::perms::owner_exec, platform::kAttrReadOnly}};
  for (const Case& c : cases) {
    if (test_support::kWindows)
      ASSERT_TRUE(c.attributes == 0 || platform::set_attributes(c.folder, c.attributes)) << c.folder;
    else
      fs::permissions(c.folder, c.mode);
  }
  // The copies' own times would be later.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  build("dst/", {});
  EXPECT_EQ(copy_folder_tree("src/", "dst/"), 1);
  EXPECT_EQ(read_file("dst/sub/deeper/h"), "sub/deeper/h");
  for (const Case& c : cases) {
    std::string copy = "dst" + std::string(c.folder).substr(3);
    SCOPED_TRACE(copy);
    EXPECT_EQ(fs::last_write_time(copy), fs::last_write_time(c.folder));
    if (test_support::kWindows) {
      // As the system keeps them: Wine has no read-only folders.
      const std::uint32_t kKept = platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem;
      const std::uint32_t source = platform::file_attributes(c.folder) & kKept;
      EXPECT_EQ(platform::file_attributes(copy.c_str()) & kKept, source);
      EXPECT_EQ(source & platform::kAttrHidden, c.attributes & platform::kAttrHidden);
    } else {
      EXPECT_EQ(fs::status(copy).permissions(), c.mode);
    }
  }
  // A copy of a folder that cannot be written to is deleted all the same.
  EXPECT_EQ(delete_folder_tree("dst/"), 1);
  EXPECT_FALSE(exists("dst"));
}

TEST_F(FolderTreeTest, DeleteRemovesNestedTreeWithReadOnlyFilesAndFolders) {
  build("tree/", {"a", "sub/", "sub/b", "sub/deeper/", "sub/deeper/c", "sub/empty/"});
  build("beside/", {"kept"});
  for (const char* path : {"tree/a", "tree/sub/deeper/c", "tree/sub/empty"})
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
// a named folder that is a link: what they point to, outside, stays whole,
// even an empty folder or a file that a removal through the link would take.
// Under Wine (where the Windows build's tests run) every call on a link
// reaches what it points to: the links stay there, and the results say so.
TEST_F(FolderTreeTest, DeleteRemovesLinksNeverWhatTheyPointTo) {
  build("outside/", {"precious", "inner/", "inner/deep", "empty/"});
  const auto outside = snapshot("outside/");
  build("tree/", {"a", "sub/", "sub/b"});
  if (!test_support::make_folder_link("tree/sub/link", folder_ + "outside") ||
      !test_support::make_folder_link("named", folder_ + "outside"))
    GTEST_SKIP() << "this system makes no links to folders";
  const std::vector<std::string> links = {"tree/sub/link", "tree/file-link", "tree/sub/empty-link"};
  ASSERT_TRUE(test_support::make_link("tree/file-link", folder_ + "outside/precious"));
  ASSERT_TRUE(test_support::make_link("tree/sub/empty-link", folder_ + "outside/empty"));
  platform::Status why = platform::kOk;
  const int result = delete_folder_tree("tree/", &why);
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
    EXPECT_EQ(result, 0);
    EXPECT_EQ(why.failure, platform::Failure::link);
    EXPECT_EQ(named, 0);
    for (const std::string& link : links)
      EXPECT_NE(platform::file_attributes(link.c_str()) & platform::kAttrLink, 0u) << link;
    EXPECT_NE(platform::file_attributes("named") & platform::kAttrLink, 0u);
  }
}

// Someone who can write to the tree swaps a folder of it for a link to a
// folder outside while a walk goes on: a sub-folder that a deletion is about
// to enter (it then meets the link in its place), the one whose file it is
// about to delete (the folder it walks is moved away and the link takes its
// name), or the sub-folder a copy is filling. Nothing outside changes.
std::string swap_at;      // the entry path at which the hook swaps
std::string swap_folder;  // the folder it swaps for a link to "outside"
bool swapped = false;

void swap_for_link(const char* path) {
  if (swapped || swap_at != path) return;
  swapped = true;
  std::error_code error;
  fs::rename(swap_folder, "moved-away", error);
  test_support::make_folder_link(swap_folder, fs::absolute("outside").string());
}

TEST_F(FolderTreeTest, AFolderSwappedForALinkDuringAWalkLeadsNowhere) {
  if (test_support::kWindows) GTEST_SKIP() << "the Windows build names entries by path while it walks a tree";
  struct Case {
    const char* at;
    const char* folder;
    bool copy;
  } cases[] = {
      {"tree/sub/", "tree/sub", false},
      {"tree/sub/b", "tree/sub", false},
      {"tree/sub/b", "copy/sub", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.copy ? "copy, " : "delete, ") + c.at);
    test_support::remove_tree(folder_);
    folder_ = test_support::make_temp_folder();
    fs::current_path(folder_);
    // Outside holds the names of the swapped folder's entries too.
    build("outside/", {"precious", "b", "c", "inner/", "inner/deep"});
    build("tree/", {"a", "sub/", "sub/b", "sub/c"});
    fs::create_directory("copy");
    const auto outside = snapshot("outside/");
    swap_at = c.at;
    swap_folder = c.folder;
    swapped = false;
    if (c.copy)
      copy_folder_tree("tree/", "copy/", nullptr, swap_for_link);
    else
      delete_folder_tree("tree/", nullptr, swap_for_link);
    ASSERT_TRUE(swapped);
    EXPECT_EQ(snapshot("outside/"), outside);
  }
}

// A copy keeps a link a link, to a file or to a folder, and never copies what
// it points to. The Windows build makes no links: there the copy fails at
// each link with that reason, and takes nothing from outside.
TEST_F(FolderTreeTest, CopyKeepsLinksAsLinksOrRefusesThem) {
  build("outside/", {"secret", "inner/", "inner/deep"});
  build("src/", {"plain", "sub/", "sub/x"});
  if (!test_support::make_link("src/file-link", folder_ + "outside/secret") ||
      !test_support::make_link("src/sub/here", ".") || !test_support::make_link("src/away", folder_ + "outside"))
    GTEST_SKIP() << "no links here";
  build("dst/", {});
  platform::Status why = platform::kOk;
  const int result = copy_folder_tree("src/", "dst/", &why);
  if (test_support::kWindows) {
    EXPECT_EQ(result, 0);
    EXPECT_EQ(why.failure, platform::Failure::link);
    EXPECT_EQ(snapshot("dst/"), (Tree{{"plain", "plain"}, {"sub", "/"}, {"sub/x", "sub/x"}}));
  } else {
    EXPECT_EQ(result, 1);
    EXPECT_EQ(snapshot("dst/"), (Tree{{"plain", "plain"},
                                      {"file-link", "-> " + folder_ + "outside/secret"},
                                      {"away", "-> " + folder_ + "outside"},
                                      {"sub", "/"},
                                      {"sub/x", "sub/x"},
                                      {"sub/here", "-> ."}}));
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

// A composed path holds at most platform::kPathMax - 1 characters (259 on
// Windows, 4095 on Linux). An entry whose path would be longer fails, the
// walk goes on, and nothing is done with a cut path (which would name another
// entry: here the victim, which is the past-limit file's name cut to fit). A
// deletion moves a folder that cannot be searched where it stands up to a
// short name and deletes it from there; a file whose own name does not fit
// beside the named folder stays.
TEST_F(FolderTreeTest, EntryPathsAtAndPastTheLimit) {
  const std::size_t kLimit = platform::kPathMax - 1;
  // 55 characters on Windows: room for names of about 200 beside them.
  const std::string kSource = "src/" + path_of_length(kLimit - 209, 'd') + "/";
  const std::string kTarget = "dst/" + path_of_length(kLimit - 209, 'd') + "/";
  const std::string at(kLimit - kSource.size(), 'y');
  const std::string past(kLimit + 1 - kSource.size(), 'x');
  const std::string victim(kLimit - kTarget.size(), 'x');
  const std::string folder_past(kLimit - kSource.size(), 'z');  // its path ends in "/": kLimit + 1
  build(kSource, {at, folder_past + "/"});
  // Made from near by: Linux takes no longer path, and neither does the
  // runtime library under Wine.
  fs::current_path(kSource);
  write_file(past, past);
  fs::current_path(folder_);
  build(kTarget, {});
  write_file(kTarget + victim, "victim");

  EXPECT_EQ(copy_folder_tree(kSource.c_str(), kTarget.c_str()), 0);
  Tree copied = {{at, at}, {victim, "victim"}};
  EXPECT_EQ(snapshot(kTarget), copied);

  platform::Status why = platform::kOk;
  EXPECT_EQ(delete_folder_tree(kSource.c_str(), &why), 0);
  EXPECT_EQ(why.failure, platform::Failure::too_long);
  // What stays is read and removed from near by, as it was made.
  fs::current_path(kSource);
  Tree left = {{past, past}};
  EXPECT_EQ(snapshot("./"), left);
  fs::remove(past);
  fs::current_path(folder_);
}

// Trees deeper than a path holds, as a replaced folder becomes once it is
// moved into the backup folder: each is made where its paths fit, then moved
// below a folder with a long path, and emptied all the same. The lengths
// below are those of the Windows build; where paths are longer (Linux) the
// long folder is longer by as much, so that every shape is met there too.
class DeepTreeTest : public FolderTreeTest {
 protected:
  static constexpr int kLevels = 8;
  // A chain of kLevels folders of 20 characters below folder, with a file at
  // its end; the path of its deepest folder, relative to folder.
  std::string chain(const std::string& folder) {
    std::string deepest;
    for (int level = 0; level < kLevels; ++level) deepest += std::string(19, 'a' + level) + "/";
    build(folder, {deepest, deepest + "f"});
    return deepest;
  }
  // Moves the entry from into the folder to, keeping its name.
  void nest(const std::string& from, const std::string& to) {
    ASSERT_TRUE(platform::move_entry(from.c_str(), (to + fs::path(from).filename().string()).c_str()).ok())
        << from << " -> " << to;
  }
  const std::string kNamed = "t/";
  const std::string kLong = kNamed + path_of_length(platform::kPathMax - 140, 'l') + "/";  // 123 on Windows
};

TEST_F(DeepTreeTest, EveryShapeOfDepthIsEmptied) {
  build(kLong, {});
  build("beside/", {"kept"});
  // A file whose path is past the limit in a folder that can be searched
  // (its folder's path: 229 characters; the file's: 269).
  build("file/", {"d/", "d/" + std::string(98, 'b') + "/", "d/" + std::string(98, 'b') + "/" + std::string(40, 'f')});
  nest("file", kLong);
  // A folder that can be named but not searched (its path with its "/" is
  // one character longer than a search takes), and a file in it.
  const std::string unsearched(platform::kSearchFolderMax - kLong.size() - 5, 'c');  // 128 on both
  build("fold/", {unsearched + "/", unsearched + "/f"});
  nest("fold", kLong);
  // Three chains nested into each other: over 650 characters deep.
  const std::string inner = chain("c3/");
  const std::string middle = chain("c2/");
  const std::string outer = chain("c1/");
  nest("c3", "c2/" + middle);
  nest("c2", "c1/" + outer);
  nest("c1", kLong);

  platform::Status why = platform::kOk;
  EXPECT_EQ(delete_folder_tree(kNamed.c_str(), &why), 1) << platform::describe(why);
  EXPECT_FALSE(exists("t"));
  EXPECT_EQ(snapshot("beside/"), (Tree{{"kept", "kept"}}));
}

// A folder moved up takes a name nobody uses; an entry that cannot be
// deleted stays where it is, and is the reason told.
TEST_F(DeepTreeTest, AMovedUpFolderTakesAFreeNameAndWhatCannotGoStays) {
  build(kLong, {});
  build(kNamed, {"0/", "0/stuck", "1"});
  test_support::HeldEntry* held = nullptr;
  bool immutable = false;
  if (test_support::kWindows) {
    held = test_support::hold_open(kNamed + "0/stuck");
    ASSERT_NE(held, nullptr);
  } else if (!(immutable = test_support::set_immutable(kNamed + "0/stuck", true))) {
    GTEST_SKIP() << "no immutable files here (needs root and ext4)";
  }
  const std::string deepest = chain("c/");
  nest("c", kLong);
  platform::Status why = platform::kOk;
  EXPECT_EQ(delete_folder_tree(kNamed.c_str(), &why), 0);
  EXPECT_NE(why.failure, platform::Failure::too_long) << platform::describe(why);
  EXPECT_EQ(snapshot(kNamed), (Tree{{"0", "/"}, {"0/stuck", "0/stuck"}}));
  test_support::release(held);
  if (immutable) test_support::set_immutable(kNamed + "0/stuck", false);
}

// The search pattern "<folder>*.*" must fit too: a folder of 256 characters
// is walked, one of 257 is not (and is left as it is); the Linux build keeps
// the same rule against its own limit (4092 and 4093).
TEST_F(FolderTreeTest, NamedFolderAtAndPastTheLimit) {
  struct Case {
    std::string folder;
    std::string target;
    int expected;
  } cases[] = {{"l/" + path_of_length(platform::kSearchFolderMax - 3, 'e') + "/", "at/", 1},
               {"l/" + path_of_length(platform::kSearchFolderMax - 2, 'e') + "/", "past/", 0}};
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
