# Run by CPack after the files are staged (CPACK_PRE_BUILD_SCRIPTS): drops the compiler's
# .comment and the .note sections from the stripped programs, as Debian's dh_strip does.
file(GLOB programs "${CPACK_TEMPORARY_DIRECTORY}/*/usr/bin/*")
foreach(program ${programs})
  execute_process(COMMAND objcopy --remove-section=.comment --remove-section=.note ${program}
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "objcopy failed on ${program}")
  endif()
endforeach()
