// Windows 9x's moves at the next start: lines "<short target>=<short source>"
// in the "[rename]" section of wininit.ini in the Windows folder, which the
// system carries out when it starts. Nothing but such lines (and the section
// header when missing) is ever written to the file.
#pragma once

#include <cstddef>

#include "platform/platform.h"

// The path of wininit.ini: the Windows folder with "/" separators and a
// trailing "/", then "wininit.ini". 1 when composed into buffer (size bytes);
// 0, with buffer emptied, when the Windows folder cannot be obtained or the
// path does not fit.
int wininit_path(char* buffer, std::size_t size);

// Adds the entry line "short_target=short_source" to the restart-rename file
// at file_path (created when missing), as one line at the end of the first
// section whose header line starts with "[rename]" in any letter case, past
// any blanks, as profile readers take it (before the next section's header,
// since the system reads its entries from that section only); when there is no such section, a "[rename]" header and the
// entry go at the end. The file is read as bytes and every other line is kept
// byte for byte, whatever its line ends; the new lines take the file's own
// line end (CR LF when it has none), and a last line without one gets one
// first. The new text is written beside the file, flushed to the disk (a
// flush that fails is logged) and then put in its place, so that the file is
// never left half written, not even by a power cut: with one rename that
// replaces it, or where the system has none (Windows 9x), in steps that keep
// a whole copy of the old text until the new one is in; a rewrite cut short
// there between its steps is finished by the next request, so the other
// programs' entries are never lost. 1 when everything was written; 0, with
// the reason in *why when given, when the file cannot be read or the new
// text cannot be written or put in place.
int append_rename_entry(const char* file_path, const char* short_target, const char* short_source,
                        platform::Status* why = nullptr);

// Asks Windows 9x to move source onto target at its next start: appends the
// short forms of both to wininit.ini as DOS names them (WININIT.EXE runs
// before Windows): absolute, 8.3, with backslashes whatever separators the
// paths had. 0, with the file untouched and the reason in *why, when either
// path has no short form (it does not exist, or the system has none) or the
// file's path cannot be composed; otherwise the result of append_rename_entry.
int queue_wininit_rename(const char* target, const char* source, platform::Status* why = nullptr);
