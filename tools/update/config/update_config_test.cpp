#include "config/update_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "log/diagnostic_log.h"
#include "platform/test_support.h"
#include "testing/log_lines.h"

namespace {

using Names = std::vector<std::string>;

// Every test writes its configuration into a fresh folder and logs into a file
// there, without the elapsed-time prefix, so that the lines can be compared.
class UpdateConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = test_support::make_temp_folder();
    log_path_ = folder_ + "update.log";
    test_support::write_file(log_path_, "");
    set_log_enabled(1);
    main_log().set_mode(LogMode::File);
    main_log().set_file_path(log_path_.c_str());
    main_log().set_show_elapsed(false);
  }
  void TearDown() override {
    set_log_enabled(0);
    main_log().set_file_path("");
    test_support::remove_tree(folder_);
  }

  std::string write_config(const std::string& content, const std::string& name = "update_config.xml") {
    std::string path = folder_ + name;
    test_support::write_file(path, content);
    return path;
  }

  Names log_lines() { return testing_logs::split_lines(test_support::read_file(log_path_)); }
  void clear_log() { test_support::write_file(log_path_, ""); }

  std::string folder_;
  std::string log_path_;
};

// A configuration with every key, the sections in the order given.
std::string config_with_sections(const Names& sections) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<run_config>\n";
  for (const std::string& section : sections) text += "  " + section + "\n";
  return text + "</run_config>\n";
}

const char* const kCurrentSection =
    "<current_run_config orbiq_app_path=\"D:/App &amp; Co/\" current_version_type=\"release\""
    " update_temp_path=\"D:\\Tmp\\\" current_version=\"2.4.1\" language_name=\"Deutsch\""
    " qm_file=\"app_de.qm\" allow_beta=\"true\" force_newsetup=\"true\" auto_check=\"true\""
    " orbiq_modulename=\"App\" unknown=\"x\"/>";
const char* const kLastSection =
    "<last_run_config current_version=\"2.3.0\" current_version_type=\"beta\""
    " skip_version=\"true\" continue_update=\"true\"/>";
const char* const kTestSection = "<internal_test allow_test=\"true\"/>";
const char* const kCopySection = "<copy_config file_names=\"app.exe;plugins;lib/core.dll;rest\"/>";

// The lines of a load of all four sections, in the order of reading.
const Names kAllLines = {
    "allow_test : true",
    "orbiq_app_path : D:/App & Co/",
    "current_version_type : release",
    "update_temp_path : D:\\Tmp\\",
    "current_version : 2.4.1",
    "language_name : Deutsch",
    "qm_file : app_de.qm",
    "allow_beta : true",
    "force_newsetup : true",
    "auto_check : true",
    "orbiq_modulename : App",
    "current_version : 2.3.0",
    "current_version_type : beta",
    "skip_version : true",
    "continue_update : true",
    "file_names : app.exe;plugins;lib/core.dll;rest",
};

void expect_defaults(const UpdateConfig& config) {
  EXPECT_EQ(config.current_version, "");
  EXPECT_EQ(config.current_version_type, "");
  EXPECT_EQ(config.last_version, "");
  EXPECT_EQ(config.last_version_type, "");
  EXPECT_FALSE(config.skip_version);
  EXPECT_FALSE(config.continue_update);
  EXPECT_EQ(config.app_path, "");
  EXPECT_EQ(config.update_temp_path, "");
  EXPECT_EQ(config.language_name, "");
  EXPECT_EQ(config.qm_file, "");
  EXPECT_EQ(config.module_name, "");
  EXPECT_TRUE(config.file_names.empty());
  EXPECT_TRUE(config.allow_beta);
  EXPECT_FALSE(config.allow_test);
  EXPECT_TRUE(config.auto_check);
  EXPECT_FALSE(config.force_newsetup);
}

TEST(FileNames, SplitsAtEverySemicolonAndDropsTheRest) {
  struct Case {
    const char* value;
    Names expected;
  } cases[] = {
      {"one;two;three", {"one", "two"}},
      {";;one;;two;", {"one", "two"}},
      {"one", {}},
      {"", {}},
      {";", {}},
      {"one;one;", {"one", "one"}},
      {" one ; two;", {" one ", " two"}},
      {"Sub\\Dir/App.EXE;", {"Sub\\Dir/App.EXE"}},
  };
  for (const Case& c : cases) {
    Names names;
    append_file_names(c.value, names);
    EXPECT_EQ(names, c.expected) << c.value;
  }
  Names names = {"kept"};
  append_file_names("more;", names);
  EXPECT_EQ(names, (Names{"kept", "more"}));
}

