#include "run/command_line.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLineTail, SkipsTheProgramNameAndTheBlanksAfterIt) {
  struct Case {
    const char* command_line;
    const char* tail;
  } cases[] = {
      {"corvane.exe", ""},
      {"corvane.exe   ", ""},
      {"corvane.exe D:/app/update_config.xml", "D:/app/update_config.xml"},
      {"\"C:/Program Files/Corvane/corvane.exe\"  D:/my app/update config.xml",
       "D:/my app/update config.xml"},
      {"corvane.exe \"D:/quoted path/cfg.xml\"", "\"D:/quoted path/cfg.xml\""},
      {"corvane.exe\t\x01 cfg.xml  ", "cfg.xml  "},
      {"\"unterminated quote and blanks", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(command_line_tail(c.command_line), c.tail) << c.command_line;
}

TEST(JoinedArguments, AnUnquotedPathWithBlanksComesBackWhole) {
  // A shell splits an unquoted path with blanks into several arguments.
  char program[] = "corvane", first[] = "/home/ann/my", second[] = "update/cfg.xml";
  char* argv[] = {program, first, second, nullptr};
  EXPECT_EQ(joined_arguments(3, argv), "/home/ann/my update/cfg.xml");
  EXPECT_EQ(joined_arguments(1, argv), "");
}

TEST(DataRoot, IsTheFolderPartUpToTheLastSeparatorOfEitherKind) {
  struct Case {
    const char* run_parameter;
    const char* data_root;
  } cases[] = {
      {"D:/app/data/update_config.xml", "D:/app/data/"},
      {"D:\\app/data\\cfg.xml", "D:\\app/data\\"},
      {"D:/app\\data/cfg.xml", "D:/app\\data/"},
      {"cfg.xml", ""},
      {"D:/app/data/", "D:/app/data/"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(data_root_of(c.run_parameter), c.data_root) << c.run_parameter;
  EXPECT_EQ(log_file_path("D:/app/data/"), "D:/app/data/updateLog/update.log");
  EXPECT_EQ(log_file_path(""), "updateLog/update.log");
}

}  // namespace
