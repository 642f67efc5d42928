#!/usr/bin/env python3
"""A release host on this machine for the update tests, around one test run.

Usage: https_release_host.py PORT PROGRAM_FILE COMMAND...

Makes a certificate authority and a certificate for localhost for this run,
serves HTTPS on PORT (the port the update test program is built for) and on a
second port with a certificate nobody trusts, then runs COMMAND with the
addresses, the authority's certificate (hex DER) and PROGRAM_FILE's SHA-256 in
its environment. The Windows side trusts the authority in its own prefix only.

Paths:
  /Keltrax/orvane-releases/main/latest.json  the manifest set by PUT /control/manifest, sent
                                             after the seconds set by PUT /control/manifest_delay
  /control/requests                          how many manifest requests came (text)
  /status/404                                a 404
  /big.json                                  300 KiB, past the manifest cap
  /file/orvane.exe                           PROGRAM_FILE
  /file/NAME                                 the bytes set by PUT /control/file/NAME
  /file/short                                19,999 bytes
  /endless                                   keeps sending, no length, until the client goes
  /slow                                      PROGRAM_FILE, 4 KiB every 50 ms
  /hold/NAME                                 the bytes set for NAME, without a length; the
                                             connection stays open 20 s after the last byte
  /stall                                     64 KiB of a 1 MiB body, then nothing for 90 s
                                             (past the client's receive time-out)
  /bulk/N                                    N MiB of patterned bytes, with their length
"""
import datetime
import hashlib
import http.server
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

try:
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
    from cryptography.x509.oid import NameOID
except ImportError:
    print("SKIPPED: the update tests need Python's cryptography package (make deps installs it)", file=sys.stderr)
    sys.exit(77)


def make_cert(subject, issuer_name, issuer_key, key, ca):
    now = datetime.datetime.now(datetime.timezone.utc)
    builder = (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer_name).public_key(key.public_key())
               .serial_number(x509.random_serial_number()).not_valid_before(now - datetime.timedelta(days=1))
               .not_valid_after(now + datetime.timedelta(days=2)))
    if ca:
        builder = builder.add_extension(x509.BasicConstraints(ca=True, path_length=0), critical=True)
        builder = builder.add_extension(x509.KeyUsage(digital_signature=True, key_cert_sign=True, crl_sign=True,
                                                      content_commitment=False, key_encipherment=False,
                                                      data_encipherment=False, key_agreement=False,
                                                      encipher_only=False, decipher_only=False), critical=True)
    else:
        builder = builder.add_extension(x509.SubjectAlternativeName([x509.DNSName("localhost")]), critical=False)
        builder = builder.add_extension(x509.ExtendedKeyUsage([x509.oid.ExtendedKeyUsageOID.SERVER_AUTH]),
                                        critical=False)
    return builder.sign(issuer_key, hashes.SHA256())


def name(text):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, text)])


def write_pair(folder, stem, cert, key):
    cert_path = os.path.join(folder, stem + ".crt")
    key_path = os.path.join(folder, stem + ".key")
    with open(cert_path, "wb") as f:
        f.write(cert.public_bytes(serialization.Encoding.PEM))
    with open(key_path, "wb") as f:
        f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                  serialization.NoEncryption()))
    return cert_path, key_path