TEST_F(UpdateConfigTest, ConstructionSetsTheDefaultsAndReadsNothing) {
  UpdateConfig config(folder_ + "missing.xml");
  EXPECT_EQ(config.config_path, folder_ + "missing.xml");
  EXPECT_FALSE(config.loaded);
  expect_defaults(config);
  EXPECT_EQ(config.unzip_folder(), "unzipTemp/");
}

TEST_F(UpdateConfigTest, ReadsEveryKeyAndLogsItInTheOrderOfReading) {
  UpdateConfig config(write_config(config_with_sections({kCopySection, kLastSection, kCurrentSection, kTestSection})));
  ASSERT_TRUE(config.load());
  EXPECT_TRUE(config.loaded);
  EXPECT_EQ(config.app_path, "D:/App & Co/");
  EXPECT_EQ(config.current_version_type, "release");
  EXPECT_EQ(config.update_temp_path, "D:\\Tmp\\");
  EXPECT_EQ(config.unzip_folder(), "D:\\Tmp\\unzipTemp/");
  EXPECT_EQ(config.current_version, "2.4.1");
  EXPECT_EQ(config.language_name, "Deutsch");
  EXPECT_EQ(config.qm_file, "app_de.qm");
  EXPECT_EQ(config.module_name, "App");
  EXPECT_EQ(config.last_version, "2.3.0");
  EXPECT_EQ(config.last_version_type, "beta");
  EXPECT_TRUE(config.allow_beta);
  EXPECT_TRUE(config.force_newsetup);
  EXPECT_TRUE(config.auto_check);
  EXPECT_TRUE(config.allow_test);
  EXPECT_TRUE(config.skip_version);
  EXPECT_TRUE(config.continue_update);
  EXPECT_EQ(config.file_names, (Names{"app.exe", "plugins", "lib/core.dll"}));
  EXPECT_EQ(log_lines(), kAllLines);
}

TEST_F(UpdateConfigTest, AFlagIsTrueOnlyForExactlyTrue) {
  const char* values[] = {"true", "True", "TRUE", "true ", " true", "1", "yes", ""};
  for (const char* value : values) {
    std::string flag = std::string("=\"") + value + "\"";
    UpdateConfig config(write_config(config_with_sections({
        "<current_run_config allow_beta" + flag + " force_newsetup" + flag + " auto_check" + flag + "/>",
        "<last_run_config skip_version" + flag + " continue_update" + flag + "/>",
        "<internal_test allow_test" + flag + "/>"})));
    ASSERT_TRUE(config.load()) << value;
    bool expected = std::string(value) == "true";
    EXPECT_EQ(config.allow_beta, expected) << value;
    EXPECT_EQ(config.force_newsetup, expected) << value;
    EXPECT_EQ(config.auto_check, expected) << value;
    EXPECT_EQ(config.skip_version, expected) << value;
    EXPECT_EQ(config.continue_update, expected) << value;
    EXPECT_EQ(config.allow_test, expected) << value;
  }
}

TEST_F(UpdateConfigTest, AbsentSectionsKeepTheDefaults) {
  UpdateConfig config(write_config(config_with_sections({"<other a=\"b\"/>", "some text"})));
  ASSERT_TRUE(config.load());
  EXPECT_TRUE(config.loaded);
  expect_defaults(config);
  EXPECT_EQ(config.unzip_folder(), "unzipTemp/");
  EXPECT_EQ(log_lines(), Names{});
}

TEST_F(UpdateConfigTest, PresentSectionsWithoutAttributesGiveEmptyTextsAndFalseFlags) {
  UpdateConfig config(write_config(config_with_sections(
      {"<current_run_config/>", "<last_run_config/>", "<internal_test/>", "<copy_config/>"})));
  ASSERT_TRUE(config.load());
  EXPECT_FALSE(config.allow_beta);
  EXPECT_FALSE(config.auto_check);
  EXPECT_FALSE(config.force_newsetup);
  EXPECT_FALSE(config.allow_test);
  EXPECT_FALSE(config.skip_version);
  EXPECT_FALSE(config.continue_update);
  EXPECT_EQ(config.app_path, "");
  EXPECT_EQ(config.module_name, "");
  EXPECT_TRUE(config.file_names.empty());
  EXPECT_EQ(log_lines(), Names{});
}

