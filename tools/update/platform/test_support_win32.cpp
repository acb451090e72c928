// Test helpers on Windows (and under Wine).
#include "platform/test_support.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

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

int run_process(const std::string& command_line) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  std::string writable = command_line;
  if (!CreateProcessA(nullptr, &writable[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

}  // namespace test_support

namespace test_support {

const char* const kTextLineEnd = "\r\n";
const bool kWindows = true;

int run_corvane(const std::string& run_parameter) {
  return run_process("\"" + program_path() + "\"  " + run_parameter);
}

}  // namespace test_support

namespace test_support {

void set_environment(const std::string& name, const std::string& value) {
  SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
}

}  // namespace test_support

namespace test_support {

int run_corvane_without_shell_library(const std::string& run_parameter) {
  // Wine reads DLL overrides per program name from the registry when a
  // process starts: a copy under its own name gets "shfolder" disabled.
  const char* name = "corvane-noshell.exe";
  char folder[MAX_PATH];
  DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder) return -1;
  std::string copy = std::string(folder) + name;
  if (!CopyFileA(program_path().c_str(), copy.c_str(), FALSE)) return -1;
  HKEY key;
  std::string key_name = std::string("Software\\Wine\\AppDefaults\\") + name + "\\DllOverrides";
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key_name.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return -1;
  RegSetValueExA(key, "shfolder", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
  RegCloseKey(key);
  return run_process("\"" + copy + "\"  " + run_parameter);
}

}  // namespace test_support
