#include "fs/wininit.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

// Lines are read in pieces of at most this many bytes less one; each piece
// is tested for the header like a line of its own.
constexpr std::size_t kLineBuffer = 530;

constexpr char kHeader[] = "[rename]";
constexpr std::size_t kHeaderLength = sizeof kHeader - 1;

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// True when the first 8 characters of line are "[rename]" in any letter case.
bool starts_with_header(const char* line) {
  for (std::size_t i = 0; i < kHeaderLength; ++i) {
    // A shorter line ends in its NUL, which matches no header character.
    if (ascii_lower(line[i]) != kHeader[i]) return false;
  }
  return true;
}

}  // namespace

void replace_backslashes(char* text) {
  for (; *text; ++text)
    if (*text == '\\') *text = '/';
}

int wininit_path(char* buffer, std::size_t size) {
  if (size == 0) return 0;
  buffer[0] = '\0';
  char folder[platform::kPathBuffer];
  // The system is told of one byte less than the buffer holds, leaving room
  // for the "/" that may have to be added.
  unsigned length = platform::windows_folder(folder, sizeof folder - 1);
  if (length == 0 || length > sizeof folder - 2) return 0;
  folder[length] = '\0';
  replace_backslashes(folder);
  if (folder[length - 1] != '/') {
    folder[length] = '/';
    folder[length + 1] = '\0';
  }
  int written = std::snprintf(buffer, size, "%s%s", folder, "wininit.ini");
  // A path cut short would name another file: it is not handed out.
  if (written < 0 || static_cast<std::size_t>(written) >= size) {
    buffer[0] = '\0';
    return 0;
  }
  return 1;
}

int append_rename_entry(const char* file_path, const char* short_target, const char* short_source) {
  // Text mode: each "\n" written becomes the system's line end (CR LF on Windows).
  std::FILE* file = std::fopen(file_path, "a+");
  if (!file) return 0;
  std::rewind(file);
  bool header_found = false;
  // Whether the last piece read ends without a line end; the whole file is
  // read (not only up to the header) to learn this of its last line.
  bool last_line_open = false;
  char line[kLineBuffer];
  while (std::fgets(line, sizeof line, file)) {
    if (!header_found && starts_with_header(line)) header_found = true;
    std::size_t length = std::strlen(line);
    last_line_open = length == 0 || line[length - 1] != '\n';
  }
  // Reading turns into writing only after a positioning call; appending
  // writes at the end whatever the position.
  bool ok = std::fseek(file, 0, SEEK_END) == 0;
  // The new text must not continue the old last line.
  if (ok && last_line_open) ok = std::fputs("\n", file) >= 0;
  if (ok && !header_found) ok = std::fprintf(file, "%s\n", kHeader) >= 0;
  if (ok) ok = std::fprintf(file, "%s=%s\n", short_target, short_source) >= 0;
  // Closing writes out what is buffered, so a full disk shows here.
  if (std::fclose(file) != 0) ok = false;
  return ok ? 1 : 0;
}

int queue_wininit_rename(const char* target, const char* source) {
  char short_source[platform::kPathBuffer];
  char short_target[platform::kPathBuffer];
  if (!platform::short_path(source, short_source, sizeof short_source)) return 0;
  if (!platform::short_path(target, short_target, sizeof short_target)) return 0;
  char file_path[platform::kPathBuffer];
  if (!wininit_path(file_path, sizeof file_path)) return 0;
  return append_rename_entry(file_path, short_target, short_source);
}
