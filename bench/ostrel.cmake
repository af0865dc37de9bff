# Workload generator for bench/ostrel.sh.
add_executable(gen_bases ${CMAKE_CURRENT_LIST_DIR}/gen_bases.cpp)
set_target_properties(gen_bases PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
