// Checks of a listed name before anything is done for it: names that could
// reach outside the folders they are joined to are refused.
#pragma once

#include <string>

// The name without trailing separators: a listed folder name may end in one,
// and the folder work appends exactly one "/" itself.
std::string without_trailing_separators(const std::string& name);

// Whether the name could reach outside the application folder and the
// unpacked release it is joined to: a step up (also one of dots and blanks
// that Windows may trim to ".."), a leading separator (a root or a network
// path) or a drive letter.
bool leads_outside(const std::string& name);

// Whether a leading step of name (every step but the last) below folder is a
// link: the name would then lead wherever the link points.
bool passes_through_link(const std::string& folder, const std::string& name);
