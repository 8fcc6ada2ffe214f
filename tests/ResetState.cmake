# Puts back the prefix's known state before a scenario that a CMake script
# drives, with the support library's reset (tests/support/ResetState.cpp).
# Needs WINE_RUN and BUILD_DIR; stops the script, naming what could not be
# put back, when the reset fails.
function(qx_reset_known_state)
  execute_process(COMMAND ${WINE_RUN} "${BUILD_DIR}/tests/qxtest_reset.exe" RESULT_VARIABLE rc INPUT_FILE /dev/null
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the prefix's known state could not be put back (${rc}):\n${out}${err}")
  endif()
endfunction()
