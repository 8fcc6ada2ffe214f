# The real restart cycle, driven from outside the prefix because the restart
# ends every process in it: an installation that needs a restart (3010 or
# 3011 from the scripted install-actions module), Wine's restart with its
# RunOnce processing, and the resumed launcher finishing from its cache.
#   -DWINE_RUN=... -DBUILD_DIR=... -DRESULT=3010|3011 [-DQUIET=ON]
# With QUIET the first run is an unattended one ("QUIET=YES NORESTART=YES"):
# it ends without a restart, the restart comes later from outside (Wine's
# RunOnce processing), and the resumed run must be quiet too.
set(PREFIX "$ENV{WINEPREFIX}")
if(NOT PREFIX)
  message(FATAL_ERROR "WINEPREFIX is not set")
endif()
set(folder "${PREFIX}/drive_c/qxtest/restart-${RESULT}")
set(WINE_OUTPUT restart-wine)
include(${CMAKE_CURRENT_LIST_DIR}/support/RestartCycle.cmake)
qx_restart_folder("${folder}" "result=${RESULT}\nresult_after_reboot=0\nlist_cache=1\n")
# What each run hands the module first: the package it found, beside the
# launcher and then through the record (as a pattern: the backslashes).
set(handed "PACKAGE=\"C:\\\\qxtest\\\\restart-${RESULT}\\\\QXPRP4005\\.msi\" ")

# The first run ends in the restart; Wine then runs the RunOnce entries,
# which start the cached launcher. Wait until the resumed run has ended: its
# log is the one whose module call carries AFTERREBOOT=YES (the first run's
# log names the switch too, in the RunOnce entry it writes).
if(QUIET)
  wine("C:\\qxtest\\restart-${RESULT}\\QXVSetup64.exe" CALLER=SETUP QUIET=YES NORESTART=YES)
  file(GLOB first_logs "${logs}/~qx*.log")
  list(LENGTH first_logs first_count)
  if(NOT first_count EQUAL 1)
    message(FATAL_ERROR "the quiet first run should have ended on its own, without a restart")
  endif()
  # The restart the deployment tool schedules.
  wine(wineboot -r)
else()
  # A person at the desktop with unsaved work in another program: asked
  # before the restart, it saves; it also answers the launcher's restart
  # question with yes. The restart ends it, as it ends everything else.
  set(person_record "${folder}/person-record.txt")
  qx_start_person("${person_record}" "C:\\qxtest\\restart-${RESULT}\\person-record.txt")
  wine("C:\\qxtest\\restart-${RESULT}\\QXVSetup64.exe" CALLER=SETUP)
endif()
# The resumed run has ended once its log holds its last line and its
# process is gone: until then it still holds what would make the next
# launcher refuse.
function(resumed_run_logged out)
  set(${out} FALSE PARENT_SCOPE)
  file(GLOB log_files "${logs}/~qx*.log")
  foreach(f IN LISTS log_files)
    file(READ "${f}" text)
    # The first run's log names the switches too, in its resume entry.
    if(text MATCHES "calling DoInstallActions: ${handed}AFTERREBOOT=YES CALLER=SETUP" AND text MATCHES "Exiting QXVSetup.exe")
      set(${out} TRUE PARENT_SCOPE)
    endif()
  endforeach()
endfunction()
qx_wait_for_end(resumed_run_logged resumed_done)
if(NOT resumed_done)
  message(FATAL_ERROR "the resumed launcher did not run to its end within two minutes")
endif()

if(NOT QUIET)
  qx_person_saved("${person_record}")
endif()

set(record "${folder}/actions-record.txt")
if(NOT EXISTS "${record}")
  message(FATAL_ERROR "the install-actions module was never called")
endif()
file(STRINGS "${record}" calls)
list(LENGTH calls count)
message(STATUS "calls:\n${calls}")
if(NOT count EQUAL 2)
  message(FATAL_ERROR "expected the first run and the resumed run, got ${count} call(s)")
endif()
list(GET calls 0 first)
list(GET calls 1 resumed)
if(QUIET)
  set(first_tail "${handed}CALLER=SETUP QUIET=YES NORESTART=YES")
  set(resumed_tail "${handed}AFTERREBOOT=YES CALLER=SETUP QUIET=YES")