// allow_beta switches the lines of the keys read after it; its own line is
// written while the flag still has its old value.
TEST_F(UpdateConfigTest, AllowBetaSwitchesTheLinesOfTheLaterKeys) {
  const Names early = {"allow_test : 1", "orbiq_app_path : A/", "current_version_type : t",
                       "update_temp_path : T/", "current_version : 2", "language_name : en",
                       "qm_file : q"};
  const Names late = {"force_newsetup : true", "auto_check : ", "orbiq_modulename : M",
                      "current_version : 1", "current_version_type : s", "skip_version : no",
                      "continue_update : true", "file_names : a;b;"};
  const std::string current_keys =
      " orbiq_app_path=\"A/\" current_version_type=\"t\" update_temp_path=\"T/\" current_version=\"2\""
      " language_name=\"en\" qm_file=\"q\" force_newsetup=\"true\" auto_check=\"\" orbiq_modulename=\"M\"";
  const std::string others[] = {
      "<internal_test allow_test=\"1\"/>",
      "<last_run_config current_version=\"1\" current_version_type=\"s\" skip_version=\"no\" continue_update=\"true\"/>",
      "<copy_config file_names=\"a;b;\"/>"};
  struct Case {
    const char* allow_beta;  // null: the attribute is absent
    bool expected_flag;
    Names own_line;
    bool later_logged;
  } cases[] = {
      {"true", true, {"allow_beta : true"}, true},
      {"false", false, {"allow_beta : false"}, false},
      {"", false, {"allow_beta : "}, false},
      {nullptr, false, {}, false},
  };
  for (const Case& c : cases) {
    std::string beta = c.allow_beta ? std::string(" allow_beta=\"") + c.allow_beta + "\"" : "";
    clear_log();
    UpdateConfig config(write_config(config_with_sections(
        {others[0], "<current_run_config" + current_keys + beta + "/>", others[1], others[2]})));
    ASSERT_TRUE(config.load());
    EXPECT_EQ(config.allow_beta, c.expected_flag);
    EXPECT_FALSE(config.auto_check);  // present but empty
    EXPECT_EQ(config.file_names, (Names{"a", "b"}));
    Names expected = early;
    expected.insert(expected.end(), c.own_line.begin(), c.own_line.end());
    if (c.later_logged) expected.insert(expected.end(), late.begin(), late.end());
    EXPECT_EQ(log_lines(), expected) << (c.allow_beta ? c.allow_beta : "(absent)");
  }
}

TEST_F(UpdateConfigTest, WithoutCurrentRunConfigEveryPresentKeyIsLogged) {
  UpdateConfig config(write_config(config_with_sections({kCopySection, kLastSection, kTestSection})));
  ASSERT_TRUE(config.load());
  EXPECT_TRUE(config.allow_beta);
  EXPECT_TRUE(config.auto_check);
  EXPECT_EQ(config.app_path, "");
  EXPECT_EQ(config.unzip_folder(), "unzipTemp/");
  EXPECT_EQ(log_lines(), (Names{"allow_test : true", "current_version : 2.3.0", "current_version_type : beta",
                                "skip_version : true", "continue_update : true",
                                "file_names : app.exe;plugins;lib/core.dll;rest"}));
}

TEST_F(UpdateConfigTest, LastRunConfigFillsOnlyTheLastFields) {
  UpdateConfig config(write_config(config_with_sections({kLastSection})));
  ASSERT_TRUE(config.load());
  EXPECT_EQ(config.last_version, "2.3.0");
  EXPECT_EQ(config.last_version_type, "beta");
  EXPECT_EQ(config.current_version, "");
  EXPECT_EQ(config.current_version_type, "");
}

TEST_F(UpdateConfigTest, TheOrderOfTheSectionsDoesNotMatter) {
  Names sections = {kCurrentSection, kCopySection, kLastSection, kTestSection};
  std::sort(sections.begin(), sections.end());
  do {
    clear_log();
    UpdateConfig config(write_config(config_with_sections(sections)));
    ASSERT_TRUE(config.load());
    EXPECT_EQ(config.app_path, "D:/App & Co/");
    EXPECT_EQ(config.last_version, "2.3.0");
    EXPECT_TRUE(config.allow_test);
    EXPECT_EQ(config.file_names, (Names{"app.exe", "plugins", "lib/core.dll"}));
    EXPECT_EQ(log_lines(), kAllLines) << sections[0] << sections[1] << sections[2] << sections[3];
  } while (std::next_permutation(sections.begin(), sections.end()));
}

