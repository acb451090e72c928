// The update configuration: the record that the updater's update_config.xml is
// read into. Values are attributes of four section elements below the root
// element run_config; each value read is logged while allow_beta is true.
#pragma once

#include <string>
#include <vector>

class TiXmlElement;

struct UpdateConfig {
  // Every text and the list empty, the flags at their defaults; reads nothing.
  explicit UpdateConfig(std::string path);

  // Reads the file at config_path (exactly that path). False, with no field
  // changed and nothing logged, when it cannot be read or parsed as XML; true
  // otherwise, also when it has no run_config. Appends to file_names without
  // clearing it. The result is also kept in loaded.
  bool load();

  // update_temp_path followed by "unzipTemp/", with no separator inserted.
  std::string unzip_folder() const;

  // The attribute's text, or an empty text when it is absent. A present key
  // is logged as "name : value" while allow_beta is true.
  std::string read_key(const TiXmlElement& section, const char* name) const;

  std::string current_version;
  std::string current_version_type;
  std::string last_version;
  std::string last_version_type;
  bool skip_version = false;
  bool continue_update = false;
  std::string app_path;
  std::string update_temp_path;
  std::string config_path;
  std::string language_name;
  std::string qm_file;
  std::string module_name;
  std::vector<std::string> file_names;
  bool allow_beta = true;
  // Stays false when the file has no internal_test section.
  bool allow_test = false;
  bool auto_check = true;
  bool force_newsetup = false;
  bool loaded = false;
};

// Appends the names of a file_names value: every non-empty piece that a ";"
// ends, exactly as written. Text behind the last ";" is no name.
void append_file_names(const std::string& value, std::vector<std::string>& names);

// A file with more element tags than this is refused before it is parsed: the
// reader descends one level of its own call stack per nested element.
constexpr unsigned long kMaxElementTags = 4096;
