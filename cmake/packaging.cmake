# What `cmake --install` puts in place and what CPack packs from it.
#
# Linux: the usual layout (GNUInstallDirs): the program and the reference
# updater as the commands bin/corvane and bin/corvane-update, their manual
# pages in share/man/man1/, the README, the licence and the documentation in
# share/doc/corvane/ (with the changelog and copyright files Debian's policy
# asks of a package); packed as a tar.gz and as a .deb that declares the
# libraries the program links (TinyXML's among them) and Python 3.
# Windows: one zip with bin/corvane.exe and, at its top, the README, the
# licence, docs/ and examples/updater/, as a Windows user unpacks a folder.

include(GNUInstallDirs)

if(CORVANE_PLATFORM STREQUAL "win32")
  set(corvane_doc_dir .)
else()
  set(corvane_doc_dir ${CMAKE_INSTALL_DOCDIR})
endif()
# The program itself is installed by tools/update (RUNTIME DESTINATION bin).
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${corvane_doc_dir})
# Beside the README, so that its links to docs/ hold. The manual pages' source
# goes where manual pages go, and nowhere on Windows.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${corvane_doc_dir}/docs PATTERN man EXCLUDE)

if(CORVANE_PLATFORM STREQUAL "win32")
  install(PROGRAMS ${CMAKE_SOURCE_DIR}/examples/updater/corvane_update.py DESTINATION examples/updater)
else()
  install(PROGRAMS ${CMAKE_SOURCE_DIR}/examples/updater/corvane_update.py DESTINATION ${CMAKE_INSTALL_BINDIR}
    RENAME corvane-update)

  # Compressed as Debian's policy asks (gzip -9, no name or time inside, so
  # that the same source gives the same bytes): the manual pages, written by
  # hand in docs/man/, and the changelog.
  set(corvane_gzip_dir ${CMAKE_BINARY_DIR}/gzipped)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/debian-changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
  set(corvane_gzipped)
  foreach(source ${CMAKE_SOURCE_DIR}/docs/man/corvane.1 ${CMAKE_SOURCE_DIR}/docs/man/corvane-update.1
                 ${CMAKE_BINARY_DIR}/changelog)
    get_filename_component(name ${source} NAME)
    add_custom_command(OUTPUT ${corvane_gzip_dir}/${name}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${corvane_gzip_dir}
      COMMAND sh -c "gzip -9n -c \"$0\" >\"$1\"" ${source} ${corvane_gzip_dir}/${name}.gz
      DEPENDS ${source} VERBATIM)
    list(APPEND corvane_gzipped ${corvane_gzip_dir}/${name}.gz)
  endforeach()
  add_custom_target(corvane_gzipped ALL DEPENDS ${corvane_gzipped})
  install(FILES ${corvane_gzip_dir}/corvane.1.gz ${corvane_gzip_dir}/corvane-update.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${corvane_gzip_dir}/changelog.gz DESTINATION ${corvane_doc_dir})
  # The copyright file: the licence under the name Debian's tools look for.
  install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${corvane_doc_dir} RENAME copyright)
endif()

set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR ${CORVANE_VENDOR})
set(CPACK_PACKAGE_CONTACT ${CORVANE_CONTACT})
set(CPACK_PACKAGE_VERSION ${CORVANE_VERSION})
# The package's one-line summary does not begin with an article.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "File-replacement step of an application's self-update")
set(CPACK_PACKAGE_DESCRIPTION "Corvane moves every listed file or folder of an installed application into
a backup folder and puts the new version from an unpacked release in its
place, and logs what became of each name. It has no window, asks nothing and
makes one pass. The reference updater corvane-update unpacks a release zip,
runs Corvane, reads its log and rolls an update back.")
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
  # The reference updater, /usr/bin/corvane-update, runs with Python 3.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS python3)
endif()
set(CPACK_PACKAGE_FILE_NAME corvane-${CORVANE_VERSION}-${CPACK_SYSTEM_NAME})
include(CPack)
