#!/usr/bin/env bash
# Files that are not the product's own, made from signed ones, for the tests
# of the checks against the program's signature:
#   OUT/unsigned/NAME   the signature removed
#   OUT/other/NAME      signed by another publisher's test certificate
#   OUT/changed/NAME    a program or module changed after signing: one byte
#                       of its header (the link time stamp), so it still loads
#   OUT/release/NAME    a file of another release, signed by the product's own
#                       certificate: the version set back (the package's
#                       ProductVersion, a binary's VERSIONINFO), signed again
#   OUT/expired/NAME    signed by a certificate that expired (valid in 2020
#                       only), without a timestamp
#   OUT/expired-late/NAME the same, timestamped today: after the expiry
# Usage: make-variants.sh OUT_DIR SIGN_DIR SIGNED_FILE... [-- RELEASE_FILE...]
set -euo pipefail
out="${1:?output folder}"
signdir="${2:?signing folder}"
shift 2
# The files of another release: those after "--".
release=()
files=()
seen_separator=false
for arg in "$@"; do
  if [ "$arg" = "--" ]; then seen_separator=true; elif $seen_separator; then release+=("$arg"); else files+=("$arg"); fi
done
set -- "${files[@]}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
osslsigncode="${OSSLSIGNCODE:-osslsigncode}"
openssl="${OPENSSL:-openssl}"
mkdir -p "$out/unsigned" "$out/other" "$out/changed" "$out/work"
for file in "$@"; do
  name="$(basename "$file")"
  # Made again only when the signed file is newer.
  if [ "$out/unsigned/$name" -nt "$file" ] && [ -f "$out/other/$name" ]; then continue; fi
  rm -f "$out/work/$name"
  "$osslsigncode" remove-signature -in "$file" -out "$out/work/$name" >/dev/null
  mv -f "$out/work/$name" "$out/unsigned/$name"
  case "$name" in
    *.exe|*.dll)
      python3 - "$file" "$out/changed/$name" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
pe = struct.unpack_from("<I", data, 0x3C)[0]
data[pe + 8] ^= 0x01   # TimeDateStamp of the file header: covered by the digest
open(sys.argv[2], "wb").write(data)
PY
      ;;
  esac
done
# Another publisher signs copies of the unsigned files.
rm -rf "$out/work/other"
mkdir -p "$out/work/other"
for file in "$@"; do cp -f "$out/unsigned/$(basename "$file")" "$out/work/other/"; done
QX_SIGN_AS=other bash "$here/../../companions/package/sign-product.sh" "$out/work/other" "$signdir" other-variants >/dev/null
for file in "$@"; do mv -f "$out/work/other/$(basename "$file")" "$out/other/"; done

# Another release of the product's own files, signed as the product is.
mkdir -p "$out/release" "$out/work/release"
for file in "${release[@]}"; do
  name="$(basename "$file")"
  if [ "$out/release/$name" -nt "$file" ]; then continue; fi
  rm -f "$out/work/release/$name" "$out/work/release/$name.unsigned"
  "$osslsigncode" remove-signature -in "$file" -out "$out/work/release/$name.unsigned" >/dev/null
  case "$name" in
    *.msi)
      mv -f "$out/work/release/$name.unsigned" "$out/work/release/$name"
      msibuild "$out/work/release/$name" -q "UPDATE Property SET Value='0.9.0' WHERE Property='ProductVersion'"
      ;;
    *)
      python3 "$here/set-version-back.py" "$out/work/release/$name.unsigned" "$out/work/release/$name" >/dev/null
      rm -f "$out/work/release/$name.unsigned"
      ;;
  esac
done
if [ "${#release[@]}" -gt 0 ]; then
  bash "$here/../../companions/package/sign-product.sh" "$out/work/release" "$signdir" release-variants >/dev/null
  for file in "${release[@]}"; do
    name="$(basename "$file")"
    if [ -f "$out/work/release/$name" ]; then mv -f "$out/work/release/$name" "$out/release/$name"; fi
  done
fi

# Signed by a certificate that has expired, without a timestamp and with one
# from after the expiry (osslsigncode's own time-stamping, by a test
# authority made here): refused either way. The certificate and the
# authority are made once, in the signing folder.
expired_cert="$signdir/expired-codesign.pem"
expired_key="$signdir/expired-codesign.key"
tsa_cert="$signdir/variants-tsa.pem"
tsa_key="$signdir/variants-tsa.key"
if [ ! -s "$expired_cert" ] || [ ! -s "$tsa_cert" ]; then
  ca="$out/work/expired-ca"
  rm -rf "$ca"
  mkdir -p "$ca/new"
  : >"$ca/index.txt"
  echo 01 >"$ca/serial"
  cat >"$ca/ca.cnf" <<EOF
[ ca ]
default_ca = expired
[ expired ]
database = $ca/index.txt
new_certs_dir = $ca/new
serial = $ca/serial
default_md = sha256
policy = any
x509_extensions = codesign
unique_subject = no
[ any ]
commonName = supplied
organizationName = optional
[ codesign ]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
[ req ]
distinguished_name = dn
[ dn ]
EOF
  (
    umask 077
    # openssl ca, because it alone sets a validity in the past.
    "$openssl" req -new -newkey rsa:2048 -nodes -keyout "$expired_key" -out "$ca/expired.csr" -config "$ca/ca.cnf" \
      -subj "/CN=Selkirk-Vane Expired Test Code Signing/O=Selkirk-Vane" 2>/dev/null
    "$openssl" ca -batch -config "$ca/ca.cnf" -selfsign -keyfile "$expired_key" -in "$ca/expired.csr" \
      -out "$expired_cert" -startdate 20200101000000Z -enddate 20210101000000Z -notext >/dev/null 2>&1
    "$openssl" req -x509 -newkey rsa:2048 -sha256 -days 3650 -nodes -keyout "$tsa_key" -out "$tsa_cert" \
      -subj "/CN=Variants Test Time Stamping/O=Signing Tests" -addext "basicConstraints=critical,CA:FALSE" \
      -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=critical,timeStamping" 2>/dev/null
  )
  rm -rf "$ca"
fi
mkdir -p "$out/expired" "$out/expired-late"
for file in "$@"; do
  name="$(basename "$file")"
  if [ "$out/expired-late/$name" -nt "$out/unsigned/$name" ]; then continue; fi
  for variant in expired expired-late; do
    stamp=()
    [ "$variant" = expired-late ] && stamp=(-TSA-certs "$tsa_cert" -TSA-key "$tsa_key")
    rm -f "$out/work/$name"
    "$osslsigncode" sign -certs "$expired_cert" -key "$expired_key" -h sha256 "${stamp[@]}" \
      -in "$out/unsigned/$name" -out "$out/work/$name" >/dev/null
    mv -f "$out/work/$name" "$out/$variant/$name"
  done
done
