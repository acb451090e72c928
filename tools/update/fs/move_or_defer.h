// Moving an entry now, or having the system move it at its next start when it
// cannot be moved now (it is in use, or its target is still occupied).
// Nothing is logged; every system call is made once.
#pragma once

#include <cstdint>

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
// service (Linux: no version answer, no short forms) yields failed.
MoveOutcome move_or_defer(const char* source, const char* target);

// True on the NT line of Windows. The system is asked on the first call only;
// the answer is kept for the life of the process. A query that fails counts
// as not the NT line.
bool is_nt_platform();
