// Copying and deleting folder trees. Folder paths end in "/" and names are
// appended to them directly. Each walk is depth-first, in the order the file
// system yields entries; a failing entry never stops it. Every level runs
// under the fault guard: a C++ exception or a system fault inside a level
// makes that level yield 0 and close its search, and its parent goes on.
// Results: 1 when every entry succeeded, 0 otherwise, with the first failure's
// reason in *first_failure when given. Nothing is logged.
#pragma once

#include "platform/platform.h"

// Copies the contents of source into target, which must exist already. Each
// sub-folder is read through the listing that found it and filled through
// the folder made for it (on POSIX relative to those open folders, never
// through a link put in their place), so that a folder swapped for a link
// while the copy goes on leads it nowhere.
// Sub-folders are created with make_folder (an existing one is reused);
// existing target files are overwritten. A link is copied as a link; where
// the system makes no links (Windows) that entry fails (Failure::link). Every
// folder filled, target included, then gets its source's permission bits
// (Windows: attributes) and modification time, as a copied file does
// (Windows 9x cannot open a folder to set its time: there it keeps the time
// of the copy). 0 when source cannot be searched.
// Called with the path of each entry before a walk acts on it; tests pass one
// that raises a fault or an exception inside a level.
using EntryHook = void (*)(const char* entry_path);

int copy_folder_tree(const char* source, const char* target, platform::Status* first_failure = nullptr,
                     EntryHook hook = nullptr);
// The same into the open folder target, whose path (ending in a separator)
// is target_path: filled through target, whatever stands at its path since.
int copy_folder_tree_into(const char* source, platform::TargetFolder* target, const char* target_path,
                          platform::Status* first_failure = nullptr, EntryHook hook = nullptr);

// Deletes everything below folder, read-only files and folders included, then
// folder itself. A link (symbolic link, junction) is removed as itself and
// never walked through, so nothing outside the tree is touched; a named folder
// that is itself a link is removed the same way. Each sub-folder is opened,
// emptied and removed through the listing of the folder that holds it (on
// POSIX relative to that open folder), so that a folder swapped for a link
// while the walk goes on leads it nowhere. A folder where another file
// system is mounted is left alone, as is anything else whose deletion fails,
// and so are the folders that hold it. How deep the tree goes does not
// matter: a sub-folder whose entries' paths would not fit a path buffer where
// it stands is first moved up into folder under a short unused name and
// emptied from there (only an entry whose own name does not fit beside folder
// stays). 0 when folder cannot be searched (then nothing is changed).
int delete_folder_tree(const char* folder, platform::Status* first_failure = nullptr, EntryHook hook = nullptr);
