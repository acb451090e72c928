// The reason text of a failure that carries no system error code: one the
// program noted itself (a fault, a mount point left alone).
#pragma once

#include <string>

#include "platform/platform.h"

namespace platform {

std::string describe_without_code(Failure failure);

}  // namespace platform
