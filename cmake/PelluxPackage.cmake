# The Debian package (cpack -G DEB in the build folder): everything `cmake --install`
# puts under /usr, stripped, with its dependencies read off the binaries by
# dpkg-shlibdeps, so that `apt install ./pellux_*.deb` pulls what the programs load.
# It has no maintainer scripts: nothing needs doing on install or removal.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellux)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Pellux developers")
set(CPACK_PACKAGE_CONTACT "The Pellux developers <maintainers@pellux.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ZIP archive manager for the Linux desktop")
# Debian wants the lines of the long description within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION "Pellux lists a ZIP archive's entries in a sortable table, adds files or
whole directory trees, deletes entries, extracts selected or all entries,
and turns an archive into a self-extracting program. It reads encrypted
entries and names in the code pages of other languages. pellux-cli does the
same from a terminal.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://pellux.example.org)
# Not CPACK_DEBIAN_PACKAGE_SHLIBDEPS: see PelluxDebStaged.cmake for why.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PelluxDebStaged.cmake)
include(CPack)
