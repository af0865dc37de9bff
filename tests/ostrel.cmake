add_executable(ostrel_literal literal_ostrel.cpp)
target_link_libraries(ostrel_literal PRIVATE common)

add_executable(ostrel_tests ostrel_kernel_test.cpp ostrel_e2e_test.cpp)
target_link_libraries(ostrel_tests PRIVATE ostrelcore testrun GTest::gtest_main)
target_compile_definitions(ostrel_tests PRIVATE
  OSTREL_BIN="$<TARGET_FILE:ostrel>"
  OSTREL_LITERAL_BIN="$<TARGET_FILE:ostrel_literal>")
add_dependencies(ostrel_tests ostrel ostrel_literal)
# A fault in the read or write loops tends to hang rather than fail.
gtest_discover_tests(ostrel_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
