// Questions about paths and folder creation. Stateless; nothing is logged and
// nothing thrown. Results: 1 yes or success, 0 no or failure, -1 no match.
#pragma once

#include <string>

#include "platform/platform.h"

// True when the attributes of the path can be read: a file or a folder.
bool path_exists(const char* path);

// 1 when the path names an existing folder. A path shorter than 2 characters
// is none; a trailing "/" is ignored; "X:" is tested as "X:/"; a path longer
// than platform::kPathMax characters (260 on Windows, 4096 on Linux) is not
// examined (0).
int is_folder(const char* path);

// The kind of the first entry the system yields, in the path's folder, of
// those whose names begin with the path's last step (as the search pattern
// "<path>*.*" finds them on Windows): 1 folder, 0 not a folder, -1 nothing
// matches (or the path is longer than a search takes).
int first_match_is_folder(const char* path);

// Creates one folder: 1 when created or when an entry of that name exists.
int make_folder(const char* path);

// Creates every folder along the path that ends at a separator, outermost
// first ("/" preferred over "\\"). The outcome of the last attempt; 0 and
// nothing created for a path longer than platform::kPathMax characters.
int make_folder_path(const char* path);

// Whether a leading step of name (every step but the last) below folder is a
// link: the name would then lead wherever the link points.
bool passes_through_link(const std::string& folder, const std::string& name);
