fuzzer(fuzz_kernels fuzz_kernels.cpp ${src}/ostrel/count.cpp ${OSTREL_SIMD_SOURCES}
  ${src}/common/error.cpp)

fuzzer(fuzz_ostrel fuzz_ostrel.cpp ${src}/tests/run.cpp ${src}/ostrel/ostrel.cpp ${src}/ostrel/count.cpp
  ${OSTREL_SIMD_SOURCES} ${src}/common/error.cpp ${src}/common/about.cpp)
target_compile_definitions(fuzz_ostrel PRIVATE ERROR_ESCAPE)
set_source_files_properties(${src}/ostrel/ostrel.cpp TARGET_DIRECTORY fuzz_ostrel
  PROPERTIES COMPILE_DEFINITIONS main=ostrel_main)
target_link_libraries(fuzz_ostrel PRIVATE pthread)
