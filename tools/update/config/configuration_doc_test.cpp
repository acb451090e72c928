// The example configuration of docs/configuration.md, loaded as a program
// would load it, so that the documentation cannot drift from the reader: the
// example must load, set every key of the documented vocabulary, and the
// keys must be read (and logged) in the order of the documented table.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "config/update_config.h"
#include "log/diagnostic_log.h"
#include "platform/test_support.h"
#include "testing/log_lines.h"

namespace {

using testing_logs::Lines;
using testing_logs::split_lines;

// The first fenced block marked "xml", without its fences.
std::string xml_example(const Lines& doc) {
  std::string block;
  bool inside = false;
  for (const std::string& line : doc) {
    if (!inside && line == "```xml") {
      inside = true;
    } else if (inside && line == "```") {
      return block;
    } else if (inside) {
      block += line + "\n";
    }
  }
  return std::string();
}

// The attribute column of the vocabulary table: rows "| <step> | <section> |
// <attribute> | ...", in the table's order, without the backquotes.
Lines documented_keys(const Lines& doc) {
  Lines keys;
  for (const std::string& line : doc) {
    if (line.size() < 3 || line.compare(0, 2, "| ") != 0 || line[2] < '0' || line[2] > '9') continue;
    std::vector<std::string> cells;
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, '|');) cells.push_back(cell);
    if (cells.size() < 4) continue;
    std::string key;
    for (char c : cells[3])
      if (c != '`' && c != ' ') key += c;
    keys.push_back(key);
  }
  return keys;
}

TEST(ConfigurationDocTest, TheExampleLoadsAndSetsEveryDocumentedKeyInTheDocumentedOrder) {
  Lines doc = split_lines(test_support::read_file(CORVANE_DOCS_DIR "/configuration.md"));
  ASSERT_FALSE(doc.empty()) << "cannot read " CORVANE_DOCS_DIR "/configuration.md";
  std::string example = xml_example(doc);
  ASSERT_FALSE(example.empty()) << "no ```xml block in the configuration document";
  Lines keys = documented_keys(doc);
  ASSERT_EQ(keys.size(), 16u) << "the vocabulary table has one row per key";

  std::string folder = test_support::make_temp_folder();
  std::string log_path = folder + "update.log";
  test_support::write_file(log_path, "");
  test_support::write_file(folder + "update_config.xml", example);
  set_log_enabled(1);
  main_log().set_mode(LogMode::File);
  main_log().set_file_path(log_path.c_str());
  main_log().set_show_elapsed(false);

  UpdateConfig config(folder + "update_config.xml");
  bool loaded = config.load();
  set_log_enabled(0);
  main_log().set_file_path("");
  Lines log = split_lines(test_support::read_file(log_path));
  test_support::remove_tree(folder);

  ASSERT_TRUE(loaded);
  Lines logged_keys;
  for (const std::string& line : log) logged_keys.push_back(line.substr(0, line.find(" : ")));
  EXPECT_EQ(logged_keys, keys);
  // The folders end in a separator, as the document asks of every file.
  ASSERT_FALSE(config.app_path.empty());
  ASSERT_FALSE(config.update_temp_path.empty());
  EXPECT_EQ(config.app_path.back(), '/');
  EXPECT_EQ(config.update_temp_path.back(), '/');
  EXPECT_FALSE(config.file_names.empty());
}

}  // namespace
