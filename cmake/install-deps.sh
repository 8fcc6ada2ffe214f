#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Safe to run again: apt-get only acts when something is missing.
set -euo pipefail

packages=(
  cmake make
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine64 xvfb xauth openbox x11-apps x11-utils imagemagick
  msitools wixl osslsigncode zip
  # osslsigncode reaches a key in hardware (PKCS#11) through OpenSSL's pkcs11
  # engine; SoftHSM2 is the tests' hardware key.
  libengine-pkcs11-openssl softhsm2
  googletest python3 python3-yaml python3-jsonschema
  locales-all
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
