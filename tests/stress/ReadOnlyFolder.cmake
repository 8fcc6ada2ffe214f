# Makes (MODE=make) or removes (MODE=remove) the folder DIR that no one can
# write to, root included: the immutable attribute. Where the file system
# refuses the attribute, the folder stays writable and the test that uses it
# skips that case.
if(MODE STREQUAL "make")
  execute_process(COMMAND chattr -i ${DIR} OUTPUT_QUIET ERROR_QUIET)
  file(REMOVE_RECURSE ${DIR})
  file(MAKE_DIRECTORY ${DIR})
  execute_process(COMMAND chattr +i ${DIR} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(STATUS "chattr +i ${DIR} failed (${err}); the folder stays writable")
  endif()
elseif(MODE STREQUAL "remove")
  execute_process(COMMAND chattr -i ${DIR} OUTPUT_QUIET ERROR_QUIET)
  file(REMOVE_RECURSE ${DIR})
else()
  message(FATAL_ERROR "MODE must be make or remove")
endif()
