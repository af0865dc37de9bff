# ostrel_scalar is ostrel pinned to the plain kernel, so the end-to-end
# tables also cover the path that processors without SIMD take.
add_executable(ostrel_scalar ${PROJECT_SOURCE_DIR}/ostrel/ostrel.cpp
  ostrel_force_scalar.cpp)
target_link_libraries(ostrel_scalar PRIVATE ostrelcore)

add_executable(ostrel_literal literal_ostrel.cpp)
target_link_libraries(ostrel_literal PRIVATE common)

add_executable(ostrel_tests ostrel_kernel_test.cpp ostrel_e2e_test.cpp)
target_link_libraries(ostrel_tests PRIVATE ostrelcore testrun GTest::gtest_main)
target_compile_definitions(ostrel_tests PRIVATE
  OSTREL_BIN="$<TARGET_FILE:ostrel>"
  OSTREL_SCALAR_BIN="$<TARGET_FILE:ostrel_scalar>"
  OSTREL_LITERAL_BIN="$<TARGET_FILE:ostrel_literal>")
add_dependencies(ostrel_tests ostrel ostrel_scalar ostrel_literal)
# A fault in the read or write loops tends to hang rather than fail.
gtest_discover_tests(ostrel_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
