#!/usr/bin/env python3
"""An RFC 3161 time-stamping authority on the loopback address, for the
signing tests: OpenSSL's `ts -reply` behind a small HTTP server.

    timestamp_authority.py FOLDER [--busy N] [--idle SECONDS] [--lifetime SECONDS]

Makes its own self-signed authority certificate in FOLDER (FOLDER/tsa.pem,
for `osslsigncode verify -TSA-CAfile`), listens on a free port of
127.0.0.1, writes its URL to FOLDER/url once it answers, and writes one
line per request to FOLDER/requests.log ("busy" or "stamped"). The first N
requests get 503, as a busy authority answers. It stops by itself after
--idle seconds without a request or --lifetime seconds in all."""
import argparse
import http.server
import os
import subprocess
import sys
import tempfile
import threading
import time

CONFIG = """\
[ tsa ]
default_tsa = tsa_config

[ tsa_config ]
serial = {folder}/serial
signer_cert = {folder}/tsa.pem
signer_key = {folder}/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.55555.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
"""


def make_authority(folder, openssl):
    if os.path.isfile(os.path.join(folder, "tsa.pem")):
        return
    subprocess.run([openssl, "req", "-x509", "-newkey", "rsa:2048", "-sha256", "-days", "30", "-nodes",
                    "-keyout", os.path.join(folder, "tsa.key"), "-out", os.path.join(folder, "tsa.pem"),
                    "-subj", "/CN=Loopback Test Time Stamping/O=Signing Tests",
                    "-addext", "basicConstraints=critical,CA:FALSE",
                    "-addext", "keyUsage=critical,digitalSignature",
                    "-addext", "extendedKeyUsage=critical,timeStamping"],
                   check=True, capture_output=True)
    with open(os.path.join(folder, "serial"), "w") as f:
        f.write("01\n")
    with open(os.path.join(folder, "tsa.cnf"), "w") as f:
        f.write(CONFIG.format(folder=folder))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--busy", type=int, default=0, help="requests answered 503 first")
    parser.add_argument("--idle", type=float, default=60.0)
    parser.add_argument("--lifetime", type=float, default=900.0)
    parser.add_argument("--openssl", default=os.environ.get("OPENSSL", "openssl"))
    args = parser.parse_args()
    folder = os.path.abspath(args.folder)
    os.makedirs(folder, exist_ok=True)
    make_authority(folder, args.openssl)

    state = {"busy": args.busy, "last": time.monotonic()}
    lock = threading.Lock()
    log_path = os.path.join(folder, "requests.log")

    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *_):
            pass

        def answer(self, code, body=b"", kind="text/plain"):
            self.send_response(code)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            try:
                self.wfile.write(body)
            except (BrokenPipeError, ConnectionResetError):
                pass   # a client that gave up on a busy answer

        def do_POST(self):
            query = self.rfile.read(int(self.headers.get("Content-Length", "0") or 0))
            with lock:
                state["last"] = time.monotonic()
                busy = state["busy"] > 0
                if busy:
                    state["busy"] -= 1
                with open(log_path, "a") as log:
                    log.write("busy\n" if busy else "stamped\n")
                if busy:
                    self.answer(503, b"busy")
                    return
                with tempfile.TemporaryDirectory(dir=folder) as work:
                    q, r = os.path.join(work, "q.tsq"), os.path.join(work, "r.tsr")
                    with open(q, "wb") as f:
                        f.write(query)
                    run = subprocess.run([args.openssl, "ts", "-reply", "-config", os.path.join(folder, "tsa.cnf"),
                                          "-queryfile", q, "-out", r], capture_output=True)
                    if run.returncode != 0:
                        self.answer(400, run.stderr)
                        return
                    with open(r, "rb") as f:
                        self.answer(200, f.read(), "application/timestamp-reply")

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.timeout = 0.5
    url_tmp = os.path.join(folder, "url.tmp")
    with open(url_tmp, "w") as f:
        f.write(f"http://127.0.0.1:{server.server_address[1]}/\n")
    os.replace(url_tmp, os.path.join(folder, "url"))

    started = time.monotonic()
    while True:
        server.handle_request()
        now = time.monotonic()
        with lock:
            idle = now - state["last"]
        if idle > args.idle or now - started > args.lifetime:
            break
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
