# The texts a person reads, in one language: a Wine session of its own,
# started in that language in a prefix of its own (a running wineserver
# keeps the language it started with), and the cases LanguageTest.* of
# the scenario tests run in it; the session is ended again afterwards.
#   -DWINE_RUN=... -DBUILD_DIR=... -DLOCALE=<Unix locale> -DUI_LANGUAGE=<hex>
#   -DTEXT_LANGUAGE=<hex> [-DSCREENSHOT=<file.png>]
# UI_LANGUAGE is the interface language the session must report, and
# TEXT_LANGUAGE the language of the texts the boxes must show.
find_program(WINESERVER wineserver PATHS /usr/lib/wine REQUIRED)
set(ENV{WINEPREFIX} "${BUILD_DIR}/languages-prefix")
set(ENV{QX_BUILD_DIR} "${BUILD_DIR}")
set(output "${BUILD_DIR}/languages-prefix.out")

function(end_session)
  execute_process(COMMAND ${WINESERVER} -k OUTPUT_QUIET ERROR_QUIET)
  execute_process(COMMAND ${WINESERVER} -w OUTPUT_QUIET ERROR_QUIET)
endfunction()

# The prefix is made once, in the tests' usual language; then the session
# of the row's language. Its first program starts Wine's background
# services, which would hold any output pipe open: they get none.
if(NOT EXISTS "$ENV{WINEPREFIX}/system.reg")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LANG=C.UTF-8 ${WINE_RUN} cmd /c exit
                  INPUT_FILE /dev/null OUTPUT_QUIET ERROR_QUIET)
endif()
end_session()
set(ENV{LANG} "${LOCALE}")
set(ENV{LC_ALL} "${LOCALE}")
execute_process(COMMAND ${WINE_RUN} cmd /c exit INPUT_FILE /dev/null OUTPUT_QUIET ERROR_QUIET)

set(ENV{QX_UI_LANGUAGE} "${UI_LANGUAGE}")
set(ENV{QX_TEXT_LANGUAGE} "${TEXT_LANGUAGE}")
if(SCREENSHOT)
  set(bmp "${SCREENSHOT}.bmp")
  file(REMOVE "${bmp}")
  string(REPLACE "/" "\\" bmp_windows "Z:${bmp}")
  set(ENV{QX_SCREENSHOT} "${bmp_windows}")
endif()
execute_process(COMMAND ${WINE_RUN} ${BUILD_DIR}/tests/scenario_tests.exe --gtest_filter=LanguageTest.*
                RESULT_VARIABLE rc INPUT_FILE /dev/null OUTPUT_FILE "${output}" ERROR_FILE "${output}.err")
end_session()
file(READ "${output}" out)
message("${out}")
if(NOT rc EQUAL 0 OR NOT out MATCHES "\\[  PASSED  \\] 4 tests")
  message(FATAL_ERROR "the texts in ${LOCALE} are not what the resource module holds")
endif()
if(SCREENSHOT)
  execute_process(COMMAND convert "${bmp}" "${SCREENSHOT}" RESULT_VARIABLE converted)
  if(NOT converted EQUAL 0)
    message(FATAL_ERROR "no screenshot ${SCREENSHOT}")
  endif()
  file(REMOVE "${bmp}")
endif()
