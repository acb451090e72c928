// The log's formatting: elapsed-time prefixes, thread ids, time stamps and
// whole lines through log_printf, with long and odd texts and small buffers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "log/diagnostic_log.h"

namespace {

// Takes a value of type T from the front of the input (zero when it runs out).
template <typename T>
T take(const std::uint8_t*& data, std::size_t& size) {
  T value{};
  std::size_t count = size < sizeof value ? size : sizeof value;
  std::memcpy(&value, data, count);
  data += count;
  size -= count;
  return value;
}

// A buffer of exactly the given size on the heap, so that a write past its
// end is caught.
void check_cut(const std::vector<char>& out) {
  if (out.empty()) return;
  if (std::memchr(out.data(), '\0', out.size()) == nullptr) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool set_up = [] {
    set_log_enabled(1);
    main_log().set_mode(LogMode::File);
    main_log().set_file_path("/dev/null");
    return true;
  }();
  (void)set_up;

  std::int64_t elapsed = take<std::int64_t>(data, size);
  unsigned thread_id = take<unsigned>(data, size);
  std::uint8_t flags = take<std::uint8_t>(data, size);
  std::size_t buffer_size = take<std::uint16_t>(data, size) % 2048 + 1;
  int fields[6];
  for (int& field : fields) field = take<int>(data, size);
  std::string message(reinterpret_cast<const char*>(data), size);

  std::vector<char> out(buffer_size);
  compose_prefixed_text(out.data(), out.size(), elapsed, (flags & 1) ? &thread_id : nullptr, message.c_str());
  check_cut(out);

  std::tm local{};
  local.tm_year = fields[0];
  local.tm_mon = fields[1];
  local.tm_mday = fields[2];
  local.tm_hour = fields[3];
  local.tm_min = fields[4];
  local.tm_sec = fields[5];
  std::vector<char> stamp(buffer_size % 64 + 1);
  format_time_stamp((flags & 2) ? nullptr : &local, stamp.data(), stamp.size());
  check_cut(stamp);

  main_log().set_show_elapsed((flags & 4) != 0);
  main_log().set_show_thread_id((flags & 8) != 0);
  log_printf("%s", message.c_str());
  log_printf("%s : %s\n", message.c_str(), message.c_str());
  main_log().set_file_path(message.c_str());  // a path of any length is cut, never overrun
  main_log().set_file_path("/dev/null");
  return 0;
}
