# The instruction-set switch of both programs, run as a user runs them.
add_executable(isa_tests isa_switch_test.cpp)
target_link_libraries(isa_tests PRIVATE common testrun GTest::gtest_main)
target_compile_definitions(isa_tests PRIVATE TARVO_BIN="$<TARGET_FILE:tarvo>"
  OSTREL_BIN="$<TARGET_FILE:ostrel>")
add_dependencies(isa_tests tarvo ostrel)
gtest_discover_tests(isa_tests DISCOVERY_TIMEOUT 60)
