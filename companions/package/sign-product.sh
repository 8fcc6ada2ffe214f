#!/usr/bin/env bash
# Signs every program, module and package in a folder with Authenticode.
#   Usage: sign-product.sh FOLDER SIGN_DIR [STAMP_NAME]
#
# The vendor certificate is a PKCS#12 file named by QX_SIGN_PFX, its
# password in QX_SIGN_PASSWORD. Without it a self-signed test certificate is
# made once in SIGN_DIR (a build folder, never committed).
# QX_SIGN_LEAVE_UNSIGNABLE=1 leaves a file that no signature fits (a test
# package damaged on purpose) as it is instead of failing.
# QX_SIGN_ONLY="a.exe b.dll" signs only those files of the folder.
# QX_SIGN_AS=other signs with a second test certificate of another
# publisher instead (made the same way, never the vendor's), for the tests
# of files that are not the product's own.
#
# Each file is signed into SIGN_DIR and then moved over the original, so a
# failed run never leaves a half-written binary behind. SIGN_DIR/signed.txt
# remembers what each file looked like after signing: a file is signed again
# only when it changed since (relinked, rebuilt) or the certificate did.
set -euo pipefail

product="${1:?folder to sign}"
signdir="${2:?signing folder}"
stamp_name="${3:-signed}"
osslsigncode="${OSSLSIGNCODE:-osslsigncode}"
openssl="${OPENSSL:-openssl}"

work="$signdir/work-$stamp_name"
mkdir -p "$work"
chmod 700 "$signdir"

cert_name="test"
subject="/CN=Selkirk-Vane Test Code Signing/O=Selkirk-Vane"
if [ "${QX_SIGN_AS:-}" = "other" ]; then
  cert_name="other"
  subject="/CN=Halvard Systems Test Code Signing/O=Halvard Systems"
  unset QX_SIGN_PFX
fi

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
  cert="$signdir/$cert_name-codesign.pem"
  key="$signdir/$cert_name-codesign.key"
  if [ ! -s "$cert" ] || [ ! -s "$key" ]; then
    echo "Making a self-signed $cert_name code-signing certificate in $signdir"
    (
      umask 077
      "$openssl" req -x509 -newkey rsa:3072 -sha256 -days 3650 -nodes \
        -keyout "$key.tmp" -out "$cert.tmp" \
        -subj "$subject" \
        -addext "basicConstraints=critical,CA:FALSE" \
        -addext "keyUsage=critical,digitalSignature" \
        -addext "extendedKeyUsage=codeSigning" 2>/dev/null
    )
    mv -f "$key.tmp" "$key"
    mv -f "$cert.tmp" "$cert"
  fi
  identity="$cert_name:$(sha256sum <"$cert" | cut -d' ' -f1)"
  sign_file() { "$osslsigncode" sign -certs "$cert" -key "$key" "$@"; }
fi

stamp="$signdir/$stamp_name.txt"
declare -A signed=()
if [ -f "$stamp" ]; then
  while read -r who hash name; do
    [ "$who" = "$identity" ] && signed["$name"]="$hash"
  done <"$stamp"
fi

shopt -s nullglob nocaseglob
new_stamp="$work/$stamp_name.txt"
: >"$new_stamp"
count=0
for file in "$product"/*.exe "$product"/*.dll "$product"/*.msi; do
  [ -f "$file" ] || continue
  name="$(basename "$file")"
  if [ -n "${QX_SIGN_ONLY:-}" ] && [[ " $QX_SIGN_ONLY " != *" $name "* ]]; then continue; fi
  hash="$(sha256sum <"$file" | cut -d' ' -f1)"
  if [ "${signed[$name]:-}" != "$hash" ]; then
    out="$work/$name"
    rm -f "$out"
    if ! log="$(sign_file -h sha256 -n "QX Prism P4000 Series" -i "https://www.selkirk-vane.example/" \
      -in "$file" -out "$out" 2>&1)"; then
      # Test packages damaged on purpose cannot carry a signature.
      if [ -n "${QX_SIGN_LEAVE_UNSIGNABLE:-}" ] && printf '%s' "$log" | grep -q "unsupported input file type"; then
        echo "sign-product.sh: left unsigned, not a file a signature fits: $name"
        rm -f "$out"
        printf '%s %s %s\n' "$identity" "$hash" "$name" >>"$new_stamp"
        continue
      fi
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
