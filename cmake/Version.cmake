# The product's one version (the project's VERSION in CMakeLists.txt): in a
# VERSIONINFO of every binary of the product folder, in the package's
# ProductVersion, and in the code (QX_VERSION_NUMBER, read through
# res/ProductIdentity.h). The names come from res/ProductIdentity.h.
set(QX_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
string(REPLACE "." "," QX_VERSION_COMMAS "${QX_VERSION}")
# Windows Installer compares the first three fields.
set(QX_PACKAGE_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
file(STRINGS ${PROJECT_SOURCE_DIR}/res/ProductIdentity.h identity REGEX "^#define QX_(MANUFACTURER|PRODUCT_NAME) ")
foreach(line IN LISTS identity)
  if(line MATCHES "^#define (QX_[A-Z_]+) L\"([^\"]*)\"")
    set(${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
  endif()
endforeach()
string(TIMESTAMP QX_COPYRIGHT_YEAR "%Y" UTC)

# qx_version_resource(<target> <file name> <description>): the VERSIONINFO
# of a binary shipped under that file name.
function(qx_version_resource target filename description)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(QX_FILE_TYPE VFT_APP)
  else()
    set(QX_FILE_TYPE VFT_DLL)
  endif()
  set(QX_FILE_DESCRIPTION "${description}")
  set(QX_ORIGINAL_FILENAME "${filename}")
  get_filename_component(QX_INTERNAL_NAME ${filename} NAME_WE)
  set(rc ${CMAKE_BINARY_DIR}/version/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/Version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
