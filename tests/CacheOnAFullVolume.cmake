# The cache's base, the prefix's machine-wide data folder, on a volume of
# 320 KB (a tmpfs mounted over it, which root may do here) while the case
# FullVolumeTest.* of the scenario tests runs; unmounted afterwards whatever
# happened. Where the mount is refused the test says so and is skipped.
#   -DWINE_RUN=... -DBUILD_DIR=...
set(PREFIX "$ENV{WINEPREFIX}")
if(NOT PREFIX)
  message(FATAL_ERROR "WINEPREFIX is not set")
endif()
set(data "${PREFIX}/drive_c/ProgramData")
execute_process(COMMAND mount -t tmpfs -o size=320k,mode=0755 tmpfs "${data}" RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message("[  SKIPPED ] no small volume could be mounted over ${data}: ${err}")
  return()
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env QX_FULL_VOLUME=1 QX_BUILD_DIR=${BUILD_DIR}
                        ${WINE_RUN} ${BUILD_DIR}/tests/scenario_tests.exe --gtest_filter=FullVolumeTest.*
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
execute_process(COMMAND umount "${data}" RESULT_VARIABLE unmounted)
message("${out}")
if(NOT unmounted EQUAL 0)
  message(FATAL_ERROR "the small volume over ${data} could not be unmounted")
endif()
if(NOT rc EQUAL 0 OR NOT out MATCHES "\\[  PASSED  \\] 1 test")
  message(FATAL_ERROR "the case on the small volume failed")
endif()
