#!/usr/bin/env python3
"""HTTPS servers that misbehave on purpose, for the transports' hostile-server test.

Usage: hostile_tls_server.py COMMAND [ARGS...]

Makes a certificate authority and server certificates with openssl, listens on the loopback
interface with one server per certificate (for the name hostile.test), runs COMMAND with HOSTILE_TLS_CA (the authority's
PEM file) and HOSTILE_TLS_PORTS ("name=port,...") in its environment, and exits with its status.

Every server answers by path (see ANSWERS, and ANSWERS_BEFORE_THE_BODY for answers given before
the request's body is read); "/received" on any of them tells how many request bodies the
servers read in full, so a test can prove that nothing was uploaded to a server whose
certificate should have been refused. "tls13_only" is the good server allowing TLS 1.3 alone.
"""
import gzip
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

GOOD_BODY = b"the repaired replay"

# [SECTION] Certificates

OPENSSL_CA_CONFIG = """\
[ca]
default_ca = authority
[authority]
dir = {dir}
database = {dir}/index.txt
new_certs_dir = {dir}
serial = {dir}/serial
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:hostile.test
[code_signing]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectAltName = DNS:hostile.test
[elsewhere]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:elsewhere.test
[authority_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
[not_an_authority]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyCertSign
"""


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def stamp(seconds_from_now):
    return time.strftime("%Y%m%d%H%M%SZ", time.gmtime(time.time() + seconds_from_now))


def der_element(data, at):
    """(content start, content end) of the DER element at offset at."""
    length, at = data[at + 1], at + 2
    if length & 0x80:
        count = length & 0x7F
        length, at = int.from_bytes(data[at:at + count], "big"), at + count
    return at, at + length


def has_full_length_signature(pem_file):
    """Whether r and s of the certificate's ECDSA signature both take 32 bytes."""
    with open(pem_file) as pem:
        certificate = ssl.PEM_cert_to_DER_cert(pem.read())
    start, _ = der_element(certificate, 0)
    _, algorithm = der_element(certificate, start)     # past the signed part
    _, bits = der_element(certificate, algorithm)      # past the signature's algorithm
    value, _ = der_element(certificate, bits)          # the BIT STRING; its first byte counts unused bits
    r_start, _ = der_element(certificate, value + 1)   # the SEQUENCE of r and s
    r_start, r_end = der_element(certificate, r_start)
    s_start, s_end = der_element(certificate, r_end)
    return all(len(certificate[first:last].lstrip(b"\0")) == 32 for first, last in ((r_start, r_end), (s_start, s_end)))


