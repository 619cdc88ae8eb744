# Installed layout: the programs, our two shared libraries and zip2exe live together
# in one folder (found through $ORIGIN and /proc/self/exe); bin/ holds links to the
# programs a user starts.
set(PELLUX_PROGRAM_DIR ${CMAKE_INSTALL_LIBDIR}/pellux)

# pellux_install_program(TARGET): the program into the program folder, a link in bin/.
function(pellux_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${PELLUX_PROGRAM_DIR})
  install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(CREATE_LINK ../${PELLUX_PROGRAM_DIR}/${target}
         \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${target}\" SYMBOLIC)")
endfunction()
