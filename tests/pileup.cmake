# tarvo-pileup: the bad inputs, and the differential test on samtools
# mpileup output, which skips (77) where samtools or htslib-test is missing;
# a cross build's programs under its emulator.
add_executable(pileup_tests ${CMAKE_CURRENT_LIST_DIR}/pileup_e2e_test.cpp)
target_link_libraries(pileup_tests PRIVATE pileupcore testrun GTest::gtest_main)
target_compile_definitions(pileup_tests PRIVATE PILEUP_BIN="$<TARGET_FILE:tarvo-pileup>")
add_dependencies(pileup_tests tarvo-pileup)
gtest_discover_tests(pileup_tests DISCOVERY_TIMEOUT 60)

if(Python3_Interpreter_FOUND)
  add_test(NAME pileup_diff
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/pileup_diff.py
      $<TARGET_FILE:tarvo-pileup> $<TARGET_FILE:tarvo>
      ${PROJECT_SOURCE_DIR}/gen/gen_reads.py ${CMAKE_CROSSCOMPILING_EMULATOR})
else()
  skip_test(pileup_diff "python3 is not installed: skipped")
endif()
set_tests_properties(pileup_diff PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
test_needs(pileup_diff python3 python3 samtools samtools)
