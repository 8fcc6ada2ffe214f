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
