// A run without a parameter, through the real program: its log lives below
// the per-user data folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "fs/path_text.h"
#include "platform/test_support.h"
#include "shell/shell_folders.h"
#include "testing/trees.h"

namespace {

using test_support::exists;
using test_support::read_file;

class RunNoParameterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = test_support::make_temp_folder();
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
    // Natively the documents folder is <home>/Documents of a home made here.
    home_.reset(new test_support::OwnHome(folder_ + "home"));
    ShellFolders folders;
    folders.look_up();
    documents_ = folders.documents;
    to_forward_slashes(documents_);
    data_folder_ = documents_ + "/Maridel9/";
    test_support::remove_tree(data_folder_);
  }
  void TearDown() override {
    home_.reset();
    std::filesystem::current_path(previous_);
    test_support::remove_tree(data_folder_);
    test_support::remove_tree(folder_);
  }
  int run_without_parameter() { return test_support::run_corvane(""); }

  std::string folder_, documents_, data_folder_;
  std::unique_ptr<test_support::OwnHome> home_;
  std::filesystem::path previous_;
};

TEST_F(RunNoParameterTest, CreatesTheDataFolderButNotTempAndWritesNothing) {
  ASSERT_FALSE(documents_.empty());
  EXPECT_EQ(run_without_parameter(), 0);
  EXPECT_TRUE(std::filesystem::is_directory(data_folder_));
  EXPECT_FALSE(exists(data_folder_ + "Temp"));
}

// In a fresh home the run makes the documents folder, the application-data
// folder and Maridel9/ in the first, and nothing else: the folders that
// docs/integration.md names.
TEST_F(RunNoParameterTest, InAFreshHomeCreatesOnlyTheFoldersTheGuideNames) {
  if (test_support::kWindows) GTEST_SKIP() << "Windows' shell makes its own user folders";
  const std::string home = folder_ + "fresh-home/";
  test_support::OwnHome fresh(home);
  EXPECT_EQ(run_without_parameter(), 0);
  EXPECT_EQ(testing_trees::snapshot(home),
            (testing_trees::Tree{{".config", "/"}, {"Documents", "/"}, {"Documents/Maridel9", "/"}}));
}

TEST_F(RunNoParameterTest, WritesHeaderAndEmptyRunParameterWhenTheLogIsThere) {
  std::filesystem::create_directories(data_folder_ + "Temp/updateLog");
  std::string log = data_folder_ + "Temp/updateLog/update.log";
  test_support::write_file(log, "");
  EXPECT_EQ(run_without_parameter(), 0);
  std::string text = read_file(log);
  std::string end = test_support::kTextLineEnd;
  EXPECT_EQ(text.find(end + end + "Corvane ("), 0u) << text;
  std::string last = "Run param is: " + end;
  ASSERT_GE(text.size(), last.size());
  EXPECT_EQ(text.substr(text.size() - last.size()), last);
}

TEST_F(RunNoParameterTest, WithoutADocumentsFolderTheLogLivesBelowCTemp) {
  std::string log_folder = "C:/Temp/updateLog";
  bool created_log_folder = !exists(log_folder);
  std::filesystem::create_directories(log_folder);
  std::string log = log_folder + "/update.log";
  test_support::write_file(log, "");
  EXPECT_EQ(test_support::run_corvane_without_shell_library(""), 0);
  std::string text = read_file(log);
  EXPECT_NE(text.find("Run param is: "), std::string::npos) << text;
  if (created_log_folder) test_support::remove_tree(log_folder);
  else test_support::remove_tree(log);
}

}  // namespace
