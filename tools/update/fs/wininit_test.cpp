#include "fs/wininit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/test_support.h"

namespace {

using test_support::exists;
using test_support::read_file;
using test_support::write_file;

// The text with each "\n" turned into the line end a text-mode file gets on disk.
std::string on_disk(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n')
      out += test_support::kTextLineEnd;
    else
      out += c;
  }
  return out;
}

class WininitTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = test_support::make_temp_folder(); }
  void TearDown() override { test_support::remove_tree(folder_); }
  std::string folder_;
};

constexpr char kTarget[] = "C:\\APP\\APPLIC~1.EXE";
constexpr char kSource[] = "C:\\TMP\\UNZIPT~1\\APPLIC~1.EXE";
const std::string kEntry = std::string(kTarget) + "=" + kSource + "\n";

TEST_F(WininitTest, AppendsTheEntryAfterAHeaderOnlyWhenNoneIsFound) {
  const std::string long_run(529, 'x');  // fills one whole read piece
  struct Case {
    const char* name;
    std::string before;  // file content, "\n" for a line end
    std::string after;
  } cases[] = {
      {"empty file", "", "[rename]\n" + kEntry},
      {"header in another letter case", "[Rename]\n", "[Rename]\n" + kEntry},
      {"upper-case header with entries",
       "[RENAME]\nA=B\n", "[RENAME]\nA=B\n" + kEntry},
      {"another section after the header: entry closes the rename section",
       "[rename]\nA=B\n[other]\nx=1\n[more]\n", "[rename]\nA=B\n" + kEntry + "[other]\nx=1\n[more]\n"},
      {"another section after the header, no line end at the end",
       "[Rename]\n[Other]\nkey=value", "[Rename]\n" + kEntry + "[Other]\nkey=value"},
      {"another section before the header", "[boot]\nx=1\n[rename]\nA=B\n",
       "[boot]\nx=1\n[rename]\nA=B\n" + kEntry},
      {"only other sections", "[boot]\nx=1\n", "[boot]\nx=1\n[rename]\n" + kEntry},
      {"the first 8 characters decide", "[rename] ; note\n", "[rename] ; note\n" + kEntry},
      {"a leading blank is no header", " [rename]\n", " [rename]\n[rename]\n" + kEntry},
      {"a longer name is no header", "[renamed]\n", "[renamed]\n[rename]\n" + kEntry},
      {"a shorter line is no header", "[renam\n", "[renam\n[rename]\n" + kEntry},
      {"last line without a line end", "[other]\nx=1", "[other]\nx=1\n[rename]\n" + kEntry},
      {"header without a line end", "[rename]", "[rename]\n" + kEntry},
      {"the second piece of a long line counts as a line",
       long_run + "[rename]\n", long_run + "[rename]\n" + kEntry},
      {"a piece inside a long line starts no section",
       "[rename]\n" + long_run + "[x]\n", "[rename]\n" + long_run + "[x]\n" + kEntry},
      {"a piece that does not start with the header",
       long_run + "x[rename]\n", long_run + "x[rename]\n[rename]\n" + kEntry},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = folder_ + "wininit.ini";
    write_file(path, on_disk(c.before));
    EXPECT_EQ(append_rename_entry(path.c_str(), kTarget, kSource), 1);
    EXPECT_EQ(read_file(path), on_disk(c.after));
  }
}

TEST_F(WininitTest, CreatesAMissingFileAndAppendsToItAgain) {
  std::string path = folder_ + "wininit.ini";
  ASSERT_EQ(append_rename_entry(path.c_str(), kTarget, kSource), 1);
  EXPECT_EQ(read_file(path), on_disk("[rename]\n" + kEntry));
  ASSERT_EQ(append_rename_entry(path.c_str(), "C:\\A", "C:\\B"), 1);
  EXPECT_EQ(read_file(path), on_disk("[rename]\n" + kEntry + "C:\\A=C:\\B\n"));
}

TEST_F(WininitTest, AFileThatCannotBeOpenedIsNotCreated) {
  std::string path = folder_ + "missing/wininit.ini";
  EXPECT_EQ(append_rename_entry(path.c_str(), kTarget, kSource), 0);
  EXPECT_FALSE(exists(path));
}

TEST(ReplaceBackslashes, TurnsEveryBackslashIntoASlash) {
  struct Case {
    const char* before;
    const char* after;
  } cases[] = {
      {"C:\\WINDOWS", "C:/WINDOWS"},
      {"\\\\server\\share\\", "//server/share/"},
      {"C:/mixed\\path/", "C:/mixed/path/"},
      {"", ""},
      {"\x81\\", "\x81/"},  // the second byte of a double-byte character too
  };
  for (const Case& c : cases) {
    char text[64];
    std::strcpy(text, c.before);
    replace_backslashes(text);
    EXPECT_STREQ(text, c.after) << c.before;
  }
}

TEST(WininitPath, IsInTheWindowsFolder) {
  char path[260];
  if (!test_support::kWindows) {
    // No Windows folder on Linux.
    EXPECT_EQ(wininit_path(path, sizeof path), 0);
    EXPECT_STREQ(path, "");
    return;
  }
  ASSERT_EQ(wininit_path(path, sizeof path), 1);
  EXPECT_STREQ(path, "C:/windows/wininit.ini");  // what Wine reports as its Windows folder
  // A buffer too small for the whole path gets no shortened one.
  char small[16];
  EXPECT_EQ(wininit_path(small, sizeof small), 0);
  EXPECT_STREQ(small, "");
}

TEST_F(WininitTest, QueueWritesNothingWithoutShortForms) {
  // A source that does not exist has no short form; Linux has none at all.
  std::string target = folder_ + "target.exe";
  write_file(target, "old");
  std::string missing = folder_ + "missing.exe";
  char file_path[260] = "";
  bool have_file = wininit_path(file_path, sizeof file_path) == 1;
  std::string before = have_file ? read_file(file_path) : std::string();
  bool existed = have_file && exists(file_path);

  EXPECT_EQ(queue_wininit_rename(target.c_str(), missing.c_str()), 0);
  EXPECT_EQ(queue_wininit_rename(missing.c_str(), target.c_str()), 0);
  if (!test_support::kWindows) {
    EXPECT_EQ(queue_wininit_rename(target.c_str(), target.c_str()), 0);
  }
  if (have_file) {
    EXPECT_EQ(exists(file_path), existed);
    EXPECT_EQ(read_file(file_path), before);
  }
  EXPECT_EQ(read_file(target), "old");
}

}  // namespace
