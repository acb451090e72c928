#include "fs/wininit.h"

#include <cstdio>
#include <cstring>
#include <string>

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

namespace {

// What one reading of the restart-rename file learned.
struct FileScan {
  bool header_found = false;
  // The last piece read ends without a line end.
  bool last_line_open = false;
  // Where the first section after the "[rename]" section begins; -1 when the
  // "[rename]" section is the last one (or there is none).
  long next_section = -1;
  // Reading stopped on an error, not at the end of the file.
  bool read_failed = false;
};

FileScan scan_file(std::FILE* file) {
  FileScan scan;
  char line[kLineBuffer];
  bool at_line_start = true;
  for (;;) {
    long start = std::ftell(file);
    if (!std::fgets(line, sizeof line, file)) break;
    if (starts_with_header(line))
      scan.header_found = true;
    else if (scan.header_found && scan.next_section < 0 && at_line_start && line[0] == '[')
      scan.next_section = start;
    std::size_t length = std::strlen(line);
    scan.last_line_open = length == 0 || line[length - 1] != '\n';
    at_line_start = !scan.last_line_open;
  }
  scan.read_failed = std::ferror(file) != 0;
  return scan;
}

// Writes the entry line at offset, where the next section begins, and the
// rest of the file after it, so that the entry closes the "[rename]" section.
bool insert_entry(const char* file_path, long offset, const char* short_target,
                  const char* short_source) {
  std::FILE* file = std::fopen(file_path, "r+");
  if (!file) return false;
  std::string rest;
  bool ok = std::fseek(file, offset, SEEK_SET) == 0;
  char buffer[kLineBuffer];
  while (ok) {
    std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
    rest.append(buffer, n);
    if (n < sizeof buffer) {
      ok = !std::ferror(file);
      break;
    }
  }
  if (ok) ok = std::fseek(file, offset, SEEK_SET) == 0;
  if (ok) ok = std::fprintf(file, "%s=%s\n", short_target, short_source) >= 0;
  if (ok) ok = std::fwrite(rest.data(), 1, rest.size(), file) == rest.size();
  if (std::fclose(file) != 0) ok = false;
  return ok;
}

}  // namespace

int append_rename_entry(const char* file_path, const char* short_target, const char* short_source) {
  // Text mode: each "\n" written becomes the system's line end (CR LF on Windows).
  std::FILE* file = std::fopen(file_path, "a+");
  if (!file) return 0;
  std::rewind(file);
  // The whole file is read, not only up to the header: its last line and the
  // sections after the header matter too.
  FileScan scan = scan_file(file);
  if (scan.read_failed) {
    // Without the whole file read, a header or a section might be missed.
    std::fclose(file);  // nothing was written; the 0 below reports the failure
    return 0;
  }
  if (scan.next_section >= 0) {
    // The system reads entries from the "[rename]" section only: one written
    // after another section would never be carried out.
    bool closed = std::fclose(file) == 0;
    return closed && insert_entry(file_path, scan.next_section, short_target, short_source) ? 1 : 0;
  }
  // Reading turns into writing only after a positioning call; appending
  // writes at the end whatever the position.
  bool ok = std::fseek(file, 0, SEEK_END) == 0;
  // The new text must not continue the old last line.
  if (ok && scan.last_line_open) ok = std::fputs("\n", file) >= 0;
  if (ok && !scan.header_found) ok = std::fprintf(file, "%s\n", kHeader) >= 0;
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
