#!/usr/bin/env python3
"""Prints each benchmark's median time and its ratio to the memcpy baseline of a size.

Usage: bench/ratios.py results.json   (Google Benchmark --benchmark_out JSON with
--benchmark_repetitions and aggregates). A name Entry/variant/WxH is compared with
memcpy/WxH; Entry/variant/SRC-DST with memcpy/<destination size>. A benchmark timed by hand
keeps its name without the "/manual_time" that Google Benchmark appends. Names
Op/ours/SIZE (bench/anchor_bench.cpp) are also compared with every Op/LIBRARY/SIZE.
"""
import json
import sys

BASELINES = {"MjpegDecoder": "jpeg"}


def main(path):
    with open(path) as f:
        data = json.load(f)
    med = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") == "median":
            name = b["run_name"].removesuffix("/manual_time")
            med[name] = b["real_time"], b["time_unit"]
    for name, (t, unit) in med.items():
        dims = name.rsplit("/", 1)[-1].split("-")[-1]
        baseline = BASELINES.get(name.split("/", 1)[0], "memcpy")
        base = med.get(f"{baseline}/{dims}")
        ratio = f"{t / base[0]:6.2f}x {baseline}/{dims}" if base and not name.startswith("memcpy/") else ""
        print(f"{name:48s} {t:12.1f} {unit}  {ratio}")
    for name, (t, unit) in med.items():
        parts = name.split("/")
        if len(parts) != 3 or parts[1] != "ours":
            continue
        for other, (a, _) in med.items():
            op, who, size = (other.split("/") + ["", "", ""])[:3]
            if op == parts[0] and size == parts[2] and who != "ours":
                print(f"{name:48s} ours / {who}: {t / a:5.2f}")


if __name__ == "__main__":
    main(sys.argv[1])
