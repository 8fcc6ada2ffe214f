cmake_policy(SET CMP0057 NEW)
# Fails when a product binary imports at load time a DLL that Windows does
# not always take from its system folder, other than the product's own
# modules. The load-time search starts in the program's own folder, so a
# DLL off the KnownDLLs list (msi.dll, version.dll, ...) imported there could
# be replaced by a file planted beside the program; such DLLs are loaded at
# run time from the system folder instead. No product binary imports a
# module of the product at load time either: the loader would run its code
# before the launcher could check the module against its signature.
set(known_dlls
  kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll shlwapi.dll setupapi.dll ole32.dll msvcrt.dll)
set(own_modules customactiondata64.dll qxvinstallactions64.dll qxvsetupres64.dll qxprp4005p64.dll)
# The common controls come from the side-by-side store, for the binaries
# whose manifest names them as a dependency.
set(side_by_side_users QXVSetup64.exe)
# What the launcher loads itself, off its start-up path: the installer when
# the dialog waits for its first tick, the Setup API only for the disc prompt.
set(launcher_run_time_only msi.dll setupapi.dll)
set(expected QXVSetup64.exe QXVInstallActions64.dll CustomActionData64.dll QXVSetupRES64.dll
  QXPRP4005P64.dll Setup.exe)
set(failed FALSE)
foreach(name IN LISTS expected)
  set(file "${PRODUCT_DIR}/${name}")
  if(NOT EXISTS "${file}")
    message(SEND_ERROR "missing from the product folder: ${name}")
    set(failed TRUE)
    continue()
  endif()
  execute_process(COMMAND ${OBJDUMP} -p "${file}" OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(SEND_ERROR "objdump failed on ${name}")
    set(failed TRUE)
    continue()
  endif()
  set(allowed ${known_dlls})
  if(name IN_LIST side_by_side_users)
    list(APPEND allowed comctl32.dll)
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
  set(imports "")
  foreach(line IN LISTS lines)
    string(REPLACE "DLL Name: " "" dll "${line}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" dll)
    list(APPEND imports ${dll})
    if(name STREQUAL "QXVSetup64.exe" AND dll IN_LIST launcher_run_time_only)
      message(SEND_ERROR "${name} imports ${dll} at load time; it is loaded at run time when needed")
      set(failed TRUE)
    endif()
    if(dll IN_LIST own_modules)
      message(SEND_ERROR "${name} imports the product's module ${dll} at load time; it is loaded by full path after its check")
      set(failed TRUE)
    elseif(NOT dll IN_LIST allowed)
      message(SEND_ERROR "${name} imports ${dll} at load time, which Windows may take from outside its system folder")
      set(failed TRUE)
    endif()
  endforeach()
  message(STATUS "${name}: ${imports}")
endforeach()
if(failed)
  message(FATAL_ERROR "product imports check failed")
endif()
