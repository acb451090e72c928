#include "run/command_line.h"

#include "fs/path_text.h"
#include "platform/platform.h"

std::string command_line_tail(const char* command_line) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(command_line);
  bool in_quotes = false;
  while (*p > 0x20 || (*p != 0 && in_quotes)) {
    if (*p == '"') in_quotes = !in_quotes;
    if (platform::is_lead_byte(*p) && p[1] != 0) ++p;
    ++p;
  }
  while (*p >= 0x01 && *p <= 0x20) ++p;
  return std::string(reinterpret_cast<const char*>(p));
}

std::string joined_arguments(int argc, char** argv) {
  std::string joined;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) joined += ' ';
    joined += argv[i];
  }
  return joined;
}

std::string data_root_of(const std::string& run_parameter) { return folder_part(run_parameter); }

std::string log_file_path(const std::string& data_root) { return data_root + "updateLog/" + "update.log"; }
