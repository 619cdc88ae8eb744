# Installed layout: the programs, our two shared libraries and zip2exe live together
# in one folder (found through $ORIGIN and /proc/self/exe); bin/ holds links to the
# programs a user starts. The folder is the program's own, not one the linker
# searches, so it is lib/pellux whatever the platform's library folder is called.
set(PELLUX_PROGRAM_DIR lib/pellux)

# pellux_install_program(TARGET): the program into the program folder, a link in bin/.
function(pellux_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${PELLUX_PROGRAM_DIR})
  install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(CREATE_LINK ../${PELLUX_PROGRAM_DIR}/${target}
         \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${target}\" SYMBOLIC)")
endfunction()

# What the desktop needs (dist/linux/): the menu entry, the icon in the hicolor theme,
# the AppStream description for software centres, and the terminal program's manual.
set(PELLUX_DIST ${PROJECT_SOURCE_DIR}/dist/linux)
if(PELLUX_BUILD_GUI)
  install(FILES ${PELLUX_DIST}/pellux.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PELLUX_DIST}/org.example.pellux.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${PELLUX_DIST}/icons/pellux.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${PELLUX_DIST}/icons/pellux-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME pellux.png)
  endforeach()
endif()
# Manual pages go compressed, as Debian wants them; -n keeps the bytes the same on
# every build.
set(pellux_manuals pellux-cli zip2exe)
if(PELLUX_BUILD_GUI)
  list(APPEND pellux_manuals pellux)
endif()
set(pellux_manual_files)
foreach(page ${pellux_manuals})
  set(out ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9n -c ${PELLUX_DIST}/${page}.1 > ${out}
    DEPENDS ${PELLUX_DIST}/${page}.1 VERBATIM)
  list(APPEND pellux_manual_files ${out})
endforeach()
add_custom_target(pellux_manuals ALL DEPENDS ${pellux_manual_files})
install(FILES ${pellux_manual_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# pellux-cli's completion, where bash-completion loads it on first use.
install(FILES ${PROJECT_SOURCE_DIR}/dist/bash-completion/pellux-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
# The package's licence and history, where Debian looks for them.
set(PELLUX_DEBIAN ${PROJECT_SOURCE_DIR}/dist/debian)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND gzip -9n -c ${PELLUX_DEBIAN}/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
  DEPENDS ${PELLUX_DEBIAN}/changelog VERBATIM)
add_custom_target(pellux_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${PELLUX_DEBIAN}/copyright ${CMAKE_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pellux)
