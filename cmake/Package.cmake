# The Debian package of the Linux build: shortcut, its manual page and the
# copyright file, under /usr.  `cpack -G DEB` in the build folder makes it.
include(GNUInstallDirs)
install(FILES ${PROJECT_SOURCE_DIR}/shortcut/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/shortcut)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME shortcut)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zelvo connection kit developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "create, edit and query Windows shell links (.lnk files)")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "shortcut writes and reads the shell link files (.lnk) that Windows uses"
    "for its shortcuts, from /F: /A: /T: style switches.  It brings its own"
    "reader and writer of the file format and needs neither Windows nor Wine.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends is what dpkg-shlibdeps finds the program needs: the C library,
# with the oldest release that has every symbol version it uses.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Manual pages go into a Debian package compressed.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageCompressManPages.cmake)
include(CPack)
