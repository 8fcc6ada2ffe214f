#!/usr/bin/env python3
"""Fails unless every program, module and package in the product folder
carries a valid Authenticode signature that chains to the given
certificate (the build's self-signed test certificate by default).

With QX_SIGN_PFX or QX_PKCS11_CERT set the vendor's key signed the folder; its chain
is then checked against QX_SIGN_CAFILE, or the system's bundle. With
--tsa-cafile every signature must also carry a timestamp that chains to it."""
import argparse
import os
import subprocess
import sys

SIGNED_KINDS = (".exe", ".dll", ".msi")
# What ships must be there and signed, whatever else the folder holds.
SHIPPED = ("QXVSetup64.exe", "Setup.exe", "QXVInstallActions64.dll", "CustomActionData64.dll",
           "QXVSetupRES64.dll", "QXPRP4005P64.dll", "QXPRP4005.msi")


def verify(osslsigncode, cafile, tsa_cafile, path):
    """None when path is validly signed (and timestamped, with tsa_cafile),
    else what is wrong. osslsigncode recomputes the file's digest, so a file
    changed after signing fails."""
    cmd = ([osslsigncode, "verify"] + (["-CAfile", cafile] if cafile else []) +
           (["-TSA-CAfile", tsa_cafile] if tsa_cafile else []) + ["-in", path])
    run = subprocess.run(cmd, capture_output=True, text=True)
    out = run.stdout + run.stderr
    if run.returncode != 0 or "Signature verification: ok" not in out:
        lines = [l.strip() for l in out.splitlines() if l.strip()]
        return "not validly signed: " + (lines[-1] if lines else f"exit {run.returncode}")
    if tsa_cafile and "Timestamp Server Signature verification: ok" not in out:
        return "signed without a valid timestamp"
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--osslsigncode", default="osslsigncode")
    parser.add_argument("--cafile", required=True)
    parser.add_argument("--tsa-cafile", default="", help="every signature timestamped by this authority")
    parser.add_argument("product_dir")
    args = parser.parse_args()

    cafile = args.cafile
    if os.environ.get("QX_SIGN_PFX") or os.environ.get("QX_PKCS11_CERT"):
        cafile = os.environ.get("QX_SIGN_CAFILE", "")
    elif not os.path.isfile(cafile):
        print(f"no test certificate at {cafile}: the build did not sign")
        return 1

    names = sorted(n for n in os.listdir(args.product_dir)
                   if n.lower().endswith(SIGNED_KINDS) and os.path.isfile(os.path.join(args.product_dir, n)))
    failures = [f"{n}: missing from the product folder" for n in SHIPPED if n not in names]
    for name in names:
        problem = verify(args.osslsigncode, cafile, args.tsa_cafile, os.path.join(args.product_dir, name))
        print(f"{name}: {problem or ('signed and timestamped' if args.tsa_cafile else 'signed')}")
        if problem:
            failures.append(f"{name}: {problem}")
    for f in failures:
        print(f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
