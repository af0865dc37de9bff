# tarvo-hmm: the bad inputs as one table, and the posteriors, likelihood
# and estimate against a sum over every path in 60-digit arithmetic (which
# needs Python 3; without it ctest shows the test as skipped). A cross
# build's program runs under its emulator.
add_executable(hmm_tests ${CMAKE_CURRENT_LIST_DIR}/hmm_test.cpp)
target_link_libraries(hmm_tests PRIVATE hmmcore testrun GTest::gtest_main)
target_compile_definitions(hmm_tests PRIVATE HMM_BIN="$<TARGET_FILE:tarvo-hmm>")
add_dependencies(hmm_tests tarvo-hmm)
gtest_discover_tests(hmm_tests DISCOVERY_TIMEOUT 60)

if(Python3_Interpreter_FOUND)
  add_test(NAME hmm_exact
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/hmm_exact.py
      $<TARGET_FILE:tarvo-hmm> ${CMAKE_CROSSCOMPILING_EMULATOR})
else()
  skip_test(hmm_exact "python3 is not installed: skipped")
endif()
set_tests_properties(hmm_exact PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
test_needs(hmm_exact python3 python3)
