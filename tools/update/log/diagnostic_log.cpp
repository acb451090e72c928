#include "log/diagnostic_log.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

namespace {

// One lock for all logs, created by the first log and destroyed by the last.
boost::mutex* log_lock = nullptr;
int live_logs = 0;
int log_enabled = 0;

// vsnprintf that always terminates and cuts at size - 1 characters.
void format_cut(char* out, std::size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
void format_cut(char* out, std::size_t size, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(out, size, format, arguments);
  va_end(arguments);
}

void copy_cut(char* out, std::size_t size, const char* text) {
  std::size_t length = std::strlen(text);
  if (length > size - 1) length = size - 1;
  std::memcpy(out, text, length);
  out[length] = '\0';
}

// A text cut to fill its buffer loses its end; when its format ends a line,
// the cut text still does, so that the next text starts a line of its own and
// a reader that takes lines by their start misses none.
void keep_line_end(char* text, std::size_t size, const char* format) {
  std::size_t format_length = std::strlen(format);
  if (format_length == 0 || format[format_length - 1] != '\n') return;
  std::size_t length = std::strlen(text);
  if (length == size - 1 && text[length - 1] != '\n') text[length - 1] = '\n';
}

// The local time now; "not a date-time" when it cannot be had, so that the
// elapsed time of every line reads as zero instead of the process ending.
boost::posix_time::ptime now_or_unknown(LogClock clock) {
  try {
    return clock();
  } catch (...) {
    return boost::posix_time::ptime(boost::posix_time::not_a_date_time);
  }
}

// Microseconds since the log started. A clock that cannot give the local time
// (its conversion throws) must not end the run in the middle of an update:
// the text is then written with a zero prefix.
std::int64_t elapsed_microseconds(const DiagnosticLog& log) {
  try {
    boost::posix_time::time_duration elapsed = now_or_unknown(log.clock) - log.start_time;
    if (elapsed.is_special()) return 0;
    return elapsed.total_microseconds();
  } catch (...) {
    return 0;
  }
}

// The first text that did not reach the log file, if any.
struct LostText {
  bool lost;
  platform::Status why;
} lost_text = {false, platform::kOk};

void write_to_sink(const DiagnosticLog& log, const char* text) {
  switch (log.mode) {
    case LogMode::DebugOutput:
      platform::debug_output(text);
      break;
    case LogMode::Console:
      platform::console_write(text);
      break;
    case LogMode::File: {
      if (log.file_path[0] == '\0') break;
      // Whole or not at all: a line cut short would read as another line.
      platform::Status written = platform::append_whole(log.file_path, text);
      if (written.ok()) break;
      if (!lost_text.lost) {
        lost_text = {true, written};
        std::string note = std::string("Log text not written: ") + log.file_path + " (" +
                           platform::describe(written) + ")\n";
        platform::debug_output(note.c_str());
      }
      break;
    }
  }
}

}  // namespace

DiagnosticLog::DiagnosticLog()
    : clock(&boost::posix_time::microsec_clock::local_time),
      file_path{},
      mode(LogMode::DebugOutput),
      show_elapsed(false),
      show_thread_id(false),
      start_time(now_or_unknown(clock)) {
  if (live_logs++ == 0) log_lock = new boost::mutex();
}

DiagnosticLog::~DiagnosticLog() {
  platform::console_close();
  if (--live_logs == 0) {
    delete log_lock;
    log_lock = nullptr;
  }
}

void DiagnosticLog::set_mode(LogMode new_mode) {
  mode = new_mode;
  if (mode == LogMode::Console) {
    char title[256];
    format_cut(title, sizeof title, "%s - Diagnostic Console", "Debug");
    platform::console_open(title);
  }
}

void DiagnosticLog::set_file_path(const char* path) {
  // A path cut short would name another file, which the first write would
  // create: a path that does not fit is not kept, and nothing is written.
  if (std::strlen(path) >= sizeof file_path)
    file_path[0] = '\0';
  else
    copy_cut(file_path, sizeof file_path, path);
}

void DiagnosticLog::set_show_elapsed(bool on) { show_elapsed = on; }

void DiagnosticLog::set_show_thread_id(bool on) { show_thread_id = on; }

void set_log_enabled(int on) { log_enabled = on; }

namespace {
// Constructed during static initialisation, before the program's own code
// runs, so its start time is in effect the program's start.
DiagnosticLog the_main_log;
}  // namespace

DiagnosticLog& main_log() { return the_main_log; }

void log_write(DiagnosticLog& log, const char* text) {
  try {
    boost::lock_guard<boost::mutex> hold(*log_lock);
    write_to_sink(log, text);
  } catch (...) {
    // The lock is released by the guard; the text is dropped.
  }
}

bool log_text_lost(platform::Status* why) {
  if (lost_text.lost && why) *why = lost_text.why;
  return lost_text.lost;
}

void compose_prefixed_text(char* out, std::size_t size, std::int64_t elapsed_microseconds,
                           const unsigned* thread_id, const char* message) {
  if (elapsed_microseconds < 0) elapsed_microseconds = 0;
  std::uint32_t whole_seconds = static_cast<std::uint32_t>(elapsed_microseconds / 1000000);
  unsigned hundredths = static_cast<unsigned>(elapsed_microseconds / 1000 % 1000 / 10);
  unsigned minutes = whole_seconds / 60;
  unsigned seconds = whole_seconds % 60;
  if (thread_id)
    format_cut(out, size, "%2um %02u.%02us (%u): %s", minutes, seconds, hundredths, *thread_id, message);
  else
    format_cut(out, size, "%2um %02u.%02us: %s", minutes, seconds, hundredths, message);
}

void log_printf(const char* format, ...) {
  if (log_enabled == 0) return;
  char message[kLogTextBuffer];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);

  DiagnosticLog& log = main_log();
  char text[kLogTextBuffer];
  if (log.show_elapsed) {
    unsigned thread_id = platform::current_thread_id();
    compose_prefixed_text(text, sizeof text, elapsed_microseconds(log),
                          log.show_thread_id ? &thread_id : nullptr, message);
  } else {
    copy_cut(text, sizeof text, message);
  }
  keep_line_end(text, sizeof text, format);
  log_write(log, text);
}

namespace {

// value + add (add >= 0), held at the largest int instead of overflowing.
int add_held(int value, int add) { return value > INT_MAX - add ? INT_MAX : value + add; }

}  // namespace

void format_time_stamp(const std::tm* local, char* out, std::size_t size) {
  if (!local) {
    copy_cut(out, size, "??\\??");
    return;
  }
  // A year or month at the end of the int range is held there rather than
  // overflowing.
  format_cut(out, size, "%4d/%02d/%02d  %02d:%02d:%02d", add_held(local->tm_year, 1900),
             add_held(local->tm_mon, 1), local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec);
}

const char* run_time_stamp() {
  static char stamp[64];
  std::time_t now = std::time(nullptr);
  format_time_stamp(std::localtime(&now), stamp, sizeof stamp);
  return stamp;
}