class Certificates:
    def __init__(self, folder):
        self.folder = folder
        with open(os.path.join(folder, "ca.cnf"), "w") as config:
            config.write(OPENSSL_CA_CONFIG.format(dir=folder))
        open(os.path.join(folder, "index.txt"), "w").close()
        with open(os.path.join(folder, "serial"), "w") as serial:
            serial.write("1000\n")

    def path(self, name):
        return os.path.join(self.folder, name)

    def issue(self, name, issuer, extensions, start=-3600, end=86400):
        """name.key and name.pem, signed by issuer (None: by itself)."""
        openssl("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + name.replace("_", "-"), cwd=self.folder)
        signer = ["-selfsign", "-keyfile", name + ".key"] if issuer is None else \
            ["-cert", issuer + ".pem", "-keyfile", issuer + ".key"]
        # Wine refuses a P-256 signature whose r or s is shorter than 32 bytes (about one in 128):
        # signed again until both are full length, a certificate is refused only for what it says.
        for _ in range(64):
            openssl("ca", "-batch", "-config", "ca.cnf", "-notext", "-in", name + ".csr", "-out", name + ".pem",
                    "-extensions", extensions, "-startdate", stamp(start), "-enddate", stamp(end), *signer,
                    cwd=self.folder)
            if has_full_length_signature(self.path(name + ".pem")):
                return self.path(name + ".pem")
        raise RuntimeError(f"no full-length signature for {name} in 64 tries")

    def chain(self, name, *pems):
        with open(self.path(name), "w") as out:
            for pem in pems:
                with open(pem) as part:
                    out.write(part.read())
        return self.path(name)


def make_servers_certificates(certs):
    """(certificate chain file, key file) for each server, by name."""
    certs.issue("authority", None, "authority_ext", end=30 * 86400)
    certs.issue("intermediate", "authority", "authority_ext")  # never sent, never trusted
    certs.issue("not_a_ca", "authority", "not_an_authority")
    leaves = {
        "good": ("authority", "server", {}),
        "partial": ("intermediate", "server", {}),
        "not_a_ca": ("not_a_ca", "server", {}),
        "code_signing": ("authority", "code_signing", {}),
        "wrong_name": ("authority", "elsewhere", {}),
        "expired": ("authority", "server", {"start": -7200, "end": -3600}),
        "not_yet_valid": ("authority", "server", {"start": 3600, "end": 7200}),
    }
    servers = {}
    for name, (issuer, extensions, dates) in leaves.items():
        leaf = certs.issue(name + "_leaf", issuer, extensions, **dates)
        chain = [leaf, certs.path("not_a_ca.pem")] if name == "not_a_ca" else [leaf]
        servers[name] = (certs.chain(name + "_chain.pem", *chain), certs.path(name + "_leaf.key"))
    return servers


# [SECTION] Answers

received_bodies = 0
received_lock = threading.Lock()


def read_head(connection):
    """(path, body length, the body's bytes read with the head); None when the client left."""
    data = b""
    while b"\r\n\r\n" not in data:
        more = connection.recv(4096)
        if not more:
            return None
        data += more
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    length = 0
    for line in lines[1:]:
        name, _, value = line.partition(":")
        if name.strip().lower() == "content-length":
            length = int(value.strip())
    return lines[0].split(" ")[1], length, body


def read_body(connection, length, body):
    """Reads the rest of the body and counts it; False when the client left first."""
    while len(body) < length:
        more = connection.recv(65536)
        if not more:
            return False
        body += more
    if length > 0:
        global received_bodies
        with received_lock:
            received_bodies += 1
    return True


def head(*fields, status="HTTP/1.1 200 OK"):
    return "".join(line + "\r\n" for line in (status, *fields, "Connection: close", "")).encode()


def trickle(connection, pieces, pause):
    for piece in pieces:
        connection.sendall(piece)
        time.sleep(pause)


def records_every_50_ms(connection):
    """About 20 bytes a second, each byte a TLS record of its own, until the client leaves."""
    connection.sendall(head("Content-Length: 100000"))
    while True:
        connection.sendall(b"r")
        time.sleep(0.05)


def answer_and_keep_open(connection, answer):
    """Answers before reading the upload, then keeps the connection until the client leaves."""
    connection.sendall(answer)
    while connection.recv(65536):
        pass


def chunked(data, *fields):
    return head("Transfer-Encoding: chunked", *fields) + b"%x\r\n%s\r\n0\r\n\r\n" % (len(data), data)


def endless_headers(connection):
    connection.sendall(b"HTTP/1.1 200 OK\r\n")
    while True:
        connection.sendall(b"X-Filler: " + b"f" * 1000 + b"\r\n")


ANSWERS = {
    "/good": lambda c: c.sendall(head("Content-Length: %d" % len(GOOD_BODY)) + GOOD_BODY),
    "/received": lambda c: c.sendall(head("Content-Length: %d" % len(str(received_bodies))) +
                                     str(received_bodies).encode()),
    "/short-length": lambda c: c.sendall(head("Content-Length: 1000") + b"0123456789"),
    "/short-chunk": lambda c: c.sendall(head("Transfer-Encoding: chunked") + b"400\r\n0123456789"),
    "/unterminated-chunks": lambda c: c.sendall(head("Transfer-Encoding: chunked") + b"a\r\n0123456789\r\n"),
    "/short-http10": lambda c: c.sendall(head("Content-Length: 1000", status="HTTP/1.0 200 OK") + b"0123456789"),
    "/two-lengths": lambda c: c.sendall(head("Content-Length: 5", "Content-Length: 1000") + b"01234"),
    "/huge-length": lambda c: (c.sendall(head("Content-Length: 268435456")), time.sleep(1)),
    "/continue": lambda c: c.sendall(b"HTTP/1.1 100 Continue\r\n\r\n" + head("Content-Length: %d" % len(GOOD_BODY))
                                     + GOOD_BODY),
    "/early-hints": lambda c: c.sendall(b"HTTP/1.1 103 Early Hints\r\nLink: </a.css>; rel=preload\r\n\r\n"
                                        + head("Content-Length: %d" % len(GOOD_BODY)) + GOOD_BODY),
    "/slow-body": lambda c: trickle(c, [head("Content-Length: 100")] + [b"b"] * 100, 1),
    "/slow-header-lines": lambda c: trickle(c, [b"HTTP/1.1 200 OK\r\n"] + [b"X-Line: l\r\n"] * 100, 1),
    "/slow-header-bytes": lambda c: trickle(c, [bytes([b]) for b in head("Content-Length: 0")], 20),
    "/endless-headers": endless_headers,
    "/records-every-50-ms": records_every_50_ms,
    # Framing and heads a client must refuse.
    "/chunked-then-identity": lambda c: c.sendall(
        chunked(b"REPAIRED", "Transfer-Encoding: identity", "Content-Length: 5")),
    "/status-2000": lambda c: c.sendall(head("Content-Length: 0", status="HTTP/1.1 2000 OK")),
    "/status-0200": lambda c: c.sendall(head("Content-Length: 0", status="HTTP/1.1 0200 OK")),
    "/header-without-colon": lambda c: c.sendall(head("Content-Length: 0", "X-No-Colon")),
    "/nul-in-header": lambda c: c.sendall(head("Content-Length: 0", "X-Nul: a\0b")),
    "/long-header-line": lambda c: c.sendall(head("Content-Length: 0", "X-Long: " + "l" * 150 * 1024)),
    # A transfer coding the client decodes.
    "/gzip-chunked": lambda c: c.sendall(chunked(gzip.compress(GOOD_BODY, mtime=0)).replace(
        b"Transfer-Encoding: chunked", b"Transfer-Encoding: gzip, chunked")),
}

# Answered before the request's body is read, as a server that refuses or finishes early does.
ANSWERS_BEFORE_THE_BODY = {
    "/too-many-then-close": lambda c: c.sendall(head("Content-Length: 16", status="HTTP/1.1 429 Too Many Requests")
                                                + b"too many uploads"),
    "/good-and-keep-open": lambda c: answer_and_keep_open(c, head("Content-Length: %d" % len(GOOD_BODY),
                                                               status="HTTP/1.1 200 OK") + GOOD_BODY),
}


def serve(connection):
    with connection:
        try:
            connection.settimeout(120)
            request = read_head(connection)
            if request is None:
                return
            path, length, body = request
            if path in ANSWERS_BEFORE_THE_BODY:
                ANSWERS_BEFORE_THE_BODY[path](connection)
            elif read_body(connection, length, body) and path in ANSWERS:
                ANSWERS[path](connection)
        except (OSError, ssl.SSLError):
            pass  # the client left, as it should from most of these


def listen(context):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)

    def accept_loop():
        while True:
            client, _ = listener.accept()
            threading.Thread(target=handshake_and_serve, args=(context, client), daemon=True).start()

    threading.Thread(target=accept_loop, daemon=True).start()
    return listener.getsockname()[1]


