# What the restart scripts share, driven from outside the prefix because a
# restart ends every process in it. Include after setting PREFIX (the Wine
# prefix), WINE_RUN, BUILD_DIR and WINE_OUTPUT (a name for the files the
# Wine calls write to).
execute_process(COMMAND id -un OUTPUT_VARIABLE user OUTPUT_STRIP_TRAILING_WHITESPACE)
# The machine-wide cache; a clean start removes its manufacturer level too.
set(maker "${PREFIX}/drive_c/ProgramData/Selkirk-Vane")
set(cache "${maker}/QX Prism P4000 Series")
set(logs "${PREFIX}/drive_c/users/${user}/Temp/{7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73}")
set(run_once "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce")

# Output to files, not pipes: programs that the restart starts inherit the
# handles and would keep a pipe open long after this call.
function(wine)
  execute_process(COMMAND ${WINE_RUN} ${ARGN} RESULT_VARIABLE rc INPUT_FILE /dev/null
                  OUTPUT_FILE "${PREFIX}/../${WINE_OUTPUT}.out" ERROR_FILE "${PREFIX}/../${WINE_OUTPUT}.err")
  set(wine_rc ${rc} PARENT_SCOPE)
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/../ResetState.cmake)

# The known state every scenario starts from (no cache, no record, no
# resume entry, no logs of earlier runs, no fixture folders); then FOLDER
# with the launcher, the recording doubles of the modules, the test package
# and the install-actions double's SCRIPT.
function(qx_restart_folder folder script)
  qx_reset_known_state()
  file(REMOVE_RECURSE "${folder}")

  file(MAKE_DIRECTORY "${folder}")
  # The launcher without its signature: it runs with the doubles.
  file(COPY_FILE "${BUILD_DIR}/tests/trust/unsigned/QXVSetup64.exe" "${folder}/QXVSetup64.exe")
  foreach(f CustomActionData64.dll QXVSetupRES64.dll)
    file(COPY_FILE "${BUILD_DIR}/product/${f}" "${folder}/${f}")
  endforeach()
  file(COPY_FILE "${BUILD_DIR}/tests/doubles/actions/QXVInstallActions64.dll" "${folder}/QXVInstallActions64.dll")
  file(COPY_FILE "${BUILD_DIR}/tests/doubles/reporter/QXPRP4005P64.dll" "${folder}/QXPRP4005P64.dll")
  file(COPY_FILE "${BUILD_DIR}/tests/fixtures/QXPRP4005.msi" "${folder}/QXPRP4005.msi")
  file(WRITE "${folder}/actions-script.txt" "${script}")
endfunction()

# Sets OUT to TRUE while a launcher (QXVSetup64.exe) runs in the prefix. A
# Wine program is a process of the system whose environment names its
# prefix; other work trees run launchers of their own at the same time.
function(qx_launcher_runs out)
  execute_process(COMMAND pgrep -f "QXVSetup64[.]exe" OUTPUT_VARIABLE pids OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE none)
  string(REPLACE "\n" ";" pids "${pids}")
  foreach(pid IN LISTS pids)
    # A process that ended meanwhile has no environment left to read.
    execute_process(COMMAND sh -c "tr '\\000' '\\n' < /proc/$1/environ | grep -qxF \"WINEPREFIX=$2\""
                            sh "${pid}" "${PREFIX}"
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(rc EQUAL 0)
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} FALSE PARENT_SCOPE)
endfunction()

# Sets OUT to TRUE once the function CONDITION (which sets the variable it
# is given) holds and no launcher runs in the prefix any more; FALSE when
# that has not come within two minutes.
function(qx_wait_for_end condition out)
  foreach(i RANGE 240)
    cmake_language(CALL ${condition} met)
    if(met)
      qx_launcher_runs(running)
      if(NOT running)
        set(${out} TRUE PARENT_SCOPE)
        return()
      endif()
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 0.5)
  endforeach()
  set(${out} FALSE PARENT_SCOPE)
endfunction()

# A person at the desktop (tests/doubles/Person.cpp) with unsaved work in
# another program, started in the background: asked before the restart, it
# saves; it answers the launcher's restart question with yes. RECORD is its
# record file as this script sees it, RECORD_WIN the same as Windows does.
function(qx_start_person record record_win)
  execute_process(COMMAND sh -c "\"$0\" \"$@\" </dev/null >/dev/null 2>&1 &" ${WINE_RUN}
                          "${BUILD_DIR}/tests/doubles/person/Person.exe" "${record_win}" save yes)
  foreach(i RANGE 120)
    if(EXISTS "${record}")
      return()
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 0.5)
  endforeach()
  message(FATAL_ERROR "the program with unsaved work did not start")
endfunction()

# Fails unless the person said yes, and was then asked and saved its work
# before the restart ended it.
function(qx_person_saved record)
  file(STRINGS "${record}" person)
  message(STATUS "the person: ${person}")
  foreach(step "answered yes" "query" "saved" "end 1")
    list(FIND person "${step}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "the person's record lacks \"${step}\": the restart did not ask before ending programs")
    endif()
  endforeach()
endfunction()
