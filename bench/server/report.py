#!/usr/bin/env python3
"""Collects the server benchmark's results and prints them beside the targets.

  report.py add RESULTS.jsonl --scenario S --server X --figures F [--param k=v ...] [--error MSG]
      appends one result (figures read from the JSON file F, machine load added)
  report.py last RESULTS.jsonl
      prints the latest result as one line
  report.py table RESULTS.jsonl OUTDIR
      prints the table and writes OUTDIR/results.json and OUTDIR/results.tsv
"""
import argparse
import json
import os
import statistics
import sys

BASELINE, GSOAP = "baseline", "gsoap"


def loadavg():
    try:
        with open("/proc/loadavg") as f:
            return " ".join(f.read().split()[:3])
    except OSError:
        return "?"


def cmd_add(a):
    row = {"scenario": a.scenario, "server": a.server, "load": loadavg(), "params": {}, "figures": {}}
    for kv in a.param or []:
        k, _, v = kv.partition("=")
        row["params"][k] = v
    if a.figures:
        try:
            with open(a.figures) as f:
                text = f.read().strip().splitlines()
            row["figures"] = json.loads(text[-1]) if text else {}
        except (OSError, ValueError, IndexError) as e:
            row["error"] = f"no figures: {e}"
    if a.error:
        row["error"] = (row.get("error", "") + "; " if row.get("error") else "") + a.error
    if not row["figures"] and "error" not in row:
        row["error"] = "no figures"
    with open(a.results, "a") as f:
        f.write(json.dumps(row) + "\n")


def fnum(v, digits=1):
    if v is None:
        return "-"
    if isinstance(v, float):
        return f"{v:.{digits}f}"
    return str(v)


def summary(row):
    f, s = row["figures"], row["scenario"]
    if row.get("error") and not f:
        return "ERROR: " + row["error"]
    if row.get("error"):
        return "ERROR: " + row["error"] + "; " + summary({**row, "error": None})
    if s.startswith("keepalive-"):
        errs = f.get("err_connect", 0) + f.get("err_read", 0) + f.get("err_write", 0) + f.get("err_timeout", 0)
        served = (f"served {f.get('progressing')}/{f.get('conns_seen')} conns (syn-sent {f.get('syn_sent')} "
                  f"stalled {f.get('stalled')}) " if "progressing" in f else "")
        return (served + f"{fnum(f.get('rate'))}/s p50 {fnum(f.get('p50_ms'), 2)}ms p99 {fnum(f.get('p99_ms'), 2)}ms "
                f"non2xx {f.get('non2xx')} sockerr {errs} unanswered-at-end {f.get('unanswered')} "
                f"(c{f.get('err_connect')}/r{f.get('err_read')}/w{f.get('err_write')}/t{f.get('err_timeout')}) "
                f"cpu {fnum(f.get('cpu_us_per_exchange'))}us/x rss peak {fnum(f.get('hwm_mb'))}MB end {fnum(f.get('rss_end_mb'))}MB")
    if s == "idle":
        return (f"connected {f.get('connected')}/{f.get('conns')} closed-idle {f.get('closed_while_idle')} "
                f"answered {f.get('answered')}/{f.get('conns')} (timeout {f.get('timeout')} closed {f.get('closed')} "
                f"bad {f.get('bad_status')}) p99 {fnum(f.get('p99_ms'))}ms "
                f"rss held {fnum(f.get('rss_held_mb'))}MB peak {fnum(f.get('rss_peak_mb'))}MB")
    if s == "trickle":
        return (f"answered {f.get('answered')}/{f.get('requests')} (failed {f.get('failed')} "
                f"not tried {f.get('gave_up')}) p50 {fnum(f.get('p50_ms'), 2)}ms "
                f"p99 {fnum(f.get('p99_ms'), 2)}ms max {fnum(f.get('max_ms'), 2)}ms reconnects {f.get('reconnects')} "
                f"held {f.get('trickle_connected')}+{f.get('silent_connected')} "
                f"closed by server {f.get('trickle_closed_by_server')}+{f.get('silent_closed_by_server')} "
                f"rss {fnum(f.get('rss_end_mb'))}MB")
    if s == "tls":
        line = (f"line {row['params'].get('delay_line', '?')} (one curl exchange "
                f"{row['params'].get('curl_exchange_ms', '?')}ms)")
        cpu = (f"server cpu {fnum(f.get('server_cpu_ms_per_conn'), 2)}ms/conn"
               + (f", relay cpu {fnum(f.get('relay_cpu_s'), 2)}s" if "relay_cpu_s" in f else ""))
        if "offered_rate" in f:
            bad = f.get("failed") or 0  # h2load counts errored and timed-out requests among the failed
            return (f"{fnum(f.get('conn_per_s'))} conn/s achieved of {fnum(f.get('offered_rate'), 0)} offered "
                    f"({f.get('connections')}/{f.get('total')} answered in {f.get('seconds')}s, failed {bad}) "
                    f"{f.get('tls_version')} connect mean {fnum(f.get('connect_mean_ms'))} max "
                    f"{fnum(f.get('connect_max_ms'))}ms 1st byte mean {fnum(f.get('first_byte_mean_ms'))} max "
                    f"{fnum(f.get('first_byte_max_ms'))}ms {cpu} {line}")
        return (f"{fnum(f.get('conn_per_s'))} conn/s ({f.get('connections')} in {f.get('seconds')}s, "
                f"{f.get('workers')} workers) p50 {fnum(f.get('p50_ms'))}ms p99 {fnum(f.get('p99_ms'))}ms "
                f"errors {sum((f.get('errors') or {}).values())} {cpu} {line}")
    return json.dumps(f)


