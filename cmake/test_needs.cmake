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

# skip_test(NAME TEXT): test NAME, where it cannot run, is one that says
# TEXT and exits 77, which ctest shows as "***Skipped".
function(skip_test name text)
  add_test(NAME ${name} COMMAND sh -c "echo '${text}'; exit 77")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()

# numpy_python(VAR GROUP): sets VAR to the first interpreter that imports
# numpy: Python3_EXECUTABLE, then Debian's /usr/bin/python3, which has
# python3-numpy when the first python3 on the PATH (a pyenv one) does not.
# Without one, VAR is the plain interpreter (empty when there is none),
# whose script then reports the tests GROUP skipped, and this says so at
# configure time as test_needs does.
function(numpy_python var group)
  set(found "")
  foreach(py ${Python3_EXECUTABLE} /usr/bin/python3)
    if(NOT found AND EXISTS "${py}")
      execute_process(COMMAND ${py} -c "import numpy" RESULT_VARIABLE rc
        OUTPUT_QUIET ERROR_QUIET)
      if(rc EQUAL 0)
        set(found ${py})
      endif()
    endif()
  endforeach()
  if(NOT found)
    message(STATUS "Tests ${group} will be skipped: they need numpy "
      "(apt-get install -y python3-numpy)")
    set(found ${Python3_EXECUTABLE})
  endif()
  set(${var} ${found} PARENT_SCOPE)
endfunction()
