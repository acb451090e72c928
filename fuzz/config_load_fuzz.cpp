// Configuration loading: arbitrary bytes written to a file and read as
// update_config.xml.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/update_config.h"

namespace {

const std::string& config_path() {
  static const std::string path = [] {
    const char* folder = std::getenv("TMPDIR");
    std::string result = std::string(folder && *folder ? folder : "/tmp") + "/corvane-fuzz-" +
                         std::to_string(getpid()) + "-update_config.xml";
    std::atexit([] { std::remove(config_path().c_str()); });
    return result;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(config_path().c_str(), "wb");
  if (!file) __builtin_trap();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) __builtin_trap();
  if (std::fclose(file) != 0) __builtin_trap();

  UpdateConfig config(config_path());
  if (config.load()) {
    for (const std::string& name : config.file_names)
      if (name.empty() || name.find(';') != std::string::npos) __builtin_trap();
    config.unzip_folder();
  } else if (!config.file_names.empty() || !config.app_path.empty()) {
    __builtin_trap();  // a failed load changes no field
  }
  return 0;
}
