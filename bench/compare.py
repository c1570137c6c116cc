#!/usr/bin/env python3
"""Interleaved whole-program timing for bench/compare.sh.

Runs every command of every round in turn (A B C A B C ...), each with its
standard output in a file, and takes wall time around the child and user
time and system time from the kernel's accounting of that child; peak RSS
comes from one more run of each under GNU time.
Prints one table of medians, then the ratios, each the median of the
per-round ratios. Called by compare.sh, which prepares the files and checks
the outputs; see there for the arguments.
"""
import json
import os
import statistics
import sys
import time


def run(argv, stdout_path):
    """Wall seconds, user seconds, system seconds, peak RSS KiB, status."""
    with open(stdout_path, "wb") as out:
        start = time.perf_counter()
        pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=[
            (os.POSIX_SPAWN_DUP2, out.fileno(), 1)])
        _, status, usage = os.wait4(pid, 0)
        wall = time.perf_counter() - start
    return wall, usage.ru_utime, usage.ru_stime, usage.ru_maxrss, os.waitstatus_to_exitcode(status)


def main():
    plan = json.loads(sys.argv[1])
    rounds = plan["rounds"]
    jobs = plan["jobs"]  # [{"name":..., "argv":[...]}], in round order
    ratios = plan["ratios"]  # [[label, numerator name, denominator name]]
    samples = {job["name"]: [] for job in jobs}
    for r in range(rounds):
        for job in jobs:
            result = run(job["argv"], job.get("stdout", plan["stdout"]))
            if result[4] != 0:
                sys.exit(f"{job['name']} ended with status {result[4]}")
            samples[job["name"]].append(result)
        print(f"\rround {r + 1}/{rounds}", end="", file=sys.stderr, flush=True)
    print(file=sys.stderr)

    # Peak RSS from one more run of each job under GNU time, whose own small
    # footprint is what the child starts from: a child spawned from here
    # would report this interpreter's footprint as its floor.
    peak = {}
    gnu_time = "/usr/bin/time"
    for job in jobs:
        if not os.access(gnu_time, os.X_OK):
            peak[job["name"]] = None
            continue
        report = plan["stdout"] + ".rss"
        run([gnu_time, "-f", "%M", "-o", report] + job["argv"], job.get("stdout", plan["stdout"]))
        with open(report) as text:
            peak[job["name"]] = int(text.read().split()[-1])

    print(f"| {'run':<28} | {'wall ms':>8} | {'user ms':>8} | {'sys ms':>8} | {'peak RSS KiB':>12} |")
    print(f"|{'-' * 30}|{'-' * 9}:|{'-' * 9}:|{'-' * 9}:|{'-' * 13}:|")
    for job in jobs:
        s = samples[job["name"]]
        med = [statistics.median(x[i] for x in s) for i in range(3)]
        rss = peak[job["name"]]
        rss_text = "n/a" if rss is None else f"{rss:,}"
        print(f"| {job['name']:<28} | {med[0] * 1000:8.0f} | {med[1] * 1000:8.0f} | "
              f"{med[2] * 1000:8.0f} | {rss_text:>12} |")
    print()
    print(f"| {'ratio (median of per-round wall ratios)':<44} | {'median':>6} | {'min':>5} | {'max':>5} |")
    print(f"|{'-' * 46}|{'-' * 7}:|{'-' * 6}:|{'-' * 6}:|")
    for label, a, b in ratios:
        per_round = [x[0] / y[0] for x, y in zip(samples[a], samples[b])]
        print(f"| {label:<44} | {statistics.median(per_round):6.3f} | "
              f"{min(per_round):5.2f} | {max(per_round):5.2f} |")


if __name__ == "__main__":
    main()
