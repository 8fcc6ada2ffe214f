#!/usr/bin/env python3
"""Fails unless the product ZIP holds exactly the product folder's files,
under their own names at its top level, byte for byte, and its .sha256 file
is sha256sum's line for the ZIP as it is."""
import hashlib
import os
import re
import sys
import zipfile

SHIPPED = ("QXVSetup64.exe", "Setup.exe", "QXVInstallActions64.dll", "CustomActionData64.dll",
           "QXVSetupRES64.dll", "QXPRP4005P64.dll", "QXPRP4005.msi")


def folder_files(root):
    found = {}
    for dirpath, _, names in os.walk(root):
        for n in names:
            full = os.path.join(dirpath, n)
            found[os.path.relpath(full, root).replace(os.sep, "/")] = full
    return found


def main():
    zip_path, product_dir = sys.argv[1], sys.argv[2]
    failures = []
    expected = folder_files(product_dir)
    failures += [f"{n}: not in the product folder" for n in SHIPPED if n not in expected]

    with zipfile.ZipFile(zip_path) as archive:
        bad = archive.testzip()
        if bad:
            failures.append(f"{bad}: damaged in the ZIP")
        entries = archive.infolist()
        names = [e.filename for e in entries]
        if len(names) != len(set(names)):
            failures.append("the ZIP holds an entry twice")
        for e in entries:
            if e.is_dir():
                failures.append(f"{e.filename}: a folder entry")
            elif e.filename not in expected:
                failures.append(f"{e.filename}: in the ZIP but not in the product folder")
            else:
                with open(expected[e.filename], "rb") as f:
                    if archive.read(e) != f.read():
                        failures.append(f"{e.filename}: differs from the product folder's file")
        for n in sorted(set(expected) - set(names)):
            failures.append(f"{n}: in the product folder but not in the ZIP")

    sums = zip_path + ".sha256"
    with open(zip_path, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    try:
        with open(sums, "rb") as f:
            line = f.read().decode("ascii")
    except (OSError, UnicodeDecodeError) as err:
        failures.append(f"{sums}: {err}")
        line = ""
    want = f"{digest}  {os.path.basename(zip_path)}\n"
    if line and line != want:
        shape = "well formed" if re.fullmatch(r"[0-9a-f]{64}  \S+\n", line) else "not sha256sum's format"
        failures.append(f"checksum file {line!r} ({shape}), expected {want!r}")

    for f in failures:
        print(f)
    print(f"{len(expected)} files in the product folder; {'FAILED' if failures else 'ok'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
