#!/usr/bin/env python3
"""Markdown tables from Google Benchmark JSON files.

Usage: bench/tables.py OUT.json [OUT.json ...]

Benchmarks are named <Family>_<implementation>/<size>. For every family
there is one row per size with each implementation's throughput (median of
the repetitions when there are several) and our ratio to the fastest peer
(above 1.00: ours is faster), then each implementation's time per byte at
the largest size over that at the smallest (1.0: exactly linear; above 1:
each byte costs more in a larger input).
"""
import json
import sys
from collections import OrderedDict


def load(paths):
    runs = OrderedDict()  # family -> impl -> size -> bytes/s
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        for b in data["benchmarks"]:
            name = b.get("run_name", b["name"])
            agg = b.get("aggregate_name", "")
            if "/" not in name or b.get("error_occurred"):
                continue
            if agg and agg != "median":
                continue
            head, size = name.split("/", 1)
            family, impl = head.rsplit("_", 1)
            size = int(size)
            runs.setdefault(family, OrderedDict()).setdefault(impl, {})[size] = (
                b["bytes_per_second"], b.get("input_bytes", size))
    return runs


def human(bytes_per_second):
    return "%.0f" % (bytes_per_second / 1e6)


def size_text(n):
    return "%d KiB" % (n // 1024) if n < 1 << 20 else "%d MiB" % (n >> 20)


def main(paths):
    runs = load(paths)
    for family, impls in runs.items():
        names = list(impls.keys())
        peers = [n for n in names if n != "ours"]
        print("### %s\n" % family)
        header = ["size", "input bytes"] + ["%s MB/s" % n for n in names]
        if peers:
            header.append("ours / fastest peer")
        print("| " + " | ".join(header) + " |")
        print("|" + "---|" * len(header))
        sizes = sorted({s for n in names for s in impls[n]})
        for size in sizes:
            row = [size_text(size), "%d" % impls["ours"][size][1]]
            for n in names:
                row.append(human(impls[n][size][0]) if size in impls[n] else "-")
            if peers:
                best = max(impls[p][size][0] for p in peers if size in impls[p])
                row.append("%.2f" % (impls["ours"][size][0] / best))
            print("| " + " | ".join(row) + " |")
        growth = []
        for n in names:
            small, large = min(impls[n]), max(impls[n])
            if small != large:
                growth.append("%s %.2f" % (n, impls[n][small][0] / impls[n][large][0]))
        print("\nTime per byte, %s over %s: %s" % (size_text(max(sizes)), size_text(min(sizes)),
                                                  ", ".join(growth)))
        print()


if __name__ == "__main__":
    main(sys.argv[1:])
