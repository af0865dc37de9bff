# Tests of what ships: the examples and the scale-out scripts.

# examples/list names the examples and the program each runs; every program
# lands in the top of the build tree.
set(examples ${PROJECT_SOURCE_DIR}/examples)
file(STRINGS ${examples}/list listed)
set(example_programs "")
foreach(line IN LISTS listed)
  string(REGEX MATCH "^[^ ]+ +([^ ]+)" _ "${line}")
  list(APPEND example_programs ${CMAKE_MATCH_1})
endforeach()
list(REMOVE_DUPLICATES example_programs)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${examples}/list)
add_executable(examples_tests ${CMAKE_CURRENT_LIST_DIR}/examples_test.cpp)
target_link_libraries(examples_tests PRIVATE testrun GTest::gtest_main)
target_compile_definitions(examples_tests PRIVATE
  BIN_DIR="${PROJECT_BINARY_DIR}" EXAMPLES="${examples}")
add_dependencies(examples_tests ${example_programs})
gtest_discover_tests(examples_tests DISCOVERY_TIMEOUT 60)

# The split runs need GNU parallel; without it the script reports 77 and
# ctest shows the test as skipped.
test_needs(scale_out.tarvo parallel parallel)
test_needs(scale_out.ostrel parallel parallel)
set(scale_out ${CMAKE_CURRENT_LIST_DIR}/scale_out_test.sh)
add_test(NAME scale_out.tarvo
  COMMAND bash ${scale_out} tarvo ${PROJECT_BINARY_DIR}
    $<TARGET_FILE:tarvo> $<TARGET_FILE:gen_tarvo> ${PROJECT_VERSION})
add_test(NAME scale_out.ostrel
  COMMAND bash ${scale_out} ostrel ${PROJECT_BINARY_DIR}
    $<TARGET_FILE:ostrel> $<TARGET_FILE:gen_bases> ${PROJECT_VERSION})
# Both scripts over two real sshd on loopback addresses; the test skips
# (77) without root, as sshd needs it here.
test_needs(scale_out.ssh ROOT parallel parallel sshd openssh-server ssh openssh-client)
add_test(NAME scale_out.ssh
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/ssh_test.sh ${PROJECT_BINARY_DIR}
    $<TARGET_FILE:gen_tarvo> $<TARGET_FILE:gen_bases>)
set_tests_properties(scale_out.tarvo scale_out.ostrel scale_out.ssh
  PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
# The workflow locally and on a throwaway Slurm cluster of two nodes on
# loopback; the test skips (77) without root or the packages, except in CI.
test_needs(workflow.slurm ROOT snakemake snakemake slurmctld slurm-wlm munged munge
  samtools samtools python3 python3)
add_test(NAME workflow.slurm
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/slurm_test.sh ${PROJECT_SOURCE_DIR}/workflow
    $<TARGET_FILE:tarvo> $<TARGET_FILE:tarvo-pileup>)
set_tests_properties(workflow.slurm PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
# Both daemon tests, each started with a daemon that cannot start, end
# within 30 seconds with the reason; skipped (77) where they skip.
test_needs(daemons.fail_fast ROOT slurmctld slurm-wlm munged munge sshd openssh-server)
add_test(NAME daemons.fail_fast
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/daemons_test.sh ${CMAKE_CURRENT_LIST_DIR}
    ${PROJECT_SOURCE_DIR}/workflow $<TARGET_FILE:tarvo> $<TARGET_FILE:tarvo-pileup>
    -- ${PROJECT_BINARY_DIR} $<TARGET_FILE:gen_tarvo> $<TARGET_FILE:gen_bases>)
set_tests_properties(daemons.fail_fast PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