def runs(rows, scenario, server):
    return [r for r in rows if r["scenario"] == scenario and r["server"] == server
            and not r.get("aggregate")]


def combined(group):
    """One set of figures for repeated runs: the median of each figure, the sum of
    error counts, the fewest connections served. None if any run failed outright."""
    if not group or any(r.get("error") or not r["figures"] for r in group):
        return None
    if len(group) == 1:
        return group[0]["figures"]
    figs = [r["figures"] for r in group]
    out = {}
    for k, v in figs[0].items():
        vals = [f.get(k) for f in figs if isinstance(f.get(k), (int, float))]
        if k.startswith("err_") or k in ("non2xx", "syn_sent", "stalled"):
            out[k] = sum(vals)
        elif k == "progressing":
            out[k] = min(vals)
        elif len(vals) == len(figs) and not isinstance(v, bool):
            out[k] = statistics.median(vals)
        else:
            out[k] = v
    return out


def find(rows, scenario, server):
    return combined(runs(rows, scenario, server))


def verdict(row, rows):
    """(target text, PASS/FAIL/-) for one row; a row with an error fails."""
    if not row["figures"]:
        return "-", "FAIL" if row.get("error") else "-"
    target, v = _verdict(row, rows)
    return target, "FAIL" if row.get("error") else v


def _verdict(row, rows):
    f, s, srv = row["figures"], row["scenario"], row["server"]
    if s == "keepalive-8":
        base = find(rows, s, BASELINE)
        if srv == BASELINE or not base:
            return "reference (>= 0.9 x baseline applies to other servers)", "-"
        n = len(runs(rows, s, BASELINE))
        need = 0.9 * base["rate"]
        of = "baseline" if n == 1 else f"baseline median of {n}"
        return f">= 0.9 x {of} = {need:.0f}/s", "PASS" if f["rate"] >= need else "FAIL"
    if s == "keepalive-1000":
        conns = int(row["params"].get("conns", 0))
        all_answered = f["requests"] > 0 and f["non2xx"] == 0 and \
            f["err_connect"] + f["err_read"] + f["err_write"] + f["err_timeout"] == 0 and \
            f.get("progressing", -1) >= conns
        parts, ok = ["every connection answered, no errors"], all_answered
        g = find(rows, s, GSOAP)
        if g and srv != GSOAP:
            parts.append(f"p99 <= gSOAP {g['p99_ms']:.2f}ms")
            parts.append(f"rss peak <= gSOAP/5 = {g['hwm_mb'] / 5:.1f}MB")
            ok = ok and f["p99_ms"] <= g["p99_ms"] and f["hwm_mb"] <= g["hwm_mb"] / 5
        elif srv != GSOAP:
            parts.append("(no gSOAP run to compare p99 and RSS)")
        return ", ".join(parts), "PASS" if ok else "FAIL"
    if s == "idle":
        ok = f["connected"] == f["conns"] and f["answered"] == f["conns"] and \
            f.get("rss_peak_mb") is not None and f["rss_peak_mb"] <= 100
        return "all held and answered, rss <= 100MB", "PASS" if ok else "FAIL"
    if s == "trickle":
        ok = f["answered"] == f["requests"] and f["p99_ms"] is not None and f["p99_ms"] <= 50
        return "all answered, p99 <= 50ms", "PASS" if ok else "FAIL"
    if s == "tls":
        return ">= 100 new conn/s at 50ms RTT", "PASS" if f["conn_per_s"] >= 100 else "FAIL"
    return "-", "-"


