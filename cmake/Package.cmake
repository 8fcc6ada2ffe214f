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
