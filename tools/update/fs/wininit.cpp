#include "fs/wininit.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "fs/durability.h"
#include "fs/path_text.h"
#include "platform/platform.h"

namespace {

const std::string kHeader = "[rename]";

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The line without the blanks it begins with, which profile readers pass over.
const char* without_leading_blanks(const char* line) {
  while (is_blank(*line)) ++line;
  return line;
}

// True when line, past its leading blanks, begins with "[rename]" in any
// letter case. A line end or the text's end before that matches no header
// character.
bool starts_with_header(const char* line) {
  line = without_leading_blanks(line);
  for (std::size_t i = 0; i < kHeader.size(); ++i) {
    if (ascii_lower(line[i]) != kHeader[i]) return false;
  }
  return true;
}

// A path in the form WININIT.EXE reads before Windows starts: DOS separators.
// No double-byte character has "/" as its second byte, so every "/" is one.
void to_dos_separators(char* path) {
  for (; *path; ++path)
    if (*path == '/') *path = '\\';
}

// The short form of path as DOS names it: made absolute first (WININIT.EXE
// does not run in the program's current folder), then its 8.3 form, with
// backslashes whatever separators the configuration used.
platform::Status dos_short_path(const char* path, char (&out)[platform::kPathBuffer]) {
  std::string full = platform::full_path(path);
  if (full.empty()) return platform::Status{platform::Failure::not_found, 0};
  platform::Status status = platform::short_path(full.c_str(), out, sizeof out);
  if (status.ok()) to_dos_separators(out);
  return status;
}

}  // namespace

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

// The whole content of a file as bytes; a missing file reads as empty.
platform::Status read_bytes(const char* path, std::string* content) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) {
    platform::Status why = platform::last_file_error();
    return why.failure == platform::Failure::not_found ? platform::kOk : why;
  }
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) content->append(buffer, n);
  platform::Status status = std::ferror(file) ? platform::last_file_error() : platform::kOk;
  std::fclose(file);  // read only: nothing to lose
  return status;
}

platform::Status write_bytes(const char* path, const std::string& content) {
  std::FILE* file = std::fopen(path, "wb");
  if (!file) return platform::last_file_error();
  bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  platform::Status status = ok ? platform::kOk : platform::last_file_error();
  // Closing writes out what is buffered, so a full disk shows here.
  if (std::fclose(file) != 0 && status.ok()) status = platform::last_file_error();
  return status;
}

// The length of the line end at position, 0 when none starts there: CR LF,
// LF, or CR alone.
std::size_t line_end_at(const std::string& text, std::size_t position) {
  if (text[position] == '\n') return 1;
  if (text[position] != '\r') return 0;
  return position + 1 < text.size() && text[position + 1] == '\n' ? 2 : 1;
}

// The new text of the file: content with the entry line added.
std::string with_entry(const std::string& content, const std::string& entry) {
  // The file's own line end, taken from its first line; CR LF in a new file.
  std::string line_end = "\r\n";
  for (std::size_t i = 0; i < content.size(); ++i) {
    if (std::size_t length = line_end_at(content, i)) {
      line_end = content.substr(i, length);
      break;
    }
  }
  // Walks the lines: where the "[rename]" section is, and where it ends.
  bool in_section = false;
  std::size_t insert_at = std::string::npos;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = start;
    while (end < content.size() && line_end_at(content, end) == 0) ++end;
    const char* here = content.c_str() + start;
    if (in_section && *without_leading_blanks(here) == '[') {
      insert_at = start;  // the next section's header
      break;
    }
    if (!in_section && insert_at == std::string::npos && starts_with_header(here))
      in_section = true;
    start = end < content.size() ? end + line_end_at(content, end) : end;
  }
  std::string line = entry + line_end;
  if (insert_at != std::string::npos) return content.substr(0, insert_at) + line + content.substr(insert_at);
  std::string result = content;
  // The new text must not continue the old last line.
  if (!result.empty() && line_end_at(result, result.size() - 1) == 0) result += line_end;
  if (!in_section) result += kHeader + line_end;
  return result + line;
}

}  // namespace

