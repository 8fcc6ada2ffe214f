#!/usr/bin/env bash
# A vendor's release, made as the README says: the product built in a
# folder of its own with QX_RELEASE=1, signed through a key in hardware
# (SoftHSM2) and timestamped by the vendor's authority (one on the loopback
# address). First with the authority out of reach, which must fail the
# build; then with it. Every shipped file must carry the hardware key's
# signature and a timestamp, and the signed folder must install, through
# the real-install scenarios of the test build run on its files.
#   vendor-release-build.sh SOURCE_DIR TEST_BUILD_DIR
set -euo pipefail
source_dir="$(cd "${1:?source folder}" && pwd)"
test_build="$(cd "${2:?the test build folder}" && pwd)"
# shellcheck source=../support/signing-fixtures.sh
source "$source_dir/tests/support/signing-fixtures.sh"

work="$(mktemp -d)"
cleanup() {
  qx_stop_authority
  rm -rf "$work"
}
trap cleanup EXIT
qx_start_authority "$work/authority" 1
qx_make_hardware_key "$work/hsm"
export QX_RELEASE=1
vendor="$work/build"

echo "== configure a release build in $vendor"
(cd "$source_dir" && cmake --preset release -B "$vendor" -DBUILD_TESTING=OFF >"$work/configure.log" 2>&1) || {
  cat "$work/configure.log"
  exit 1
}

echo "== the release built while the authority cannot be reached: must fail"
if QX_TIMESTAMP_URL="$(qx_unreachable_url)" cmake --build "$vendor" -j2 --target qx_sign_product >"$work/unreachable.log" 2>&1; then
  echo "FAILED: the release was built without a timestamp"
  exit 1
fi
grep "a release signature must be timestamped, but" "$work/unreachable.log" || {
  echo "FAILED: the build did not say why it failed:"
  tail -30 "$work/unreachable.log"
  exit 1
}
# Nothing it left in the product folder carries a signature without a timestamp.
for file in "$vendor"/product/*.exe "$vendor"/product/*.dll "$vendor"/product/*.msi; do
  [ -f "$file" ] || continue
  got="$(qx_timestamp_of "$file" "$QX_PKCS11_CERT" "$QX_AUTHORITY_CERT")"
  if [ "$got" = signed ]; then
    echo "FAILED: $(basename "$file") was left signed without a timestamp"
    exit 1
  fi
done

echo "== the release built with the authority (busy at first)"
QX_TIMESTAMP_URL="$QX_AUTHORITY_URL" cmake --build "$vendor" -j2 --target qx_sign_product >"$work/release.log" 2>&1 || {
  tail -40 "$work/release.log"
  exit 1
}
grep -m1 "Signing with the key in hardware" "$work/release.log"
grep -q "asking again" "$work/release.log" || { echo "FAILED: the busy authority was not asked again"; exit 1; }

echo "== every shipped file signed by the hardware key and timestamped"
QX_SIGN_CAFILE="$QX_PKCS11_CERT" python3 "$source_dir/tests/modules/check_signatures.py" \
  --cafile "$QX_PKCS11_CERT" --tsa-cafile "$QX_AUTHORITY_CERT" "$vendor/product"
if ! qx_holds_no_key "$vendor/signing"; then
  echo "FAILED: a key was written to the signing folder"
  exit 1
fi

echo "== the signed folder installs"
export QX_BUILD_DIR="$test_build"
scenarios=(bash "$source_dir/cmake/wine-run.sh" "$test_build/tests/scenario_tests.exe")
installs="RealInstallTest.LauncherInstallsTheProductAndAgainCleanly"
# The scenarios take the shipped files from QX_SHIPPED_DIR: named a folder
# that does not exist, they must fail, or they would not show the vendor's.
if QX_SHIPPED_DIR='Z:\nowhere\product' "${scenarios[@]}" "--gtest_filter=$installs" >"$work/nowhere.log" 2>&1; then
  echo "FAILED: the scenarios did not take their files from QX_SHIPPED_DIR"
  exit 1
fi
export QX_SHIPPED_DIR="Z:${vendor//\//\\}\\product"
"${scenarios[@]}" "--gtest_filter=$installs:DeploymentTest.UninstallRemovesTheProductAndThenFindsNothingToRemove"
