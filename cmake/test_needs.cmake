# test_needs(GROUP [ROOT] PROGRAM PACKAGE [PROGRAM PACKAGE]...): says at
# configure time, in one line, that the tests GROUP will show as skipped
# here, when one of the programs is missing (naming the Debian package that
# brings it) or, with ROOT, when the build does not run as root. The tests
# decide for themselves when they run; this only tells a newcomer before
# ctest shows "***Skipped". A group that needs something new calls this
# beside its add_test.
function(test_needs group)
  set(want ${ARGN})
  set(missing "")
  if("${want}" MATCHES "^ROOT(;|$)")
    list(REMOVE_AT want 0)
    execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT uid STREQUAL "0")
      list(APPEND missing "root")
    endif()
  endif()
  while(want)
    list(POP_FRONT want program package)
    # Daemons such as sshd live in sbin, outside a user's PATH.
    find_program(TEST_NEEDS_${program} ${program} PATHS /usr/sbin /sbin)
    if(NOT TEST_NEEDS_${program})
      list(APPEND missing "${program} (apt-get install -y ${package})")
    endif()
  endwhile()
  if(missing)
    list(JOIN missing ", " missing)
    message(STATUS "Tests ${group} will be skipped: they need ${missing}")
  endif()
endfunction()
