# Writes ZIP (the product folder's files at its top level, nothing else) and
# ZIP.sha256 in sha256sum's format. A rebuild that changed no file of the
# folder leaves both alone.
#   cmake -DPRODUCT_DIR=... -DZIP=... -P ZipProduct.cmake
foreach(var PRODUCT_DIR ZIP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "ZipProduct.cmake: ${var} is not set")
  endif()
endforeach()

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${PRODUCT_DIR}" "${PRODUCT_DIR}/*")
list(SORT files)
if(NOT files)
  message(FATAL_ERROR "ZipProduct.cmake: the product folder ${PRODUCT_DIR} is empty")
endif()

# What the folder holds now: each file's name and digest.
set(manifest "")
foreach(name IN LISTS files)
  file(SHA256 "${PRODUCT_DIR}/${name}" digest)
  string(APPEND manifest "${digest} ${name}\n")
endforeach()

get_filename_component(zip_name "${ZIP}" NAME)
set(manifest_file "${ZIP}.manifest")
if(EXISTS "${ZIP}" AND EXISTS "${ZIP}.sha256" AND EXISTS "${manifest_file}")
  file(READ "${manifest_file}" previous)
  if(previous STREQUAL manifest)
    return()
  endif()
endif()

# Built beside its final place and renamed, so no reader sees half a ZIP.
set(temp "${ZIP}.tmp")
file(REMOVE "${temp}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf "${temp}" --format=zip -- ${files}
  WORKING_DIRECTORY "${PRODUCT_DIR}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE "${temp}")
  message(FATAL_ERROR "ZipProduct.cmake: writing ${zip_name} failed")
endif()
file(RENAME "${temp}" "${ZIP}")
file(SHA256 "${ZIP}" zip_digest)
file(WRITE "${ZIP}.sha256" "${zip_digest}  ${zip_name}\n")
file(WRITE "${manifest_file}" "${manifest}")
list(LENGTH files count)
message(STATUS "${zip_name}: ${count} files")
