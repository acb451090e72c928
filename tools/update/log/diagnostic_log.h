// The process-wide diagnostic log: printf-style texts to one of three sinks
// (debugger output, a diagnostic console, an appended file), serialised by one
// lock. It never raises an error to its caller. A text goes into the file
// whole or not at all; one that cannot be written is remembered
// (log_text_lost) and told to the debugger output, so that the run can stop
// changing what its log no longer records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include <boost/date_time/posix_time/ptime.hpp>

#include "platform/platform.h"

// Where a log's texts go. Any other value is stored and sends texts nowhere.
enum class LogMode : std::int32_t { DebugOutput = 0, Console = 1, File = 2 };

// The clock the elapsed time is read from: the local time, whose conversion
// may fail (then it throws). A field of the log, so that tests can make it fail.
using LogClock = boost::posix_time::ptime (*)();

struct DiagnosticLog {
  DiagnosticLog();
  ~DiagnosticLog();
  DiagnosticLog(const DiagnosticLog&) = delete;
  DiagnosticLog& operator=(const DiagnosticLog&) = delete;

  // Stores the mode; Console opens the diagnostic console (once per process).
  void set_mode(LogMode new_mode);
  // Keeps a path of at most platform::kPathMax - 1 characters; a longer one
  // is not kept (the path is emptied, so nothing is written).
  void set_file_path(const char* path);
  void set_show_elapsed(bool on);
  void set_show_thread_id(bool on);

  LogClock clock;
  char file_path[platform::kPathMax];
  LogMode mode;
  bool show_elapsed;
  bool show_thread_id;
  boost::posix_time::ptime start_time;
};

// The size of the buffer a log text is composed in: a text holds at most
// kLogTextBuffer - 1 characters, 1023 on Windows. Where paths are longer
// (Linux) it is longer by as much, so that a line holds a whole path there
// and as much besides as on Windows.
constexpr std::size_t kLogTextBuffer = 1024 + (platform::kPathMax - platform::kPathBuffer);

// While 0 (the start), log_printf writes nothing.
void set_log_enabled(int on);

// The log all program code writes to, alive for the whole process.
DiagnosticLog& main_log();

// Formats one text (cut to kLogTextBuffer - 1 characters) and writes it to main_log, with
// the elapsed-time prefix while show_elapsed is set. Adds no line end; a text
// that is cut keeps the line end its format ends with.
void log_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Whether a text meant for the log file could not be written since the
// program started (its file system full, say); the first failure's reason in
// *why when given.
bool log_text_lost(platform::Status* why = nullptr);

// The sink write of a composed text, under the log lock.
void log_write(DiagnosticLog& log, const char* text);

// The current local date and time, "YYYY/MM/DD  hh:mm:ss", in a static text
// that every call overwrites; "??\??" when the local time is unavailable.
const char* run_time_stamp();

// The same text for a given local time (null: unavailable), into out.
void format_time_stamp(const std::tm* local, char* out, std::size_t size);

// Composes a text with the elapsed-time prefix, "%2um %02u.%02us: %s", or with
// "(%u)" and the thread id before the colon when thread_id is given; the
// hundredths are truncated, a negative elapsed time reads as zero, and the
// result is cut to size - 1 characters.
void compose_prefixed_text(char* out, std::size_t size, std::int64_t elapsed_microseconds,
                           const unsigned* thread_id, const char* message);