class State:
    manifest = b"{}"
    manifest_delay = 0.0
    requests = 0
    lock = threading.Lock()
    program = b""
    files = {}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def setup(self):
        # The handshake runs on this connection's own thread: done in accept(),
        # one slow handshake would hold up every other connection.
        self.request.settimeout(60)
        self.request.do_handshake()
        self.request.settimeout(None)
        super().setup()

    def send_body(self, body, status=200):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_PUT(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        if self.path == "/control/manifest":
            with State.lock:
                State.manifest = body
        elif self.path == "/control/manifest_delay":
            with State.lock:
                State.manifest_delay = float(body.decode() or "0")
        elif self.path.startswith("/control/file/"):
            with State.lock:
                State.files[self.path[len("/control/file/"):]] = body
        self.send_body(b"ok")

    def do_GET(self):
        try:
            self.answer()
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
            pass

    def answer(self):
        if self.path == "/Keltrax/orvane-releases/main/latest.json":
            with State.lock:
                State.requests += 1
                body = State.manifest
                delay = State.manifest_delay
            time.sleep(delay)
            self.send_body(body)
        elif self.path == "/control/requests":
            with State.lock:
                self.send_body(str(State.requests).encode())
        elif self.path == "/status/404":
            self.send_body(b"not here", 404)
        elif self.path == "/big.json":
            self.send_body(b'{"notes":"' + b"x" * (300 * 1024) + b'"}')
        elif self.path == "/file/orvane.exe":
            self.send_body(State.program)
        elif self.path == "/file/short":
            self.send_body(b"\0" * 19999)
        elif self.path.startswith("/file/") and self.path[6:] in State.files:
            with State.lock:
                body = State.files[self.path[6:]]
            self.send_body(body)
        elif self.path == "/endless":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            chunk = b"\0" * 65536
            for _ in range(4096):  # 256 MiB at most, so a broken client still ends
                self.wfile.write(chunk)
        elif self.path == "/slow":
            self.send_response(200)
            self.send_header("Content-Length", str(len(State.program)))
            self.end_headers()
            for i in range(0, len(State.program), 4096):
                self.wfile.write(State.program[i:i + 4096])
                self.wfile.flush()
                time.sleep(0.05)
        elif self.path.startswith("/hold/") and self.path[6:] in State.files:
            with State.lock:
                body = State.files[self.path[6:]]
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(body)
            self.wfile.flush()
            # The client has every byte but waits for the end of the body.
            self.connection.settimeout(20)
            try:
                self.connection.recv(1)
            except (socket.timeout, OSError, ssl.SSLError):
                pass
            self.close_connection = True
        elif self.path == "/stall":
            self.send_response(200)
            self.send_header("Content-Length", str(1 << 20))
            self.end_headers()
            self.wfile.write(b"\0" * 65536)
            self.wfile.flush()
            self.connection.settimeout(90)
            try:
                self.connection.recv(1)
            except (socket.timeout, OSError, ssl.SSLError):
                pass
            self.close_connection = True
        elif self.path.startswith("/bulk/") and self.path[6:].isdigit():
            mib = int(self.path[6:])
            self.send_response(200)
            self.send_header("Content-Length", str(mib << 20))
            self.end_headers()
            block = bytes(range(256)) * 4096
            for _ in range(mib):
                self.wfile.write(block)
        else:
            self.send_body(b"unknown", 404)


def serve(port, cert, key):
    # The port is fixed by the build: another build's run of this test on the
    # same machine may hold it for a while.
    deadline = time.monotonic() + 300
    while True:
        try:
            server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
            break
        except OSError as error:
            if time.monotonic() > deadline:
                raise
            print("port %d busy (%s); waiting" % (port, error), file=sys.stderr)
            time.sleep(2)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    port = int(sys.argv[1])
    with open(sys.argv[2], "rb") as f:
        State.program = f.read()
    command = sys.argv[3:]
    with tempfile.TemporaryDirectory() as folder:
        ca_key = ec.generate_private_key(ec.SECP256R1())
        # A name of its own per run: a chain is built by name, and an authority of an
        # earlier run left in a prefix must not stand in for this one.
        authority = name("Orvane test authority %d-%d" % (os.getpid(), time.time_ns()))
        ca = make_cert(authority, authority, ca_key, ca_key, True)
        key = ec.generate_private_key(ec.SECP256R1())
        cert = make_cert(name("localhost"), ca.subject, ca_key, key, False)
        stranger_key = ec.generate_private_key(ec.SECP256R1())
        stranger = make_cert(name("localhost"), name("localhost"), stranger_key, stranger_key, False)
        trusted = serve(port, *write_pair(folder, "trusted", cert, key))
        untrusted_port = free_port()
        untrusted = serve(untrusted_port, *write_pair(folder, "untrusted", stranger, stranger_key))
        env = dict(os.environ)
        env["OV_TEST_HTTPS_BASE"] = "https://localhost:%d" % port
        env["OV_TEST_UNTRUSTED_BASE"] = "https://localhost:%d" % untrusted_port
        env["OV_TEST_CLOSED_BASE"] = "https://localhost:%d" % free_port()
        env["OV_TEST_CA_HEX"] = ca.public_bytes(serialization.Encoding.DER).hex()
        env["OV_TEST_PROGRAM_SHA256"] = hashlib.sha256(State.program).hexdigest()
        env["OV_TEST_PROGRAM_SIZE"] = str(len(State.program))
        status = subprocess.run(command, env=env).returncode
        trusted.shutdown()
        untrusted.shutdown()
    sys.exit(status)


if __name__ == "__main__":
    main()
