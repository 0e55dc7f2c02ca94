#!/usr/bin/env python3
"""End-to-end tests of the skarn program on loopback: call against serve (plain
and TLS), curl against serve, faults, exit statuses, time-outs, signals, load."""
import fcntl
import json
import os
import pty
import re
import select
import signal
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

SKARN, VERSION = sys.argv.pop(1), sys.argv.pop(1)
ENVELOPE = ('<?xml version="1.0" encoding="UTF-8"?>\n<soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/">'
            '<soap:Body><m:Echo xmlns:m="urn:t">caf\u00e9 &amp; &lt;x&gt;</m:Echo></soap:Body></soap:Envelope>\n')
ECHO_LINE = '<m:Echo xmlns:m="urn:t">caf\u00e9 &amp; &lt;x&gt;</m:Echo>'
FAULT = ('<soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body><soap:Fault>'
         '<faultcode>soap:Server</faultcode><faultstring>no such account</faultstring></soap:Fault></soap:Body></soap:Envelope>')
BOMB = ('<?xml version="1.0"?><!DOCTYPE d [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;">]>'
        '<soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body>&b;</soap:Body></soap:Envelope>')
XML_DECL = '<?xml version="1.0" encoding="UTF-8"?>\n'
SOAP12_FAULT = ('<env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope"><env:Body><env:Fault><env:Code>'
                '<env:Value>env:Receiver</env:Value></env:Code><env:Reason><env:Text xml:lang="en">no such account</env:Text>'
                '</env:Reason></env:Fault></env:Body></env:Envelope>')
TMP = tempfile.mkdtemp(prefix="skarn-tool-")


def path(name):
    return os.path.join(TMP, name)


def read(name):
    with open(name, "rb") as f:
        return f.read()


def pipe_bytes(stream):
    return struct.unpack("i", fcntl.ioctl(stream.fileno(), termios.FIONREAD, b"\0" * 4))[0]


