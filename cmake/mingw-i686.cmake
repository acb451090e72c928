# Cross build for 32-bit Windows with mingw-w64 (posix thread model, which
# GoogleTest needs); tests run under Wine through the emulator wrapper. The
# shipped corvane.exe is built with cmake/mingw-i686-win32.cmake instead (see
# cmake/win32-program.cmake).
set(corvane_thread_model posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
