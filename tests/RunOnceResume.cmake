# Proves that the RunOnce entry written by the launcher really starts the
# cached launcher with both switches when Wine runs the RunOnce entries
# (as at the next start of Windows). A recording double stands in for the
# cached QXVSetup64.exe.
#   -DWINE_RUN=... -DBUILD_DIR=...; the prefix is the one the test run uses.
set(PREFIX "$ENV{WINEPREFIX}")
if(NOT PREFIX)
  message(FATAL_ERROR "WINEPREFIX is not set")
endif()
set(folder_unix "${PREFIX}/drive_c/qxtest/runonce-resume")
# The known state every scenario starts from (no RunOnce entry of the
# product's, no fixture folders).
include(${CMAKE_CURRENT_LIST_DIR}/ResetState.cmake)
qx_reset_known_state()
file(MAKE_DIRECTORY "${folder_unix}")
file(COPY_FILE "${BUILD_DIR}/tests/doubles/pad/Setup.exe" "${folder_unix}/QXVSetup64.exe")

execute_process(COMMAND ${WINE_RUN} "${BUILD_DIR}/tests/runonce_arm.exe" "C:\\qxtest\\runonce-resume\\"
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "writing the RunOnce entry failed: ${rc}")
endif()

execute_process(COMMAND ${WINE_RUN} wineboot -r RESULT_VARIABLE rc INPUT_FILE /dev/null
                OUTPUT_FILE /dev/null ERROR_FILE /dev/null)

# The recording program writes its whole line at once; it is done once the
# line has its end.
set(record "${folder_unix}/pad-record.txt")
set(started "")
foreach(i RANGE 240)
  if(EXISTS "${record}")
    file(READ "${record}" started)
    if(started MATCHES "\n$")
      break()
    endif()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 0.5)
endforeach()
if(NOT started MATCHES "\n$")
  message(FATAL_ERROR "the RunOnce entry did not start the cached launcher")
endif()
string(STRIP "${started}" started)
message(STATUS "started as: ${started}")
set(expected "\"C:\\qxtest\\runonce-resume\\QXVSetup64.exe\" AFTERREBOOT=YES CALLER=SETUP")
if(NOT started STREQUAL expected)
  message(FATAL_ERROR "started as [${started}], expected [${expected}]")
endif()
file(REMOVE_RECURSE "${folder_unix}")
