#!/usr/bin/env python3
"""The package manager's manifest the build writes: each of its three files
valid against the manifest schemas (1.10.0), and what it says true of the
product: the version, the product code, the ZIP's hash, arm64 unsupported, every switch one
that the switch reader reads, every return code one that the README's
table of exit codes lists.

    check_winget_manifest.py MANIFEST_DIR SCHEMA_DIR ZIP VERSION SOURCE_DIR
"""
import hashlib
import json
import os
import re
import sys

import jsonschema
import yaml

ID = "SelkirkVane.QXPrismP4000"
FILES = {"version": f"{ID}.yaml", "defaultLocale": f"{ID}.locale.en-US.yaml", "installer": f"{ID}.installer.yaml"}
# Codes a deployment through the package manager must be told apart.
REQUIRED_CODES = {87: "invalidParameter", 350: "rebootRequiredForInstall", 1602: "cancelledByUser",
                  1618: "installInProgress", 1633: "systemNotSupported", 1641: "rebootInitiated",
                  3010: "rebootRequiredToFinish"}


def main(manifest_dir, schema_dir, zip_path, version, source_dir):
    failures = []
    docs = {}
    for kind, name in FILES.items():
        with open(os.path.join(manifest_dir, name), encoding="utf-8") as f:
            docs[kind] = yaml.safe_load(f)
        with open(os.path.join(schema_dir, f"manifest.{kind}.1.10.0.json"), encoding="utf-8") as f:
            schema = json.load(f)
        for error in jsonschema.Draft7Validator(schema).iter_errors(docs[kind]):
            failures.append(f"{name}: {'/'.join(map(str, error.path))}: {error.message}")
        if docs[kind].get("PackageVersion") != version:
            failures.append(f"{name}: PackageVersion {docs[kind].get('PackageVersion')} is not the product's {version}")

    installer = docs["installer"]
    identity = open(os.path.join(source_dir, "res", "ProductIdentity.h"), encoding="utf-8").read()
    guid = re.search(r'#define QX_PRODUCT_GUID L"([^"]+)"', identity).group(1)
    if installer.get("ProductCode") != guid:
        failures.append(f"ProductCode {installer.get('ProductCode')} is not {guid}")
    with open(zip_path, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest().upper()
    hashes = [i.get("InstallerSha256") for i in installer.get("Installers", [])]
    if hashes != [digest]:
        failures.append(f"InstallerSha256 {hashes} is not the ZIP's {digest}")
    # The x64 driver does not work on ARM64: no installer may be offered there.
    for entry in installer.get("Installers", []):
        unsupported = entry.get("UnsupportedOSArchitectures", installer.get("UnsupportedOSArchitectures")) or []
        if "arm64" not in unsupported:
            failures.append(f"installer {entry.get('Architecture')} does not list arm64 as unsupported: {unsupported}")

    # Every switch, one the launcher reads; the install folder, a property of the package.
    reader = open(os.path.join(source_dir, "res", "Switches.h"), encoding="utf-8").read()
    read = set(re.findall(r'is\(L"([^"]+)"\)', reader))
    switches = installer.get("InstallerSwitches", {})
    for key in ("Silent", "SilentWithProgress", "Log"):
        for token in switches.get(key, "").split():
            if token.startswith("/") and token[1:].lower() not in read:
                failures.append(f"{key}: {token} is not read by res/Switches.h")
    if "/passive" not in switches.get("SilentWithProgress", "") or "/quiet" not in switches.get("Silent", ""):
        failures.append(f"Silent / SilentWithProgress: {switches}")
    location = re.fullmatch(r'([A-Z_][A-Z0-9_.]*)="<INSTALLPATH>"', switches.get("InstallLocation", ""))
    package = open(os.path.join(source_dir, "companions", "package", "QXPRP4005.wxs"), encoding="utf-8").read()
    if not location or f'Directory Id="{location.group(1)}"' not in package:
        failures.append(f"InstallLocation {switches.get('InstallLocation')} names no folder of the package")

    # Every return code, one the README's table lists; the required ones there.
    readme = open(os.path.join(source_dir, "README.md"), encoding="utf-8").read()
    table = readme[readme.index("| What happened | Exit code |"):]
    listed = set()
    for line in table.splitlines()[2:]:
        if not line.startswith("|"):
            break
        listed.update(int(c) for c in re.findall(r"(?<![0-9x])([0-9]{1,5})(?![0-9])", line.split("|")[2]))
    expected = {e["InstallerReturnCode"]: e["ReturnResponse"] for e in installer.get("ExpectedReturnCodes", [])}
    for code in expected:
        if code not in listed:
            failures.append(f"return code {code} is not in the README's table of exit codes")
    for code, response in REQUIRED_CODES.items():
        if expected.get(code) != response:
            failures.append(f"return code {code}: {expected.get(code)} instead of {response}")

    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} failure(s); {len(expected)} return codes, switches {switches}")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
