// The command line as the system hands it over: its tail, the data root taken
// from it and the log file below that root.
#include <cstddef>
#include <cstdint>
#include <string>

#include "run/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string command_line(reinterpret_cast<const char*>(data), size);
  std::string tail = command_line_tail(command_line.c_str());
  if (tail.size() > command_line.size()) __builtin_trap();
  std::string root = data_root_of(tail);
  if (root.size() > tail.size() || tail.compare(0, root.size(), root) != 0) __builtin_trap();
  log_file_path(root);
  // The parameter may hold any byte, NUL included, on its way to the data root.
  data_root_of(command_line);
  return 0;
}
