# Cross build of the shipped program for 32-bit Windows with mingw-w64's
# win32 thread model: its runtime asks nothing of kernel32 that Windows 98
# lacks (the posix model's winpthreads needs Windows 7 calls).
set(corvane_thread_model win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686-common.cmake)
