#!/usr/bin/env python3
"""Makes the cache-copy source tree: 200 files of 256 KiB (50 MiB in all),
every entry named "*.dll" so that the launcher's copy and a full xcopy take
the same set: 80 modules at the top and four "*.dll" folders holding 25
modules and a "x64.dll" folder of 5 more each.

    make_tree.py <folder>     (removed first when it exists)
"""
import os
import shutil
import sys

FILE_SIZE = 256 * 1024


def put(path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    # Incompressible, different in every file.
    block = os.urandom(FILE_SIZE)
    with open(path, "wb") as f:
        f.write(block)


def main():
    top = sys.argv[1]
    shutil.rmtree(top, ignore_errors=True)
    count = 0
    for i in range(80):
        put(os.path.join(top, f"mod{i:03}.dll"))
        count += 1
    for d in range(4):
        folder = os.path.join(top, f"drv{d}.dll")
        for i in range(25):
            put(os.path.join(folder, f"part{i:02}.dll"))
            count += 1
        for i in range(5):
            put(os.path.join(folder, "x64.dll", f"arch{i}.dll"))
            count += 1
    print(f"files={count} bytes={count * FILE_SIZE}")


if __name__ == "__main__":
    main()
