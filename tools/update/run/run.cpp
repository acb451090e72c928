#include "run/run.h"

#include "fs/durability.h"
#include "fs/path_queries.h"
#include "log/diagnostic_log.h"
#include "platform/platform.h"
#include "run/command_line.h"
#include "run/no_parameter.h"
#include "run/replacement_pass.h"

namespace {

// Switches the log on when its file is already there; the run never creates
// the log file or its folder.
void start_log(const std::string& data_root, const std::string& run_parameter) {
  std::string log_path = log_file_path(data_root);
  // A path that does not fit would be cut and name another file: no log.
  if (log_path.size() >= platform::kPathMax || !path_exists(log_path.c_str())) return;
  set_log_enabled(1);
  main_log().set_mode(LogMode::File);
  main_log().set_file_path(log_path.c_str());
  log_printf("\n\nCorvane (%s)\n\n", run_time_stamp());
  main_log().set_show_elapsed(true);
  log_printf("Run param is: %s\n", run_parameter.c_str());
}

// The log is the record of what the run did: it reaches the disk before the
// run ends. The file is opened and closed around each text, so one flush at
// the end will do. Should it fail, the line saying so may still reach it later.
void flush_log() {
  const DiagnosticLog& log = main_log();
  if (log.mode == LogMode::File && log.file_path[0] != '\0') flush_written_file(log.file_path);
}

}  // namespace

int run_update(const std::string& run_parameter) {
  std::string data_root = run_parameter.empty() ? no_parameter_data_root() : data_root_of(run_parameter);
  start_log(data_root, run_parameter);
  if (!run_parameter.empty()) run_replacement_pass(run_parameter);
  flush_log();
  return run_parameter.empty() ? 0 : 1;
}
