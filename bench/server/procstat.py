#!/usr/bin/env python3
"""CPU time and memory of a server process and its descendants, read from /proc.

As a module: tree_stats(pid) -> dict. As a program: procstat.py PID prints that dict as JSON.
Figures are summed over the process and every descendant (nginx's workers, for instance):
  cpu_s   utime+stime in seconds
  rss_kb  VmRSS now
  hwm_kb  VmHWM, the peak resident set each process has had (summed)
  threads number of threads
  fds     open descriptors
"""
import json
import os
import sys

TICKS = os.sysconf("SC_CLK_TCK")


def _children(pid):
    kids = []
    try:
        for tid in os.listdir(f"/proc/{pid}/task"):
            try:
                with open(f"/proc/{pid}/task/{tid}/children") as f:
                    kids.extend(int(x) for x in f.read().split())
            except OSError:
                pass
    except OSError:
        pass
    return kids


def tree(pid):
    seen, todo = [], [pid]
    while todo:
        p = todo.pop()
        if p in seen:
            continue
        seen.append(p)
        todo.extend(_children(p))
    return seen


def _one(pid):
    out = {"cpu_s": 0.0, "rss_kb": 0, "hwm_kb": 0, "threads": 0, "fds": 0}
    try:
        with open(f"/proc/{pid}/stat") as f:
            stat = f.read()
        # Fields after the command name, which may hold spaces and parentheses.
        fields = stat[stat.rindex(")") + 2:].split()
        out["cpu_s"] = (int(fields[11]) + int(fields[12])) / TICKS
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, value = line.partition(":")
                if key == "VmRSS":
                    out["rss_kb"] = int(value.split()[0])
                elif key == "VmHWM":
                    out["hwm_kb"] = int(value.split()[0])
                elif key == "Threads":
                    out["threads"] = int(value)
        out["fds"] = len(os.listdir(f"/proc/{pid}/fd"))
    except (OSError, ValueError, IndexError):
        pass
    return out


def tree_stats(pid):
    total = {"cpu_s": 0.0, "rss_kb": 0, "hwm_kb": 0, "threads": 0, "fds": 0, "procs": 0}
    for p in tree(pid):
        one = _one(p)
        for k, v in one.items():
            total[k] += v
        total["procs"] += 1
    total["cpu_s"] = round(total["cpu_s"], 3)
    return total


def summary(before, after):
    """What every server benchmark reports of the server: its resident set at
    the end, its high-water mark and the CPU it spent between two tree_stats."""
    return {
        "rss_end_mb": round(after["rss_kb"] / 1024, 1),
        "hwm_mb": round(after["hwm_kb"] / 1024, 1),
        "server_cpu_s": round(after["cpu_s"] - before["cpu_s"], 2),
    }


class Sampler:
    """Polls a server's resident set in the background and keeps the largest seen."""

    def __init__(self, pid, interval=0.2):
        self.pid, self.interval, self.peak_rss_kb = pid, interval, 0

    async def run(self):
        import asyncio
        while True:
            self.sample()
            await asyncio.sleep(self.interval)

    def sample(self):
        s = tree_stats(self.pid)
        self.peak_rss_kb = max(self.peak_rss_kb, s["rss_kb"])
        return s


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: procstat.py PID")
    print(json.dumps(tree_stats(int(sys.argv[1]))))
