#include "run/replacement_pass.h"

// The pass comes with the configuration and the file moves; until then a run
// with a parameter ends after its start-up.
void run_replacement_pass(const std::string&) {}
