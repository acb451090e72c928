#include "platform/status_text.h"

namespace platform {

std::string describe_without_code(Failure failure) {
  switch (failure) {
    case Failure::none: return "no failure";
    case Failure::in_use: return "in use";
    case Failure::exists: return "an entry of another kind is in the way";
    case Failure::not_found: return "not found";
    case Failure::denied: return "access denied";
    case Failure::too_long: return "path too long";
    case Failure::not_supported: return "not supported here";
    case Failure::fault: return "cut short by a fault";
    case Failure::mount_point: return "another file system is mounted there";
    case Failure::other_volume: return "not the same volume";
    case Failure::link: return "a link, which this system cannot copy, move or delete as itself";
    case Failure::link_on_way: return "a link stands where a folder was, and it is not followed";
    case Failure::replaced: return "another entry was put in its place";
    case Failure::other: break;
  }
  return "failed";
}

}  // namespace platform
