#!/usr/bin/python3
"""Prints each kernel's rate next to its baseline from kernels_bench JSON.

Usage: kernels_bench --benchmark_format=json | /usr/bin/python3 ratios.py
Ratio = kernel rate / baseline rate (above 1: the kernel is faster).
"""
import json
import sys


def main():
    runs = json.load(sys.stdin)["benchmarks"]
    rate = {r["name"]: r["items_per_second"] for r in runs if "items_per_second" in r}
    print(f"{'kernel':<34}{'n':>7}{'kernel /s':>12}{'baseline':>44}{'base /s':>12}{'ratio':>8}")
    for name, value in rate.items():
        kernel, _, n = name.rpartition("/")
        if "baseline" in kernel:
            continue
        for suffix in ("_baseline_scalar", "_baseline_read"):
            base = f"{kernel}{suffix}/{n}"
            if base in rate:
                print(f"{kernel:<34}{n:>7}{value:>12.3e}{base:>44}{rate[base]:>12.3e}"
                      f"{value / rate[base]:>8.2f}")
        store = f"store_floats_baseline/{n}"
        if kernel.startswith("decode_") and store in rate:
            print(f"{'':<34}{n:>7}{'':>12}{store:>44}{rate[store]:>12.3e}{value / rate[store]:>8.2f}")


if __name__ == "__main__":
    main()
