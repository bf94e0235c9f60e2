# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) on the staged files before it packs them: strips every
# ELF file the way Debian's dh_strip does, debug symbols and the compiler's .comment and .note
# sections; shared libraries keep the symbols they export.
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS staged)
  if(IS_SYMLINK ${file})
    continue()
  endif()
  file(READ ${file} magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  set(how --strip-all)
  if(file MATCHES "\\.so$")
    set(how --strip-unneeded)
  endif()
  execute_process(COMMAND ${CPACK_KRVN_STRIP} ${how} --remove-section=.comment --remove-section=.note ${file}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot strip ${file}")
  endif()
endforeach()
