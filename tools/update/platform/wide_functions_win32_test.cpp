// The program's own GetModuleHandleW, LoadLibraryW, FormatMessageW and
// CreateSemaphoreW: this test program links them as corvane.exe does, so its
// calls of these functions, and its runtimes' calls, go through them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// The wide text of a narrow one in the system code page.
std::wstring widened(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                   static_cast<int>(wide.size()));
  wide.resize(length > 0 ? length : 0);
  return wide;
}

TEST(WideFunctions, TheProgramCallsItsOwnVersionsNotTheSystemsStubs) {
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  ASSERT_NE(kernel32, nullptr);
  struct Case {
    const char* name;
    void* called;
  } cases[] = {{"GetModuleHandleW", reinterpret_cast<void*>(&GetModuleHandleW)},
               {"LoadLibraryW", reinterpret_cast<void*>(&LoadLibraryW)},
               {"FormatMessageW", reinterpret_cast<void*>(&FormatMessageW)},
               {"CreateSemaphoreW", reinterpret_cast<void*>(&CreateSemaphoreW)}};
  for (const Case& c : cases)
    EXPECT_NE(c.called, reinterpret_cast<void*>(GetProcAddress(kernel32, c.name))) << c.name;
}

TEST(WideFunctions, ModulesAreFoundAndLoadedByTheirNarrowNames) {
  EXPECT_EQ(GetModuleHandleW(nullptr), GetModuleHandleA(nullptr));
  EXPECT_EQ(GetModuleHandleW(L"KERNEL32.dll"), GetModuleHandleA("kernel32.dll"));
  SetLastError(0);
  EXPECT_EQ(GetModuleHandleW(L"no-such-module.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  HMODULE library = LoadLibraryW(L"shfolder.dll");
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(library, GetModuleHandleA("shfolder.dll"));
  EXPECT_NE(GetProcAddress(library, "SHGetFolderPathA"), nullptr);
  FreeLibrary(library);
  EXPECT_EQ(LoadLibraryW(L"no-such-library.dll"), nullptr);
}

TEST(WideFunctions, SemaphoresWithAndWithoutANameWork) {
  HANDLE unnamed = CreateSemaphoreW(nullptr, 0, 1, nullptr);
  ASSERT_NE(unnamed, nullptr);
  EXPECT_EQ(WaitForSingleObject(unnamed, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(ReleaseSemaphore(unnamed, 1, nullptr));
  EXPECT_EQ(WaitForSingleObject(unnamed, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(unnamed);

  std::wstring name = L"corvane-test-semaphore-" + std::to_wstring(GetCurrentProcessId());
  HANDLE first = CreateSemaphoreW(nullptr, 1, 1, name.c_str());
  ASSERT_NE(first, nullptr);
  HANDLE second = CreateSemaphoreW(nullptr, 1, 1, name.c_str());
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  // One object under two handles: taken through one, it is taken for both.
  EXPECT_EQ(WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(second, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(second);
  CloseHandle(first);
}

TEST(WideFunctions, SystemMessagesAreTheNarrowTextsWidened) {
  const DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  char narrow[512];
  DWORD narrow_length =
      FormatMessageA(kFlags, nullptr, ERROR_FILE_NOT_FOUND, 0, narrow, sizeof narrow, nullptr);
  ASSERT_GT(narrow_length, 0u);
  const std::wstring expected = widened(std::string(narrow, narrow_length));

  // Into a buffer allocated for the caller, as Boost asks for its error texts.
  LPWSTR allocated = nullptr;
  DWORD length = FormatMessageW(kFlags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, ERROR_FILE_NOT_FOUND, 0,
                                reinterpret_cast<LPWSTR>(&allocated), 0, nullptr);
  ASSERT_NE(allocated, nullptr);
  EXPECT_EQ(std::wstring(allocated, length), expected);
  EXPECT_EQ(allocated[length], L'\0');
  LocalFree(allocated);

  // Into the caller's buffer: whole, or not at all when it is too small.
  WCHAR buffer[512];
  length = FormatMessageW(kFlags, nullptr, ERROR_FILE_NOT_FOUND, 0, buffer, 512, nullptr);
  EXPECT_EQ(std::wstring(buffer, length), expected);
  SetLastError(0);
  EXPECT_EQ(FormatMessageW(kFlags, nullptr, ERROR_FILE_NOT_FOUND, 0, buffer, 3, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

// A wide format string of the caller's cannot go through the narrow function:
// the system's wide one formats it (on the NT line; Windows 9x fails there).
TEST(WideFunctions, AWideFormatStringGoesToTheSystem) {
  if (GetVersion() & 0x80000000u) GTEST_SKIP() << "Windows 9x formats no wide text";
  LPWSTR text = nullptr;
  DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(L"wide")};
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                    FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                L"a %1 text", 0, 0, reinterpret_cast<LPWSTR>(&text), 0,
                                reinterpret_cast<va_list*>(inserts));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::wstring(text, length), L"a wide text");
  LocalFree(text);
}

}  // namespace