namespace {

bool is_there(const std::string& path) {
  return platform::file_attributes(path.c_str()) != platform::kInvalidAttributes;
}

// Where the system has no rename that replaces (Windows 9x), the file is
// rewritten in steps, each of which leaves the other programs' entries in
// whole files: the new text, written beside and flushed, is whole before the
// old text is copied aside, and that copy is whole before the file is
// deleted and the new text moved in; the copy goes last. So a file missing
// beside both texts was cut short between its deletion and the move, and
// its rewrite is finished by that move; a copy beside a file that is there,
// or beside neither (the system's restart has taken the file since), is a
// leftover.
std::string old_copy_of(const std::string& file) { return file + ".old~"; }

platform::Status finish_cut_rewrite(const std::string& file, const std::string& beside) {
  const std::string old_copy = old_copy_of(file);
  if (!is_there(old_copy)) return platform::kOk;
  if (!is_there(file) && is_there(beside)) {
    platform::Status moved = platform::move_entry(beside.c_str(), file.c_str());
    if (!moved.ok()) return moved;
  }
  return platform::delete_file(old_copy.c_str());
}

platform::Status replace_in_steps(const std::string& beside, const std::string& file) {
  const std::string old_copy = old_copy_of(file);
  if (is_there(file)) {
    platform::Status step = platform::copy_file(file.c_str(), old_copy.c_str());
    if (step.ok()) flush_written_file(old_copy);
    if (step.ok()) step = platform::delete_file(file.c_str());
    if (!step.ok()) {
      platform::delete_file(old_copy.c_str());  // not looked at: the file is still there, a leftover copy goes next time
      return step;
    }
  }
  platform::Status moved = platform::move_entry(beside.c_str(), file.c_str());
  if (!moved.ok() && is_there(old_copy)) {
    // The old text goes back. Should that fail too, both texts stay beside
    // the missing file, and the next request finishes the rewrite.
    if (!platform::move_entry(old_copy.c_str(), file.c_str()).ok()) return moved;
  }
  // Not looked at: a copy left beside the file is removed by the next request.
  if (moved.ok()) platform::delete_file(old_copy.c_str());
  return moved;
}

}  // namespace

int append_rename_entry(const char* file_path, const char* short_target, const char* short_source,
                        platform::Status* why) {
  platform::Status status = platform::kOk;
  if (!why) why = &status;
  const std::string file = file_path;
  const std::string beside = file + ".new~";
  *why = finish_cut_rewrite(file, beside);
  if (!why->ok()) return 0;
  std::string content;
  *why = read_bytes(file_path, &content);
  if (!why->ok()) return 0;  // without the whole file, a section might be missed
  std::string updated = with_entry(content, std::string(short_target) + "=" + short_source);
  *why = write_bytes(beside.c_str(), updated);
  // On the disk before it takes the file's place, so that a power cut leaves
  // the old file or the whole new one there, never an empty one. A flush that
  // fails is logged and the request goes on: the text is written, and the
  // system writes it out of its cache soon after.
  if (why->ok()) flush_written_file(beside);
  if (why->ok()) {
    *why = platform::swap_in_file(beside.c_str(), file_path);
    if (why->failure == platform::Failure::not_supported) *why = replace_in_steps(beside, file);
  }
  if (!why->ok()) {
    // Not looked at: a leftover is rewritten by the next request. Beside a
    // missing file it is the only new text, and stays for that request.
    if (is_there(file)) platform::delete_file(beside.c_str());
    return 0;
  }
  return 1;
}

int queue_wininit_rename(const char* target, const char* source, platform::Status* why) {
  platform::Status status = platform::kOk;
  if (!why) why = &status;
  char short_source[platform::kPathBuffer];
  char short_target[platform::kPathBuffer];
  *why = dos_short_path(source, short_source);
  if (!why->ok()) return 0;
  *why = dos_short_path(target, short_target);
  if (!why->ok()) return 0;
  char file_path[platform::kPathBuffer];
  if (!wininit_path(file_path, sizeof file_path)) {
    *why = platform::Status{platform::Failure::not_found, 0};
    return 0;
  }
  return append_rename_entry(file_path, short_target, short_source, why);
}
