#include "fs/path_queries.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "platform/test_support.h"
#include "testing/trees.h"

namespace {

using test_support::exists;

// Works in a fresh folder that is also the current folder, so that relative
// paths and paths at the length limits stay inside it.
class PathQueriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    folder_ = test_support::make_temp_folder();
    std::filesystem::current_path(folder_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    test_support::remove_tree(folder_);
  }
  std::filesystem::path previous_;
  std::string folder_;
};

TEST_F(PathQueriesTest, PathExistsForFilesAndFolders) {
  test_support::write_file("file", "x");
  std::filesystem::create_directory("dir");
  EXPECT_TRUE(path_exists("file"));
  EXPECT_TRUE(path_exists("dir"));
  EXPECT_TRUE(path_exists("dir/"));
  EXPECT_FALSE(path_exists("missing"));
}

TEST_F(PathQueriesTest, IsFolder) {
  test_support::write_file("file", "x");
  std::filesystem::create_directory("dir");
  std::filesystem::create_directory("ab");
  std::string long_path = folder_ + "dir/" + std::string(300, 'x');
  struct Case {
    const char* path;
    int expected;
  } cases[] = {
      {"dir", 1}, {"dir/", 1}, {"file", 0}, {"missing", 0},
      {"ab", 0},  // two characters without a colon: not asked
      {"d", 0},   {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(is_folder(c.path), c.expected) << c.path;
  EXPECT_EQ(is_folder(nullptr), 0);
  EXPECT_EQ(is_folder(long_path.c_str()), 0);
  // The absolute folder, written out in full, is a folder.
  EXPECT_EQ(is_folder(folder_.c_str()), 1);
  if (test_support::kWindows) {
    EXPECT_EQ(is_folder("C:"), 1);
  }
}

TEST_F(PathQueriesTest, FirstMatchIsFolder) {
  std::filesystem::create_directory("plugins");
  test_support::write_file("app.exe", "x");
  EXPECT_EQ(first_match_is_folder("plugins"), 1);
  EXPECT_EQ(first_match_is_folder("app.exe"), 0);
  EXPECT_EQ(first_match_is_folder("missing"), -1);
  // A pattern that does not fit its buffer is not searched cut short.
  std::string long_name(257, 'p');
  EXPECT_EQ(first_match_is_folder(long_name.c_str()), -1);

  // A file "pack" beside a folder "pack2": the answer is the kind of whichever
  // the system yields first.
  test_support::write_file("pack", "x");
  std::filesystem::create_directory("pack2");
  platform::FolderEntry first;
  platform::FolderSearch* search = platform::open_folder("", "pack");
  ASSERT_NE(search, nullptr);
  ASSERT_TRUE(platform::next_entry(search, &first));
  platform::close_folder(search);
  EXPECT_EQ(first_match_is_folder("pack"), first.kind == platform::EntryKind::folder ? 1 : 0);
}

TEST_F(PathQueriesTest, MakeFolder) {
  test_support::write_file("file", "x");
  EXPECT_EQ(make_folder("new"), 1);
  EXPECT_TRUE(std::filesystem::is_directory("new"));
  EXPECT_EQ(make_folder("new"), 1);
  EXPECT_EQ(make_folder("file"), 1);  // an entry of that name exists
  EXPECT_EQ(make_folder("missing/child"), 0);
}

TEST_F(PathQueriesTest, MakeFolderPathCreatesEveryLevelEndingAtASeparator) {
  EXPECT_EQ(make_folder_path("top/mid/leaf"), 1);
  EXPECT_TRUE(std::filesystem::is_directory("top/mid"));
  EXPECT_FALSE(exists("top/mid/leaf"));

  EXPECT_EQ(make_folder_path("top/mid/leaf/"), 1);
  EXPECT_TRUE(std::filesystem::is_directory("top/mid/leaf"));

  EXPECT_EQ(make_folder_path("abc"), 1);
  EXPECT_FALSE(exists("abc"));
  EXPECT_EQ(make_folder_path(""), 1);

  std::string absolute = folder_ + "deep/er/";
  EXPECT_EQ(make_folder_path(absolute.c_str()), 1);
  EXPECT_TRUE(std::filesystem::is_directory("deep/er"));
}

TEST_F(PathQueriesTest, MakeFolderPathLimitsAndFailures) {
  // Up to platform::kPathMax characters (260 on Windows, 4096 on Linux).
  using testing_trees::path_of_length;
  std::string too_long = std::string(100, 'a') + "/" + path_of_length(platform::kPathMax - 100, 'b');
  ASSERT_EQ(too_long.size(), platform::kPathMax + 1);
  EXPECT_EQ(make_folder_path(too_long.c_str()), 0);
  EXPECT_FALSE(exists(std::string(100, 'a')));
  std::string at_limit = std::string(100, 'a') + "/" + path_of_length(platform::kPathMax - 101, 'b');
  EXPECT_EQ(make_folder_path(at_limit.c_str()), 1);
  EXPECT_TRUE(exists(std::string(100, 'a')));

  // A level below a file cannot be made; the file itself counts as existing.
  test_support::write_file("blocker", "x");
  EXPECT_EQ(make_folder_path("blocker/x/"), 0);
  EXPECT_EQ(make_folder_path("blocker/"), 1);
}

}  // namespace
