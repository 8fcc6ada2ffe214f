# Sourced by the signing tests: a loopback time-stamping authority and a
# hardware key (SoftHSM2) of a test's own, each in a folder the test removes.
# The caller ends the authority with qx_stop_authority (its trap does).
here_fixtures="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
QX_AUTHORITY_PID=""

# qx_start_authority FOLDER [BUSY]: the authority answers BUSY requests with
# 503 first; sets QX_AUTHORITY_URL and QX_AUTHORITY_CERT once it listens.
qx_start_authority() {
  local folder="$1" busy="${2:-0}"
  rm -f "$folder/url"
  python3 "$here_fixtures/timestamp_authority.py" "$folder" --busy "$busy" --idle 600 --lifetime 1800 &
  QX_AUTHORITY_PID=$!
  for _ in $(seq 200); do
    [ -s "$folder/url" ] && break
    kill -0 "$QX_AUTHORITY_PID" 2>/dev/null || break
    sleep 0.05
  done
  [ -s "$folder/url" ] || { echo "the test's time-stamping authority did not start" >&2; return 1; }
  QX_AUTHORITY_URL="$(cat "$folder/url")"
  QX_AUTHORITY_CERT="$folder/tsa.pem"
}

qx_stop_authority() {
  [ -n "$QX_AUTHORITY_PID" ] || return 0
  kill "$QX_AUTHORITY_PID" 2>/dev/null || true
  wait "$QX_AUTHORITY_PID" 2>/dev/null || true
  QX_AUTHORITY_PID=""
}

# An address on the loopback where nothing listens: an authority that
# cannot be reached.
qx_unreachable_url() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(f"http://127.0.0.1:{s.getsockname()[1]}/")'
}

# qx_make_hardware_key FOLDER: a SoftHSM2 token holding a code-signing key;
# exports QX_PKCS11_MODULE, QX_PKCS11_KEY, QX_PKCS11_CERT, QX_PKCS11_PIN
# and SOFTHSM2_CONF.
qx_make_hardware_key() {
  bash "$here_fixtures/softhsm-token.sh" "$1" >/dev/null
  # shellcheck source=/dev/null
  source "$1/pkcs11.env"
}

# qx_timestamp_of FILE CERT TSA_CERT: "timestamped", "signed" (no
# timestamp) or what osslsigncode found wrong, for a file signed by CERT.
qx_timestamp_of() {
  local out
  out="$("${OSSLSIGNCODE:-osslsigncode}" verify -CAfile "$2" -TSA-CAfile "$3" -in "$1" 2>&1)" || {
    echo "not validly signed: $(printf '%s\n' "$out" | grep -v '^\s*$' | tail -1)"
    return
  }
  if printf '%s' "$out" | grep -q "Timestamp Server Signature verification: ok"; then
    echo timestamped
  else
    echo signed
  fi
}

# qx_holds_no_key FOLDER: true when nothing in FOLDER is a private key.
qx_holds_no_key() {
  ! grep -rlq "PRIVATE KEY" "$1" && [ -z "$(find "$1" -name '*.key' -o -name '*.pfx' -o -name '*.p12')" ]
}
