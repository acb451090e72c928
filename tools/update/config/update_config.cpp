#include "config/update_config.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "log/diagnostic_log.h"
#include "platform/platform.h"

namespace {

// A flag is set only by exactly these four characters.
bool is_true(const std::string& value) { return value == "true"; }

// A folder, or a device such as a pipe, whose reading could wait forever.
bool names_no_file(const std::string& path) {
  std::uint32_t attributes = platform::file_attributes(path.c_str());
  return attributes != platform::kInvalidAttributes &&
         (attributes & (platform::kAttrFolder | platform::kAttrDevice));
}

// Whether the reader would take this byte behind "<" as the start of an
// element name: an ASCII letter, "_", or any byte from 127 up.
bool starts_element_name(unsigned char byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || byte == '_' || byte >= 127;
}

// How many bytes the reader takes as one character when it meets this byte in
// UTF-8 text: it steps that far without looking for the end of the text.
std::size_t utf8_step(unsigned char byte) {
  if (byte >= 0xF0 && byte <= 0xF4) return 4;
  if (byte >= 0xE0 && byte <= 0xEF) return 3;
  if (byte >= 0xC2 && byte <= 0xDF) return 2;
  return 1;
}

// True when the text ends inside a multi-byte character: the reader would then
// step past the end of its buffer. tail holds the text's last bytes without
// carriage returns (the reader turns CR LF into LF, so it may have fewer).
bool ends_inside_character(const unsigned char* tail, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (utf8_step(tail[i]) > count - i) return true;
  return false;
}

// True when the file can be read, holds at most kMaxElementTags element tags
// before its first NUL byte (where the reader stops) and does not end there
// inside a multi-byte character. Every nested element is such a tag, so this
// bounds how deep the reader can descend.
bool within_element_limit(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  unsigned long tags = 0;
  bool after_open = false;
  bool ended = false;
  unsigned char chunk[4096];
  unsigned char tail[4];
  std::size_t tail_count = 0;
  while (!ended && tags <= kMaxElementTags) {
    std::size_t count = std::fread(chunk, 1, sizeof chunk, file);
    if (count == 0) break;
    for (std::size_t i = 0; i < count && tags <= kMaxElementTags; ++i) {
      if (chunk[i] == 0) {
        ended = true;
        break;
      }
      if (after_open && starts_element_name(chunk[i])) ++tags;
      after_open = chunk[i] == '<';
      if (chunk[i] != '\r') {
        if (tail_count == sizeof tail) {
          std::memmove(tail, tail + 1, sizeof tail - 1);
          --tail_count;
        }
        tail[tail_count++] = chunk[i];
      }
    }
  }
  bool read_failed = std::ferror(file) != 0;
  std::fclose(file);  // opened for reading only: closing has nothing to report
  return !read_failed && tags <= kMaxElementTags && !ends_inside_character(tail, tail_count);
}

struct ParseRequest {
  TiXmlDocument* document;
  const std::string* path;
  bool parsed;
};

void parse_file(void* context) {
  ParseRequest* request = static_cast<ParseRequest*>(context);
  request->parsed = request->document->LoadFile(*request->path);
}

}  // namespace

UpdateConfig::UpdateConfig(std::string path) : config_path(std::move(path)) {}

bool UpdateConfig::load() {
  TiXmlDocument document;
  ParseRequest request = {&document, &config_path, false};
  // Refused before the reader sees them: a folder (POSIX opens it, and the
  // reader then asks for a buffer of an absurd size), a pipe or other device
  // (opening it may wait for a writer for ever) and a file nested deeper
  // than the call stack holds. The reader runs guarded, so that running out
  // of memory for a huge file, or a fault inside it, is a file not read.
  if (names_no_file(config_path) || !within_element_limit(config_path) ||
      !platform::run_guarded(&parse_file, &request) || !request.parsed) {
    loaded = false;
    return false;
  }

  const TiXmlElement* root = document.FirstChildElement("run_config");
  if (root) {
    const TiXmlElement* current = root->FirstChildElement("current_run_config");
    const TiXmlElement* last = root->FirstChildElement("last_run_config");
    const TiXmlElement* internal_test = root->FirstChildElement("internal_test");
    const TiXmlElement* copy = root->FirstChildElement("copy_config");

    // The keys are read in this fixed order, whatever the order of the file:
    // allow_beta, once read, switches the log lines of every later key.
    if (internal_test) allow_test = is_true(read_key(*internal_test, "allow_test"));
    if (current) {
      app_path = read_key(*current, "orbiq_app_path");
      current_version_type = read_key(*current, "current_version_type");
      update_temp_path = read_key(*current, "update_temp_path");
      current_version = read_key(*current, "current_version");
      language_name = read_key(*current, "language_name");
      qm_file = read_key(*current, "qm_file");
      allow_beta = is_true(read_key(*current, "allow_beta"));
      force_newsetup = is_true(read_key(*current, "force_newsetup"));
      auto_check = is_true(read_key(*current, "auto_check"));
      module_name = read_key(*current, "orbiq_modulename");
    }
    if (last) {
      last_version = read_key(*last, "current_version");
      last_version_type = read_key(*last, "current_version_type");
      skip_version = is_true(read_key(*last, "skip_version"));
      continue_update = is_true(read_key(*last, "continue_update"));
    }
    if (copy) append_file_names(read_key(*copy, "file_names"), file_names);
  }
  loaded = true;
  return true;
}

std::string UpdateConfig::unzip_folder() const { return update_temp_path + "unzipTemp/"; }

std::string UpdateConfig::read_key(const TiXmlElement& section, const char* name) const {
  const std::string* value = section.Attribute(std::string(name));
  if (!value) return std::string();
  if (allow_beta) log_printf("%s : %s\n", name, value->c_str());
  return *value;
}

void append_file_names(const std::string& value, std::vector<std::string>& names) {
  std::string::size_type start = 0;
  for (std::string::size_type end = value.find(';'); end != std::string::npos;
       end = value.find(';', start)) {
    if (end > start) names.push_back(value.substr(start, end - start));
    start = end + 1;
  }
}
