#!/usr/bin/env bash
# Files that are not the product's own, made from signed ones, for the tests
# of the checks against the program's signature:
#   OUT/unsigned/NAME   the signature removed
#   OUT/other/NAME      signed by another publisher's test certificate
#   OUT/changed/NAME    a program or module changed after signing: one byte
#                       of its header (the link time stamp), so it still loads
# Usage: make-variants.sh OUT_DIR SIGN_DIR SIGNED_FILE...
set -euo pipefail
out="${1:?output folder}"
signdir="${2:?signing folder}"
shift 2
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
osslsigncode="${OSSLSIGNCODE:-osslsigncode}"
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
