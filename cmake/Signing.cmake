# Authenticode signatures on every program, module and package of the
# product folder, each right after it is built (see qx_sign_file). The key is the
# vendor's (a key in hardware, QX_PKCS11_*, or QX_SIGN_PFX and
# QX_SIGN_PASSWORD in the build's environment) or a self-signed test
# certificate the build makes in its own folder. QX_TIMESTAMP_URL and
# QX_RELEASE=1 are read from the build's environment too
# (companions/package/sign-product.sh says what each does).
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

# The certificate, made once before any file is signed.
set(QX_SIGN_ENV ${CMAKE_COMMAND} -E env OSSLSIGNCODE=${QX_OSSLSIGNCODE} OPENSSL=${QX_OPENSSL})
add_custom_target(qx_signing_certificate
  COMMAND ${QX_SIGN_ENV} QX_SIGN_ONLY=none bash ${PROJECT_SOURCE_DIR}/companions/package/sign-product.sh
          ${QX_PRODUCT_DIR} ${QX_SIGN_DIR} certificate
  VERBATIM)

# Each file of the product folder is signed on its own, right after it is
# built, because the files of a release pin one another by the hash of the
# signed file, in this order: the package; the install-actions module (which
# pins the package); the launcher (the modules it loads and the package);
# the Pad (the launcher). A file that did not change since it was signed is
# left alone. qx_sign_file(<file name> <target that builds it>)
function(qx_sign_file filename built_by)
  string(MAKE_C_IDENTIFIER ${filename} id)
  add_custom_target(qx_sign_${id}
    COMMAND ${QX_SIGN_ENV} QX_SIGN_ONLY=${filename} bash ${PROJECT_SOURCE_DIR}/companions/package/sign-product.sh
            ${QX_PRODUCT_DIR} ${QX_SIGN_DIR} file-${id}
    COMMENT "Signing ${filename}" VERBATIM)
  add_dependencies(qx_sign_${id} ${built_by} qx_signing_certificate)
  set_property(GLOBAL APPEND PROPERTY QX_SIGN_FILE_TARGETS qx_sign_${id})
endfunction()

# The pins a program carries (framework/ReleasePins.h): the hashes of the
# signed files it uses, written into a resource script of its own before it
# is compiled. qx_release_pins(<target> <file name>...)
function(qx_release_pins target)
  set(pairs "")
  set(signed "")
  foreach(filename IN LISTS ARGN)
    string(MAKE_C_IDENTIFIER ${filename} id)
    list(APPEND pairs ${filename}=${QX_PRODUCT_DIR}/${filename})
    list(APPEND signed qx_sign_${id})
  endforeach()
  set(rc ${CMAKE_BINARY_DIR}/pins/${target}.rc)
  add_custom_target(qx_pins_${target}
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/write_pins.py ${rc} ${pairs}
    BYPRODUCTS ${rc} VERBATIM)
  add_dependencies(qx_pins_${target} ${signed})
  target_sources(${target} PRIVATE ${rc})
  add_dependencies(${target} qx_pins_${target})
endfunction()

find_package(Python3 REQUIRED COMPONENTS Interpreter)
qx_sign_file(QXPRP4005.msi qx_package)
qx_release_pins(QXVInstallActions64 QXPRP4005.msi)
qx_sign_file(QXVInstallActions64.dll QXVInstallActions64)
qx_sign_file(CustomActionData64.dll CustomActionData64)
qx_sign_file(QXPRP4005P64.dll QXPRP4005P64)
qx_sign_file(QXVSetupRES64.dll QXVSetupRES64)
qx_release_pins(QXVSetup64 QXVInstallActions64.dll CustomActionData64.dll QXPRP4005P64.dll QXPRP4005.msi)
qx_sign_file(QXVSetup64.exe QXVSetup64)
qx_release_pins(Pad QXVSetup64.exe)
qx_sign_file(Setup.exe Pad)

