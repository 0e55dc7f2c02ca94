#!/usr/bin/env python3
"""The toolkit's echo exchange against gSOAP's, through each one's public API, in one run.

For each case both peers run on loopback, one process per side: bench/api's
skarn_echo_client against skarn_echo_server (a SkarnServerRuntime), and bench/gsoap's
gsoap_echo_client against gsoap_echo_server. Rounds interleave the peers (the order
alternates), so that a noisy machine weighs on both; each figure is the median of its
rounds. CPU is client plus server per exchange (the server's from /proc). The table gives
the ratio Skarn / gSOAP of the exchange rates beside the target ratio, and for the plain
cases the floor: raw_echo, the same HTTP bytes through bare sockets with no XML, whose
ratio to gSOAP bounds what any toolkit could reach on this machine.

  compare.py [--bin build/bin] [--rounds 3] [--scale 1.0] [--cases a,b] [--json FILE]
"""
import argparse
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
import procstat  # noqa: E402

# name, payload bytes, client threads, new connection per exchange, TLS, exchanges per thread, target
CASES = [
    ("1k-kept", 783, 1, False, False, 20000, 1.4),
    ("1k-kept-8conn", 783, 8, False, False, 5000, 1.3),
    ("64k-kept", 65536, 1, False, False, 2000, 6.0),
    ("1k-new", 783, 1, True, False, 5000, 1.2),
    ("64k-new", 65536, 1, True, False, 1000, 2.0),
    ("tls-1k-kept", 783, 1, False, True, 20000, 1.4),
    ("tls-1k-kept-8conn", 783, 8, False, True, 5000, 1.3),
    ("tls-64k-kept", 65536, 1, False, True, 2000, 6.0),
    ("tls-1k-new-resumed", 783, 1, True, True, 2000, 1.2),
]


def first_line(proc, timeout=10.0):
    end = time.time() + timeout
    line = proc.stdout.readline()
    if not line or time.time() > end:
        raise RuntimeError("server did not start: " + proc.stderr.read())
    return line.strip()


class Server:
    def __init__(self, peer, bindir, new, tls, keys):
        if peer == "raw":
            cmd = [os.path.join(bindir, "raw_echo"), "server", "0"] + (["--close"] if new else [])
        elif peer == "skarn":
            cmd = [os.path.join(bindir, "skarn_echo_server"), "0"]
            if new:
                cmd.append("--close")
            if tls:
                cmd += ["--tls", keys["cert"], keys["key"]]
        else:
            self.port = free_port()
            cmd = [os.path.join(bindir, "gsoap_echo_server"), str(self.port)]
            if tls:
                cmd.append(keys["both"])
        self.proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.port = int(first_line(self.proc))

    def cpu(self):
        return procstat.tree_stats(self.proc.pid)["cpu_s"]

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run_once(peer, case, bindir, keys, scale):
    name, size, threads, new, tls, per_thread, _ = case
    n = max(50, int(per_thread * scale))
    server = Server(peer, bindir, new, tls, keys)
    try:
        url = f"{'https' if tls else 'http'}://127.0.0.1:{server.port}/"
        if peer == "raw":
            args = [os.path.join(bindir, "raw_echo"), "client", url, str(n), str(size), str(threads)]
        else:
            args = [os.path.join(bindir, f"{peer}_echo_client"), url, str(n), str(size), str(threads)]
        if peer != "skarn":
            args.append("new" if new else "keep")
        cpu0 = server.cpu()
        out = subprocess.run(args, capture_output=True, text=True, timeout=600)
        server_cpu = server.cpu() - cpu0
    finally:
        server.stop()
    if out.returncode != 0:
        raise RuntimeError(f"{peer} {name}: client failed ({out.returncode}): {out.stderr.strip()[-400:]}")
    got = dict(re.findall(r"(\w+)=([\d.]+)", out.stdout))
    exchanges = float(got["exchanges"])
    return {"rate": float(got["exchanges_per_s"]),
            "cpu_us": float(got["cpu_us"]) + server_cpu * 1e6 / exchanges}


def make_keys(folder):
    key, cert, both = (os.path.join(folder, f) for f in ("key.pem", "cert.pem", "both.pem"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"],
                   check=True, capture_output=True)
    with open(both, "w") as out:
        for f in (key, cert):
            out.write(open(f).read())
    return {"key": key, "cert": cert, "both": both}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--bin", default=os.path.join(here, "..", "..", "build", "bin"))
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--scale", type=float, default=1.0, help="multiplies the exchanges of every run")
    ap.add_argument("--cases", default="", help="comma-separated names (default: all)")
    ap.add_argument("--json", default="")
    a = ap.parse_args()
    cases = [c for c in CASES if not a.cases or c[0] in a.cases.split(",")]
    for exe in [os.path.join(a.bin, f"{p}_echo_{s}") for p in ("skarn", "gsoap") for s in ("client", "server")] + \
            [os.path.join(a.bin, "raw_echo")]:
        if not os.access(exe, os.X_OK):
            sys.exit(f"compare.py: {exe} is missing (build with -DSKARN_BUILD_BENCH=ON; gSOAP: gsoap, libgsoap-dev)")
    results = {}
    with tempfile.TemporaryDirectory() as tmp:
        keys = make_keys(tmp)
        for r in range(a.rounds):
            for case in cases:
                order = ("gsoap", "skarn") if (r + cases.index(case)) % 2 else ("skarn", "gsoap")
                if not case[4]:
                    order += ("raw",)
                for peer in order:
                    got = run_once(peer, case, a.bin, keys, a.scale)
                    results.setdefault(case[0], {}).setdefault(peer, []).append(got)
                    print(f"round {r + 1} {case[0]:<20} {peer:<6} {got['rate']:>9.1f}/s {got['cpu_us']:>8.1f} us",
                          file=sys.stderr, flush=True)
    rows = []
    print(f"{'case':<20} {'gSOAP/s':>9} {'Skarn/s':>9} {'ratio':>6} {'target':>6}  met  "
          f"{'gSOAP CPU us':>12} {'Skarn CPU us':>12} {'CPU ratio':>9} {'floor/s':>9} {'floor ratio':>11}")
    for name, size, threads, new, tls, _, target in cases:
        med = {p: {k: statistics.median(x[k] for x in results[name][p]) for k in ("rate", "cpu_us")}
               for p in results[name]}
        ratio = med["skarn"]["rate"] / med["gsoap"]["rate"]
        cpu_ratio = med["gsoap"]["cpu_us"] / med["skarn"]["cpu_us"]
        met = ratio >= target
        floor = med["raw"]["rate"] if "raw" in med else None
        rows.append({"case": name, "bytes": size, "threads": threads, "new": new, "tls": tls, "target": target,
                     "gsoap": med["gsoap"], "skarn": med["skarn"], "raw": med.get("raw"), "ratio": ratio,
                     "cpu_ratio": cpu_ratio, "met": met, "rounds": results[name]})
        floor_text = f"{floor:>9.1f} {floor / med['gsoap']['rate']:>11.2f}" if floor else f"{'-':>9} {'-':>11}"
        print(f"{name:<20} {med['gsoap']['rate']:>9.1f} {med['skarn']['rate']:>9.1f} {ratio:>6.2f} {target:>6.1f}  "
              f"{'yes' if met else 'NO ':<3}  {med['gsoap']['cpu_us']:>12.1f} {med['skarn']['cpu_us']:>12.1f} "
              f"{cpu_ratio:>9.2f} {floor_text}")
    if a.json:
        with open(a.json, "w") as out:
            json.dump(rows, out, indent=1)


if __name__ == "__main__":
    main()