def handshake_and_serve(context, client):
    try:
        client.settimeout(30)
        connection = context.wrap_socket(client, server_side=True)
    except (OSError, ssl.SSLError):
        client.close()  # a refused certificate ends here
        return
    serve(connection)


def closed_port():
    """A loopback port nothing listens on: bound for the whole run and never listening, so every
    connection to it is refused and no other program can take it meanwhile."""
    holder = socket.socket()
    holder.bind(("127.0.0.1", 0))
    return holder, holder.getsockname()[1]


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory(prefix="hostile-tls-") as folder:
        certs = Certificates(folder)
        ports = []
        servers = make_servers_certificates(certs)
        for name, (chain, key) in servers.items():
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(chain, key)
            ports.append("%s=%d" % (name, listen(context)))
        tls13_only = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls13_only.minimum_version = ssl.TLSVersion.TLSv1_3
        tls13_only.load_cert_chain(*servers["good"])
        ports.append("tls13_only=%d" % listen(tls13_only))
        closed, closed_number = closed_port()
        ports.append("closed=%d" % closed_number)
        environment = dict(os.environ, HOSTILE_TLS_CA=certs.path("authority.pem"), HOSTILE_TLS_PORTS=",".join(ports))
        status = subprocess.run(sys.argv[1:], env=environment).returncode
        closed.close()
        sys.exit(status)


if __name__ == "__main__":
    main()
