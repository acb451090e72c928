// Test helpers on Windows (and under Wine).
#include "platform/test_support.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace test_support {

std::string make_temp_folder() {
  char base[MAX_PATH];
  DWORD length = GetTempPathA(sizeof base, base);
  if (length == 0 || length >= sizeof base) std::abort();
  static unsigned sequence = 0;
  for (;;) {
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%scorvane-test-%lu-%u", base, GetCurrentProcessId(), ++sequence);
    if (CreateDirectoryA(path, nullptr)) {
      std::string folder(path);
      for (char& c : folder)
        if (c == '\\') c = '/';
      return folder + "/";
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) std::abort();
  }
}

struct HeldEntry {
  HANDLE handle;
};

HeldEntry* hold_open(const std::string& path) {
  // Read sharing only: the entry can be read but not moved or deleted. A
  // folder is opened as a folder (backup semantics).
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return handle == INVALID_HANDLE_VALUE ? nullptr : new HeldEntry{handle};
}

void release(HeldEntry* held) {
  if (!held) return;
  CloseHandle(held->handle);
  delete held;
}

struct StartedProcess {
  HANDLE process;
};

StartedProcess* start_process(const std::string& command_line) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  std::string writable = command_line;
  if (!CreateProcessA(nullptr, &writable[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return nullptr;
  CloseHandle(process.hThread);
  return new StartedProcess{process.hProcess};
}

int wait_process(StartedProcess* started) {
  if (!started) return -1;
  WaitForSingleObject(started->process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(started->process, &code);
  CloseHandle(started->process);
  delete started;
  return static_cast<int>(code);
}

bool mount_scratch_file_system(const std::string&, bool) { return false; }

int open_handle_count() {
  // Looked up: the call is newer than some systems the program runs on.
  typedef BOOL(WINAPI * HandleCount)(HANDLE, PDWORD);
  auto handle_count = reinterpret_cast<HandleCount>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetProcessHandleCount")));
  DWORD count = 0;
  if (!handle_count || !handle_count(GetCurrentProcess(), &count)) return -1;
  return static_cast<int>(count);
}

// Windows has no immutable entries of this kind.
bool set_immutable(const std::string&, bool) { return false; }

int run_process(const std::string& command_line) { return wait_process(start_process(command_line)); }

}  // namespace test_support

namespace test_support {

const char* const kTextLineEnd = "\r\n";
const bool kWindows = true;

std::string corvane_command_line(const std::string& run_parameter) {
  return "\"" + program_path() + "\"  " + run_parameter;
}

int run_corvane(const std::string& run_parameter) { return run_process(corvane_command_line(run_parameter)); }

}  // namespace test_support

namespace test_support {

void set_environment(const std::string& name, const std::string& value) {
  SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
}

}  // namespace test_support

namespace test_support {

namespace {

// Wine reads its settings per program name from the registry when a process
// starts: a copy of the program at path in the temporary folder, under the
// file name name, gets the value value_name = value in the Wine key subkey
// ("" for the program's own). The copy's path, or empty.
std::string copy_with_wine_setting(const std::string& path, const char* name, const char* subkey,
                                   const char* value_name, const char* value) {
  char folder[MAX_PATH];
  DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder) return std::string();
  std::string copy = std::string(folder) + name;
  if (!CopyFileA(path.c_str(), copy.c_str(), FALSE)) return std::string();
  HKEY key;
  std::string key_name = std::string("Software\\Wine\\AppDefaults\\") + name + subkey;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key_name.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return std::string();
  LONG set = RegSetValueExA(key, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                            static_cast<DWORD>(std::strlen(value) + 1));
  RegCloseKey(key);
  return set == ERROR_SUCCESS ? copy : std::string();
}

bool under_wine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

}  // namespace

int run_corvane_without_shell_library(const std::string& run_parameter) {
  // DLL overrides: "shfolder" disabled.
  std::string copy = copy_with_wine_setting(program_path(), "corvane-noshell.exe", "\\DllOverrides", "shfolder", "");
  if (copy.empty()) return -1;
  return run_process("\"" + copy + "\"  " + run_parameter);
}

std::string copy_as_windows_98(const std::string& path, const std::string& name) {
  if (!under_wine()) return std::string();
  return copy_with_wine_setting(path, name.c_str(), "", "Version", "win98");
}

}  // namespace test_support

namespace test_support {

namespace {

bool is_folder_link(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The mount-point layout of a reparse buffer (a junction).
struct MountPointReparse {
  DWORD tag;
  WORD data_length;
  WORD reserved;
  WORD substitute_offset;
  WORD substitute_length;
  WORD print_offset;
  WORD print_length;
  WCHAR names[2 * MAX_PATH];
};

// A junction: a new empty folder made a mount point of target.
bool make_junction(const std::string& link, const std::string& target) {
  char full[MAX_PATH];
  DWORD length = GetFullPathNameA(target.c_str(), sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) return false;
  std::string nt_name = std::string("\\??\\") + full;
  MountPointReparse reparse;
  ZeroMemory(&reparse, sizeof reparse);
  int characters = MultiByteToWideChar(CP_ACP, 0, nt_name.c_str(), -1, reparse.names, MAX_PATH);
  if (characters <= 0) return false;
  reparse.tag = IO_REPARSE_TAG_MOUNT_POINT;
  reparse.substitute_length = static_cast<WORD>((characters - 1) * sizeof(WCHAR));
  reparse.print_offset = static_cast<WORD>(characters * sizeof(WCHAR));  // an empty print name
  reparse.data_length = static_cast<WORD>(8 + (characters + 1) * sizeof(WCHAR));
  if (!CreateDirectoryA(link.c_str(), nullptr)) return false;
  HANDLE handle = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  DWORD returned = 0;
  bool made = handle != INVALID_HANDLE_VALUE &&
              DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, &reparse, 8 + reparse.data_length, nullptr, 0,
                              &returned, nullptr);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  if (!made) RemoveDirectoryA(link.c_str());
  return made;
}

// Under Wine: the Unix name of a path; empty elsewhere.
std::string unix_name_of(const std::string& path) {
  typedef char*(CDECL * UnixName)(LPCWSTR);
  auto unix_name = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  WCHAR wide[MAX_PATH];
  if (!unix_name || MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) <= 0) return std::string();
  char* name = unix_name(wide);
  if (!name) return std::string();
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

// Under Wine: runs a Unix program with two path arguments (in their Unix
// names) and waits up to 10 s until done(path) holds, since Wine gives no
// waitable process for it.
bool run_unix_command_until(std::string command, bool (*done)(const std::string&), const std::string& path) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  if (process.hThread) CloseHandle(process.hThread);
  if (process.hProcess) CloseHandle(process.hProcess);
  for (int waited = 0; waited < 10000 && !done(path); waited += 20) Sleep(20);
  return done(path);
}

bool run_unix_until(const char* program, const std::string& first, const std::string& second,
                    bool (*done)(const std::string&), const std::string& path) {
  std::string command = program;
  for (const std::string* argument : {&first, &second}) {
    if (argument->empty()) continue;
    std::string name = unix_name_of(*argument);
    if (name.empty()) return false;
    command += " \"" + name + "\"";
  }
  return run_unix_command_until(command, done, path);
}

// Asked of the product's own primitive, which also sees the links that Wine
// shows as files or not at all.
bool is_gone(const std::string& path) {
  return platform::file_attributes(path.c_str()) == platform::kInvalidAttributes;
}

bool is_there(const std::string& path) { return !is_gone(path); }

// A link's target as the Unix ln takes it: an absolute one ("X:...") in its
// Unix name, a relative one with "/" separators. Empty when it has none.
std::string unix_target(const std::string& target) {
  if (target.size() > 1 && target[1] == ':') return unix_name_of(target);
  std::string relative = target;
  for (char& c : relative)
    if (c == '\\') c = '/';
  return relative;
}

}  // namespace

bool make_folder_link(const std::string& link, const std::string& target) {
  // Looked up, so that the tests still load where the call is missing. Wine 8
  // answers success without making anything: what counts is what the system
  // reports afterwards.
  typedef BOOLEAN(WINAPI * SymbolicLink)(LPCSTR, LPCSTR, DWORD);
  auto symbolic_link = reinterpret_cast<SymbolicLink>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA")));
  const DWORD kFolderLink = 0x1;  // SYMBOLIC_LINK_FLAG_DIRECTORY
  if (symbolic_link) symbolic_link(link.c_str(), target.c_str(), kFolderLink);
  if (is_folder_link(link)) return true;
  if (make_junction(link, target) && is_folder_link(link)) return true;
  // Wine makes neither: a Unix symbolic link, made by the Unix ln.
  return !unix_name_of(link).empty() && run_unix_until("Z:\\bin\\ln -s", target, link, is_folder_link, link);
}

bool make_link(const std::string& link, const std::string& target) {
  // Only Wine's Unix side makes a link here; its target is given as text.
  std::string unix_link = unix_name_of(link);
  std::string text = unix_target(target);
  if (unix_link.empty() || text.empty()) return false;
  std::string command = "Z:\\bin\\ln -s \"" + text + "\" \"" + unix_link + "\"";
  return run_unix_command_until(command, is_there, link);
}

bool remove_link(const std::string& link) {
  // Wine removes no Unix link (it removes what the link points to instead):
  // the Unix rm does.
  if (!unix_name_of(link).empty()) return run_unix_until("Z:\\bin\\rm -f", link, "", is_gone, link);
  if (GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryA(link.c_str()) != 0;
  return DeleteFileA(link.c_str()) != 0;
}

bool system_handles_own_fault() {
  // The first page is never mapped: the call meets an access violation and
  // its own handler turns it into the answer "unreadable".
  return IsBadReadPtr(reinterpret_cast<const void*>(16), 1) != 0;
}

}  // namespace test_support