# The whole product folder signed: what the ZIP, the tests and the demo wait for.
add_custom_target(qx_sign_product ALL)
get_property(QX_SIGN_FILE_TARGETS GLOBAL PROPERTY QX_SIGN_FILE_TARGETS)
add_dependencies(qx_sign_product ${QX_SIGN_FILE_TARGETS} ${QX_PRODUCT_BUILD_TARGETS})

if(BUILD_TESTING)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME product_signatures
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/modules/check_signatures.py
            --osslsigncode ${QX_OSSLSIGNCODE} --cafile ${QX_TEST_SIGN_CERT} ${QX_PRODUCT_DIR})
  # The signing script's ways (a development build, the vendor's authority
  # busy or out of reach, a key in hardware, a release refused), each on
  # copies of two shipped files.
  add_test(NAME signing_script_timestamps_and_hardware_keys
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/trust/check-signing-script.sh ${QX_PRODUCT_DIR})
  # A vendor's release built as the README says, in a build folder of its
  # own (about a minute), through a hardware key and an authority on the
  # loopback address; its folder then installs.
  add_test(NAME vendor_release_build_signs_timestamps_and_installs
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/trust/vendor-release-build.sh ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
  set_tests_properties(signing_script_timestamps_and_hardware_keys vendor_release_build_signs_timestamps_and_installs
    PROPERTIES ENVIRONMENT "OSSLSIGNCODE=${QX_OSSLSIGNCODE};OPENSSL=${QX_OPENSSL}" TIMEOUT 300)
  set_tests_properties(vendor_release_build_signs_timestamps_and_installs PROPERTIES RESOURCE_LOCK wineprefix TIMEOUT 1500)
endif()

# A signed launcher uses only files signed as it is: the tests' doubles and
# packages, and the demo's restart package, are signed by the same
# certificate as the product folder, each folder with a stamp of its own.
# qx_sign_folder(<target> <folder> [LEAVE_UNSIGNABLE] <target it signs>...)
function(qx_sign_folder target folder)
  cmake_parse_arguments(PARSE_ARGV 2 sign "LEAVE_UNSIGNABLE" "" "")
  set(leave "")
  if(sign_LEAVE_UNSIGNABLE)
    set(leave QX_SIGN_LEAVE_UNSIGNABLE=1)
  endif()
  add_custom_target(${target} ALL
    COMMAND ${CMAKE_COMMAND} -E env OSSLSIGNCODE=${QX_OSSLSIGNCODE} OPENSSL=${QX_OPENSSL} ${leave}
            bash ${PROJECT_SOURCE_DIR}/companions/package/sign-product.sh ${folder} ${QX_SIGN_DIR} ${target}
    COMMENT "Signing ${folder}" VERBATIM)
  # After the product folder, whose run makes the test certificate.
  add_dependencies(${target} qx_sign_product ${sign_UNPARSED_ARGUMENTS})
endfunction()
qx_sign_folder(qx_sign_demo ${CMAKE_BINARY_DIR}/demo qx_package)

if(BUILD_TESTING)
  # tests/CMakeLists.txt names these folders in its own scope.
  set(QX_TEST_DIR ${CMAKE_BINARY_DIR}/tests)
  set(QX_DOUBLES_DIR ${QX_TEST_DIR}/doubles)
  set(QX_SIGNED_TEST_FOLDERS "")
  foreach(double IN ITEMS actions pad reporter reporter-noexport reporter-null)
    string(REPLACE "-" "_" stamp ${double})
    qx_sign_folder(qx_sign_double_${stamp} ${QX_DOUBLES_DIR}/${double} qx_doubles)
    list(APPEND QX_SIGNED_TEST_FOLDERS qx_sign_double_${stamp})
  endforeach()
    # The damaged test packages stay unsigned: no signature fits them.
  qx_sign_folder(qx_sign_fixtures ${QX_TEST_DIR}/fixtures LEAVE_UNSIGNABLE qx_fixtures)
  qx_sign_folder(qx_sign_stress_packages ${QX_TEST_DIR}/stress/packages qx_stress_packages)
  # Files that are not the product's own: unsigned, another publisher's, and
  # changed after signing (tests/trust/make-variants.sh).
  set(QX_TRUST_VARIANTS_DIR ${QX_TEST_DIR}/trust)
  add_custom_target(qx_trust_variants ALL
    COMMAND ${CMAKE_COMMAND} -E env OSSLSIGNCODE=${QX_OSSLSIGNCODE} OPENSSL=${QX_OPENSSL}
            bash ${PROJECT_SOURCE_DIR}/tests/trust/make-variants.sh ${QX_TRUST_VARIANTS_DIR} ${QX_SIGN_DIR}
            ${QX_PRODUCT_DIR}/QXVSetup64.exe ${QX_PRODUCT_DIR}/QXVInstallActions64.dll
            ${QX_PRODUCT_DIR}/CustomActionData64.dll ${QX_PRODUCT_DIR}/QXPRP4005.msi
            ${QX_DOUBLES_DIR}/reporter/QXPRP4005P64.dll ${QX_DOUBLES_DIR}/pad/Setup.exe
            -- ${QX_PRODUCT_DIR}/QXVSetup64.exe ${QX_PRODUCT_DIR}/QXVInstallActions64.dll
            ${QX_PRODUCT_DIR}/CustomActionData64.dll ${QX_PRODUCT_DIR}/QXPRP4005P64.dll ${QX_PRODUCT_DIR}/Setup.exe
            ${QX_PRODUCT_DIR}/QXPRP4005.msi
    COMMENT "Files that are not the product's own" VERBATIM)
  add_dependencies(qx_trust_variants ${QX_SIGNED_TEST_FOLDERS})
  # The shipped Pad with its signature removed: it starts the unsigned
  # launcher copy the tests run with their doubles (the signed Pad pins the
  # signed launcher and starts no other).
  add_custom_target(qx_unsigned_pad ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QX_TEST_DIR}/unsigned
    COMMAND ${QX_OSSLSIGNCODE} remove-signature -in ${QX_PRODUCT_DIR}/Setup.exe -out ${QX_TEST_DIR}/unsigned/Setup.exe.tmp
    COMMAND ${CMAKE_COMMAND} -E rename ${QX_TEST_DIR}/unsigned/Setup.exe.tmp ${QX_TEST_DIR}/unsigned/Setup.exe
    COMMENT "The Pad without its signature, for the tests" VERBATIM)
  add_dependencies(qx_unsigned_pad qx_sign_product)
  add_custom_target(qx_signed_tests DEPENDS ${QX_SIGNED_TEST_FOLDERS} qx_sign_fixtures qx_sign_stress_packages
    qx_sign_demo qx_trust_variants qx_unsigned_pad)
  # A copy of the module tests' host program signed as the product is, so
  # the shipped install-actions module checks packages in it as it does
  # inside the signed launcher (tests/modules/CMakeLists.txt runs the checks'
  # tests in it); the host itself stays unsigned, as a development build,
  # and installs the test packages.
  add_custom_target(qx_sign_module_host ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/signed-host
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:module_tests> ${CMAKE_BINARY_DIR}/signed-host/
    COMMAND ${CMAKE_COMMAND} -E env OSSLSIGNCODE=${QX_OSSLSIGNCODE} OPENSSL=${QX_OPENSSL}
            bash ${PROJECT_SOURCE_DIR}/companions/package/sign-product.sh ${CMAKE_BINARY_DIR}/signed-host ${QX_SIGN_DIR} module-host
    COMMENT "Signing a copy of the module tests' host" VERBATIM)
  add_dependencies(qx_sign_module_host module_tests qx_sign_product)
  foreach(test_program IN ITEMS scenario_tests stress_tests module_tests runonce_arm)
    add_dependencies(${test_program} qx_signed_tests)
  endforeach()
endif()
