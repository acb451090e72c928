# What `cmake --install` puts in place and what CPack packs from it.
#
# Linux: the usual layout (GNUInstallDirs): the program in bin/, the README,
# the licence and the documentation in share/doc/corvane/, the reference
# updater in share/corvane/; packed as a tar.gz and as a .deb that declares
# the libraries the program links (TinyXML's among them).
# Windows: one zip with bin/corvane.exe and, at its top, the README, the
# licence, docs/ and examples/updater/, as a Windows user unpacks a folder.

include(GNUInstallDirs)

if(CORVANE_PLATFORM STREQUAL "win32")
  set(corvane_doc_dir .)
  set(corvane_updater_dir examples/updater)
else()
  set(corvane_doc_dir ${CMAKE_INSTALL_DOCDIR})
  set(corvane_updater_dir ${CMAKE_INSTALL_DATADIR}/corvane)
endif()
# The program itself is installed by tools/update (RUNTIME DESTINATION bin).
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${corvane_doc_dir})
# Beside the README, so that its links to docs/ hold.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${corvane_doc_dir}/docs)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/examples/updater/corvane_update.py DESTINATION ${corvane_updater_dir})

set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR ${CORVANE_VENDOR})
set(CPACK_PACKAGE_CONTACT ${CORVANE_VENDOR})
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
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
  # corvane_<version>_<architecture>.deb, installed below /usr.
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # dpkg-shlibdeps reads the libraries the program links and declares the
  # packages that hold them: TinyXML's (libtinyxml2.6.2v5), the C and C++
  # runtimes.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The reference updater in share/corvane/ runs with Python 3.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS python3)
endif()
set(CPACK_PACKAGE_FILE_NAME corvane-${CORVANE_VERSION}-${CPACK_SYSTEM_NAME})
include(CPack)
