add_executable(gen_tarvo ${PROJECT_SOURCE_DIR}/bench/gen_tarvo.cpp)
set_target_properties(gen_tarvo PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
