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
