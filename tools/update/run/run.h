// One run of Corvane: start-up (data root, log), then the replacement pass
// when there is a run parameter. Returns the process exit code: 1 with a run
// parameter, 0 without; it does not tell success from failure.
#pragma once

#include <string>

int run_update(const std::string& run_parameter);
