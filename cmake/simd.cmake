# The files that use more of the processor than the baseline build, and the
# flags each is built with: the programs' libraries and the fuzz build both
# take them from here. The programs ask an x86-64 processor for AVX2 before
# they run a file built for it; AdvSIMD (NEON) is part of every aarch64
# processor, so its file needs no flag and no question.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  set(TARVO_SIMD_SOURCES ${PROJECT_SOURCE_DIR}/tarvo/likelihood_avx2.cpp
    ${PROJECT_SOURCE_DIR}/tarvo/loglik_avx2.cpp)
  set(TARVO_SCAN_SIMD_SOURCES ${PROJECT_SOURCE_DIR}/tarvo/scan_avx2.cpp)
  set(OSTREL_SIMD_SOURCES ${PROJECT_SOURCE_DIR}/ostrel/kernel_sse2.cpp
    ${PROJECT_SOURCE_DIR}/ostrel/kernel_avx2.cpp)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "aarch64|arm64|ARM64")
  set(TARVO_SIMD_SOURCES "")
  set(TARVO_SCAN_SIMD_SOURCES "")
  set(OSTREL_SIMD_SOURCES ${PROJECT_SOURCE_DIR}/ostrel/kernel_neon.cpp)
else()
  set(TARVO_SIMD_SOURCES "")
  set(TARVO_SCAN_SIMD_SOURCES "")
  set(OSTREL_SIMD_SOURCES "")
endif()

# Source file properties hold in one directory only, so each directory that
# compiles these files calls this.
function(simd_flags)
  set_source_files_properties(${PROJECT_SOURCE_DIR}/tarvo/likelihood_avx2.cpp
    ${PROJECT_SOURCE_DIR}/tarvo/loglik_avx2.cpp ${PROJECT_SOURCE_DIR}/tarvo/scan_avx2.cpp
    PROPERTIES COMPILE_OPTIONS -mavx2)
  set_source_files_properties(${PROJECT_SOURCE_DIR}/ostrel/kernel_avx2.cpp
    PROPERTIES COMPILE_OPTIONS "-mavx2;-mpopcnt")
endfunction()
