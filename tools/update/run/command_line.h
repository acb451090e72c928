// The run parameter and the folder that holds the log, from the command line.
#pragma once

#include <string>

// The command-line tail: the process command line without its program-name
// token (quotes toggle blanks into the token; a double-byte lead byte takes
// the byte after it along) and without the bytes 0x01..0x20 after it. The
// rest is taken whole: quotes stay, blanks stay.
std::string command_line_tail(const char* command_line);

// The arguments after the program name, joined by single blanks: the run
// parameter where the system hands a program its arguments one by one.
std::string joined_arguments(int argc, char** argv);

// The folder part of the run parameter, up to and including its last "/" or
// "\\"; empty when it holds neither.
std::string data_root_of(const std::string& run_parameter);

// The log file below a data root: DataRoot + "updateLog/" + "update.log".
std::string log_file_path(const std::string& data_root);
