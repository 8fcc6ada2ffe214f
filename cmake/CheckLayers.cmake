# Fails when a source file includes a header from a layer above its own.
# Run as: cmake -DSOURCE_DIR=<root> -P CheckLayers.cmake
#
# Layers, lowest first; a folder may include its own layer and those below:
#   0 framework   the application framework and the Win32 helpers
#   1 res         the product's identity, resource ids and switches
#   1 modules     the contract with the companion modules (calls, layouts)
#   2 diag        the log and error reports
#   3 cache       the install source and its cache
#   4 app ui worker  the launcher: start-up, popup, installation worker
# The companions are separate binaries built on the lower layers: they may
# include framework, res, modules and diag, never the launcher's own folders.
set(QX_LAYER_framework 0)
set(QX_LAYER_res 1)
set(QX_LAYER_modules 1)
set(QX_LAYER_diag 2)
set(QX_LAYER_cache 3)
set(QX_LAYER_app 4)
set(QX_LAYER_ui 4)
set(QX_LAYER_worker 4)
set(QX_COMPANION_MAY_INCLUDE framework res modules diag)

# Includes that run up a layer on purpose: "<file>|<included header>|reason".
set(QX_LAYER_EXCEPTIONS
)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR not given")
endif()

set(violations "")
set(checked 0)
foreach(folder framework res modules diag cache app ui worker companions)
  file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR}
    ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp ${SOURCE_DIR}/${folder}/*.rc)
  foreach(file IN LISTS files)
    math(EXPR checked "${checked} + 1")
    file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[A-Za-z]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" header "${line}")
      string(REGEX REPLACE "/.*" "" target "${header}")
      if(folder STREQUAL "companions")
        list(FIND QX_COMPANION_MAY_INCLUDE ${target} index)
        set(allowed FALSE)
        if(NOT index EQUAL -1)
          set(allowed TRUE)
        endif()
      elseif(NOT DEFINED QX_LAYER_${target})
        set(allowed FALSE)
      elseif(QX_LAYER_${target} GREATER QX_LAYER_${folder})
        set(allowed FALSE)
      else()
        set(allowed TRUE)
      endif()
      if(NOT allowed)
        set(excused FALSE)
        foreach(exception IN LISTS QX_LAYER_EXCEPTIONS)
          if(exception MATCHES "^${file}\\|${header}\\|")
            set(excused TRUE)
          endif()
        endforeach()
        if(NOT excused)
          string(APPEND violations "  ${file} includes ${header}\n")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(checked LESS 50)
  message(FATAL_ERROR "Only ${checked} files found under ${SOURCE_DIR}: wrong folder?")
endif()
if(violations)
  message(FATAL_ERROR "Includes that run up a layer:\n${violations}")
endif()
message(STATUS "${checked} files, every include within its layer or below")