// Only the first top-level run_config counts, and in it the first element of
// each section name; deeper elements of those names are not found.
TEST_F(UpdateConfigTest, OnlyTheFirstElementOfEachNameCounts) {
  UpdateConfig config(write_config(
      "<?xml version=\"1.0\"?>\n<!-- written by the updater -->\n"
      "<outer><run_config><copy_config file_names=\"nested;\"/></run_config></outer>\n"
      "<run_config>\n"
      "  <group><current_run_config orbiq_app_path=\"deep/\"/></group>\n"
      "  <copy_config file_names=\"first;\"/>\n"
      "  <current_run_config orbiq_app_path=\"A/\"/>\n"
      "  <copy_config file_names=\"second;\"/>\n"
      "  <current_run_config orbiq_app_path=\"B/\"/>\n"
      "</run_config>\n"
      "<run_config><copy_config file_names=\"later;\"/></run_config>\n"));
  ASSERT_TRUE(config.load());
  EXPECT_EQ(config.file_names, Names{"first"});
  EXPECT_EQ(config.app_path, "A/");
}

TEST_F(UpdateConfigTest, ARootOfAnotherNameLoadsNothing) {
  UpdateConfig config(write_config("<update_config><copy_config file_names=\"a;\"/></update_config>"));
  EXPECT_TRUE(config.load());
  EXPECT_TRUE(config.loaded);
  expect_defaults(config);
  EXPECT_EQ(log_lines(), Names{});
}

TEST_F(UpdateConfigTest, AFileThatCannotBeReadAsXmlFailsAndChangesNothing) {
  struct Case {
    const char* name;
    const char* content;  // null: no file
  } cases[] = {
      {"missing", nullptr},
      {"empty", ""},
      {"unclosed", "<run_config><copy_config file_names=\"a;\"/>"},
      {"mismatched", "<run_config><copy_config file_names=\"a;\"></run_config>"},
      {"doubled attribute", "<run_config><copy_config file_names=\"a;\" file_names=\"b;\"/></run_config>"},
      {"not xml", "app.exe;plugins;"},
  };
  for (const Case& c : cases) {
    std::string path = folder_ + c.name + ".xml";
    if (c.content) test_support::write_file(path, c.content);
    UpdateConfig config(path);
    config.file_names = {"kept"};
    EXPECT_FALSE(config.load()) << c.name;
    EXPECT_FALSE(config.loaded) << c.name;
    EXPECT_EQ(config.file_names, Names{"kept"}) << c.name;
  }
  EXPECT_EQ(log_lines(), Names{});
}

TEST_F(UpdateConfigTest, LoadAppendsToTheListWithoutClearingIt) {
  UpdateConfig config(write_config(config_with_sections({kCopySection})));
  config.file_names = {"earlier"};
  ASSERT_TRUE(config.load());
  EXPECT_EQ(config.file_names, (Names{"earlier", "app.exe", "plugins", "lib/core.dll"}));
}

TEST_F(UpdateConfigTest, ALongListIsLoggedCutButStoredInFull) {
  std::string value;
  Names expected;
  for (int i = 0; i < 300; ++i) {
    expected.push_back("folder" + std::to_string(1000 + i) + "/file.dll");
    value += expected.back() + ";";
  }
  ASSERT_GT(value.size(), kLogTextBuffer);
  UpdateConfig config(write_config(config_with_sections({"<copy_config file_names=\"" + value + "\"/>"})));
  ASSERT_TRUE(config.load());
  EXPECT_EQ(config.file_names, expected);
  // Cut, but still a line: the next text starts one of its own.
  EXPECT_EQ(test_support::read_file(log_path_),
            ("file_names : " + value).substr(0, kLogTextBuffer - 2) + test_support::kTextLineEnd);
}

TEST_F(UpdateConfigTest, AConfigurationOfAnotherNameLoads) {
  std::string path = write_config(config_with_sections({kCopySection}), "settings 2.cfg");
  UpdateConfig config(path);
  ASSERT_TRUE(config.load());
  EXPECT_EQ(config.file_names, (Names{"app.exe", "plugins", "lib/core.dll"}));
}

// Input that is no configuration at all: load refuses it or keeps what the
// reader makes of it, and neither crashes nor hangs.
TEST_F(UpdateConfigTest, AFolderIsRefused) {
  for (const std::string& path : {folder_, folder_.substr(0, folder_.size() - 1)}) {
    UpdateConfig config(path);
    EXPECT_FALSE(config.load()) << path;
    EXPECT_FALSE(config.loaded) << path;
  }
}

