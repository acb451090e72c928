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
bool platform_is_windows = false;

void know_platform() {
  if (platform_known) return;
  unsigned platform_id = 0;
  platform_is_windows = platform::query_platform_id(&platform_id);
  platform_is_nt = platform_is_windows && platform_id == kNtPlatformId;
  platform_known = true;
}

}  // namespace

bool is_nt_platform() {
  know_platform();
  return platform_is_nt;
}

bool has_restart_moves() {
  know_platform();
  return platform_is_windows;
}

namespace {

// The restart request's outcome; a system without the service reports the
// move now's reason, which says why the entry stays.
MoveOutcome deferred_or_failed(const platform::Status& request, const platform::Status& move_now,
                               platform::Status* why) {
  if (request.ok()) return MoveOutcome::deferred;
  if (why) *why = request.failure == platform::Failure::not_supported ? move_now : request;
  return MoveOutcome::failed;
}

}  // namespace

MoveOutcome move_or_defer(const char* source, const char* target, platform::Status* why) {
  platform::Status move_now = platform::move_entry(source, target);
  if (move_now.ok()) return MoveOutcome::moved;
  // No second try now and no copy: what cannot be moved now is left to the
  // next start, which also replaces an existing target.
  platform::Status request = platform::kOk;
  if (is_nt_platform())
    request = platform::move_entry_at_restart(source, target, true);
  else
    queue_wininit_rename(target, source, &request);
  return deferred_or_failed(request, move_now, why);
}

MoveOutcome replace_at_restart(const char* target, const char* backup, const char* source, platform::Status* why) {
  platform::Status request = platform::kOk;
  if (!is_nt_platform()) {
    queue_wininit_rename(target, source, &request);
    return deferred_or_failed(request, request, why);
  }
  // None of the three replaces what it finds: should the first be skipped at
  // the restart (the backup path is taken, say, by the same request made
  // twice), the second finds the name still held and is skipped too, so that
  // no version is ever overwritten. The third, the move back, is asked for
  // every time: should the second fail at the restart (the two paths lie on
  // different volumes after all, a volume mounted in a folder), the old
  // version goes back to its name; when the second succeeds, it finds the
  // name taken and is skipped.
  if (backup) {
    request = platform::move_entry_at_restart(target, backup, false);
    if (!request.ok()) return deferred_or_failed(request, request, why);
  }
  request = platform::move_entry_at_restart(source, target, false);
  if (!backup) return deferred_or_failed(request, request, why);
  platform::Status back = platform::move_entry_at_restart(backup, target, false);
  // Without the move back, a second move that fails at the restart would
  // leave the name empty: its refusal counts like the others'. The reason is
  // the first refusal's.
  const platform::Status& refused = request.ok() ? back : request;
  return deferred_or_failed(refused, refused, why);
}
