// The start-up of a run, through the real program.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include "platform/platform.h"
#include "platform/test_support.h"
#include "testing/trees.h"

namespace {

using test_support::exists;
using test_support::read_file;

class RunStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = test_support::make_temp_folder();
    // A run without a parameter creates the per-user data folder: in a home
    // of this test's own.
    home_.reset(new test_support::OwnHome(folder_ + "home"));
  }
  void TearDown() override {
    home_.reset();
    test_support::remove_tree(folder_);
  }

  // An empty update.log in updateLog/ below the given folder.
  std::string create_log(const std::string& data_root) {
    std::filesystem::create_directories(data_root + "updateLog");
    std::string log = data_root + "updateLog/update.log";
    test_support::write_file(log, "");
    return log;
  }
  std::string folder_;
  std::unique_ptr<test_support::OwnHome> home_;
};

TEST_F(RunStartTest, WritesTheHeaderAndThePrefixedRunParameter) {
  std::string data_root = folder_ + "data dir/";
  std::string log = create_log(data_root);
  std::string config = data_root + "update_config.xml";
  EXPECT_EQ(test_support::run_corvane(config), 1);
  std::string text = read_file(log);
  std::string end = test_support::kTextLineEnd;
  std::regex expected(end + end + "Corvane \\(\\d{4}/\\d\\d/\\d\\d  \\d\\d:\\d\\d:\\d\\d\\)" + end + end +
                      " 0m \\d\\d\\.\\d\\ds: Run param is: " + config + end + "[^]*");
  EXPECT_TRUE(std::regex_match(text, expected)) << text;

  // A second run appends to the same file.
  EXPECT_EQ(test_support::run_corvane(config), 1);
  EXPECT_GT(read_file(log).size(), text.size() + 20);
  EXPECT_EQ(read_file(log).substr(0, text.size()), text);
}

TEST_F(RunStartTest, NoLogFileMeansNothingWrittenAndNothingCreated) {
  EXPECT_EQ(test_support::run_corvane(folder_ + "update_config.xml"), 1);
  EXPECT_FALSE(exists(folder_ + "updateLog"));
}

TEST_F(RunStartTest, AFolderNamedUpdateLogTakesNoLines) {
  std::filesystem::create_directories(folder_ + "updateLog/update.log");
  EXPECT_EQ(test_support::run_corvane(folder_ + "update_config.xml"), 1);
  EXPECT_TRUE(std::filesystem::is_directory(folder_ + "updateLog/update.log"));
}

TEST_F(RunStartTest, QuotedParameterKeepsItsQuotes) {
  if (!test_support::kWindows) GTEST_SKIP() << "the command-line tail is a Windows notion";
  std::string log = create_log(folder_);
  std::string quoted = "\"" + folder_ + "update_config.xml\"";
  EXPECT_EQ(test_support::run_corvane(quoted), 1);
  // The quotes stay part of the parameter, so its folder part is another one
  // and this log is not switched on.
  EXPECT_EQ(read_file(log), "");
}

TEST_F(RunStartTest, QuotedProgramNameWithBlanksThenTwoBlanksAndAPathWithBlanks) {
  if (!test_support::kWindows) GTEST_SKIP() << "the command-line tail is a Windows notion";
  std::string program_folder = folder_ + "Program Files/Corvane/";
  std::filesystem::create_directories(program_folder);
  std::string program = program_folder + "corvane app.exe";
  std::filesystem::copy_file(test_support::program_path(), program);
  std::string data_root = folder_ + "my data/";
  std::string log = create_log(data_root);
  std::string parameter = data_root + "update config.xml";
  EXPECT_EQ(test_support::run_process("\"" + program + "\"  " + parameter), 1);
  EXPECT_NE(read_file(log).find("Run param is: " + parameter + test_support::kTextLineEnd), std::string::npos);
}

TEST_F(RunStartTest, NoParameterEndsWithExitCodeZero) {
  EXPECT_EQ(test_support::run_process("\"" + test_support::program_path() + "\"   "), 0);
  if (!test_support::kWindows) {
    EXPECT_TRUE(std::filesystem::is_directory(folder_ + "home/Documents/Maridel9")) << "the test's own home";
  }
}

TEST_F(RunStartTest, ALogPathThatDoesNotFitCreatesNoFile) {
  // The configuration's folder fits, but the log file's path below it would
  // not: cut short, it would name a file beside the configuration. Paths hold
  // platform::kPathMax - 1 characters (259 on Windows, 4095 on Linux).
  std::string data_root =
      folder_ + testing_trees::path_of_length(platform::kPathMax - 5 - folder_.size(), 'd') + "/";
  std::filesystem::create_directories(data_root);
  EXPECT_EQ(test_support::run_corvane(data_root + "c.xml"), 1);
  EXPECT_TRUE(std::filesystem::is_empty(data_root));
}

// On Linux a terminal is where a program is met: exactly --help or --version
// is answered there. The Windows program has no console: every argument is the
// run parameter, so "--help" is a configuration path like any other.
TEST_F(RunStartTest, HelpAndVersionAreAnsweredOnlyWhereProgramsMeetATerminal) {
  if (test_support::kWindows) {
    for (const char* option : {"--help", "--version"}) EXPECT_EQ(test_support::run_corvane(option), 1) << option;
    return;
  }
  // Run from the test folder, so that a run parameter "--help" finds no log.
  std::string in_folder = "cd " + folder_ + " && ";
  std::string out = folder_ + "out.txt";
  auto run = [&](const std::string& arguments, const std::string& to) {
    return test_support::run_process(in_folder + test_support::corvane_command_line("") + " " + arguments + " >" + to);
  };
  EXPECT_EQ(run("--version", out), 0);
  EXPECT_EQ(read_file(out), std::string("corvane ") + CORVANE_VERSION + "\n");
  EXPECT_EQ(run("--help", out), 0);
  EXPECT_EQ(read_file(out).rfind("Usage: corvane CONFIG_PATH\n", 0), 0u) << read_file(out);
  // Anything else is the run parameter: a path that names no configuration.
  for (const char* arguments : {"--help --version", "-h", "--HELP", "'--help '"}) {
    EXPECT_EQ(run(arguments, out), 1) << arguments;
    EXPECT_EQ(read_file(out), "") << arguments;
  }
  // An answer that cannot be written is no success.
  EXPECT_NE(run("--help", "/dev/full"), 0);
}

}  // namespace
