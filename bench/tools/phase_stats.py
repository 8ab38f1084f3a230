#!/usr/bin/env python3
"""Round-trip figures per phase from channel_pinger.py's record.

usage: phase_stats.py RECORD PHASES
PHASES holds one line per phase, "NAME START END" (seconds since the epoch);
a request counts in the phase its send time falls in. Prints, per phase, the
length in seconds, the requests, failures, p50, p99 and maximum in ms and
p99 over the p99 of the phase named "idle".
"""
import sys


def percentile(values, p):
    # Nearest rank.
    rank = max(1, -(-len(values) * p // 100))
    return values[int(rank) - 1]


def main():
    samples = []
    with open(sys.argv[1]) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 2:
                samples.append((float(parts[0]), float(parts[1])))
    phases = []
    with open(sys.argv[2]) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 3:
                phases.append((parts[0], float(parts[1]), float(parts[2])))
    rows = []
    for name, start, end in phases:
        times = sorted(ms for sent, ms in samples if start <= sent < end and ms >= 0)
        failed = sum(1 for sent, ms in samples if start <= sent < end and ms < 0)
        if times:
            rows.append((name, end - start, len(times), failed, percentile(times, 50), percentile(times, 99),
                         times[-1]))
        else:
            rows.append((name, end - start, 0, failed, float("nan"), float("nan"), float("nan")))
    idle = next((r[5] for r in rows if r[0] == "idle"), float("nan"))
    print("%-12s %6s %6s %6s %8s %8s %8s %9s" %
          ("phase", "s", "n", "failed", "p50 ms", "p99 ms", "max ms", "p99/idle"))
    for name, seconds, n, failed, p50, p99, top in rows:
        print("%-12s %6.1f %6d %6d %8.2f %8.2f %8.1f %8.2fx" % (name, seconds, n, failed, p50, p99, top, p99 / idle))


if __name__ == "__main__":
    main()
