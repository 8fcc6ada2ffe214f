#!/usr/bin/env python3
"""Makes a binary of the product look like one of an earlier release: its
VERSIONINFO (the numeric versions and the FileVersion and ProductVersion
texts) set back to an earlier version of the same length, the rest as it
was. The file must be unsigned; it is signed again afterwards.

    set-version-back.py IN OUT
"""
import struct
import sys

FIXED_SIGNATURE = struct.pack("<I", 0xFEEF04BD)


def earlier(version):
    parts = [int(p) for p in version.split(".")]
    major, minor, patch = parts[0], parts[1], parts[2]
    # The same number of characters, so the resource's layout stays.
    for candidate in (f"{major - 1}.9.{patch}.0", f"{major}.{minor - 1}.{patch}.0", f"{major}.{minor}.{patch - 1}.0"):
        nums = candidate.split(".")
        if len(candidate) == len(version) and all(n.isdigit() for n in nums):
            return candidate
    sys.exit(f"set-version-back.py: no earlier version of the same length for {version}")


def main(src, dst):
    data = bytearray(open(src, "rb").read())
    at = data.find(FIXED_SIGNATURE)
    if at < 0:
        sys.exit(f"set-version-back.py: no VERSIONINFO in {src}")
    ms, ls = struct.unpack_from("<II", data, at + 8)
    version = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    back = earlier(version)
    a, b, c, d = (int(p) for p in back.split("."))
    for offset in (8, 16):   # file version, then product version
        struct.pack_into("<II", data, at + offset, (a << 16) | b, (c << 16) | d)
    old, new = version.encode("utf-16-le"), back.encode("utf-16-le")
    count = data.count(old)
    if count == 0:
        sys.exit(f"set-version-back.py: no version text {version} in {src}")
    data = data.replace(old, new)
    open(dst, "wb").write(data)
    print(f"{dst}: {version} -> {back}")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
