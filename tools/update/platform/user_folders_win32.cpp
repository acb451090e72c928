// The user's standard folders on Windows, from the shell-folder library
// SHFolder.dll, loaded at run time (it is not on every Windows 98), and its
// queries by the shell's folder ids.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace platform {

ShellLibrary* load_shell_library() {
  return reinterpret_cast<ShellLibrary*>(LoadLibraryA("SHFolder.dll"));
}

void free_shell_library(ShellLibrary* library) {
  if (library) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

namespace {

typedef HRESULT(WINAPI* FolderPathA)(HWND, int, HANDLE, DWORD, LPSTR);
typedef HRESULT(WINAPI* FolderPathW)(HWND, int, HANDLE, DWORD, LPWSTR);

void* entry_point(ShellLibrary* library, const char* name) {
  if (!library) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

// The shell's folder id (CSIDL) of a folder, with the flag that asks for a
// missing folder to be created.
int folder_id(UserFolder folder, bool create) {
  constexpr int kFlagCreate = 0x8000;  // CSIDL_FLAG_CREATE
  int id = 0x0005;                     // CSIDL_PERSONAL
  switch (folder) {
    case UserFolder::documents: id = 0x0005; break;
    case UserFolder::videos: id = 0x000E; break;     // CSIDL_MYVIDEO
    case UserFolder::pictures: id = 0x0027; break;   // CSIDL_MYPICTURES
    case UserFolder::app_data: id = 0x001A; break;   // CSIDL_APPDATA
  }
  return create ? id | kFlagCreate : id;
}

}  // namespace

bool shell_has_narrow_query(ShellLibrary* library) { return entry_point(library, "SHGetFolderPathA") != nullptr; }

bool shell_has_wide_query(ShellLibrary* library) { return entry_point(library, "SHGetFolderPathW") != nullptr; }

long shell_folder_path_narrow(ShellLibrary* library, UserFolder folder, bool create, char* buffer) {
  auto query = reinterpret_cast<FolderPathA>(entry_point(library, "SHGetFolderPathA"));
  if (!query) return E_FAIL;
  return query(nullptr, folder_id(folder, create), nullptr, 0, buffer);
}

long shell_folder_path_wide(ShellLibrary* library, UserFolder folder, bool create, char* buffer) {
  auto query = reinterpret_cast<FolderPathW>(entry_point(library, "SHGetFolderPathW"));
  if (!query) return E_FAIL;
  WCHAR wide[kPathBuffer];
  std::memset(wide, 0, sizeof wide);
  HRESULT result = query(nullptr, folder_id(folder, create), nullptr, 0, wide);
  if (result != 0) return result;
  if (std::wcstombs(buffer, wide, kPathMax - 1) == static_cast<std::size_t>(-1)) buffer[0] = '\0';
  buffer[kPathMax - 1] = '\0';
  return result;
}

}  // namespace platform
