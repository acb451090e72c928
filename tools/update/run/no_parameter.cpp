#include "run/no_parameter.h"

// The per-user data folder comes with the shell-folder lookup; until then a
// run without a parameter keeps its log relative to the current folder.
std::string no_parameter_data_root() { return "Temp/"; }
