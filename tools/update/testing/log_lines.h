// Reading a log back in tests: its lines, or the outcome lines of a run.
#pragma once

#include <string>
#include <vector>

namespace testing_logs {

using Lines = std::vector<std::string>;

// The lines of a text, without their line ends (LF or CR LF); a last line
// without a line end counts too.
Lines split_lines(const std::string& text);

// The texts of the log lines after the last run's "Run param is: " line,
// without their time prefixes and without the configuration's
// "key : value" lines.
Lines pass_log_lines(const std::string& log_path);

}  // namespace testing_logs
