// Path text: separators, the folder part, steps up and the turning of
// backslashes into "/". Text work only; nothing here asks the file system.
// Both "/" and "\\" count as separators.
#pragma once

#include <string>

bool is_separator(char c);

// The path without its trailing separators: a listed folder name may end in
// one, and the folder work appends exactly one "/" itself. Empty for a path
// of separators only.
std::string without_trailing_separators(const std::string& path);

// A folder path that names are joined to, as a path the system can be given:
// an empty one (names then stand on their own) is the current folder, ".".
std::string folder_or_current(const std::string& folder);

// The folder part of a path: up to and including its last separator; empty
// when it holds none.
std::string folder_part(const std::string& path);

// Whether a name could reach outside the folder it is joined to: a step up
// ("..", or any step of dots and blanks with two dots or more, which Windows
// may trim to ".."), a leading separator (a root or a network path) or a
// drive letter.
bool leads_outside(const std::string& name);

// Whether the system would take a name as another one: a step "." (which
// names the folder it stands in), or, where trailing_trimmed (Win32), a step
// that ends in a dot or a blank, which the system drops. Steps up are the
// business of leads_outside; separators at the end are no step.
bool has_rewritten_step(const std::string& name, bool trailing_trimmed);

// Turns every backslash that is a character of its own into "/": a byte of
// 0x80 or above starts a double-byte character and takes the next byte along
// unchanged, even a 0x5C. For paths the shell gives.
void to_forward_slashes(std::string& text);

// Turns every backslash byte into "/", double-byte characters not looked at.
// For the Windows folder, whose path the system gives in plain characters.
void replace_backslashes(char* text);
