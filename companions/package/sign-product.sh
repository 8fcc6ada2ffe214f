#!/usr/bin/env bash
# Signs every program, module and package in a folder with Authenticode.
#   Usage: sign-product.sh FOLDER SIGN_DIR [STAMP_NAME]
#
# The vendor's key is one of:
#   a PKCS#12 file: QX_SIGN_PFX, its password in QX_SIGN_PASSWORD;
#   a key held in hardware (a token, an HSM): QX_PKCS11_MODULE names the
#   PKCS#11 module, QX_PKCS11_KEY the key (a PKCS#11 URI, "pkcs11:token=..;
#   object=.."), QX_PKCS11_CERT its certificate file, QX_PKCS11_PIN the PIN;
#   QX_PKCS11_ENGINE the OpenSSL pkcs11 engine when it is not in OpenSSL's
#   engines folder. Nothing of the key leaves the module.
# Without either a self-signed test certificate is made once in SIGN_DIR (a
# build folder, never committed).
# QX_TIMESTAMP_URL names the vendor's RFC 3161 time-stamping authority (more
# than one, space-separated, are tried in turn): every signature then
# carries a timestamp, so it holds after the certificate has expired. A
# busy authority is asked again a few times. Without it (a development
# build) signatures are not timestamped, and the summary says so.
# QX_RELEASE=1 signs a release: it needs the vendor's key and an authority,
# and fails when a signature cannot be timestamped.
# QX_SIGN_LEAVE_UNSIGNABLE=1 leaves a file that no signature fits (a test
# package damaged on purpose) as it is instead of failing.
# QX_SIGN_ONLY="a.exe b.dll" signs only those files of the folder
# (QX_SIGN_ONLY=none: only the checks and the test certificate).
# QX_SIGN_AS=other signs with a second test certificate of another
# publisher instead (made the same way, never the vendor's, never
# timestamped), for the tests of files that are not the product's own.
#
# Each file is signed into SIGN_DIR and then moved over the original, so a
# failed run never leaves a half-written binary behind. SIGN_DIR/signed.txt
# remembers what each file looked like after signing and whether it was
# timestamped: a file is signed again only when it changed since (relinked,
# rebuilt), the certificate did, or it lacks a timestamp now asked for.
set -euo pipefail

product="${1:?folder to sign}"
signdir="${2:?signing folder}"
stamp_name="${3:-signed}"
osslsigncode="${OSSLSIGNCODE:-osslsigncode}"
openssl="${OPENSSL:-openssl}"

work="$signdir/work-$stamp_name"
mkdir -p "$work"
chmod 700 "$signdir"

fail() {
  echo "sign-product.sh: $*" >&2
  exit 1
}

cert_name="test"
subject="/CN=Selkirk-Vane Test Code Signing/O=Selkirk-Vane"
if [ "${QX_SIGN_AS:-}" = "other" ]; then
  cert_name="other"
  subject="/CN=Halvard Systems Test Code Signing/O=Halvard Systems"
  unset QX_SIGN_PFX QX_PKCS11_MODULE QX_PKCS11_KEY QX_PKCS11_CERT QX_PKCS11_PIN QX_TIMESTAMP_URL QX_RELEASE
fi
release=false
[ "${QX_RELEASE:-}" = "1" ] && release=true

if [ -n "${QX_PKCS11_MODULE:-}${QX_PKCS11_KEY:-}${QX_PKCS11_CERT:-}" ]; then
  [ -n "${QX_PKCS11_MODULE:-}" ] && [ -n "${QX_PKCS11_KEY:-}" ] && [ -n "${QX_PKCS11_CERT:-}" ] ||
    fail "a key in hardware needs QX_PKCS11_MODULE, QX_PKCS11_KEY and QX_PKCS11_CERT together"
  [ -f "$QX_PKCS11_MODULE" ] || fail "QX_PKCS11_MODULE names no file: $QX_PKCS11_MODULE"
  [ -f "$QX_PKCS11_CERT" ] || fail "QX_PKCS11_CERT names no file: $QX_PKCS11_CERT"
  [ -z "${QX_SIGN_PFX:-}" ] || fail "give either QX_SIGN_PFX or a key in hardware (QX_PKCS11_*), not both"
  identity="pkcs11:$(sha256sum <"$QX_PKCS11_CERT" | cut -d' ' -f1)"
  key_kind="the key in hardware ($QX_PKCS11_KEY through $QX_PKCS11_MODULE)"
  engine=()
  [ -z "${QX_PKCS11_ENGINE:-}" ] || engine=(-pkcs11engine "$QX_PKCS11_ENGINE")
  # The PIN goes through a pipe, like the password below; the key itself
  # never leaves the module: it signs the digest there.
  sign_file() {
    printf '%s' "${QX_PKCS11_PIN:-}" |
      "$osslsigncode" sign "${engine[@]}" -pkcs11module "$QX_PKCS11_MODULE" -certs "$QX_PKCS11_CERT" \
        -key "$QX_PKCS11_KEY" -readpass - "$@"
  }
