#!/usr/bin/env python3
"""Test lines against product lines: C++ under tests/ against C++ under
plugin/, platform/, hoststub/ and tools/ (files git knows; fuzz targets and
benchmarks count in neither). Prints the lines per side and the ratio, and
fails when the ratio is above the limit, so tests stay a quarter to a third
of the code.

    scripts/test-ratio.py             # fails above 0.45
    scripts/test-ratio.py --max 0.40
"""
import argparse
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CPP = (".cpp", ".cc", ".h", ".hpp")
PRODUCT = ("plugin", "platform", "hoststub", "tools")


def lines(folder):
    """Lines per first-level subfolder of `folder`, C++ files only."""
    files = subprocess.run(["git", "-C", ROOT, "ls-files", "--", folder], check=True,
                           capture_output=True, text=True).stdout.split()
    counts = {}
    for path in files:
        if not path.endswith(CPP):
            continue
        parts = path.split("/")
        side = "/".join(parts[:2]) if len(parts) > 2 else parts[0]
        with open(os.path.join(ROOT, path), "rb") as f:
            counts[side] = counts.get(side, 0) + f.read().count(b"\n")
    return counts


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--max", type=float, default=0.45, help="the highest ratio that passes")
    args = p.parse_args()
    tests = lines("tests")
    product = {}
    for folder in PRODUCT:
        product.update(lines(folder))
    for name, counts in (("tests", tests), ("product", product)):
        for side in sorted(counts):
            print(f"  {side:<28}{counts[side]:>7}")
        print(f"{name:<30}{sum(counts.values()):>7}")
    ratio = sum(tests.values()) / max(1, sum(product.values()))
    print(f"ratio {ratio:.3f} (at most {args.max:.2f})")
    if ratio > args.max:
        sys.exit(f"test lines are {ratio:.0%} of the product's: above {args.max:.0%}")


if __name__ == "__main__":
    main()
