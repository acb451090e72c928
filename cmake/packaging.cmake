# What `cmake --install` puts in place and what CPack packs from it: the
# program in bin/, the README, the licence, the documentation and the
# reference updater. The Windows build becomes a zip, the Linux build a tar.gz.

install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION .)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION docs)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/examples/updater/corvane_update.py
  DESTINATION examples/updater)

set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR ${CORVANE_VENDOR})
set(CPACK_PACKAGE_VERSION ${CORVANE_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${CORVANE_DESCRIPTION})
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
set(CPACK_SOURCE_GENERATOR "")
# The programs go out without their symbols (corvane.exe is stripped when
# linked already, so the tests run the very file that ships).
set(CPACK_STRIP_FILES ON)
if(CORVANE_PLATFORM STREQUAL "win32")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_PACKAGE_FILE_NAME corvane-${CORVANE_VERSION}-${CPACK_SYSTEM_NAME})
include(CPack)
