# corvane.exe as shipped: built with the win32 thread-model compiler
# (cmake/mingw-i686-win32.cmake), whose runtime imports nothing Windows 98 SE
# lacks. The test programs need std::mutex, which only the posix thread model
# has, and one program cannot link both models' C++ runtimes: so the Windows
# build (posix model, tests) makes the program in a build of its own, in
# <build>/program, from the same sources, and that build writes corvane.exe
# into the Windows build's folder, where every test runs it.
# Included from tools/update/CMakeLists.txt.

if(CORVANE_PROGRAM_ONLY)
  # The build of the program itself.
  set(CORVANE_PROGRAM_DIR ${CMAKE_BINARY_DIR} CACHE PATH "Folder corvane.exe is written to")
  enable_language(RC)

  string(REPLACE "." "," CORVANE_VERSION_COMMAS "${CORVANE_VERSION}.0")
  set(CORVANE_VERSION_QUAD "${CORVANE_VERSION}.0")
  set(CORVANE_MANIFEST_FILE ${CMAKE_CURRENT_BINARY_DIR}/corvane.exe.manifest)
  configure_file(platform/corvane.exe.manifest.in ${CORVANE_MANIFEST_FILE} @ONLY)
  configure_file(platform/corvane.rc.in ${CMAKE_CURRENT_BINARY_DIR}/corvane.rc @ONLY)
  # windres reads the manifest the .rc names; CMake does not see that.
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/corvane.rc PROPERTIES
    OBJECT_DEPENDS ${CORVANE_MANIFEST_FILE})

  # The two *_win32.cpp files keep imports Windows 98 lacks or has only as
  # failing stubs out of the program.
  add_executable(corvane ${corvane_main_source} platform/msvcrt_fstat64_win32.cpp
    platform/wide_functions_win32.cpp ${CMAKE_CURRENT_BINARY_DIR}/corvane.rc)
  target_link_libraries(corvane PRIVATE corvane_core)
  # The version the resource carries; main.cpp needs it too (it answers
  # --version only where programs answer terminal options).
  target_compile_definitions(corvane PRIVATE CORVANE_VERSION="${CORVANE_VERSION}")
  set_target_properties(corvane PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CORVANE_PROGRAM_DIR})
  # A GUI-subsystem program (no console window of its own; mingw's start-up
  # calls main there too)
  # whose header asks for Windows 4.0 (95, 98, NT 4 and later), stripped when
  # linked so that the file the tests run is the file that ships.
  target_link_options(corvane PRIVATE -mwindows -s
    -Wl,--major-os-version=4,--minor-os-version=0
    -Wl,--major-subsystem-version=4,--minor-subsystem-version=0)
else()
  # The Windows build: the program's build, run as one step of this one. It
  # goes through every time (a build with nothing to do takes a moment), so a
  # changed source always reaches corvane.exe.
  include(ExternalProject)
  ExternalProject_Add(corvane
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/program
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686-win32.cmake
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DTINYXML_SOURCE_DIR=${TINYXML_SOURCE_DIR}
      -DCORVANE_PROGRAM_ONLY=ON
      -DCORVANE_PROGRAM_DIR=${CMAKE_BINARY_DIR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/corvane.exe)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/corvane.exe DESTINATION bin)
endif()