def cmd_last(a):
    """Prints the latest result as one line."""
    rows = []
    with open(a.results) as f:
        rows = [json.loads(line) for line in f if line.strip()]
    if rows:
        r = rows[-1]
        target, v = verdict(r, rows)
        print(f"RESULT {r['scenario']} {r['server']}: {summary(r)}  [{target}: {v}]  load {r['load']}")


def cmd_table(a):
    rows = []
    with open(a.results) as f:
        for line in f:
            if line.strip():
                rows.append(json.loads(line))
    out = []
    for r in rows:
        target, v = verdict(r, rows)
        out.append({**r, "summary": summary(r), "target": target, "verdict": v})
    # Repeated runs of a scenario get one more row each: their medians.
    seen = []
    for r in rows:
        key = (r["scenario"], r["server"])
        group = runs(rows, *key)
        if key in seen or len(group) < 2:
            continue
        seen.append(key)
        agg = {"scenario": r["scenario"], "server": f"{r['server']}", "aggregate": True,
               "load": "-", "params": {**group[-1]["params"], "runs": str(len(group))}}
        f = combined(group)
        agg["figures"] = f or {}
        if f is None:
            agg["error"] = "a run failed"
        target, v = verdict(agg, rows)
        out.append({**agg, "server": f"{r['server']} (median of {len(group)})",
                    "summary": summary(agg), "target": target, "verdict": v})
    w_s = max([8] + [len(r["scenario"]) for r in out])
    w_v = max([6] + [len(r["server"]) for r in out])
    print(f"{'scenario':<{w_s}}  {'server':<{w_v}}  {'verdict':<7}  {'load':<14}  figures  [target]")
    for r in out:
        print(f"{r['scenario']:<{w_s}}  {r['server']:<{w_v}}  {r['verdict']:<7}  {r['load']:<14}  "
              f"{r['summary']}  [{r['target']}]")
    os.makedirs(a.outdir, exist_ok=True)
    with open(os.path.join(a.outdir, "results.json"), "w") as f:
        json.dump({"meta": meta(a.outdir), "results": out}, f, indent=1)
    with open(os.path.join(a.outdir, "results.tsv"), "w") as f:
        f.write("scenario\tserver\tverdict\tload\ttarget\tsummary\tfigures\tparams\n")
        for r in out:
            f.write("\t".join([r["scenario"], r["server"], r["verdict"], r["load"], r["target"], r["summary"],
                               json.dumps(r["figures"]), json.dumps(r["params"])]) + "\n")


def meta(outdir):
    m = {}
    try:
        with open(os.path.join(outdir, "meta.json")) as f:
            m = json.load(f)
    except (OSError, ValueError):
        pass
    m["load_at_report"] = loadavg()
    return m


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = p.add_subparsers(dest="cmd", required=True)
    pa = sub.add_parser("add")
    pa.add_argument("results")
    pa.add_argument("--scenario", required=True)
    pa.add_argument("--server", required=True)
    pa.add_argument("--figures")
    pa.add_argument("--param", action="append")
    pa.add_argument("--error")
    pt = sub.add_parser("table")
    pt.add_argument("results")
    pt.add_argument("outdir")
    pl = sub.add_parser("last")
    pl.add_argument("results")
    a = p.parse_args()
    {"add": cmd_add, "table": cmd_table, "last": cmd_last}[a.cmd](a)


if __name__ == "__main__":
    sys.exit(main())
