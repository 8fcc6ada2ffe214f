#!/usr/bin/env bash
# Signs every program, module and package in the product folder with
# Authenticode.   Usage: sign-product.sh PRODUCT_DIR SIGN_DIR
#
# The vendor certificate is a PKCS#12 file named by QX_SIGN_PFX, its
# password in QX_SIGN_PASSWORD. Without it a self-signed test certificate is
# made once in SIGN_DIR (a build folder, never committed).
#
# Each file is signed into SIGN_DIR and then moved over the original, so a
# failed run never leaves a half-written binary behind. SIGN_DIR/signed.txt
# remembers what each file looked like after signing: a file is signed again
# only when it changed since (relinked, rebuilt) or the certificate did.
set -euo pipefail

product="${1:?product folder}"
signdir="${2:?signing folder}"
osslsigncode="${OSSLSIGNCODE:-osslsigncode}"
openssl="${OPENSSL:-openssl}"

mkdir -p "$signdir/work"
chmod 700 "$signdir"

if [ -n "${QX_SIGN_PFX:-}" ]; then
  if [ ! -f "$QX_SIGN_PFX" ]; then
    echo "sign-product.sh: QX_SIGN_PFX names no file: $QX_SIGN_PFX" >&2
    exit 1
  fi
  identity="pfx:$(sha256sum <"$QX_SIGN_PFX" | cut -d' ' -f1)"
  # The password goes through a pipe, never onto a command line or disk.
  sign_file() {
    printf '%s' "${QX_SIGN_PASSWORD:-}" |
      "$osslsigncode" sign -pkcs12 "$QX_SIGN_PFX" -readpass - "$@"
  }
else
  cert="$signdir/test-codesign.pem"
  key="$signdir/test-codesign.key"
  if [ ! -s "$cert" ] || [ ! -s "$key" ]; then
    echo "Making a self-signed test code-signing certificate in $signdir"
    (
      umask 077
      "$openssl" req -x509 -newkey rsa:3072 -sha256 -days 3650 -nodes \
        -keyout "$key.tmp" -out "$cert.tmp" \
        -subj "/CN=Selkirk-Vane Test Code Signing/O=Selkirk-Vane" \
        -addext "basicConstraints=critical,CA:FALSE" \
        -addext "keyUsage=critical,digitalSignature" \
        -addext "extendedKeyUsage=codeSigning" 2>/dev/null
    )
    mv -f "$key.tmp" "$key"
    mv -f "$cert.tmp" "$cert"
  fi
  identity="test:$(sha256sum <"$cert" | cut -d' ' -f1)"
  sign_file() { "$osslsigncode" sign -certs "$cert" -key "$key" "$@"; }
fi

stamp="$signdir/signed.txt"
declare -A signed=()
if [ -f "$stamp" ]; then
  while read -r who hash name; do
    [ "$who" = "$identity" ] && signed["$name"]="$hash"
  done <"$stamp"
fi

shopt -s nullglob nocaseglob
new_stamp="$signdir/work/signed.txt"
: >"$new_stamp"
count=0
for file in "$product"/*.exe "$product"/*.dll "$product"/*.msi; do
  [ -f "$file" ] || continue
  name="$(basename "$file")"
  hash="$(sha256sum <"$file" | cut -d' ' -f1)"
  if [ "${signed[$name]:-}" != "$hash" ]; then
    out="$signdir/work/$name"
    rm -f "$out"
    if ! log="$(sign_file -h sha256 -n "QX Prism P4000 Series" -i "https://www.selkirk-vane.example/" \
      -in "$file" -out "$out" 2>&1)"; then
      echo "sign-product.sh: signing $name failed:" >&2
      echo "$log" >&2
      rm -f "$out"
      exit 1
    fi
    mv -f "$out" "$file"
    hash="$(sha256sum <"$file" | cut -d' ' -f1)"
    count=$((count + 1))
  fi
  printf '%s %s %s\n' "$identity" "$hash" "$name" >>"$new_stamp"
done
mv -f "$new_stamp" "$stamp"
echo "Signed $count file(s) in $product"
