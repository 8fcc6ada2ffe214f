#!/usr/bin/env bash
# A hardware key for the signing tests: a SoftHSM2 token of its own in
# FOLDER, holding a code-signing key, and the key's self-signed certificate
# beside it. The key is made in FOLDER only to be imported, and removed at
# once; from then on it exists only inside the token.
#   softhsm-token.sh FOLDER
# Writes FOLDER/pkcs11.env: the variables sign-product.sh reads for a key in
# hardware (QX_PKCS11_*), and SOFTHSM2_CONF, which points SoftHSM at the
# token. The caller removes FOLDER.
set -euo pipefail
folder="$(mkdir -p "${1:?folder}" && cd "$1" && pwd)"
openssl="${OPENSSL:-openssl}"
module=""
for candidate in /usr/lib/softhsm/libsofthsm2.so /usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so; do
  [ -f "$candidate" ] && module="$candidate" && break
done
[ -n "$module" ] || { echo "softhsm-token.sh: SoftHSM2 is not installed (Debian's softhsm2)" >&2; exit 1; }

pin=246810
mkdir -p "$folder/tokens"
cat >"$folder/softhsm2.conf" <<EOF
directories.tokendir = $folder/tokens
objectstore.backend = file
log.level = ERROR
EOF
export SOFTHSM2_CONF="$folder/softhsm2.conf"
softhsm2-util --init-token --free --label qx-vendor --pin "$pin" --so-pin 135791 >/dev/null

(
  umask 077
  "$openssl" req -x509 -newkey rsa:3072 -sha256 -days 30 -nodes \
    -keyout "$folder/key.pem" -out "$folder/vendor-codesign.pem" \
    -subj "/CN=Selkirk-Vane Hardware Key Test Code Signing/O=Selkirk-Vane" \
    -addext "basicConstraints=critical,CA:FALSE" \
    -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=codeSigning" 2>/dev/null
  "$openssl" pkcs8 -topk8 -nocrypt -in "$folder/key.pem" -out "$folder/key.p8"
)
softhsm2-util --import "$folder/key.p8" --token qx-vendor --label code-signing --id 01 --pin "$pin" >/dev/null
rm -f "$folder/key.pem" "$folder/key.p8"

cat >"$folder/pkcs11.env" <<EOF
export SOFTHSM2_CONF='$folder/softhsm2.conf'
export QX_PKCS11_MODULE='$module'
export QX_PKCS11_KEY='pkcs11:token=qx-vendor;object=code-signing;type=private'
export QX_PKCS11_CERT='$folder/vendor-codesign.pem'
export QX_PKCS11_PIN='$pin'
EOF
