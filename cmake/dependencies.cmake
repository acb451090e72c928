# Boost (headers; Boost.Thread and Date_Time libraries natively), TinyXML and
# GoogleTest, found the same way on every machine set up by scripts/setup.

if(CORVANE_PLATFORM STREQUAL "win32")
  # Header-only Boost from the host's headers. Only a folder holding a link to
  # the boost headers goes on the include path: /usr/include itself would bring
  # glibc headers into the Windows build.
  set(boost_link_dir ${CMAKE_BINARY_DIR}/boost-include)
  file(MAKE_DIRECTORY ${boost_link_dir})
  file(CREATE_LINK /usr/include/boost ${boost_link_dir}/boost SYMBOLIC)
  add_library(corvane_boost INTERFACE)
  target_include_directories(corvane_boost SYSTEM INTERFACE ${boost_link_dir})
  target_compile_definitions(corvane_boost INTERFACE BOOST_ALL_NO_LIB BOOST_THREAD_USE_LIB)

  # TinyXML from Debian's patched source, fetched by scripts/setup.
  # Where scripts/setup unpacks it: one folder, named in tinyxml-source-folder.txt.
  file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/tinyxml-source-folder.txt tinyxml_folder LIMIT_COUNT 1)
  get_filename_component(tinyxml_default ${CMAKE_CURRENT_LIST_DIR}/../${tinyxml_folder} ABSOLUTE)
  set(TINYXML_SOURCE_DIR ${tinyxml_default} CACHE PATH "TinyXML source folder")
  if(NOT EXISTS ${TINYXML_SOURCE_DIR}/tinyxml.cpp)
    message(FATAL_ERROR "TinyXML source not found in ${TINYXML_SOURCE_DIR}: run scripts/setup")
  endif()
  add_library(tinyxml STATIC
    ${TINYXML_SOURCE_DIR}/tinyxml.cpp ${TINYXML_SOURCE_DIR}/tinystr.cpp
    ${TINYXML_SOURCE_DIR}/tinyxmlerror.cpp ${TINYXML_SOURCE_DIR}/tinyxmlparser.cpp)
  target_compile_definitions(tinyxml PUBLIC TIXML_USE_STL)
  target_include_directories(tinyxml SYSTEM PUBLIC ${TINYXML_SOURCE_DIR})
  target_compile_options(tinyxml PRIVATE -w)
else()
  find_package(Boost 1.74 REQUIRED COMPONENTS thread date_time)
  add_library(corvane_boost INTERFACE)
  target_link_libraries(corvane_boost INTERFACE Boost::headers Boost::thread Boost::date_time)

  find_path(TINYXML_INCLUDE_DIR tinyxml.h REQUIRED)
  find_library(TINYXML_LIBRARY tinyxml REQUIRED)
  add_library(tinyxml INTERFACE)
  target_include_directories(tinyxml SYSTEM INTERFACE ${TINYXML_INCLUDE_DIR})
  target_link_libraries(tinyxml INTERFACE ${TINYXML_LIBRARY})
  target_compile_definitions(tinyxml INTERFACE TIXML_USE_STL)
endif()

# GoogleTest from its Debian sources, built with the same compiler as the code.
if(NOT CORVANE_PROGRAM_ONLY)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
