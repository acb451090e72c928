// Backslashes to forward slashes in a path text, double-byte characters kept.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fs/path_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string before(reinterpret_cast<const char*>(data), size);
  std::string after = before;
  to_forward_slashes(after);
  // The text ends at its first NUL, as a C text would; up to there the
  // length stays and only backslashes may have changed, and only into "/".
  before.resize(before.find('\0') == std::string::npos ? before.size() : before.find('\0'));
  if (after.size() != before.size()) __builtin_trap();
  for (std::size_t i = 0; i < before.size(); ++i)
    if (after[i] != before[i] && !(before[i] == '\\' && after[i] == '/')) __builtin_trap();
  return 0;
}
