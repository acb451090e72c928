// Windows 9x's moves at the next start: lines "<short target>=<short source>"
// in the "[rename]" section of wininit.ini in the Windows folder, which the
// system carries out when it starts. Nothing but such lines (and the section
// header when missing) is ever written to the file.
#pragma once

#include <cstddef>

// Turns every backslash byte of text into "/", in place (double-byte
// characters are not looked at).
void replace_backslashes(char* text);

// The path of wininit.ini: the Windows folder with "/" separators and a
// trailing "/", then "wininit.ini". 1 when composed into buffer (size bytes);
// 0, with buffer emptied, when the Windows folder cannot be obtained or the
// path does not fit.
int wininit_path(char* buffer, std::size_t size);

// Adds the entry line "short_target=short_source" to the restart-rename file
// at file_path (created when missing): at its end, after a "[rename]" header
// line when no line of the file starts with one in any letter case (a last
// line without a line end gets one first). When another section follows the
// "[rename]" section, the entry goes at the end of the "[rename]" section
// instead, before that section's header, since the system reads its entries
// from there only. 1 when everything was written; 0 when the file cannot be
// opened or a write fails.
int append_rename_entry(const char* file_path, const char* short_target, const char* short_source);

// Asks Windows 9x to move source onto target at its next start: appends the
// short forms of both to wininit.ini. 0, with the file untouched, when either
// path has no short form (it does not exist, or the system has none) or the
// file's path cannot be composed; otherwise the result of append_rename_entry.
int queue_wininit_rename(const char* target, const char* source);
