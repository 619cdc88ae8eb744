# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) once the package's files are staged, stripped:
# takes the compiler's .comment notes out of the ELF files, as dh_strip does, and reads
# the package's Depends off them with dpkg-shlibdeps. CPack's own
# CPACK_DEBIAN_PACKAGE_SHLIBDEPS does the same but then also calls ldconfig from postinst
# and postrm for any shared object below /usr/lib, our private /usr/lib/pellux included,
# where the dynamic linker never looks: the programs find our libraries through
# $ORIGIN.
set(stage "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
file(GLOB_RECURSE files LIST_DIRECTORIES false "${stage}/*")
set(elf_files)
foreach(file IN LISTS files)
  if(NOT IS_SYMLINK "${file}")
    file(READ "${file}" magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
      list(APPEND elf_files "-e${file}")
      execute_process(COMMAND objcopy --remove-section=.comment "${file}" COMMAND_ERROR_IS_FATAL ANY)
    endif()
  endif()
endforeach()
if(NOT elf_files)
  message(FATAL_ERROR "PelluxDebStaged: no ELF file in ${stage}")
endif()

# dpkg-shlibdeps wants a debian/control in its working folder; any will do. It stays
# outside the staged tree, which becomes the package.
get_filename_component(work "${stage}" DIRECTORY)
set(work "${work}/shlibdeps")
file(MAKE_DIRECTORY "${work}/debian")
file(WRITE "${work}/debian/control" "")
execute_process(COMMAND dpkg-shlibdeps -O ${elf_files}
  WORKING_DIRECTORY "${work}"
  OUTPUT_VARIABLE substvars ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "PelluxDebStaged: dpkg-shlibdeps failed: ${errors}")
endif()
if(errors)
  message(WARNING "PelluxDebStaged: ${errors}")
endif()
if(NOT substvars MATCHES "shlibs:Depends=([^\n]+)")
  message(FATAL_ERROR "PelluxDebStaged: dpkg-shlibdeps printed no Depends: ${substvars}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
file(REMOVE_RECURSE "${work}")
