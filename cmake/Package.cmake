# The product folder as one ZIP with its checksum, made after signing.
set(QX_PRODUCT_ZIP ${CMAKE_BINARY_DIR}/QXPrism-P4000-Setup-x64.zip)
add_custom_target(product_zip ALL
  COMMAND ${CMAKE_COMMAND} -DPRODUCT_DIR=${QX_PRODUCT_DIR} -DZIP=${QX_PRODUCT_ZIP}
          -P ${PROJECT_SOURCE_DIR}/companions/package/ZipProduct.cmake
  BYPRODUCTS ${QX_PRODUCT_ZIP} ${QX_PRODUCT_ZIP}.sha256
  COMMENT "Product ZIP and checksum" VERBATIM)
add_dependencies(product_zip qx_sign_product)

if(BUILD_TESTING)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME product_zip_contents
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/modules/check_product_zip.py
            ${QX_PRODUCT_ZIP} ${QX_PRODUCT_DIR})
endif()

# The Windows Package Manager's manifest of this ZIP (schema 1.10.0), in
# winget/ beside it; QX_RELEASE_URL in the build's environment is where the
# vendor publishes the ZIP.
set(QX_WINGET_DIR ${CMAKE_BINARY_DIR}/winget)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_target(winget_manifest ALL
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/make_winget_manifest.py ${QX_WINGET_DIR}
          ${QX_PRODUCT_ZIP} ${QX_PACKAGE_VERSION} ${PROJECT_SOURCE_DIR}
  COMMENT "Package manager's manifest" VERBATIM)
add_dependencies(winget_manifest product_zip)

if(BUILD_TESTING)
  # Debian's interpreter, which has the YAML reader and the schema validator.
  find_program(QX_SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
  add_test(NAME winget_manifest
    COMMAND ${QX_SYSTEM_PYTHON} ${PROJECT_SOURCE_DIR}/tests/modules/check_winget_manifest.py ${QX_WINGET_DIR}
            ${PROJECT_SOURCE_DIR}/../shared/winget ${QX_PRODUCT_ZIP} ${QX_PACKAGE_VERSION} ${PROJECT_SOURCE_DIR})
endif()
