// The split of a file_names value into names.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/update_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string value(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> names;
  append_file_names(value, names);
  // Every name is a non-empty piece between separators, in order; together
  // with their separators they make up the value up to its last ";".
  std::string joined;
  for (const std::string& name : names) {
    if (name.empty() || name.find(';') != std::string::npos) __builtin_trap();
    joined += name;
  }
  std::string expected;
  std::string::size_type last = value.rfind(';');
  if (last != std::string::npos)
    for (std::string::size_type i = 0; i < last; ++i)
      if (value[i] != ';') expected += value[i];
  if (joined != expected) __builtin_trap();
  return 0;
}
