# tarvo-hmm at the end of the pipeline: its posteriors calibrated on
# chromosomes drawn from its model (numpy; the interpreter found for
# tarvo_calibration, which skips with 77 without it), and the quick start
# on the shipped table.
# A cross build leaves it to the native suite, as the ARM step does
# tarvo_calibration: a statistical check whose every number the exact
# tests hold, and the script starts the programs without the emulator.
if(CMAKE_CROSSCOMPILING)
  skip_test(hmm_calibration "a cross build: left to the native suite")
elseif(numpy_python)
  add_test(NAME hmm_calibration
    COMMAND ${numpy_python} ${CMAKE_CURRENT_LIST_DIR}/hmm_calibration.py
      $<TARGET_FILE:tarvo> $<TARGET_FILE:tarvo-hmm>)
else()
  skip_test(hmm_calibration "python3 is not installed: skipped")
endif()
set_tests_properties(hmm_calibration PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)

add_test(NAME hmm_quickstart
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/quickstart_test.sh ${PROJECT_SOURCE_DIR}
    $<TARGET_FILE:tarvo-hmm> ${CMAKE_CROSSCOMPILING_EMULATOR})

# The workflow's test also checks tarvo-hmm's files and the karyogram.
set_property(TEST workflow.slurm APPEND PROPERTY ENVIRONMENT "TARVO_HMM=$<TARGET_FILE:tarvo-hmm>")
test_needs(workflow.slurm gnuplot gnuplot-nox)
