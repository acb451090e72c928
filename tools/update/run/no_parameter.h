// The data root of a run without a parameter: the per-user data folder
// followed by "Temp/".
#pragma once

#include <string>

std::string no_parameter_data_root();
