// Moves that can be made now, and Linux's answer when one cannot. A move that
// is handed to the system for its next start changes the system (Wine keeps
// it in the prefix's registry), so those are proved by tests/restart, each in
// a Wine prefix of its own, and not here in the prefix all tests share.
#include "fs/move_or_defer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::exists;
using test_support::read_file;
using test_support::write_file;

class MoveOrDeferTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = test_support::make_temp_folder(); }
  void TearDown() override {
    test_support::remove_tree(folder_);
    if (!other_fs_folder_.empty()) test_support::remove_tree(other_fs_folder_);
  }

  // A fresh folder on another file system than folder_ (Linux: the shared
  // memory file system), or empty text when there is none.
  std::string other_file_system_folder() {
    std::error_code error;
    std::string base = "/dev/shm/";
    if (!fs::is_directory(base, error)) return std::string();
    std::string candidate = base + fs::path(folder_).parent_path().filename().string() + "/";
    if (!fs::create_directory(candidate, error)) return std::string();
    other_fs_folder_ = candidate;
    // A hard link cannot cross file systems: that tells them apart.
    write_file(candidate + "probe", "p");
    fs::create_hard_link(candidate + "probe", folder_ + "probe", error);
    fs::remove(candidate + "probe");
    if (!error) {
      fs::remove(folder_ + "probe");
      return std::string();
    }
    return error == std::errc::cross_device_link ? candidate : std::string();
  }

  std::string folder_;
  std::string other_fs_folder_;
};

TEST_F(MoveOrDeferTest, MovesFilesAndFoldersNow) {
  write_file(folder_ + "app.exe", "new");
  fs::create_directories(folder_ + "plugins/sub");
  write_file(folder_ + "plugins/sub/a.dll", "a");
  fs::create_directory(folder_ + "updateTemp");

  EXPECT_EQ(move_or_defer((folder_ + "app.exe").c_str(), (folder_ + "updateTemp/app.exe").c_str()),
            MoveOutcome::moved);
  EXPECT_EQ(move_or_defer((folder_ + "plugins").c_str(), (folder_ + "updateTemp/plugins").c_str()),
            MoveOutcome::moved);

  EXPECT_FALSE(exists(folder_ + "app.exe"));
  EXPECT_FALSE(exists(folder_ + "plugins"));
  EXPECT_EQ(read_file(folder_ + "updateTemp/app.exe"), "new");
  EXPECT_EQ(read_file(folder_ + "updateTemp/plugins/sub/a.dll"), "a");
}

TEST_F(MoveOrDeferTest, OnLinuxAMoveThatCannotBeMadeNowFailsAndChangesNothing) {
  if (test_support::kWindows) GTEST_SKIP() << "Windows defers these moves (tests/restart)";
  write_file(folder_ + "new.exe", "new");
  write_file(folder_ + "app.exe", "old");
  fs::create_directory(folder_ + "plugins");
  write_file(folder_ + "plugins/a.dll", "a");
  fs::create_directory(folder_ + "occupied");
  write_file(folder_ + "occupied/b.dll", "b");

  struct Case {
    const char* name;
    std::string source;
    std::string target;
  } cases[] = {
      {"a file onto an existing file", folder_ + "new.exe", folder_ + "app.exe"},
      {"a file onto an existing folder", folder_ + "new.exe", folder_ + "plugins"},
      {"a folder onto an existing folder", folder_ + "plugins", folder_ + "occupied"},
      {"a folder onto an existing file", folder_ + "plugins", folder_ + "app.exe"},
      {"a missing source", folder_ + "missing", folder_ + "elsewhere"},
      {"into a missing folder", folder_ + "new.exe", folder_ + "missing/new.exe"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(move_or_defer(c.source.c_str(), c.target.c_str()), MoveOutcome::failed) << c.name;

  EXPECT_EQ(read_file(folder_ + "new.exe"), "new");
  EXPECT_EQ(read_file(folder_ + "app.exe"), "old");
  EXPECT_EQ(read_file(folder_ + "plugins/a.dll"), "a");
  EXPECT_EQ(read_file(folder_ + "occupied/b.dll"), "b");
  EXPECT_FALSE(exists(folder_ + "occupied/plugins"));
  EXPECT_FALSE(exists(folder_ + "plugins/new.exe"));
  EXPECT_FALSE(exists(folder_ + "elsewhere"));
}

TEST_F(MoveOrDeferTest, OnLinuxNothingCrossesFileSystems) {
  // A move across file systems would be a copy made at the new name, which a
  // run cut short leaves half written: it is refused, and the pass stages
  // such copies itself.
  if (test_support::kWindows) GTEST_SKIP() << "Linux file systems";
  std::string other = other_file_system_folder();
  if (other.empty()) GTEST_SKIP() << "no second file system beside " << folder_;
  write_file(other + "tool", "tool");
  fs::create_directory(other + "plugins");
  write_file(other + "plugins/a.dll", "a");

  platform::Status why = platform::kOk;
  EXPECT_EQ(move_or_defer((other + "tool").c_str(), (folder_ + "tool").c_str(), &why), MoveOutcome::failed);
  EXPECT_EQ(why.failure, platform::Failure::other_volume);
  EXPECT_EQ(move_or_defer((other + "plugins").c_str(), (folder_ + "plugins").c_str()), MoveOutcome::failed);
  EXPECT_EQ(read_file(other + "tool"), "tool");
  EXPECT_EQ(read_file(other + "plugins/a.dll"), "a");
  EXPECT_FALSE(exists(folder_ + "tool"));
  EXPECT_FALSE(exists(folder_ + "plugins"));
  EXPECT_FALSE(platform::same_volume(other.c_str(), folder_.c_str()));
  EXPECT_TRUE(platform::same_volume((other + "tool").c_str(), other.c_str()));
}

}  // namespace
