#!/usr/bin/env bash
# The signing script's ways, each a row run on copies of two shipped files
# (a module and the package) in a folder of the test's own: a development
# build, the vendor's authority (busy at first, unreachable), a key in
# hardware (SoftHSM2), and a release that cannot be timestamped.
#   check-signing-script.sh PRODUCT_DIR
set -euo pipefail
product="${1:?product folder}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
script="$here/../../companions/package/sign-product.sh"
osslsigncode="${OSSLSIGNCODE:-osslsigncode}"
# shellcheck source=../support/signing-fixtures.sh
source "$here/../support/signing-fixtures.sh"

work="$(mktemp -d)"
cleanup() {
  qx_stop_authority
  rm -rf "$work"
}
trap cleanup EXIT
qx_start_authority "$work/authority" 2
qx_make_hardware_key "$work/hsm"
# The hardware key's settings stay out of the rows that sign with a file.
hardware=(QX_PKCS11_MODULE="$QX_PKCS11_MODULE" QX_PKCS11_KEY="$QX_PKCS11_KEY" QX_PKCS11_CERT="$QX_PKCS11_CERT"
  QX_PKCS11_PIN="$QX_PKCS11_PIN")
unset QX_PKCS11_MODULE QX_PKCS11_KEY QX_PKCS11_CERT QX_PKCS11_PIN
unreachable="$(qx_unreachable_url)"
files=(CustomActionData64.dll QXPRP4005.msi)

failures=0
fail() {
  echo "FAILED: $row: $*"
  failures=$((failures + 1))
}

# fresh: unsigned copies in $work/folder and an empty signing folder.
fresh() {
  rm -rf "$work/folder" "$work/sign"
  mkdir -p "$work/folder" "$work/sign"
  for name in "${files[@]}"; do
    "$osslsigncode" remove-signature -in "$product/$name" -out "$work/folder/$name" >/dev/null
  done
}

# run_script ENV...: the script on the folder; sets $status and $output.
run_script() {
  status=0
  output="$(env -u QX_TIMESTAMP_URL -u QX_RELEASE -u QX_SIGN_PFX "$@" bash "$script" "$work/folder" "$work/sign" 2>&1)" ||
    status=$?
}

# expect_files CERT WANT: each file signed by CERT and "timestamped" or "signed".
expect_files() {
  for name in "${files[@]}"; do
    got="$(qx_timestamp_of "$work/folder/$name" "$1" "$QX_AUTHORITY_CERT")"
    [ "$got" = "$2" ] || fail "$name: $got, not $2"
  done
}

expect_output() {
  printf '%s' "$output" | grep -qF -- "$1" || fail "no \"$1\" in: $output"
}

# A refused run leaves every file as it was: unsigned.
expect_unsigned() {
  for name in "${files[@]}"; do
    local said
    said="$("$osslsigncode" verify -in "$work/folder/$name" 2>&1 || true)"
    printf '%s' "$said" | grep -qE "has no signature|No signature found" || fail "$name was signed"
  done
}

test_cert() { echo "$work/sign/test-codesign.pem"; }

row="a development build: signed, not timestamped, and said so"
fresh
run_script
[ "$status" = 0 ] || fail "exit $status: $output"
expect_output "not timestamped (no QX_TIMESTAMP_URL: a development build"
expect_files "$(test_cert)" signed

row="the same files, an authority now given: signed again, timestamped (busy twice, asked again)"
run_script QX_TIMESTAMP_URL="$QX_AUTHORITY_URL"
[ "$status" = 0 ] || fail "exit $status: $output"
expect_output "did not answer for CustomActionData64.dll (attempt 2 of 4); asking again"
expect_output "Signed 2 file(s) in $work/folder, timestamped by $QX_AUTHORITY_URL"
expect_files "$(test_cert)" timestamped
[ "$(grep -c busy "$work/authority/requests.log")" = 2 ] || fail "the authority was not busy twice"

row="timestamped and unchanged: left alone"
run_script QX_TIMESTAMP_URL="$QX_AUTHORITY_URL"
expect_output "Signed 0 file(s)"

row="a development build whose authority cannot be reached: signed without a timestamp, with a warning"
fresh
run_script QX_TIMESTAMP_URL="$unreachable"
[ "$status" = 0 ] || fail "exit $status: $output"
expect_output "warning: CustomActionData64.dll signed without a timestamp"
expect_output "2 of them not timestamped"
expect_files "$(test_cert)" signed

row="a release with the test certificate: refused"
fresh
run_script QX_RELEASE=1 QX_TIMESTAMP_URL="$QX_AUTHORITY_URL"
[ "$status" != 0 ] || fail "signed"
expect_output "a release is signed with the vendor's key"
expect_unsigned

row="a release with a key in hardware and no authority: refused"
fresh
run_script QX_RELEASE=1 "${hardware[@]}"
[ "$status" != 0 ] || fail "signed"
expect_output "a release signature must be timestamped: set QX_TIMESTAMP_URL"
expect_unsigned

row="a release whose authority cannot be reached: fails, nothing signed"
fresh
run_script QX_RELEASE=1 QX_TIMESTAMP_URL="$unreachable" "${hardware[@]}"
[ "$status" != 0 ] || fail "signed"
expect_output "a release signature must be timestamped, but $unreachable did not timestamp CustomActionData64.dll after 4 attempts"
expect_unsigned

row="a release with a key in hardware and the authority: signed by it, timestamped, no key on disk"
fresh
run_script QX_RELEASE=1 QX_TIMESTAMP_URL="$QX_AUTHORITY_URL" "${hardware[@]}"
[ "$status" = 0 ] || fail "exit $status: $output"
expect_files "${hardware[2]#QX_PKCS11_CERT=}" timestamped
qx_holds_no_key "$work/sign" || fail "a key was written to the signing folder"

row="a key in hardware named in part: refused"
fresh
run_script "${hardware[0]}" "${hardware[2]}"
[ "$status" != 0 ] || fail "signed"
expect_output "a key in hardware needs QX_PKCS11_MODULE, QX_PKCS11_KEY and QX_PKCS11_CERT together"

echo "$failures failure(s)"
[ "$failures" = 0 ]
