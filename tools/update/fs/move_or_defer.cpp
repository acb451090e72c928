#include "fs/move_or_defer.h"

#include "fs/wininit.h"
#include "platform/platform.h"

namespace {

// The platform id the NT line reports (VER_PLATFORM_WIN32_NT).
constexpr unsigned kNtPlatformId = 2;

// The answer of is_nt_platform, once known. Written once by the single
// thread of the run, so no lock.
bool platform_known = false;
bool platform_is_nt = false;

}  // namespace

bool is_nt_platform() {
  if (platform_known) return platform_is_nt;
  unsigned platform_id = 0;
  platform_is_nt = platform::query_platform_id(&platform_id) && platform_id == kNtPlatformId;
  platform_known = true;
  return platform_is_nt;
}

MoveOutcome move_or_defer(const char* source, const char* target) {
  if (platform::move_entry(source, target)) return MoveOutcome::moved;
  // No second try now and no copy: what cannot be moved now is left to the
  // next start, which also replaces an existing target.
  if (is_nt_platform())
    return platform::move_entry_at_restart(source, target) ? MoveOutcome::deferred
                                                           : MoveOutcome::failed;
  return queue_wininit_rename(target, source) ? MoveOutcome::deferred : MoveOutcome::failed;
}
