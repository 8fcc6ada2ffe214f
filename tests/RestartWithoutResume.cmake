# An installation that needs a restart (3010 or 3011) while the launcher's
# cache may not be used (the package names another product folder): the
# restart still comes, but no resume entry is written, since there is no
# cached launcher for one to start. Driven from outside the prefix because
# the restart ends every process in it. A RunOnce entry of the test's own, a
# recording program, shows that the restart really happened.
#   -DWINE_RUN=... -DBUILD_DIR=... -DMSIBUILD=... -DRESULT=3010|3011
set(PREFIX "$ENV{WINEPREFIX}")
if(NOT PREFIX)
  message(FATAL_ERROR "WINEPREFIX is not set")
endif()
set(name "restart-noresume-${RESULT}")
set(folder "${PREFIX}/drive_c/qxtest/${name}")
set(WINE_OUTPUT "${name}-wine")
include(${CMAKE_CURRENT_LIST_DIR}/support/RestartCycle.cmake)
set(marker_value "qxtest restart marker")

qx_restart_folder("${folder}" "result=${RESULT}\nlist_cache=1\n")
file(MAKE_DIRECTORY "${folder}/marker")
# Another product name, signed as the product is (tests/fixtures).
file(COPY_FILE "${BUILD_DIR}/tests/fixtures/PreviewProduct.msi" "${folder}/QXPRP4005.msi")
file(COPY_FILE "${BUILD_DIR}/tests/doubles/pad/Setup.exe" "${folder}/marker/Setup.exe")
wine(reg add "${run_once}" /v "${marker_value}" /d "C:\\qxtest\\${name}\\marker\\Setup.exe" /f)

# The run ends in the restart the person agrees to, which runs the
# machine's RunOnce entries.
qx_start_person("${folder}/person-record.txt" "C:\\qxtest\\${name}\\person-record.txt")
wine("C:\\qxtest\\${name}\\QXVSetup64.exe" CALLER=SETUP)
function(marker_ran out)
  if(EXISTS "${folder}/marker/pad-record.txt")
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()
qx_wait_for_end(marker_ran restarted)
if(NOT restarted)
  wine(reg delete "${run_once}" /v "${marker_value}" /f)
  message(FATAL_ERROR "no restart within two minutes: the test's own RunOnce entry never ran")
endif()

qx_person_saved("${folder}/person-record.txt")

file(STRINGS "${folder}/actions-record.txt" calls)
list(LENGTH calls count)
message(STATUS "calls:\n${calls}")
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected the one installation and no resumed one, got ${count} call(s)")
endif()
if(calls MATCHES "\\|cache=[^|]*QXVSetup64.exe")
  message(FATAL_ERROR "the launcher was cached although the cache may not be used: ${calls}")
endif()
file(GLOB log_files "${logs}/~qx*.log")
list(LENGTH log_files log_count)
if(NOT log_count EQUAL 1)
  message(FATAL_ERROR "expected the one run's log, found ${log_count}")
endif()
file(READ "${log_files}" text)
foreach(present "Install source cache not used: " "Reboot required" "In RebootSystemNow" "Exiting RebootSystemNow")
  string(FIND "${text}" "${present}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the run did not log \"${present}\":\n${text}")
  endif()
endforeach()
string(FIND "${text}" "In SetRunOnceEntry" at)
if(NOT at EQUAL -1)
  message(FATAL_ERROR "a resume entry was written for a cache that is not there:\n${text}")
endif()
if(EXISTS "${maker}/QX Prism P4000 Series/QXVSetup64.exe" OR EXISTS "${maker}/QX Prism P4000 Series Preview")
  message(FATAL_ERROR "something was cached")
endif()
file(REMOVE_RECURSE "${folder}")