TEST_F(UpdateConfigTest, BinaryEncodedAndCutFilesLoadOnlyWhatTheReaderSees) {
  const std::string valid = config_with_sections({kCopySection});
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) & 0xFF);
  std::string utf16 = "\xFF\xFE";
  for (char c : valid) utf16 += std::string(1, c) + '\0';
  struct Case {
    const char* name;
    std::string content;
    bool loads;
    Names names;
  } cases[] = {
      {"binary", binary, false, {}},
      {"utf16", utf16, false, {}},
      {"nul inside", valid.substr(0, valid.find("app.exe")) + '\0' + valid.substr(valid.find("app.exe")), false, {}},
      // The reader stops at the first NUL byte: what stands before it counts.
      {"nul behind", valid + '\0' + "<x>" + binary, true, {"app.exe", "plugins", "lib/core.dll"}},
      {"utf8 bom", "\xEF\xBB\xBF" + valid, true, {"app.exe", "plugins", "lib/core.dll"}},
      // A multi-byte lead byte at the very end would make the reader step
      // past its buffer: refused before it reads.
      {"lead byte at the end", "<?xml version=\"1.0\"?>\n<run_config>\n <a orbiq_n\xF4\xF4", false, {}},
      {"lead byte before a NUL", "<?xml version=\"1.0\"?>\n<run_config><a b\xE0\r\n" + std::string(1, '\0') + "xyz",
       false, {}},
      {"whole character at the end", valid + "<!-- \xC3\xA9 -->\xC3\xA9\r\n", true, {"app.exe", "plugins", "lib/core.dll"}},
  };
  for (const Case& c : cases) {
    UpdateConfig config(write_config(c.content, std::string(c.name) + ".xml"));
    EXPECT_EQ(config.load(), c.loads) << c.name;
    EXPECT_EQ(config.file_names, c.names) << c.name;
  }
}

// The reader expands no entities of a document type: a bomb of nested
// entities ends the document at its internal subset, and a reference is
// taken as plain text.
TEST_F(UpdateConfigTest, NestedEntitiesAreNotExpanded) {
  std::string doctype = "<!DOCTYPE run_config [\n  <!ENTITY lol0 \"lol\">\n";
  for (int i = 1; i < 10; ++i) {
    std::string previous = "&lol" + std::to_string(i - 1) + ";";
    doctype += "  <!ENTITY lol" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) doctype += previous;
    doctype += "\">\n";
  }
  doctype += "]>\n";
  const std::string body = "<run_config><copy_config file_names=\"&lol9;;a;\"/>&lol9;</run_config>";
  UpdateConfig bomb(write_config(doctype + body, "bomb.xml"));
  EXPECT_TRUE(bomb.load());
  EXPECT_TRUE(bomb.file_names.empty());
  UpdateConfig reference(write_config(body, "reference.xml"));
  ASSERT_TRUE(reference.load());
  EXPECT_EQ(reference.file_names, (Names{"lol9", "a"}));  // the reader drops the unknown "&"
}

// The reader descends its call stack once per nested element; a file with
// more element tags than the limit is refused before it is parsed.
TEST_F(UpdateConfigTest, DeepNestingIsRefusedBeyondTheLimit) {
  auto nested = [](unsigned long tags) {
    std::string text = "<run_config><copy_config file_names=\"a;\"/>";
    for (unsigned long i = 2; i < tags; ++i) text += "<d>";
    for (unsigned long i = 2; i < tags; ++i) text += "</d>";
    return text + "</run_config>";
  };
  UpdateConfig at_limit(write_config(nested(kMaxElementTags), "at_limit.xml"));
  EXPECT_TRUE(at_limit.load());
  EXPECT_EQ(at_limit.file_names, Names{"a"});
  UpdateConfig beyond(write_config(nested(kMaxElementTags + 1), "beyond.xml"));
  EXPECT_FALSE(beyond.load());
  // Far beyond: enough unclosed levels to overflow the reader's stack.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  UpdateConfig far_beyond(write_config(deep, "deep.xml"));
  EXPECT_FALSE(far_beyond.load());
}

TEST_F(UpdateConfigTest, AHugeFileLoads) {
  std::string comment = "<!-- " + std::string(4 << 20, 'c') + " -->\n";
  UpdateConfig config(write_config(comment + config_with_sections({kCopySection}) + comment));
  ASSERT_TRUE(config.load());
  EXPECT_EQ(config.file_names, (Names{"app.exe", "plugins", "lib/core.dll"}));
}

// A 32-bit process cannot hold a buffer of nearly 2 GB: the reader's request
// for one fails, and load reports a file not read instead of ending the run.
TEST_F(UpdateConfigTest, AFileTooLargeToHoldIsNotRead) {
  if (!test_support::kWindows) GTEST_SKIP() << "a 64-bit process may well hold it";
  std::string path = folder_ + "huge.xml";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  // Mostly a hole: written only at its end.
  ASSERT_EQ(std::fseek(file, 0x78000000L, SEEK_SET), 0);
  std::fputs("<run_config/>", file);
  ASSERT_EQ(std::fclose(file), 0);
  UpdateConfig config(path);
  EXPECT_FALSE(config.load());
}

}  // namespace
