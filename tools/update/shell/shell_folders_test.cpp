#include "shell/shell_folders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fs/path_text.h"
#include "platform/test_support.h"

namespace {

using test_support::exists;

// Natively the user's folders come from a home folder made for the test; under
// Wine from the real shell-folder library of the test prefix.
class ShellFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = test_support::make_temp_folder();
    home_ = folder_ + "home";
    std::filesystem::create_directories(home_ + "/.config");
    test_support::write_file(home_ + "/.config/user-dirs.dirs",
                             "# written by the test\nXDG_DOCUMENTS_DIR=\"$HOME/My Docs\"\n");
    saved_home_ = getenv_or_empty("HOME");
    saved_config_ = getenv_or_empty("XDG_CONFIG_HOME");
    test_support::set_environment("HOME", home_);
    test_support::set_environment("XDG_CONFIG_HOME", "");
  }
  void TearDown() override {
    test_support::set_environment("HOME", saved_home_);
    test_support::set_environment("XDG_CONFIG_HOME", saved_config_);
    test_support::remove_tree(folder_);
  }
  static std::string getenv_or_empty(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
  }
  std::string folder_, home_, saved_home_, saved_config_;
};

TEST_F(ShellFoldersTest, LooksUpOnceAndFallsBackToDocuments) {
  ShellFolders folders;
  folders.look_up();
  ASSERT_TRUE(folders.looked_up);
  ASSERT_FALSE(folders.documents.empty());
  EXPECT_TRUE(std::filesystem::is_directory(folders.documents));
  EXPECT_FALSE(folders.videos.empty());
  EXPECT_FALSE(folders.pictures.empty());
  if (!test_support::kWindows) {
    // The documents folder named by user-dirs.dirs, created on request; no
    // video folder exists, so videos is the documents folder.
    EXPECT_EQ(folders.documents, home_ + "/My Docs");
    EXPECT_EQ(folders.videos, folders.documents);
  }

  // A second look-up asks nothing: a query would overwrite these.
  folders.documents = "kept";
  folders.videos = "kept too";
  folders.look_up();
  EXPECT_EQ(folders.documents, "kept");
  EXPECT_EQ(folders.videos, "kept too");
}

TEST_F(ShellFoldersTest, UserDataFolderIsCreatedBelowTheDocumentsFolder) {
  ShellFolders folders;
  std::string data = user_data_folder(folders);
  std::string expected = folders.documents + "/Maridel9/";
  to_forward_slashes(expected);
  EXPECT_EQ(data, expected);
  EXPECT_TRUE(std::filesystem::is_directory(data));
  EXPECT_FALSE(exists(data + "Temp"));
  std::filesystem::remove(data);
}

TEST(UserDataFolder, IsTheDriveRootWithoutADocumentsFolder) {
  ShellFolders folders;
  folders.looked_up = true;  // looked up, and nothing was found
  EXPECT_EQ(user_data_folder(folders), "C:/");
}

}  // namespace
