#!/usr/bin/env bash
# A program of the product pinned to other files, as a release built with
# them would pin them: the benchmark's driver-sized package and the
# install-actions double stand in for this release's files, so the signed
# launcher uses them with every check it makes on a shipped folder.
#   repin.sh SIGNED_BINARY OUT_BINARY SIGN_DIR NAME=PATH...
# The binary's signature is removed, the pins named are set to the hashes of
# the given files (the same length, so nothing else moves), and the result is
# signed again as the product is.
set -euo pipefail
in="${1:?signed binary}"
out="${2:?output binary}"
signdir="${3:?signing folder}"
shift 3
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
name="$(basename "$out")"
"${OSSLSIGNCODE:-osslsigncode}" remove-signature -in "$in" -out "$work/$name" >/dev/null
python3 - "$work/$name" "$@" <<'PY'
import hashlib, re, sys
path, pairs = sys.argv[1], sys.argv[2:]
data = open(path, "rb").read()
for pair in pairs:
    pinned, _, source = pair.partition("=")
    digest = hashlib.sha256(open(source, "rb").read()).hexdigest().encode()
    pattern = re.compile(re.escape(pinned.encode()) + rb" [0-9a-f]{64}")
    data, count = pattern.subn(pinned.encode() + b" " + digest, data)
    if count != 1:
        sys.exit(f"repin.sh: {pinned} is pinned {count} times in {path}")
open(path, "wb").write(data)
PY
bash "$here/../companions/package/sign-product.sh" "$work" "$signdir" "repin-$name" >/dev/null
mv -f "$work/$name" "$out"
