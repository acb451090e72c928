// The C++ half of the fault guard, the same on both sides: runs body(context)
// and tells whether it returned, any C++ exception counting as not.
#pragma once

namespace platform {

// Out of line, apart from each side's jump point, so that no C++ handler
// shares a frame with it.
__attribute__((noinline)) inline bool call_catching(void (*body)(void*), void* context) {
  try {
    body(context);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace platform
