#!/usr/bin/env python3
"""Which product lines each test runs: a build with gcov's counters, every
ctest entry run alone, and a JSON map from "file:line" to the tests that
run it (lines the compiler emitted code for that no test runs map to []).

The mutation runner's --record mode takes the map (--covering) and runs,
per mutant, only the tests that run its lines: the whole list in about an
hour on two cores instead of several.

    scripts/test-coverage.py                       # build in /tmp/norvavi-coverage
    scripts/test-coverage.py --build DIR --out map.json
"""
import argparse
import json
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PRODUCT = ("plugin", "platform", "hoststub", "tools")


def gcov_lines(build):
    """(file:line) of product code in the counters now on disk: those run,
    and all with code (a program writes its counters whether its code ran
    or not)."""
    gcda = subprocess.run(["find", *[os.path.join(build, p) for p in PRODUCT], "-name", "*.gcda"],
                          capture_output=True, text=True).stdout.split()
    if not gcda:
        return set(), set()
    out = subprocess.run(["gcov", "-t", "-j", *gcda], capture_output=True, text=True,
                         cwd=build).stdout
    run, code, decoder, at = set(), set(), json.JSONDecoder(), 0
    while True:
        while at < len(out) and out[at].isspace():
            at += 1
        if at >= len(out):
            return run, code
        report, at = decoder.raw_decode(out, at)
        for f in report.get("files", []):
            name = os.path.relpath(f["file"], ROOT)
            if name.split("/")[0] not in PRODUCT:
                continue
            for line in f["lines"]:
                key = f"{name}:{line['line_number']}"
                code.add(key)
                if line["count"] > 0:
                    run.add(key)


def clear(build):
    subprocess.run(["find", build, "-name", "*.gcda", "-delete"], check=True)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--build", default="/tmp/norvavi-coverage", help="the coverage build folder")
    p.add_argument("--out", default="coverage-map.json", help="the map to write")
    p.add_argument("-E", dest="exclude", default=r"^windows\.", help="ctest -E")
    args = p.parse_args()
    flags = "--coverage -fprofile-update=atomic"
    cache = os.path.join(args.build, "CMakeCache.txt")
    if os.path.exists(cache):
        # A folder configured for another checkout builds that one, and its
        # counters name files outside this tree: the map would come out empty.
        with open(cache, encoding="utf-8") as f:
            home = re.search(r"^CMAKE_HOME_DIRECTORY:INTERNAL=(.*)$", f.read(), re.M)
        if home and os.path.realpath(home.group(1)) != os.path.realpath(ROOT):
            sys.exit(f"{args.build} builds {home.group(1)}, not {ROOT}: "
                     "remove it or pass another --build")
    else:
        subprocess.run(["cmake", "-S", ROOT, "-B", args.build, "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DNORV_BUILD_BENCH=OFF",
                        f"-DCMAKE_CXX_FLAGS={flags}", "-DCMAKE_C_FLAGS=--coverage",
                        *[f"-DCMAKE_{k}_LINKER_FLAGS=--coverage" for k in
                          ("EXE", "SHARED", "MODULE")]], check=True)
    subprocess.run(["cmake", "--build", args.build, "-j2"], check=True)
    listing = subprocess.run(["ctest", "--test-dir", args.build, "-N", "-E", args.exclude],
                             capture_output=True, text=True, check=True).stdout
    # By number, not name: the names hold regex characters.
    tests = [(m.group(1), m.group(2).strip())
             for m in re.finditer(r"^ *Test +#(\d+): (.+)$", listing, re.M)]
    covered, code = {}, set()
    for n, (number, name) in enumerate(tests, 1):
        clear(args.build)
        status = subprocess.run(["ctest", "--test-dir", args.build, "-I", f"{number},{number}"],
                                stdin=subprocess.DEVNULL, capture_output=True).returncode
        if status != 0:
            print(f"  {name} failed: its lines are left out", file=sys.stderr)
            continue
        run, seen = gcov_lines(args.build)
        code |= seen
        for line in run:
            covered.setdefault(line, []).append(name)
        print(f"[{n}/{len(tests)}] {name}", flush=True)
    for line in code:
        covered.setdefault(line, [])
    if not covered:
        sys.exit("no product lines with code were found: nothing written")
    with open(args.out, "w", encoding="utf-8") as f:
        json.dump({"lines": covered}, f)
    print(f"{len(covered)} lines with code, {sum(1 for t in covered.values() if not t)} run by "
          f"no test: {args.out}")


if __name__ == "__main__":
    main()
