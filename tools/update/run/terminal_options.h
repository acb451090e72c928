// The answers to --help and --version, for a program met in a terminal.
#pragma once

#include <string>

// The text for exactly one argument that is "--help" or "--version" (the
// usage, or the program name and version); false for any other command line,
// which is the run parameter as usual.
bool terminal_option_answer(int argc, char** argv, const char* version, std::string* text);
