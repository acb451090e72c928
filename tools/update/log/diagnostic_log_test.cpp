#include "log/diagnostic_log.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <stdexcept>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <string>

#include "platform/platform.h"
#include "platform/test_support.h"
#include "testing/trees.h"

namespace {

using test_support::read_file;

class DiagnosticLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = test_support::make_temp_folder();
    log_path_ = folder_ + "update.log";
    set_log_enabled(1);
    main_log().set_mode(LogMode::File);
    main_log().set_file_path(log_path_.c_str());
    main_log().set_show_elapsed(false);
    main_log().set_show_thread_id(false);
  }
  void TearDown() override {
    set_log_enabled(0);
    main_log().clock = &boost::posix_time::microsec_clock::local_time;
    main_log().set_file_path("");
    main_log().set_show_elapsed(false);
    main_log().set_show_thread_id(false);
    test_support::remove_tree(folder_);
  }
  std::string folder_;
  std::string log_path_;
};

TEST_F(DiagnosticLogTest, WritesNothingWhileDisabled) {
  set_log_enabled(0);
  log_printf("dropped\n");
  EXPECT_FALSE(test_support::exists(log_path_));
}

TEST_F(DiagnosticLogTest, AppendsToTheFileWithTextModeLineEnds) {
  log_printf("one %d\n", 1);
  log_printf("two\n");
  std::string end = test_support::kTextLineEnd;
  EXPECT_EQ(read_file(log_path_), "one 1" + end + "two" + end);
}

TEST_F(DiagnosticLogTest, EmptyPathWritesNothingAndReleasesTheLock) {
  main_log().set_file_path("");
  log_printf("dropped\n");
  main_log().set_file_path(log_path_.c_str());
  log_printf("kept");  // would hang if the lock had not been released
  EXPECT_EQ(read_file(log_path_), "kept");
}

TEST_F(DiagnosticLogTest, MissingFolderDropsTheText) {
  std::string path = folder_ + "missing/update.log";
  main_log().set_file_path(path.c_str());
  log_printf("dropped");
  EXPECT_FALSE(test_support::exists(folder_ + "missing"));
}

TEST_F(DiagnosticLogTest, APathThatDoesNotFitIsNotKeptAndNothingIsCreated) {
  // Cut to platform::kPathMax - 1 characters (259 on Windows), the path would
  // name another file in an existing folder, which the write would create.
  std::string folder = folder_ + testing_trees::path_of_length(platform::kPathMax - 100 - folder_.size(), 'f') + "/";
  std::filesystem::create_directories(folder);
  std::string path = folder + std::string(140, 'p');
  main_log().set_file_path(path.c_str());
  EXPECT_STREQ(main_log().file_path, "");
  log_printf("dropped\n");
  EXPECT_FALSE(test_support::exists(path.substr(0, platform::kPathMax - 1)));
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST_F(DiagnosticLogTest, ACutTextKeepsTheLineEndOfItsFormat) {
  // 1023 characters on Windows; where paths are longer (Linux), longer by as much.
  const std::size_t kLongest = kLogTextBuffer - 1;
  std::string message(2 * kLogTextBuffer, 'm');
  std::string end = test_support::kTextLineEnd;
  log_printf("%s\n", message.c_str());
  log_printf("next\n");
  EXPECT_EQ(read_file(log_path_), std::string(kLongest - 1, 'm') + end + "next" + end);

  test_support::remove_tree(log_path_);
  main_log().set_show_elapsed(true);
  log_printf("%s\n", message.c_str());
  std::string written = read_file(log_path_);
  EXPECT_EQ(written.size(), kLongest - 1 + end.size());
  EXPECT_EQ(written.substr(kLongest - 2), "m" + end);

  // A format without a line end gets none.
  test_support::remove_tree(log_path_);
  main_log().set_show_elapsed(false);
  log_printf("%s", message.c_str());
  EXPECT_EQ(read_file(log_path_), std::string(kLongest, 'm'));
}

TEST(ElapsedPrefix, TruncatesHundredthsAndWidensMinutes) {
  struct Case {
    std::int64_t microseconds;
    bool with_thread;
    const char* expected;
  } cases[] = {
      {4000, false, " 0m 00.00s: x"},
      {1999000, false, " 0m 01.99s: x"},
      {(125 * 60 + 3) * 1000000LL + 70000, false, "125m 03.07s: x"},
      {2500000, true, " 0m 02.50s (1234): x"},
      {-5000000, false, " 0m 00.00s: x"},
  };
  for (const Case& c : cases) {
    char out[1024];
    unsigned thread = 1234;
    compose_prefixed_text(out, sizeof out, c.microseconds, c.with_thread ? &thread : nullptr, "x");
    EXPECT_STREQ(out, c.expected) << c.microseconds;
  }
}

boost::posix_time::ptime failing_clock() { throw std::runtime_error("could not convert to local time"); }

TEST_F(DiagnosticLogTest, ClockFailureWritesTheTextWithAZeroPrefix) {
  main_log().set_show_elapsed(true);
  main_log().clock = &failing_clock;
  log_printf("still here");
  EXPECT_EQ(read_file(log_path_), " 0m 00.00s: still here");
}

TEST_F(DiagnosticLogTest, PrefixCarriesTheThreadIdWhenAsked) {
  main_log().set_show_elapsed(true);
  main_log().set_show_thread_id(true);
  log_printf("x");
  std::string expected = "(" + std::to_string(platform::current_thread_id()) + "): x";
  std::string written = read_file(log_path_);
  ASSERT_GE(written.size(), expected.size());
  EXPECT_EQ(written.substr(written.size() - expected.size()), expected);
}

TEST(RunTimeStamp, PadsFieldsAndMarksAnUnknownTime) {
  std::tm local = {};
  local.tm_year = 2014 - 1900;
  local.tm_mon = 2;
  local.tm_mday = 2;
  local.tm_hour = 9;
  local.tm_min = 5;
  local.tm_sec = 1;
  char out[64];
  format_time_stamp(&local, out, sizeof out);
  EXPECT_STREQ(out, "2014/03/02  09:05:01");
  // A year and month at the end of the int range are held there, not wrapped.
  local.tm_year = INT_MAX;
  local.tm_mon = INT_MAX;
  format_time_stamp(&local, out, sizeof out);
  EXPECT_STREQ(out, "2147483647/2147483647/02  09:05:01");
  format_time_stamp(nullptr, out, sizeof out);
  EXPECT_STREQ(out, "??\\??");
  EXPECT_EQ(std::string(run_time_stamp()).size(), 20u);
}

}  // namespace
