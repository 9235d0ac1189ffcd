#!/usr/bin/python3
"""Prints each kernel's rate next to its baselines from kernels_bench JSON.

Usage: kernels_bench --benchmark_format=json | /usr/bin/python3 ratios.py
Ratio = kernel rate / baseline rate (above 1: the kernel is faster). Every
vector width of a spectrum kernel (name/<path>/n) is shown against the scalar
loop and against the portable SSE path of the same run.
"""
import json
import sys


def row(kernel, n, value, base, base_value):
    print(f"{kernel:<34}{n:>7}{value:>12.3e}{base:>44}{base_value:>12.3e}{value / base_value:>8.2f}")


def main():
    runs = json.load(sys.stdin)["benchmarks"]
    rate = {r["name"]: r["items_per_second"] for r in runs if "items_per_second" in r}
    print(f"{'kernel':<34}{'n':>7}{'kernel /s':>12}{'baseline':>44}{'base /s':>12}{'ratio':>8}")
    for name, value in rate.items():
        kernel, _, n = name.rpartition("/")
        if "baseline" in kernel:
            continue
        family, _, path = kernel.partition("/")
        for suffix in ("_baseline_scalar", "_baseline_read"):
            base = f"{family}{suffix}/{n}"
            if base in rate:
                row(kernel, n, value, base, rate[base])
        sse = f"{family}/sse/{n}"
        if path and path != "sse" and sse in rate:
            row(kernel, n, value, sse, rate[sse])
        store = f"store_floats_baseline/{n}"
        if kernel.startswith("decode_") and store in rate:
            row(kernel, n, value, store, rate[store])


if __name__ == "__main__":
    main()