elif [ -n "${QX_SIGN_PFX:-}" ]; then
  [ -f "$QX_SIGN_PFX" ] || fail "QX_SIGN_PFX names no file: $QX_SIGN_PFX"
  identity="pfx:$(sha256sum <"$QX_SIGN_PFX" | cut -d' ' -f1)"
  key_kind="the key file $QX_SIGN_PFX"
  # The password goes through a pipe, never onto a command line or disk.
  sign_file() {
    printf '%s' "${QX_SIGN_PASSWORD:-}" |
      "$osslsigncode" sign -pkcs12 "$QX_SIGN_PFX" -readpass - "$@"
  }
else
  $release && fail "a release is signed with the vendor's key: set QX_SIGN_PFX, or QX_PKCS11_MODULE, QX_PKCS11_KEY and QX_PKCS11_CERT"
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
  key_kind="the $cert_name certificate $cert"
  sign_file() { "$osslsigncode" sign -certs "$cert" -key "$key" "$@"; }
fi

read -r -a authorities <<<"${QX_TIMESTAMP_URL:-}"
if ((${#authorities[@]} == 0)); then
  $release && fail "a release signature must be timestamped: set QX_TIMESTAMP_URL to the vendor's RFC 3161 time-stamping authority"
  timestamps="not timestamped (no QX_TIMESTAMP_URL: a development build; the signatures stop holding when the certificate expires)"
else
  timestamps="timestamped by ${authorities[*]}"
fi
ts_args=()
for url in "${authorities[@]}"; do ts_args+=(-ts "$url"); done
# How often a busy or unreachable authority is asked, waiting 1, 2, 4 s between.
attempts=4

if [ "${QX_SIGN_ONLY:-}" = "none" ]; then
  echo "Signing with $key_kind; $timestamps"
fi

# sign_one IN OUT: signs one file, timestamped when an authority is set.
# Sets $log to what osslsigncode said and $stamped to whether the signature
# carries a timestamp; fails only when the file could not be signed at all,
# or (a release) not timestamped.
sign_one() {
  local in="$1" out="$2" attempt=1 delay=1
  local common=(-h sha256 -n "QX Prism P4000 Series" -i "https://www.selkirk-vane.example/" -in "$in" -out "$out")
  stamped=false
  if ((${#ts_args[@]} == 0)); then
    log="$(sign_file "${common[@]}" 2>&1)"
    return
  fi
  while true; do
    rm -f "$out"
    if log="$(sign_file "${ts_args[@]}" "${common[@]}" 2>&1)"; then
      stamped=true
      return
    fi
    # Anything but the authority's answer is a failure of the signature itself.
    printf '%s' "$log" | grep -q "timestamping failed" || return 1
    ((attempt < attempts)) || break
    echo "sign-product.sh: the time-stamping authority did not answer for $(basename "$in") (attempt $attempt of $attempts); asking again in ${delay} s"
    sleep "$delay"
    attempt=$((attempt + 1))
    delay=$((delay * 2))
  done
  local why
  why="$(printf '%s\n' "$log" | grep -m1 -E "HTTP failure|error:.*(connect|code=)" || true)"
  if $release; then
    echo "sign-product.sh: a release signature must be timestamped, but ${authorities[*]} did not timestamp $(basename "$in") after $attempts attempts${why:+: $why}" >&2
    rm -f "$out"
    exit 1
  fi
  echo "sign-product.sh: warning: $(basename "$in") signed without a timestamp: ${authorities[*]} did not answer after $attempts attempts${why:+: $why}" >&2
  rm -f "$out"
  log="$(sign_file "${common[@]}" 2>&1)"
}

stamp="$signdir/$stamp_name.txt"
declare -A signed=() stamped_before=()
if [ -f "$stamp" ]; then
  while read -r who hash name; do
    if [ "$who" = "$identity+ts" ]; then
      signed["$name"]="$hash"
      stamped_before["$name"]=1
    elif [ "$who" = "$identity" ]; then
      signed["$name"]="$hash"
    fi
  done <"$stamp"
fi

shopt -s nullglob nocaseglob
new_stamp="$work/$stamp_name.txt"
: >"$new_stamp"
count=0
unstamped=0
for file in "$product"/*.exe "$product"/*.dll "$product"/*.msi; do
  [ -f "$file" ] || continue
  name="$(basename "$file")"
  if [ -n "${QX_SIGN_ONLY:-}" ] && [[ " $QX_SIGN_ONLY " != *" $name "* ]]; then continue; fi
  hash="$(sha256sum <"$file" | cut -d' ' -f1)"
  was_stamped="${stamped_before[$name]:-}"
  # Up to date: unchanged since signed, and timestamped if timestamps are asked for.
  if [ "${signed[$name]:-}" != "$hash" ] || { ((${#ts_args[@]})) && [ -z "$was_stamped" ]; }; then
    out="$work/$name"
    rm -f "$out"
    if ! sign_one "$file" "$out"; then
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
    was_stamped=""
    if $stamped; then was_stamped=1; else unstamped=$((unstamped + 1)); fi
  fi
  printf '%s %s %s\n' "$identity${was_stamped:++ts}" "$hash" "$name" >>"$new_stamp"
done
mv -f "$new_stamp" "$stamp"
if ((count == 0)); then
  echo "Signed 0 file(s) in $product"
elif ((${#ts_args[@]} && unstamped)); then
  echo "Signed $count file(s) in $product, $unstamped of them not timestamped"
else
  echo "Signed $count file(s) in $product, $timestamps"
fi
