# Authenticode signatures on every program, module and package of the
# product folder, made after all of them are built. The certificate is the
# vendor's (QX_SIGN_PFX, QX_SIGN_PASSWORD in the build's environment) or a
# self-signed test certificate the build makes in its own folder.
find_program(QX_OSSLSIGNCODE osslsigncode REQUIRED)
find_program(QX_OPENSSL openssl REQUIRED)
set(QX_SIGN_DIR ${CMAKE_BINARY_DIR}/signing)
set(QX_TEST_SIGN_CERT ${QX_SIGN_DIR}/test-codesign.pem)

# Every target that writes into the product folder, in any directory, and
# those that announce themselves through QX_PRODUCT_TARGETS.
function(qx_collect_product_targets dir outvar)
  set(found ${${outvar}})
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
      get_target_property(out ${target} RUNTIME_OUTPUT_DIRECTORY)
      if(out STREQUAL QX_PRODUCT_DIR)
        list(APPEND found ${target})
      endif()
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    qx_collect_product_targets(${sub} found)
  endforeach()
  set(${outvar} ${found} PARENT_SCOPE)
endfunction()

set(QX_PRODUCT_BUILD_TARGETS "")
qx_collect_product_targets(${PROJECT_SOURCE_DIR} QX_PRODUCT_BUILD_TARGETS)
get_property(QX_ANNOUNCED_PRODUCT_TARGETS GLOBAL PROPERTY QX_PRODUCT_TARGETS)
list(APPEND QX_PRODUCT_BUILD_TARGETS ${QX_ANNOUNCED_PRODUCT_TARGETS})
list(REMOVE_DUPLICATES QX_PRODUCT_BUILD_TARGETS)

# Runs on every build; files that did not change since they were signed are
# left alone.
add_custom_target(qx_sign_product ALL
  COMMAND ${CMAKE_COMMAND} -E env OSSLSIGNCODE=${QX_OSSLSIGNCODE} OPENSSL=${QX_OPENSSL}
          bash ${PROJECT_SOURCE_DIR}/companions/package/sign-product.sh ${QX_PRODUCT_DIR} ${QX_SIGN_DIR}
  COMMENT "Signing the product folder" VERBATIM)
add_dependencies(qx_sign_product ${QX_PRODUCT_BUILD_TARGETS})

if(BUILD_TESTING)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME product_signatures
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/modules/check_signatures.py
            --osslsigncode ${QX_OSSLSIGNCODE} --cafile ${QX_TEST_SIGN_CERT} ${QX_PRODUCT_DIR})
endif()
