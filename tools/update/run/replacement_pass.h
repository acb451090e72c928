// The replacement pass: loads the configuration named by the run parameter
// and replaces every configured name in the application folder.
#pragma once

#include <string>

void run_replacement_pass(const std::string& run_parameter);