else()
  set(first_tail "${handed}CALLER=SETUP")
  set(resumed_tail "${handed}AFTERREBOOT=YES CALLER=SETUP")
endif()
if(NOT first MATCHES "^tail=${first_tail}\\|")
  message(FATAL_ERROR "first call: ${first}")
endif()
if(NOT resumed MATCHES "^tail=${resumed_tail}\\|")
  message(FATAL_ERROR "the resumed launcher did not hand on both switches: ${resumed}")
endif()
if(NOT first MATCHES "\\|cache=[^|]*QXVSetup64.exe;")
  message(FATAL_ERROR "the cache did not hold the launcher during the first run: ${first}")
endif()

# The resumed run neither recorded nor copied, and emptied the cache of
# everything it did not have in use.
file(GLOB log_files "${logs}/~qx*.log")
list(LENGTH log_files log_count)
if(NOT log_count EQUAL 2)
  message(FATAL_ERROR "expected two logs, found ${log_count}")
endif()
set(resumed_log "")
foreach(f IN LISTS log_files)
  file(READ "${f}" text)
  if(text MATCHES "calling DoInstallActions: ${handed}AFTERREBOOT=YES CALLER=SETUP")
    set(resumed_log "${text}")
  elseif(NOT text MATCHES "Reboot required")
    message(FATAL_ERROR "the first run did not log the restart:\n${text}")
  endif()
endforeach()
if(resumed_log STREQUAL "")
  message(FATAL_ERROR "no log of the resumed run")
endif()
if(QUIET AND NOT resumed_log MATCHES "calling DoInstallActions: ${handed}AFTERREBOOT=YES CALLER=SETUP QUIET=YES")
  message(FATAL_ERROR "the resumed run was not quiet:\n${resumed_log}")
endif()
foreach(absent "In CacheSourcePath" "Reboot required")
  string(FIND "${resumed_log}" "${absent}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "the resumed run logged \"${absent}\"")
  endif()
endforeach()
string(FIND "${resumed_log}" "In DeleteInstallSourceCache" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the resumed run did not empty the cache")
endif()
file(GLOB left RELATIVE "${cache}" "${cache}/*")
message(STATUS "left in the cache: ${left}")
list(FIND left "QXVSetup64.exe" launcher_left)
if(launcher_left EQUAL -1)
  message(FATAL_ERROR "the resumed launcher's own file was not left in use")
endif()
foreach(f IN LISTS left)
  if(NOT f MATCHES "^(QXVSetup64\\.exe|CustomActionData64\\.dll|QXVSetupRES64\\.dll|QXVInstallActions64\\.dll)$")
    message(FATAL_ERROR "the cache still holds ${f}, which was not in use")
  endif()
endforeach()

# What was left in use, then the cache folder after it, is deleted at the
# next restart: the system's list names each (Wine's reg shows the strings
# joined by "\0").
wine(reg query "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager" /v PendingFileRenameOperations)
file(READ "${PREFIX}/../${WINE_OUTPUT}.out" pending)
message(STATUS "pending for the restart: ${pending}")
set(cache_nt "\\??\\C:\\ProgramData\\Selkirk-Vane\\QX Prism P4000 Series")
string(FIND "${pending}" "${cache_nt}\\0" folder_at)
if(folder_at EQUAL -1)
  message(FATAL_ERROR "the cache folder is not deleted at the next restart")
endif()
foreach(f IN LISTS left)
  string(FIND "${pending}" "${cache_nt}\\${f}\\0" at)
  if(at EQUAL -1 OR at GREATER folder_at)
    message(FATAL_ERROR "${f}, left in use, is not deleted at the next restart before its folder")
  endif()
endforeach()
wine(wineboot -r)
if(EXISTS "${cache}")
  file(GLOB_RECURSE still RELATIVE "${cache}" "${cache}/*")
  message(FATAL_ERROR "the restart left the cache folder, holding: ${still}")
endif()
file(REMOVE_RECURSE "${folder}")
