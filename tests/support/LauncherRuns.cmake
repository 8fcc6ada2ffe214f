# qx_launcher_runs(PREFIX OUT): sets OUT to TRUE while a launcher
# (QXVSetup64.exe) runs in the Wine prefix PREFIX. A Wine program is a
# process of the system whose environment names its prefix; other work
# trees run launchers of their own at the same time.
function(qx_launcher_runs prefix out)
  execute_process(COMMAND pgrep -f "QXVSetup64[.]exe" OUTPUT_VARIABLE pids OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE none)
  string(REPLACE "\n" ";" pids "${pids}")
  foreach(pid IN LISTS pids)
    # A process that ended meanwhile has no environment left to read.
    execute_process(COMMAND sh -c "tr '\\000' '\\n' < /proc/$1/environ | grep -qxF \"WINEPREFIX=$2\""
                            sh "${pid}" "${prefix}"
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(rc EQUAL 0)
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} FALSE PARENT_SCOPE)
endfunction()
