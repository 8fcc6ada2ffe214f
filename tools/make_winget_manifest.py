#!/usr/bin/env python3
"""Writes the Windows Package Manager's multi-file manifest (schema 1.10.0)
for the product's ZIP, beside it: <id>.yaml, <id>.locale.en-US.yaml and
<id>.installer.yaml. Every value comes from where the product keeps it:
names and the product code from res/ProductIdentity.h, the version from the
build, the switches from what res/Switches.h reads (a switch it does not
read is an error here), the exit codes from the README's table of exit
codes, the hash from the ZIP itself. The download address is the vendor's
(QX_RELEASE_URL), an example address otherwise.

    make_winget_manifest.py OUT_DIR ZIP VERSION SOURCE_DIR
"""
import hashlib
import os
import re
import sys

PACKAGE_IDENTIFIER = "SelkirkVane.QXPrismP4000"
MANIFEST_VERSION = "1.10.0"
EXAMPLE_URL = "https://www.selkirk-vane.example/downloads/QXPrism-P4000-Setup-x64.zip"

# What each exit code of the README's table means to the package manager;
# a code of the table without an entry here has no response of its own.
RESPONSES = {
    87: "invalidParameter",
    350: "rebootRequiredForInstall",
    1602: "cancelledByUser",
    1618: "installInProgress",
    1633: "systemNotSupported",
    1641: "rebootInitiated",
    3010: "rebootRequiredToFinish",
    3011: "rebootRequiredToFinish",
}

# The switches the manifest names, in the forms administrators type.
SWITCHES = {
    "Silent": "/quiet /norestart",
    "SilentWithProgress": "/passive /norestart",
    "Log": '/log "<LOGPATH>"',
    "InstallLocation": 'INSTALLDIR="<INSTALLPATH>"',
}


def identity(source_dir):
    text = open(os.path.join(source_dir, "res", "ProductIdentity.h"), encoding="utf-8").read()
    found = dict(re.findall(r'#define (QX_[A-Z_]+) L"([^"]*)"', text))
    return found["QX_PRODUCT_NAME"], found["QX_MANUFACTURER"], found["QX_PRODUCT_GUID"]


def switches_read(source_dir):
    """The conventional forms the switch reader understands (without / or -)."""
    text = open(os.path.join(source_dir, "res", "Switches.h"), encoding="utf-8").read()
    return set(re.findall(r'is\(L"([^"]+)"\)', text))


def readme_exit_codes(source_dir):
    """Every code the README's table of exit codes lists, in its second column."""
    text = open(os.path.join(source_dir, "README.md"), encoding="utf-8").read()
    table = text[text.index("| What happened | Exit code |"):]
    codes = set()
    for line in table.splitlines()[2:]:
        if not line.startswith("|"):
            break
        cells = line.split("|")
        codes.update(int(c) for c in re.findall(r"(?<![0-9x])([0-9]{1,5})(?![0-9])", cells[2]))
    return codes


def checked_switches(read):
    for name, value in SWITCHES.items():
        for token in value.split():
            if token.startswith("/") and token[1:].lower() not in read:
                sys.exit(f"make_winget_manifest.py: {name} names {token}, which the switch reader does not read")
    return SWITCHES


def quoted(value):
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, int):
        return str(value)
    return "'" + str(value).replace("'", "''") + "'"


def emit(value, indent=0):
    """YAML of nested dicts, lists and scalars, every string quoted."""
    pad = "  " * indent
    lines = []
    if isinstance(value, dict):
        for key, item in value.items():
            if isinstance(item, (dict, list)):
                lines.append(f"{pad}{key}:")
                lines.extend(emit(item, indent + 1))
            else:
                lines.append(f"{pad}{key}: {quoted(item)}")
    else:
        for item in value:
            if not isinstance(item, (dict, list)):
                lines.append(f"{pad}- {quoted(item)}")
                continue
            sub = emit(item, indent + 1)
            lines.append(f"{pad}- {sub[0].lstrip()}")
            lines.extend(sub[1:])
    return lines


def write(path, schema, document):
    with open(path + ".tmp", "w", encoding="utf-8", newline="\n") as f:
        f.write(f"# Written by tools/make_winget_manifest.py at build time.\n")
        f.write(f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{schema}.{MANIFEST_VERSION}.schema.json\n")
        f.write("\n".join(emit(document)) + "\n")
    os.replace(path + ".tmp", path)


def main(argv):
    if len(argv) != 5:
        sys.exit(__doc__)
    out_dir, zip_path, version, source_dir = argv[1:]
    product, maker, code = identity(source_dir)
    switches = checked_switches(switches_read(source_dir))
    codes = readme_exit_codes(source_dir)
    with open(zip_path, "rb") as f:
        sha256 = hashlib.sha256(f.read()).hexdigest().upper()
    url = os.environ.get("QX_RELEASE_URL") or EXAMPLE_URL
    common = {"PackageIdentifier": PACKAGE_IDENTIFIER, "PackageVersion": version}
    os.makedirs(out_dir, exist_ok=True)
    base = os.path.join(out_dir, PACKAGE_IDENTIFIER)
    write(base + ".yaml", "version", {**common, "DefaultLocale": "en-US", "ManifestType": "version",
                                      "ManifestVersion": MANIFEST_VERSION})
    write(base + ".locale.en-US.yaml", "defaultLocale", {
        **common, "PackageLocale": "en-US", "Publisher": maker, "PackageName": product,
        "License": f"Proprietary, {maker}", "ShortDescription": f"Printer driver of the {product}",
        "ManifestType": "defaultLocale", "ManifestVersion": MANIFEST_VERSION})
    write(base + ".installer.yaml", "installer", {
        **common,
        "InstallerType": "zip",
        "NestedInstallerType": "exe",
        "NestedInstallerFiles": [{"RelativeFilePath": "Setup.exe"}],
        "Scope": "machine",
        "ElevationRequirement": "elevatesSelf",
        "InstallModes": ["silent", "silentWithProgress", "interactive"],
        "InstallerSwitches": switches,
        "ExpectedReturnCodes": [{"InstallerReturnCode": c, "ReturnResponse": RESPONSES[c]}
                                for c in sorted(codes) if c in RESPONSES],
        "ProductCode": code,
        "AppsAndFeaturesEntries": [{"DisplayName": product, "Publisher": maker, "DisplayVersion": version,
                                    "ProductCode": code}],
        # The x64 driver cannot load into an ARM64 computer's spooler: the
        # package manager must not pick this installer there.
        "Installers": [{"Architecture": "x64", "UnsupportedOSArchitectures": ["arm64"], "InstallerUrl": url,
                        "InstallerSha256": sha256}],
        "ManifestType": "installer",
        "ManifestVersion": MANIFEST_VERSION,
    })


if __name__ == "__main__":
    main(sys.argv)
