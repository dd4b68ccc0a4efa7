# Run by CPack once the package's files are staged, before it packs them.

# The network helper: a plain `cmake --install` makes it 0750 for root and the
# group netrika at once. The package ships it 0755 like any program; its
# postinst restricts it with dpkg-statoverride before it gives it its
# capabilities, so it never holds one while anyone may run it, and dpkg keeps
# the override on every later upgrade.
file(GLOB_RECURSE netrika_helpers "${CPACK_TEMPORARY_DIRECTORY}/*/libexec/netrika/netrika-net-helper")
foreach(helper ${netrika_helpers})
  file(CHMOD ${helper} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
       WORLD_READ WORLD_EXECUTE)
endforeach()

# The programs are already stripped of their symbols; the compiler's notes
# (.comment, .note) go too, as Debian's own packages have them removed. The
# version record's section stays.
file(GLOB netrika_programs "${CPACK_TEMPORARY_DIRECTORY}/*/bin/*"
     "${CPACK_TEMPORARY_DIRECTORY}/*/libexec/netrika/*")
foreach(program ${netrika_programs})
  execute_process(COMMAND ${CPACK_NETRIKA_STRIP} --remove-section=.comment --remove-section=.note ${program}
                  RESULT_VARIABLE stripped)
  if(NOT stripped EQUAL 0)
    message(FATAL_ERROR "could not strip ${program}")
  endif()
endforeach()
