// What the Win32 side can tell of links beyond their attributes: the real
// path of an entry (every link on the way resolved) where the system gives
// one, and under Wine the Unix links that Wine reports as plain files or not
// at all, while every call on them reaches what they point to.
#pragma once

#include <windows.h>

#include <string>

namespace platform {
namespace links {

// Whether the system resolves real paths (GetFinalPathNameByHandleW, the NT
// line from Vista on, looked up at run time so that the program still starts
// on older systems).
bool has_real_paths();

// The real path of the existing entry at path ("C:\dir\name" or
// "\\server\share\name", no trailing separator but after a drive). The
// call's error code (ERROR_SUCCESS when *out is set); ERROR_CALL_NOT_IMPLEMENTED
// where the system has no such call, ERROR_FILENAME_EXCED_RANGE when the
// answer does not fit a path buffer.
DWORD real_path(const char* path, std::string* out);

// Whether this is Wine, whose calls on a Unix link act on what the link points
// to (checked with Wine 8: MoveFileA, DeleteFileA, RemoveDirectoryA,
// SetFileAttributesA; FILE_FLAG_OPEN_REPARSE_POINT is not heeded), which shows
// a link to a folder as a reparse point but a link to a file as a plain file,
// and which leaves a link whose target is missing out of every listing.
bool links_reach_their_targets();

// Under Wine: whether the plain file at path, which its folder lists as name,
// is a link. Wine opens what the link points to, so the real path of the
// opened entry is not its folder's real path followed by its own name. The
// answer "no link" is kept for the next questions about path (the act that
// follows: a move, a deletion), until forget.
bool is_link_shown_as_file(const char* path, const char* name, const std::string& folder_real);

// Under Wine: the same for the existing entry at path, which Wine shows as a
// plain file. The usual answer costs one look at the entry: its real path is
// path itself, in full.
bool is_file_link(const char* path);
// Drops what is kept about path: the entry there is about to change.
void forget(const char* path);

// Under Wine: whether the name at path, which GetFileAttributesA did not find,
// is taken by a link that Wine does not show (its target is missing): the
// search for that exact name then finds the name but lists nothing.
bool is_link_not_shown(const char* path);

}  // namespace links
}  // namespace platform
