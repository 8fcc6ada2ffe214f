#!/usr/bin/env bash
# Succeeds while a launcher (QXVSetup64.exe) runs in the Wine prefix given:
# a Wine program is a process of the system whose environment names its
# prefix, and other work trees run launchers of their own at the same time.
prefix="$1"
for pid in $(pgrep -f 'QXVSetup64\.exe'); do
  if tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$prefix"; then
    exit 0
  fi
done
exit 1
