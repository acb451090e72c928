// Moving an entry now, or having the system move it at its next start when it
// cannot be moved now (it is in use, or its target is still occupied).
// Nothing is logged; every system call is made once.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// What became of a move.
enum class MoveOutcome : std::int32_t {
  moved = 0,     // the entry was moved now
  failed = 1,    // not moved, and no move at the next start was requested
  deferred = 2,  // the system will move the entry at its next start
};

// Moves a file or folder from source to target (the entry's new path itself).
// The move now never replaces an existing target. When it fails, the NT line
// gets a pending move that replaces the target at the next start; any other
// system (Windows 9x) gets a line in wininit.ini. A system with neither
// service (Linux: no version answer, no short forms) yields failed. For failed,
// *why (when given) gets the reason: the restart request's, or the move's
// own where the system has no restart service.
MoveOutcome move_or_defer(const char* source, const char* target, platform::Status* why = nullptr);

// Asks the system to put source in the place of target at its next start.
// On the NT line two pending moves, in this order: target to backup, then
// source to target, neither replacing what it finds (the same request made
// twice then does no harm), and a third that moves the old version back,
// which the restart skips when the second went in and carries out when the
// second failed there, so that the restart never leaves the name empty. A null
// backup means there is no old version: only the second move is asked for.
// On Windows 9x a line in wininit.ini, which replaces target without a backup
// (the backup path has no short form before it exists). Source must lie on
// target's volume: no restart crosses volumes. deferred, or failed with the
// reason in *why (Linux has no such service).
MoveOutcome replace_at_restart(const char* target, const char* backup, const char* source, platform::Status* why);

// True on the NT line of Windows. The system is asked on the first call only;
// the answer is kept for the life of the process. A query that fails counts
// as not the NT line.
bool is_nt_platform();

// True where the system carries out moves at its next start (both lines of
// Windows); Linux has no such service. Asked with is_nt_platform's query.
bool has_restart_moves();
