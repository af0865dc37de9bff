# The files that use more of the processor than the baseline build, each
# with the library it belongs to, the processors it is for and the flags it
# is built with, one line a file. The programs ask an x86-64 processor for
# AVX2 before they run a file built for it; AdvSIMD (NEON) is part of every
# aarch64 processor, so its file needs no flag and no question. Every file
# that needs a flag stops the build with #error when built without it.
#
# Source file properties hold in one directory only, so each library's
# directory calls vector_files(LIBRARY) where it adds the library; anything
# else that needs these files links the library.

function(vector_file library lib processors file)
  if(library STREQUAL lib AND CMAKE_SYSTEM_PROCESSOR MATCHES "${processors}")
    target_sources(${lib} PRIVATE ${PROJECT_SOURCE_DIR}/${file})
    set_source_files_properties(${PROJECT_SOURCE_DIR}/${file} PROPERTIES COMPILE_OPTIONS "${ARGN}")
  endif()
endfunction()

function(vector_files library)
  set(x86 "x86_64|AMD64")
  set(arm "aarch64|arm64|ARM64")
  #                      library    processors file                   flags
  vector_file(${library} tarvocore  ${x86}     tarvo/lanes_avx2.cpp   -mavx2)
  vector_file(${library} tarvocore  ${x86}     tarvo/scan_avx2.cpp    -mavx2)
  vector_file(${library} ostrelcore ${x86}     ostrel/kernel_sse2.cpp)
  vector_file(${library} ostrelcore ${x86}     ostrel/kernel_avx2.cpp -mavx2 -mpopcnt)
  vector_file(${library} ostrelcore ${arm}     ostrel/kernel_neon.cpp)
endfunction()
