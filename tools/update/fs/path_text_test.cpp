#include "fs/path_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PathText, TheTwoBackslashConvertersKeepTheirOwnRules) {
  // to_forward_slashes reads double-byte characters (a byte of 0x80 or more
  // takes the next along); replace_backslashes turns every 0x5C byte.
  struct Case {
    std::string text;
    std::string forward;  // to_forward_slashes
    std::string plain;    // replace_backslashes
  } cases[] = {
      {"C:\\Users\\ann\\Documents", "C:/Users/ann/Documents", "C:/Users/ann/Documents"},
      {"\\\\server\\share\\", "//server/share/", "//server/share/"},
      {"D:\\/Maridel9/", "D://Maridel9/", "D://Maridel9/"},  // a drive root keeps its doubled "/"
      {"a\\\x83\x5C\\b", "a/\x83\x5C/b", "a/\x83//b"},       // 0x5C as a second byte
      {"a\\\x81", "a/\x81", "a/\x81"},                        // a high byte just before the end
      {"caf\xE9\\x", "caf\xE9\\x", "caf\xE9/x"},              // single-byte code pages too
      {"", "", ""},
  };
  for (const Case& c : cases) {
    std::string forward = c.text;
    to_forward_slashes(forward);
    EXPECT_EQ(forward, c.forward) << c.text;
    std::string plain = c.text;
    replace_backslashes(&plain[0]);
    EXPECT_EQ(plain, c.plain) << c.text;
  }
}

TEST(PathText, NamesThatLeadOutside) {
  struct Case {
    const char* name;
    bool outside;
  } cases[] = {
      {"app.exe", false}, {"lib/core.dll", false}, {"plugins/", false}, {"a..b", false}, {".hidden", false},
      {"..", true},       {"../x", true},          {"lib/../../x", true}, {"lib\\..\\x", true}, {"x/..", true},
      {". .", true},      {"... ", true},          {"/etc/passwd", true}, {"\\\\server\\share", true},
      {"C:x", true},      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(leads_outside(c.name), c.outside) << c.name;
}

TEST(PathText, NamesTheSystemWouldRewrite) {
  // A "." step everywhere; a trailing dot or blank where Win32 drops them.
  struct Case {
    const char* name;
    bool posix;
    bool win32;
  } cases[] = {
      {"app.exe", false, false},       {"plugins/", false, false},       {".hidden", false, false},
      {"a.b/c", false, false},         {"./app.exe", true, true},        {"plugins/.", true, true},
      {"plugins\\.\\a", true, true}, {"plugins/./", true, true},       {"app.exe.", false, true},
      {"plugins /a", false, true},     {"updatePending.", false, true},  {"updatePending ", false, true},
      {"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(has_rewritten_step(c.name, false), c.posix) << c.name;
    EXPECT_EQ(has_rewritten_step(c.name, true), c.win32) << c.name;
  }
}

TEST(PathText, SeparatorsAndFolderParts) {
  struct Case {
    const char* path;
    const char* trimmed;
    const char* folder;
  } cases[] = {
      {"C:/App/app.exe", "C:/App/app.exe", "C:/App/"},
      {"plugins//", "plugins", "plugins//"},
      {"a\\b\\", "a\\b", "a\\b\\"},
      {"name", "name", ""},
      {"//", "", "//"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(without_trailing_separators(c.path), c.trimmed) << c.path;
    EXPECT_EQ(folder_part(c.path), c.folder) << c.path;
  }
}

}  // namespace
