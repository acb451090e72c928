#include "fs/wininit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/test_support.h"

namespace {

using test_support::exists;
using test_support::read_file;
using test_support::write_file;

class WininitTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = test_support::make_temp_folder(); }
  void TearDown() override { test_support::remove_tree(folder_); }
  std::string folder_;
};

constexpr char kTarget[] = "C:\\APP\\APPLIC~1.EXE";
constexpr char kSource[] = "C:\\TMP\\UNZIPT~1\\APPLIC~1.EXE";
const std::string kEntry = std::string(kTarget) + "=" + kSource;

TEST_F(WininitTest, PutsTheEntryAtTheEndOfTheFirstRenameSectionKeepingEveryOtherByte) {
  const std::string long_line(2000, 'x');
  struct Case {
    const char* name;
    std::string before;
    std::string after;
  } cases[] = {
      {"empty file", "", "[rename]\r\n" + kEntry + "\r\n"},
      {"header in another letter case", "[Rename]\r\n", "[Rename]\r\n" + kEntry + "\r\n"},
      {"LF-only lines with another program's entry and a section after it",
       "[rename]\nNUL=C:\\OTHER.TMP\n[boot]\nx=1\n",
       "[rename]\nNUL=C:\\OTHER.TMP\n" + kEntry + "\n[boot]\nx=1\n"},
      {"CR-only lines", "[RENAME]\rA=B\r[more]\r", "[RENAME]\rA=B\r" + kEntry + "\r[more]\r"},
      {"mixed line ends: the first line's is taken, the others stay",
       "[boot]\r\nx=1\n[rename]\rA=B\n", "[boot]\r\nx=1\n[rename]\rA=B\n" + kEntry + "\r\n"},
      {"another section after the header, no line end at the end",
       "[Rename]\n[Other]\nkey=value", "[Rename]\n" + kEntry + "\n[Other]\nkey=value"},
      {"another section before the header", "[boot]\nx=1\n[rename]\nA=B\n",
       "[boot]\nx=1\n[rename]\nA=B\n" + kEntry + "\n"},
      {"only the first rename section takes it", "[rename]\nA=B\n[x]\n[rename]\nC=D\n",
       "[rename]\nA=B\n" + kEntry + "\n[x]\n[rename]\nC=D\n"},
      {"only other sections", "[boot]\nx=1\n", "[boot]\nx=1\n[rename]\n" + kEntry + "\n"},
      {"the first 8 characters decide", "[rename] ; note\n", "[rename] ; note\n" + kEntry + "\n"},
      {"blanks before the header, as profile readers take them", " \t [Rename]\nA=B\n",
       " \t [Rename]\nA=B\n" + kEntry + "\n"},
      {"blanks before the next section's header", "[rename]\nA=B\n  [boot]\nx=1\n",
       "[rename]\nA=B\n" + kEntry + "\n  [boot]\nx=1\n"},
      {"other text before the header is none", "x[rename]\n", "x[rename]\n[rename]\n" + kEntry + "\n"},
      {"a longer name is no header", "[renamed]\n", "[renamed]\n[rename]\n" + kEntry + "\n"},
      {"a shorter line is no header", "[renam\n", "[renam\n[rename]\n" + kEntry + "\n"},
      {"last line without a line end", "[other]\r\nx=1", "[other]\r\nx=1\r\n[rename]\r\n" + kEntry + "\r\n"},
      {"header without a line end", "[rename]", "[rename]\r\n" + kEntry + "\r\n"},
      {"a header inside a long line is none", long_line + "[rename]\n",
       long_line + "[rename]\n[rename]\n" + kEntry + "\n"},
      {"a long line inside the section", "[rename]\n" + long_line + "\n[x]\n",
       "[rename]\n" + long_line + "\n" + kEntry + "\n[x]\n"},
      {"a NUL byte stays", std::string("[rename]\nA=\0B\n", 14), std::string("[rename]\nA=\0B\n", 14) + kEntry + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = folder_ + "wininit.ini";
    write_file(path, c.before);
    EXPECT_EQ(append_rename_entry(path.c_str(), kTarget, kSource), 1);
    EXPECT_EQ(read_file(path), c.after);
    EXPECT_FALSE(exists(path + ".new~"));
  }
}

TEST_F(WininitTest, CreatesAMissingFileAndAppendsToItAgain) {
  std::string path = folder_ + "wininit.ini";
  ASSERT_EQ(append_rename_entry(path.c_str(), kTarget, kSource), 1);
  EXPECT_EQ(read_file(path), "[rename]\r\n" + kEntry + "\r\n");
  ASSERT_EQ(append_rename_entry(path.c_str(), "C:\\A", "C:\\B"), 1);
  EXPECT_EQ(read_file(path), "[rename]\r\n" + kEntry + "\r\nC:\\A=C:\\B\r\n");
}

TEST_F(WininitTest, AFileThatCannotBeWrittenIsNotCreatedAndTheReasonIsKept) {
  std::string path = folder_ + "missing/wininit.ini";
  platform::Status why = platform::kOk;
  EXPECT_EQ(append_rename_entry(path.c_str(), kTarget, kSource, &why), 0);
  EXPECT_EQ(why.failure, platform::Failure::not_found);
  EXPECT_FALSE(exists(path));
}

TEST_F(WininitTest, ARewriteCutShortLosesNoEntryAndIsFinishedByTheNextRequest) {
  // What a request cut short leaves at each of its steps where the file is
  // rewritten in steps (Windows 9x): the other program's entry and the
  // earlier request's entry survive, and nothing is left beside the file.
  const std::string old_text = "[rename]\r\nNUL=C:\\OTHER.TMP\r\n";
  const std::string earlier = old_text + "C:\\A=C:\\B\r\n";
  const std::string line = kEntry + "\r\n";
  struct Case {
    const char* step;
    const char* file;  // nullptr: missing
    const char* beside;
    const char* old_copy;
    std::string after;
  } cases[] = {
      {"writing the new text", old_text.c_str(), "[rena", nullptr, old_text + line},
      {"copying the old text aside", old_text.c_str(), earlier.c_str(), "[ren", old_text + line},
      {"after deleting the file", nullptr, earlier.c_str(), old_text.c_str(), earlier + line},
      {"before removing the copy", earlier.c_str(), nullptr, old_text.c_str(), earlier + line},
      {"the restart took the file since", nullptr, nullptr, old_text.c_str(), "[rename]\r\n" + line},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    test_support::remove_tree(folder_);
    folder_ = test_support::make_temp_folder();
    const std::string file = folder_ + "wininit.ini";
    if (c.file) write_file(file, c.file);
    if (c.beside) write_file(file + ".new~", c.beside);
    if (c.old_copy) write_file(file + ".old~", c.old_copy);
    EXPECT_EQ(append_rename_entry(file.c_str(), kTarget, kSource), 1);
    EXPECT_EQ(read_file(file), c.after);
    EXPECT_FALSE(exists(file + ".new~"));
    EXPECT_FALSE(exists(file + ".old~"));
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

  platform::Status why = platform::kOk;
  EXPECT_EQ(queue_wininit_rename(target.c_str(), missing.c_str(), &why), 0);
  EXPECT_FALSE(why.ok());
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
