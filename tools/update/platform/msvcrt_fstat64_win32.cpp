// Keeps _fstat64 out of the shipped program's imports: the C runtime of
// Windows 98 SE (msvcrt.dll of Visual C++ 6) does not export it, and Windows
// refuses to start a program that imports a missing function.
//
// The program opens no C++ file stream, but the C++ runtime's standard streams
// link its file buffer, which asks for file sizes through msvcrt's
// _fstat64 (an indirect call through the import slot __imp___fstat64).
// Defining that slot here, pointing at a function built on _fstati64 (in
// msvcrt.dll since Visual C++ 4.2), satisfies the runtime before the linker
// looks for the import. Linked into corvane.exe only; the import audit
// (tests/imports/run) shows when a runtime reaches _fstat64 another way.
#include <sys/stat.h>

#include <cstring>

// The headers rename _fstati64 to _fstat64 for a 64-bit time_t; the msvcrt
// export of that name takes the record with 32-bit times.
#undef _fstati64
extern "C" __declspec(dllimport) int __cdecl _fstati64(int descriptor, struct _stat32i64* out);

namespace {

int __cdecl fstat64_from_fstati64(int descriptor, struct _stat64* out) {
  struct _stat32i64 status;
  if (_fstati64(descriptor, &status) != 0) return -1;
  std::memset(out, 0, sizeof *out);
  out->st_dev = status.st_dev;
  out->st_ino = status.st_ino;
  out->st_mode = status.st_mode;
  out->st_nlink = status.st_nlink;
  out->st_uid = status.st_uid;
  out->st_gid = status.st_gid;
  out->st_rdev = status.st_rdev;
  out->st_size = status.st_size;
  out->st_atime = status.st_atime;
  out->st_mtime = status.st_mtime;
  out->st_ctime = status.st_ctime;
  return 0;
}

}  // namespace

extern "C" {
// The symbol the runtime's calls go through, by its assembler name.
int(__cdecl* fstat64_slot)(int, struct _stat64*) __asm__("__imp___fstat64") = fstat64_from_fstati64;
}