def write(name, data):
    with open(path(name), "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)
    return path(name)


def run(*args, timeout=30, **kw):
    return subprocess.run([SKARN, *args], capture_output=True, text=True, timeout=timeout, **kw)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_certificates():
    def ssl_cmd(*args):
        subprocess.run(["openssl", *args], check=True, capture_output=True, timeout=60)
    ssl_cmd("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("ca.key"), "-out", path("ca.pem"),
            "-days", "2", "-subj", "/CN=skarn test CA")
    for name, san in (("good", "subjectAltName=IP:127.0.0.1,DNS:localhost"), ("wrong", "subjectAltName=DNS:elsewhere.invalid")):
        ssl_cmd("req", "-newkey", "rsa:2048", "-nodes", "-keyout", path(name + ".key"), "-out", path(name + ".csr"),
                "-subj", "/CN=" + name)
        ssl_cmd("x509", "-req", "-in", path(name + ".csr"), "-CA", path("ca.pem"), "-CAkey", path("ca.key"),
                "-CAcreateserial", "-out", path(name + ".pem"), "-days", "2", "-extfile", write(name + ".ext", san))


class Server:
    """skarn serve on a port of the system's choosing; stop() sends SIGTERM."""

    def __init__(self, *args, tls=None):
        cert = ["--tls-cert", path(tls + ".pem"), "--tls-key", path(tls + ".key")] if tls else []
        self.proc = subprocess.Popen([SKARN, "serve", "--port", "0", *cert, *args], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        self.port = int(self.proc.stdout.readline())
        self.url = "%s://127.0.0.1:%d/svc" % ("https" if tls else "http", self.port)

    def stop(self, before_reading=0.0):
        self.proc.send_signal(signal.SIGTERM)
        time.sleep(before_reading)  # time for the signal to reach a write blocked on the output's pipe
        out, err = self.proc.communicate(timeout=10)
        return self.proc.returncode, out, err

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.communicate()


class Peer:
    """A loopback HTTP peer for what serve never sends: each connection gets the next of `answers` (bytes; "{url}"
    becomes the peer's own URL) and is closed; the requests read (head and body) are kept in order."""

    def __init__(self, *answers):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.url = "http://127.0.0.1:%d" % self.listener.getsockname()[1]
        self.answers, self.requests = list(answers), []
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        for answer in self.answers:
            conn, _ = self.listener.accept()
            with conn:
                got = b""
                while b"\r\n\r\n" not in got:
                    got += conn.recv(65536)
                head, body = got.split(b"\r\n\r\n", 1)
                length = re.search(rb"(?i)\r\ncontent-length: *(\d+)", head)
                while (len(body) < int(length.group(1))) if length else not body.endswith(b"\r\n0\r\n\r\n"):
                    body += conn.recv(65536)
                self.requests.append((head.decode(), body))
                conn.sendall(answer.replace(b"{url}", self.url.encode()))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.listener.close()


def answer(status=b"200 OK", body=b"<r>ok</r>", extra=b""):
    return (b"HTTP/1.1 " + status + b"\r\nContent-Type: text/xml\r\nContent-Length: %d\r\n" % len(body) + extra +
            b"Connection: close\r\n\r\n" + body)


def exchange(port, request, tls=False):
    """Sends raw bytes on a new connection and reads until the server closes (10 s at most)."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=10)
    if tls:
        sock = ssl.create_default_context(cafile=path("ca.pem")).wrap_socket(sock, server_hostname="localhost")
    with sock:
        sock.sendall(request)
        got = b""
        while True:
            data = sock.recv(65536)
            if not data:
                return got
            got += data


def closed_by_server(port, tls=False, trickle=b""):
    """True when the server closes a connection that says nothing (or trickles 40 bytes of `trickle`, one
    every 0.2 s) within 15 s."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=15)
    if tls:
        sock = ssl.create_default_context(cafile=path("ca.pem")).wrap_socket(sock, server_hostname="localhost")
    with sock:
        try:
            for i in range(min(len(trickle), 40)):
                sock.sendall(trickle[i:i + 1])
                time.sleep(0.2)
            return sock.recv(100) == b""
        except socket.timeout:
            return False
        except OSError:  # reset, broken pipe, TLS connection cut
            return True


class SkarnTool(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        make_certificates()
        write("env.xml", ENVELOPE)
        write("fault.xml", FAULT)
        write("every-byte.bin", bytes(range(256)) * 4 + b"\r\n--=_=mirra-mp-boundary=_=\r\n\0")
        write("big.dat", os.urandom(3 << 19))
        write("note.txt", "plain text\n")

    def call_and_compare(self, url, *extra):
        out = path("out-%d" % len(os.listdir(TMP)))
        attach = [path("every-byte.bin") + ";type=application/x-raw;id=<part one@t>", path("big.dat"), path("note.txt")]
        r = run("call", url, path("env.xml"), "--out", out, *[a for f in attach for a in ("--attach", f)], *extra)
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertIn("\n    " + ECHO_LINE + "\n", r.stdout)
        saved = {n: read(os.path.join(out, n)) for n in os.listdir(out)}
        expected = {n: read(path(f)) for n, f in
                    (("_part_one_t_", "every-byte.bin"), ("big.dat", "big.dat"), ("note.txt", "note.txt"))}
        self.assertEqual(saved, expected)

    def test_call_against_serve_plain_and_tls_with_attachments_both_ways(self):
        with Server() as plain, Server(tls="good") as secure:
            for label, url, extra in (
                    ("plain, chunks", plain.url, []),
                    ("plain, length", plain.url, ["--content-length"]),
                    ("plain, 100-byte chunks, action", plain.url, ["--chunk-size", "100", "--action", "urn:echo"]),
                    ("TLS", secure.url, ["--cacert", path("ca.pem")]),
                    ("TLS by name, client header", secure.url.replace("127.0.0.1", "localhost"),
                     ["--cacert", path("ca.pem"), "--header", "Authorization: Basic dTpw"])):
                with self.subTest(label):
                    self.call_and_compare(url, *extra)
            raw = run("call", plain.url, "-", "--raw", "--verbose", "--action", "urn:echo", "--header",
                      "Authorization: Basic dTpw", input=ENVELOPE)
            self.assertEqual(raw.returncode, 0)
            self.assertEqual(raw.stdout, ENVELOPE[ENVELOPE.index("<soap:"):].rstrip("\n"))
            self.assertRegex(raw.stderr, r"^> POST /svc HTTP/1.1\n(> .+\n)+< HTTP/1.1 200 OK\n(< .+\n)+$")
            self.assertIn('> SOAPAction: "urn:echo"\n> Authorization: Basic dTpw\n', raw.stderr)

    def test_client_options_shape_the_request_and_the_output(self):
        env, out = path("env.xml"), path("envelope-out.xml")
        rows = (("headers and --user", [env, "-H", "X-Trace: 7", "--header", "accept-language: fr", "-u", "u:p"],
                 ["\r\nAuthorization: Basic dTpw\r\n", "\r\nX-Trace: 7\r\naccept-language: fr\r\n"], b"Echo", None),
                ("--data", ["--data", "<q>inline</q>"], ["POST /svc HTTP/1.1\r\n"], b"<q>inline</q>", None),
                ("-i: every field", [env, "-i"], [], b"Echo", "HTTP/1.1 200 OK\nconnection: close\ncontent-length: 9\n"
                                                 "content-type: text/xml\nx-odd: 1\n\n" + XML_DECL + "<r>ok</r>\n"),
                ("-o -i", [env, "-o", out, "-i", "--connect-timeout", "5"], [], b"Echo", ""),
                ("--soap12", [env, "--soap12", "--action", "urn:echo"],
                 ['\r\nContent-Type: application/soap+xml; charset=UTF-8; action="urn:echo"\r\n', "!SOAPAction"], b"Echo",
                 None))
        with Peer(*[answer(extra=b"X-Odd: 1\r\n")] * len(rows)) as peer:
            for label, args, in_head, in_body, stdout in rows:
                with self.subTest(label):
                    r = run("call", peer.url + "/svc", *args)
                    self.assertEqual((r.returncode, r.stderr), (0, ""))
                    head, body = peer.requests[-1]
                    for text in in_head:
                        (self.assertNotIn(text[1:], head) if text[0] == "!" else self.assertIn(text, head))
                    self.assertIn(in_body, body)
                    if stdout is not None:
                        self.assertEqual(r.stdout, stdout)
        self.assertEqual(read(out).decode(), "HTTP/1.1 200 OK\r\nconnection: close\r\ncontent-length: 9\r\n"
                                             "content-type: text/xml\r\nx-odd: 1\r\n\r\n" + XML_DECL + "<r>ok</r>\n")
        for args, why in ((["-H", "Connection: close"], "set by the message writer"), (["-H", "X: a", "-u", "nocolon"],
                                                                                      "USER:PASSWORD"),
                          ([path("env.xml"), "--data", "<a/>"], "excludes")):
            r = run("call", "http://127.0.0.1:%d/svc" % free_port(), *args, *([] if "--data" in args else [env]))
            self.assertEqual(r.returncode, 2, r.stderr)
            self.assertIn(why, r.stderr)

    def test_redirects_post_kept_only_for_307_and_308_and_a_401(self):
        def moved(status, to):
            return answer(status, b"", b"Location: " + to + b"\r\n")
        rows = (("307, 308, then 200", [moved(b"307 Temporary Redirect", b"/next"),
                                        moved(b"308 Permanent Redirect", b"{url}/last"), answer()], ["-L", "-i"], 0,
                 ["/svc", "/next", "/last"], "", r"(?s)^HTTP/1.1 307 .*\nHTTP/1.1 308 .*\nHTTP/1.1 200 OK\n"),
                ("303 then 307: GET twice", [moved(b"303 See Other", b"/x"), moved(b"307 Temporary Redirect", b"/y"),
                                             answer()], ["-L"], 0, ["/svc", "/x", "/y"], "", None),
                ("six hops", [moved(b"307 Temporary Redirect", b"again")] * 6, ["-L"], 1, ["/svc"] + ["/again"] * 5,
                 "more than 5 redirects (-L); the last to again", None),
                ("without -L", [moved(b"302 Found", b"/y")], [], 1, ["/svc"], "the server answered 302 Found", None),
                ("401", [answer(b"401 Unauthorized", b"", b'WWW-Authenticate: Basic realm="r"\r\n')], ["-i", "-u", "u:x"],
                 1, ["/svc"], "the server answered 401 Unauthorized", r'\nwww-authenticate: Basic realm="r"\n'))
        for label, answers, args, status, paths, why, shown in rows:
            with self.subTest(label), Peer(*answers) as peer:
                r = run("call", peer.url + "/svc", path("env.xml"), *args)
                self.assertEqual(r.returncode, status, r.stderr)
                self.assertIn(why, r.stderr)
                methods = ["POST"] + ["GET" if "303" in label else "POST"] * (len(paths) - 1)
                self.assertEqual([h.split()[:2] for h, _ in peer.requests], [list(p) for p in zip(methods, paths)])
                self.assertEqual([b"Echo" in body for _, body in peer.requests], [m == "POST" for m in methods])
                if shown:
                    self.assertRegex(r.stdout, shown)

    def test_soap12_requests_get_soap12_answers_and_faults(self):
        fault12 = write("fault12.xml", SOAP12_FAULT)
        with Server() as echo, Server("--respond", fault12) as faulty:
            r = run("call", echo.url, path("env.xml"), "--soap12", "-i", "--attach", path("note.txt"), "--out", path("o12"))
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn('\ncontent-type: multipart/related; type="application/soap+xml"; boundary=', r.stdout)
            r = run("call", faulty.url, path("env.xml"), "--soap12", "-i")
            self.assertEqual(r.returncode, 1)
            self.assertIn("\ncontent-type: application/soap+xml; charset=UTF-8\n", r.stdout)
            self.assertIn("a SOAP fault: no such account", r.stderr)
            answer = exchange(echo.port, b"POST /svc HTTP/1.1\r\nHost: t\r\nContent-Type: application/soap+xml\r\n"
                                         b"Content-Length: 3\r\n\r\n<a>").decode()
            # the server ends the connection after a fault, and says so
            self.assertRegex(answer, r"^HTTP/1.1 500 [^\r]*\r\nConnection: close\r\n"
                                     r"Content-Type: application/soap\+xml; charset=UTF-8\r\n")
            self.assertIn("<env:Code><env:Value>env:Sender</env:Value></env:Code><env:Reason><env:Text", answer)

    def test_progress_line_on_a_terminal_for_transfers_over_1_mib(self):
        master, slave = pty.openpty()
        with Server() as server, open(slave, "w") as terminal, open(master, "rb", buffering=0) as screen:
            r = subprocess.run([SKARN, "call", server.url, path("env.xml"), "--attach", path("big.dat"), "--out",
                                path("progress")], stdout=subprocess.PIPE, stderr=terminal, timeout=30)
            self.assertEqual(r.returncode, 0)
            shown = b""
            while select.select([screen], [], [], 0.5)[0]:
                shown += screen.read(4096)
        self.assertRegex(shown.decode(), r"\rskarn: \d+ bytes \([\d.]+ MiB\), [\d.]+ MiB/s")
        self.assertTrue(shown.endswith(b"\r\n"), shown)

    def test_curl_posts_to_serve_and_reads_the_echo(self):
        with Server() as server:
            for label, options in (("HTTP/1.1", []), ("HTTP/1.0", ["-0"])):
                with self.subTest(label):
                    r = subprocess.run(["curl", "-sS", "-i", *options, "-H", "Content-Type: text/xml", "--data-binary",
                                        "@" + path("env.xml"), server.url], capture_output=True, timeout=30)
                    head, _, body = r.stdout.partition(b"\r\n\r\n")
                    self.assertEqual(r.returncode, 0, r.stderr)
                    self.assertTrue(head.startswith(b"HTTP/1.1 200 OK"), head)
                    self.assertIn(ECHO_LINE.encode(), body)
                    if options:
                        self.assertIn(b"Content-Length: %d" % len(body), head)

    def test_stop_drains_keeps_counts_and_exits_0(self):
        with Server("--stats", "1", "--health-path", "/up", "--drain", "5") as server:
            held = socket.create_connection(("127.0.0.1", server.port), timeout=10)  # idle, kept alive
            held.sendall(b"GET /up HTTP/1.1\r\nHost: t\r\n\r\n")
            self.assertEqual(held.recv(4096), b"HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                                              b"Content-Length: 3\r\n\r\nok\n")
            self.assertEqual(run("call", server.url, path("env.xml")).returncode, 0)
            rc, _, err = server.stop()
            self.assertEqual(held.recv(4096), b"")  # the idle connection was closed by the stop
            held.close()
        self.assertEqual(rc, 0)
        last = err.strip().splitlines()[-1]
        self.assertRegex(last, r"^skarn serve: open 0 idle 0 handshaking 0 reading 0 active 0 \| accepted 2 requests 2 "
                               r"faults 0 edge 1 refused 0 \| timeouts idle 0 head 0 handshake 0 body 0 write 0 \| "
                               r"handshake failures 0$")

    def test_bad_requests_get_a_client_error_and_the_server_goes_on(self):
        def post(body, extra=b""):
            return (b"POST /svc HTTP/1.1\r\nHost: t\r\nContent-Type: text/xml\r\n" + extra +
                    b"Content-Length: %d\r\nConnection: close\r\n\r\n" % len(body) + body.encode())
        fault = "<faultcode>soap:Client</faultcode><faultstring>the request envelope is not well-formed XML</faultstring>"
        # want: the status line, then what the answer holds (its body: no internal names)
        cases = (("not well-formed, 800 KB unread behind the error", post("<a><b>x</a>" + "<c/>" * 200000),
                  "500 Internal Server Error", fault),
                 ("entity declarations", post(BOMB), "500 Internal Server Error", fault),
                 ("bad method", b"BREW /svc HTTP/1.1\r\nHost: t\r\nContent-Length: 4\r\n\r\n<a/>",
                  "405 Method Not Allowed", "Allow: POST\r\nConnection: close\r\n\r\nonly POST carries a SOAP request\n"),
                 ("head over --max-head", post(ENVELOPE, b"X-Pad: " + b"p" * 2000 + b"\r\n"),
                  "431 Request Header Fields Too Large", "\r\n\r\nthe request head is larger than the limit\n"),
                 ("two lengths", post(ENVELOPE, b"Content-Length: 1\r\n"), "400 Bad Request",
                  "\r\n\r\nbad request head or framing\n"),
                 ("no length", b"POST /svc HTTP/1.1\r\nHost: t\r\n\r\n", "411 Length Required",
                  "\r\n\r\na POST needs Content-Length or chunked framing\n"),
                 ("version", b"POST /svc HTTP/1.2\r\nHost: t\r\n\r\n", "505 HTTP Version Not Supported",
                  "\r\n\r\nonly HTTP/1.0 and HTTP/1.1 are served\n"),
                 ("broken chunk", b"POST /svc HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
                  "400 Bad Request", "\r\n\r\nbad request head or framing\n"))
        with Server("--max-head", "1024", "--log") as server:
            for label, request, status, held in cases:
                with self.subTest(label):
                    answer = exchange(server.port, request).decode("utf-8", "replace")
                    self.assertTrue(answer.startswith("HTTP/1.1 " + status + "\r\n"), answer)
                    self.assertIn(held, answer)
                    self.assertEqual(run("call", server.url, path("env.xml")).returncode, 0)
            rc, log, _ = server.stop()
        self.assertEqual(rc, 0)
        statuses = [line.split()[4] for line in log.splitlines()]
        self.assertEqual(statuses, [x for c in cases for x in (c[2][:3], "200")])
        self.assertRegex(log.splitlines()[1], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ 127\.0\.0\.1 POST /svc 200 \d+ \d+ \d+$")

    def test_access_log_as_text_and_as_json_lines(self):
        paths = (b'/a"b\\c', b"/caf\xc3\xa9\xff", b"/t\x01x")
        # a control byte in the path is a bad head (400); the log still shows the path
        expected = {"text": ['/a"b\\c', "/caf\u00e9%FF", "/t%01x"],
                    "json": ['/a"b\\c', "/caf\u00e9\ufffd", "/t\x01x"]}
        for form in ("text", "json"):
            with self.subTest(form), Server("--log-format", form) as server:
                for p in paths:
                    exchange(server.port, b"POST " + p + b" HTTP/1.1\r\nHost: t\r\nContent-Length: 4\r\n"
                                                         b"Connection: close\r\n\r\n<a/>")
                rc, log, _ = server.stop()
                self.assertEqual(rc, 0)
                if form == "json":
                    rows = [json.loads(line) for line in log.splitlines()]
                    self.assertEqual([list(r) for r in rows], [["time", "peer", "method", "path", "status", "bytes_in",
                                                                "bytes_out", "ms"]] * 3)
                    self.assertEqual([(r["peer"], r["method"], r["status"], r["bytes_in"]) for r in rows],
                                     [("127.0.0.1", "POST", 200 if b"\x01" not in p else 400, 69 + len(p))
                                      for p in paths])
                else:
                    rows = [dict(zip(("time", "peer", "method", "path"), line.split())) for line in log.splitlines()]
                    self.assertTrue(all(len(line.split()) == 8 for line in log.splitlines()), log)
                self.assertEqual([r["path"] for r in rows], expected[form])

    def test_an_empty_request_gets_a_client_fault_at_once(self):
        with Server() as server:
            for label, framing in (("length 0", b"Content-Length: 0\r\n\r\n"),
                                   ("empty chunked body", b"Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n")):
                with self.subTest(label):
                    start = time.monotonic()
                    answer = exchange(server.port, b"POST /svc HTTP/1.1\r\nHost: t\r\n" + framing).decode()
                    self.assertLess(time.monotonic() - start, 0.5)
                    self.assertTrue(answer.startswith("HTTP/1.1 500 "), answer)
                    self.assertIn("<faultcode>soap:Client</faultcode><faultstring>the request carries no envelope</faultstring>",
                                  answer)

    def test_failures_give_their_exit_status_and_one_line_in_words(self):
        refused = "http://127.0.0.1:%d/svc" % free_port()
        silent = socket.create_server(("127.0.0.1", 0))  # the system completes connections nobody accepts
        full = socket.create_server(("127.0.0.1", 0), backlog=0)  # once its queue is full, connects go unanswered
        queued = [socket.socket() for _ in range(3)]
        for s in queued:
            s.setblocking(False)
            s.connect_ex(full.getsockname())
        with silent, full, Server(tls="wrong") as wrong, Server(tls="good") as secure, \
                Server("--respond", path("fault.xml")) as faulty:
            env, plain_port = path("env.xml"), faulty.port
            cases = (("no answer within --timeout", ["call", "http://127.0.0.1:%d/svc" % silent.getsockname()[1], env,
                                                     "--timeout", "1"], 3, "no data from the server for 1 s (--timeout)"),
                     ("connect time-out", ["call", "http://127.0.0.1:%d/svc" % full.getsockname()[1], env,
                                           "--connect-timeout", "1"], 3, "within 1 s (--connect-timeout) (5 tries over 1"),
                     ("server unreachable", ["call", refused, env], 3,
                      r"connection refused by 127\.0\.0\.1:\d+ \(5 tries over [89] s\)$"),
                     ("TLS name mismatch", ["call", wrong.url, env, "--cacert", path("ca.pem")], 3,
                      "TLS handshake with 127.0.0.1:%d failed: the server's certificate is not for 127.0.0.1" % wrong.port),
                     ("untrusted certificate", ["call", secure.url, env], 3,
                      "certificate is not trusted (unable to get local issuer certificate; --cacert"),
                     ("https to a plain port", ["call", "https://127.0.0.1:%d/svc" % plain_port, env], 3,
                      "TLS handshake with 127.0.0.1:%d failed: the server speaks plain HTTP" % plain_port),
                     ("http to a TLS port", ["call", "http://127.0.0.1:%d/svc" % secure.port, env], 3,
                      "the server closed the connection before answering (is it a TLS port?)"),
                     ("unusable --cacert", ["call", secure.url, env, "--cacert", path("note.txt")], 2,
                      "--cacert %s: no certificate or crl found" % path("note.txt")),
                     ("port out of range", ["call", "http://127.0.0.1:65536/svc", env], 2, "with a port of 1 to 65535: http://127.0.0.1:65536/svc"),
                     ("bad header name", ["call", refused, env, "-H", "X Bad: 1"], 2,
                      '--header: "X Bad" is not a header name'),
                     ("unknown subcommand", ["bogus"], 2, 'unknown subcommand "bogus"'),
                     ("missing input file", ["call", faulty.url, path("absent.xml")], 2, "cannot read"),
                     ("missing attachment", ["call", faulty.url, env, "--attach", path("absent.bin")], 2, "cannot read"),
                     ("envelope not XML", ["call", faulty.url, path("note.txt")], 2, "not a usable envelope"),
                     ("bad URL", ["call", "127.0.0.1/svc", env], 2, "not a URL"),
                     ("SOAP fault answered", ["call", faulty.url, env], 1, "no such account"))
            procs = [(c, subprocess.Popen([SKARN, *c[1]], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True))
                     for c in cases]
            for (label, _, status, text), proc in procs:
                with self.subTest(label):
                    _, err = proc.communicate(timeout=60)
                    self.assertEqual(proc.returncode, status, err)
                    self.assertEqual(len(err.splitlines()), 1, err)
                    self.assertTrue(err.startswith("skarn: "), err)
                    self.assertNotRegex(err, r"0x[0-9a-f]|Exception|QSM_|\d{10}")
                    if text.endswith("$"):
                        self.assertRegex(err.rstrip("\n"), text)
                    else:
                        self.assertIn(text, err)
        for s in queued:
            s.close()
        verbose = run("call", refused, path("env.xml"), "--verbose", "--timeout", "1")
        self.assertRegex(verbose.stderr, r"^skarn: connection refused by .*\n  SkarnException code=5(.|\n)*QSM_Connect=0x")

    def test_silent_and_trickling_connections_are_closed(self):
        head = b"POST /svc HTTP/1.1\r\nHost: t\r\nContent-Type: text/xml\r\nContent-Length: 500\r\n\r\n" + b" " * 500
        with Server("--idle-timeout", "1", "--request-timeout", "2") as plain, \
                Server("--idle-timeout", "1", "--request-timeout", "2", tls="good") as secure:
            for label, port, tls, trickle in (("plain, silent", plain.port, False, b""),
                                              ("TLS, silent after the handshake", secure.port, True, b""),
                                              ("TLS port, silent before the handshake", secure.port, False, b""),
                                              ("plain, trickling", plain.port, False, head),
                                              ("TLS, trickling", secure.port, True, head)):
                with self.subTest(label):
                    self.assertTrue(closed_by_server(port, tls, trickle))
            for server in (plain, secure):
                self.assertEqual(run("call", server.url, path("env.xml"), "--cacert", path("ca.pem")).returncode, 0)

    def test_sigterm_during_a_load_run_exits_0_and_answers_whole(self):
        # One thread: the thread the signal interrupts is the one writing the log.
        with Server("--log", "--threads", "1") as server:
            load = subprocess.Popen([SKARN, "call", server.url, path("env.xml"), "--repeat", "10000000",
                                     "--concurrency", "4"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            # Nobody reads the log until the stop, so its pipe fills and the
            # server's log writes block: the signal must not cut a line short.
            # It is full when it has stopped growing past 60,000 bytes.
            deadline, held, steady = time.monotonic() + 30, -1, 0
            while steady < 10 and time.monotonic() < deadline:
                time.sleep(0.05)
                now = pipe_bytes(server.proc.stdout)
                steady = steady + 1 if now == held and now > 60000 else 0
                held = now
            rc, log, _ = server.stop(before_reading=0.5)
            out, _ = load.communicate(timeout=60)
        self.assertEqual(steady, 10, "the log's pipe did not fill")
        self.assertEqual(rc, 0)
        logged = [line.split()[4] for line in log.splitlines()]
        answered = int(re.search(r"answered (\d+)", out).group(1))
        self.assertGreater(answered, 0)
        self.assertEqual(logged, ["200"] * answered)

    def test_load_mode_4_threads_1000_exchanges_each(self):
        with Server() as server:
            r = run("call", server.url, path("env.xml"), "--repeat", "4000", "--concurrency", "4", timeout=60)
        print("\n" + r.stdout, end="", file=sys.stderr)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertRegex(r.stdout, r"^exchanges 4000 of 4000 in [\d.]+ s: [\d.]+/s\n"
                                   r"latency ms: p50 [\d.]+ p90 [\d.]+ p99 [\d.]+ max [\d.]+\nanswered 4000, errors 0\n$")

    def test_load_mode_against_servers_that_close(self):
        """An answer that ends the connection ends that session, not the run: HTTP/1.1 with
        "Connection: close" on every third answer, and HTTP/1.0 without keep-alive."""
        body = b"<r>ok</r>"
        for label, version, every in (("close every third", b"HTTP/1.1", 3), ("HTTP/1.0", b"HTTP/1.0", 1)):
            with self.subTest(label), socket.socket() as listener:
                listener.bind(("127.0.0.1", 0))
                listener.listen(64)
                listener.settimeout(0.2)
                stop, answered = [], [0]

                def serve(conn):
                    with conn:
                        got = b""
                        while not stop:
                            try:
                                data = conn.recv(65536)
                            except OSError:
                                return
                            if not data:
                                return
                            got += data
                            while b"\r\n0\r\n\r\n" in got:
                                got = got.split(b"\r\n0\r\n\r\n", 1)[1]
                                answered[0] += 1
                                closing = answered[0] % every == 0
                                conn.sendall(version + b" 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 9\r\n" +
                                             (b"Connection: close\r\n" if closing and version == b"HTTP/1.1" else b"") +
                                             b"\r\n" + body)
                                if closing:
                                    return

                def accept():
                    while not stop:
                        try:
                            conn, _ = listener.accept()
                        except socket.timeout:
                            continue
                        threading.Thread(target=serve, args=(conn,), daemon=True).start()

                acceptor = threading.Thread(target=accept, daemon=True)
                acceptor.start()
                try:
                    r = run("call", "http://127.0.0.1:%d/svc" % listener.getsockname()[1], path("env.xml"),
                            "--repeat", "60", "--timeout", "5", timeout=60)
                finally:
                    stop.append(True)
                    acceptor.join()
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn("answered 60, errors 0\n", r.stdout)

    def test_help_and_version(self):
        for args, text in ((["--version"], "skarn %s\n" % VERSION), (["--help"], "Subcommands:"),
                           (["--help"], "Exit status: 0 success; 1 "), (["call", "--help"], "--concurrency"),
                           (["call", "--help"], "\n3 connection, TLS, time-out"), (["serve", "--help"], "--log-format")):
            with self.subTest(" ".join(args)):
                r = run(*args)
                self.assertEqual(r.returncode, 0)
                self.assertIn(text, r.stdout)
        self.assertEqual(run("call", "--chunk-size", "9", "--content-length", "http://x/").returncode, 2)


if __name__ == "__main__":
    unittest.main(verbosity=2)
