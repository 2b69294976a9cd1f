# The Debian package of the Linux build: shortcut, its manual page, the
# copyright file and the changelog, under /usr.  `cpack -G DEB` in the build
# folder makes it.  It is a native package: the changelog is the package's
# own, in Debian's format, and its first entry is this release.
include(GNUInstallDirs)
install(FILES ${PROJECT_SOURCE_DIR}/shortcut/copyright
              ${PROJECT_SOURCE_DIR}/shortcut/changelog
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/shortcut)
file(STRINGS ${PROJECT_SOURCE_DIR}/shortcut/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^shortcut \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "shortcut/changelog has no entry for ${PROJECT_VERSION} "
                      "at its top: ${changelog_top}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME shortcut)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# A role address, not a person's.
set(CPACK_PACKAGE_CONTACT "Zelvo connection kit packaging <packaging@zelvo.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "create, edit and query Windows shell links (.lnk files)")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "shortcut writes and reads the shell link files (.lnk) that Windows uses"
    "for its shortcuts, from /F: /A: /T: style switches.  It brings its own"
    "reader and writer of the file format and needs neither Windows nor Wine.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The architecture is the one the program is built for: CPack would name
# the machine's own.  A cross build (cmake/linux-*.cmake) asks dpkg for the
# Debian name of its target's multiarch triplet (aarch64-linux-gnu: arm64).
if(CMAKE_CROSSCOMPILING)
  execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
    message(FATAL_ERROR "dpkg-architecture knows no Debian architecture for "
                        "'${CMAKE_LIBRARY_ARCHITECTURE}'")
  endif()
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends is what dpkg-shlibdeps finds the program needs: the C library,
# with the oldest release that has every symbol version it uses.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Links on shares (\\server\share, smb://) go through Samba's client library,
# which the program loads only when a share is named: recommended, not
# required.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libsmbclient)
# Manual pages and the changelog go into a Debian package compressed.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageCompress.cmake)
include(CPack)
