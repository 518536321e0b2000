#!/usr/bin/env python3
"""Mutation testing: plant one fault at a time in a copy of the tree and see
whether the test suite notices.

Each mutant in the list (tests/mutants/*.txt) replaces an exact piece of text
in one file. For each: the scratch copy gets the change, the build there is
brought up to date (ccache makes the restore cheap), ctest runs until the
first failure, and the file is restored. A mutant is caught when a test
fails, survives when all pass, is not applicable when its text is no longer
in the file and does not build when the compiler rejects it (neither counts
in the score). Results are appended to a log in the work folder, so a run
that is stopped goes on where it left off (--fresh starts over).

    scripts/mutate.py                      # every mutant, resuming
    scripts/mutate.py --only plugin/avi    # mutants whose file or id matches
    scripts/mutate.py --summary            # the scores so far, nothing run
    scripts/mutate.py -R 'Audio' --label quick
    scripts/mutate.py --record -R 'plugin' --label who   # every failing test, per mutant

With --record each mutant runs the whole selection (no stop at the first
failure) and its log keeps every test that failed; the summary then lists,
per test, the mutants it catches and those it alone catches, so a test that
catches nothing alone is visible. With a map of the lines each test runs
(scripts/test-coverage.py), --covering MAP runs per mutant only the tests
that run its lines, which brings the whole list to a few hours on two cores
(a mutant they miss runs everything; a test the map misses can look like a
mutant's only catcher, so check one before deleting the other):

    scripts/mutate.py --record --covering coverage-map.json --label who

Without --record the map puts those tests first and the rest of the suite
runs only if they all pass; --covering-only leaves the rest out, for a quick
guard (with -E naming the tests about to go) where a survivor is looked at
anyway:

    scripts/mutate.py --covering coverage-map.json --covering-only -E '^Old\.Test$'

List format: blocks separated by blank lines, one 'key: value' per line:
    file: plugin/audio/wave_file.cpp
    old:  audioTotalBytes = chunk.size;
    new:  audioTotalBytes = chunk.size - 1;
    why:  the audio stream's length
    hint: AudioMovie|AviLayout           (optional: tests run first)
    nth:  2                              (optional: which occurrence, from 1)
    equivalent: why no test can see it   (optional: not run, not scored)
    gap:  what no test checks yet        (optional: a known hole in the suite,
                                          not scored; --gaps runs these alone)
'old' and 'new' are taken literally after one space; \\n stands for a line
break. Lines starting with '#' are comments.
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from collections import OrderedDict

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SKIP_DIRS = {".git", "docs"}
DEFAULT_EXCLUDE = r"^windows\."
# What a change in each folder has to rebuild. The platform library is shared
# (and its users are not relinked), the plug-in's code is linked into the
# test programs, norvavi's into its own. Anything else: the whole build.
TARGETS = {
    "platform/ui/qt/": ["norvuiqt"],
    "platform/": ["norvplatform"],
    "plugin/": ["NorvAvi", "norvavi", "plugin_tests", "qt_tests", "tools_tests", "host_tests",
                "platform_tests"],
    "tools/avicheck/": ["norvavi", "tools_tests"],
    "tools/norvavi/": ["norvavi", "tools_tests"],
}


def targets_of(path):
    for prefix, targets in TARGETS.items():
        if path.startswith(prefix):
            return targets
    return None


def parse_list(path):
    mutants = []
    block = {}
    lineno = 0

    def flush():
        if not block:
            return
        for key in ("file", "old", "new"):
            if key not in block:
                sys.exit(f"{path}:{block.get('_line')}: mutant without '{key}'")
        m = dict(block)
        m["list"] = os.path.relpath(path, ROOT)
        digest = hashlib.sha1(
            f"{m['file']}\0{m['old']}\0{m['new']}\0{m.get('nth', '')}".encode()).hexdigest()
        m["id"] = f"{m['file']}@{digest[:8]}"
        mutants.append(m)
        block.clear()

    with open(path, encoding="utf-8") as f:
        for raw in f:
            lineno += 1
            line = raw.rstrip("\n")
            if not line.strip():
                flush()
                continue
            if line.lstrip().startswith("#"):
                continue
            key, sep, value = line.partition(":")
            key = key.strip()
            if not sep or key not in ("file", "old", "new", "why", "hint", "nth", "equivalent",
                                      "gap"):
                sys.exit(f"{path}:{lineno}: expected 'key: value', got {line!r}")
            if value.startswith(" "):
                value = value[1:]
            if key in ("old", "new"):
                value = value.replace("\\n", "\n")
            else:
                value = value.strip()
            block.setdefault("_line", lineno)
            block[key] = value
    flush()
    return mutants


def source_files(top):
    for dirpath, dirnames, filenames in os.walk(top):
        rel = os.path.relpath(dirpath, top)
        dirnames[:] = [d for d in dirnames
                       if d not in SKIP_DIRS and not (rel == "." and d.startswith("build"))]
        for name in filenames:
            yield os.path.normpath(os.path.join(rel, name))


def sync_tree(src, dst):
    """Makes dst a copy of src, touching only the files that differ so the
    build there stays incremental."""
    wanted = set(source_files(src))
    changed = 0
    for rel in wanted:
        a, b = os.path.join(src, rel), os.path.join(dst, rel)
        if os.path.islink(a):
            continue
        if os.path.exists(b):
            with open(a, "rb") as fa, open(b, "rb") as fb:
                if fa.read() == fb.read():
                    continue
        os.makedirs(os.path.dirname(b), exist_ok=True)
        shutil.copyfile(a, b)  # a fresh time stamp, so the build sees the change
        shutil.copymode(a, b)
        changed += 1
    for rel in list(source_files(dst)):
        if rel not in wanted:
            os.remove(os.path.join(dst, rel))
    return changed


def run(cmd, log, timeout=None, cwd=None):
    with open(log, "a", encoding="utf-8") as out:
        out.write(f"\n$ {' '.join(cmd)}\n")
        out.flush()
        try:
            return subprocess.run(cmd, stdout=out, stderr=subprocess.STDOUT, cwd=cwd,
                                  timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            out.write("timed out\n")
            return 124


class Work:
    def __init__(self, args):
        self.args = args
        self.dir = os.path.abspath(args.work)
        self.src = os.path.join(self.dir, "src")
        self.build = os.path.join(self.dir, "build")
        self.log = os.path.join(self.dir, "build.log")
        self.results = os.path.join(self.dir, f"results-{args.label}.jsonl")
        self.dirty = set()  # targets last built with a planted fault

    def prepare(self):
        os.makedirs(self.src, exist_ok=True)
        n = sync_tree(os.path.abspath(self.args.source or ROOT), self.src)
        print(f"scratch tree {self.src}: {n} files updated", flush=True)
        if not os.path.exists(os.path.join(self.build, "CMakeCache.txt")):
            cmd = ["cmake", "-S", self.src, "-B", self.build, "-G", "Ninja",
                   "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DNORV_BUILD_BENCH=OFF",
                   # A changed shared library does not relink its users, and
                   # lld links the test programs in a fraction of the time.
                   "-DCMAKE_LINK_DEPENDS_NO_SHARED=ON"]
            if shutil.which("ccache"):  # restores each planted file's objects cheaply
                cmd += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
            if shutil.which("ld.lld"):
                cmd += [f"-DCMAKE_{kind}_LINKER_FLAGS=-fuse-ld=lld"
                        for kind in ("EXE", "SHARED", "MODULE")]
            if run(cmd, self.log) != 0:
                sys.exit(f"configure failed, see {self.log}")
        if self.compile() != 0:
            sys.exit(f"the unchanged tree does not build, see {self.log}")

    def compile(self, targets=None):
        """Brings `targets` (None: everything) up to date, and the ones the
        last fault was built into, so no program keeps it."""
        cmd = ["nice", "cmake", "--build", self.build, "-j", str(self.args.jobs)]
        if targets is not None and not self.args.full_build:
            cmd += ["--target", *sorted(set(targets) | self.dirty)]
        status = run(cmd, self.log)
        self.dirty = set(targets or [])
        return status

    def covering(self, lines):
        """The numbers of the selected tests that run any of `lines` (file,
        line) by the --covering map; None without a map or when it knows
        none of the lines, so every selected test runs."""
        if not self.args.covering or not lines:
            return None
        if not hasattr(self, "cover_map"):
            with open(self.args.covering, encoding="utf-8") as f:
                self.cover_map = json.load(f)
        # Lines the map does not know (a brace, a continued statement, a
        # header) add nothing; a mutant none of whose lines it knows runs all.
        known = [self.cover_map["lines"][f"{f}:{n}"] for f, n in lines
                 if f"{f}:{n}" in self.cover_map["lines"]]
        if not known:
            return None
        names = set().union(*known)
        numbers = self.selected()
        return sorted(numbers[n] for n in names if n in numbers)

    def ctest(self, include=None, exclude=None, numbers=None):
        cmd = ["nice", "ctest", "--test-dir", self.build, "-j", str(self.args.jobs),
               "--timeout", str(self.args.timeout)]
        if numbers:
            # ctest numbers the tests after -R and -E have picked them, so
            # numbers (taken from the whole list, already filtered) go alone.
            cmd += ["-I", "0,0,0," + ",".join(map(str, numbers))]
            include = exclude = None
        if not self.args.record:
            cmd.append("--stop-on-failure")
            # ctest starts the tests that took longest last time first; a
            # run that stops at the first failure finds it sooner when the
            # quick ones go first, in the order they are declared.
            cost = os.path.join(self.build, "Testing", "Temporary", "CTestCostData.txt")
            if os.path.exists(cost):
                os.remove(cost)
        if include:
            cmd += ["-R", include]
        if exclude:
            cmd += ["-E", exclude]
        return run(cmd, self.log, timeout=self.args.timeout * 20)

    def exclude(self, extra=None):
        parts = [p for p in (DEFAULT_EXCLUDE if not self.args.slow else None, self.args.exclude,
                             extra) if p]
        return "|".join(f"({p})" for p in parts) or None

    def test(self, hint, lines=None):
        """0 when every selected test passes, else the failing run's status."""
        numbers = self.covering(lines)
        if self.args.record:
            # Counters of optimised code miss some inlined lines: a mutant
            # the covering tests let through runs everything before it
            # counts as a survivor.
            if numbers and self.ctest(numbers=numbers) != 0:
                return 1
            return self.ctest(self.args.include, self.exclude())
        # The tests that run the planted lines go first: a fault is most
        # often caught there, and the rest of the suite then need not run.
        if numbers:
            status = self.ctest(numbers=numbers)
            if status != 0 or self.args.covering_only:
                return status
            return self.ctest(self.args.include, self.exclude())
        if hint:
            if self.args.include:
                # The hint narrows and a -R given on the command line still
                # applies; ctest's patterns cannot say "both", so the tests
                # are picked here, by number.
                numbers = self.numbers_matching(hint)
                status = self.ctest(numbers=numbers) if numbers else 0
            else:
                status = self.ctest(hint, self.exclude())
            if status != 0:
                return status
        return self.ctest(self.args.include, self.exclude(hint))

    def numbers_matching(self, pattern):
        """The numbers of the selected tests whose names match `pattern`."""
        return [n for name, n in self.selected().items() if re.search(pattern, name)]

    def failed_tests(self):
        """The tests the last ctest run saw fail."""
        log = os.path.join(self.build, "Testing", "Temporary", "LastTestsFailed.log")
        if not os.path.exists(log):
            return []
        with open(log, encoding="utf-8") as f:
            return sorted(line.strip().partition(":")[2] for line in f if ":" in line)

    def all_tests(self):
        """The tests a run selects (-R, -E and the default exclusion applied)."""
        return list(self.selected())

    def selected(self):
        """The selected tests' numbers by name, listed once: mutants add no tests."""
        if not getattr(self, "selected_tests", None):
            out = subprocess.run(["ctest", "--test-dir", self.build, "-N"], capture_output=True,
                                 text=True).stdout
            include, exclude = self.args.include, self.exclude()
            self.selected_tests = {
                m.group(2).strip(): int(m.group(1))
                for m in re.finditer(r"Test +#(\d+): (.+)", out)
                if (not include or re.search(include, m.group(2).strip())) and
                not (exclude and re.search(exclude, m.group(2).strip()))}
        return self.selected_tests

    def done(self):
        seen = {}
        if os.path.exists(self.results) and not self.args.fresh:
            with open(self.results, encoding="utf-8") as f:
                for line in f:
                    r = json.loads(line)
                    seen[r["id"]] = r
        return seen

    def record(self, result):
        with open(self.results, "a", encoding="utf-8") as f:
            f.write(json.dumps(result) + "\n")


def apply(path, m):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    nth = int(m.get("nth", "1"))
    at = -1
    for _ in range(nth):
        at = text.find(m["old"], at + 1)
        if at < 0:
            return None, None
    if nth == 1 and text.find(m["old"], at + 1) >= 0 and "nth" not in m:
        return None, "ambiguous"
    return text, text[:at] + m["new"] + text[at + len(m["old"]):]


def changed_lines(text, m):
    """(file, line) of each line the mutant's old text spans."""
    nth, at = int(m.get("nth", "1")), -1
    for _ in range(nth):
        at = text.find(m["old"], at + 1)
    first = text.count("\n", 0, at) + 1
    return [(m["file"], n) for n in range(first, first + m["old"].count("\n") + 1)]


def folder(m):
    return os.path.dirname(m["file"])


COLUMNS = ("caught", "survived", "equivalent", "gap", "n/a", "no build", "pending")


def summary(mutants, seen):
    rows = OrderedDict()
    for m in sorted(mutants, key=folder):
        r = seen.get(m["id"])
        row = rows.setdefault(folder(m), dict.fromkeys(COLUMNS, 0))
        if "equivalent" in m:
            row["equivalent"] += 1
        elif "gap" in m and not (r and r["result"] == "caught"):
            row["gap"] += 1
        else:
            row[r["result"] if r else "pending"] += 1
    total = {k: sum(r[k] for r in rows.values()) for k in COLUMNS}
    print(f"\n{'folder':28} {'caught':>7} {'survived':>9} {'equivalent':>11} {'gap':>5} "
          f"{'n/a':>5} {'no build':>9} {'pending':>8} {'score':>7}")
    for name, r in list(rows.items()) + [("overall", total)]:
        scored = r["caught"] + r["survived"]
        score = f"{100.0 * r['caught'] / scored:.0f}%" if scored else "-"
        print(f"{name:28} {r['caught']:7} {r['survived']:9} {r['equivalent']:11} {r['gap']:5} "
              f"{r['n/a']:5} {r['no build']:9} {r['pending']:8} {score:>7}")
    survivors = [m for m in mutants if "equivalent" not in m and "gap" not in m and
                 seen.get(m["id"], {}).get("result") == "survived"]
    if survivors:
        print("\nsurvivors:")
        for m in survivors:
            print(f"  {m['id']}  {m.get('why', '')}\n      {m['old']!r} -> {m['new']!r}")


def catchers(mutants, seen, tests):
    """Per test: the recorded mutants it catches, and those only it catches."""
    caught, alone = {t: 0 for t in tests}, {t: 0 for t in tests}
    recorded = [seen[m["id"]] for m in mutants if "failed" in seen.get(m["id"], {})]
    for r in recorded:
        for t in r["failed"]:
            caught[t] = caught.get(t, 0) + 1
        if len(r["failed"]) == 1:
            alone[r["failed"][0]] = alone.get(r["failed"][0], 0) + 1
    print(f"\n{len(recorded)} mutants recorded; per test: caught, caught alone")
    for t in sorted(caught, key=lambda t: (-alone.get(t, 0), -caught[t], t)):
        print(f"  {caught[t]:5} {alone.get(t, 0):5}  {t}")
    idle = [t for t in caught if not caught[t]]
    if idle:
        print(f"{len(idle)} tests catch none of the recorded mutants")


def interrupt(*_):
    raise KeyboardInterrupt


def main():
    # Stopped by either signal (a background job ignores SIGINT), the
    # planted file is still restored.
    signal.signal(signal.SIGINT, interrupt)
    signal.signal(signal.SIGTERM, interrupt)
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("lists", nargs="*", help="mutant lists (default: tests/mutants/*.txt)")
    p.add_argument("--work", default=os.path.join(os.environ.get("TMPDIR", "/tmp"),
                                                  "norvavi-mutate"),
                   help="scratch folder: a copy of the tree and its build (kept between runs)")
    p.add_argument("--label", default="current", help="names the results log (e.g. before)")
    p.add_argument("--only", help="run the mutants whose id contains this text")
    p.add_argument("-R", dest="include", help="ctest -R: only these tests")
    p.add_argument("-E", dest="exclude", help="ctest -E: leave these tests out")
    p.add_argument("--slow", action="store_true", help="also run the windows.* tests")
    p.add_argument("--source", help="the tree to copy (default: this checkout)")
    p.add_argument("--full-build", action="store_true",
                   help="rebuild everything for each mutant, not only what its folder reaches")
    p.add_argument("-j", dest="jobs", type=int, default=2)
    p.add_argument("--timeout", type=int, default=300, help="seconds per test")
    p.add_argument("--fresh", action="store_true", help="forget earlier results of this label")
    p.add_argument("--retry-survivors", action="store_true",
                   help="run again the mutants that survived earlier (after new tests)")
    p.add_argument("--survivors-of", metavar="LABEL",
                   help="run only the mutants that survived under another label")
    p.add_argument("--summary", action="store_true", help="print the scores so far and stop")
    p.add_argument("--gaps", action="store_true",
                   help="run only the known gaps, to see which a new test now catches")
    p.add_argument("--record", action="store_true",
                   help="run every selected test for each mutant and keep the ones that fail")
    p.add_argument("--covering", metavar="MAP",
                   help="per mutant, the tests that run its lines first (with --record: only "
                        "those); a JSON map from scripts/test-coverage.py")
    p.add_argument("--covering-only", action="store_true",
                   help="with --covering: a mutant the covering tests let through survives "
                        "without the rest of the suite (quicker; the map's misses then show as "
                        "survivors)")
    p.add_argument("--prepare", action="store_true",
                   help="only bring the scratch copy and its build up to date")
    p.add_argument("--check", action="store_true",
                   help="only check that every mutant's text is found, nothing built")
    args = p.parse_args()

    folder_of_lists = os.path.join(ROOT, "tests", "mutants")
    lists = args.lists or sorted(
        os.path.join(folder_of_lists, n)
        for n in (os.listdir(folder_of_lists) if os.path.isdir(folder_of_lists) else [])
        if n.endswith(".txt"))
    mutants = [m for path in lists if os.path.exists(path) for m in parse_list(path)]
    work = Work(args)

    if args.check:
        bad = 0
        for m in mutants:
            original, mutated = apply(os.path.join(ROOT, m["file"]), m) if os.path.exists(
                os.path.join(ROOT, m["file"])) else (None, None)
            if original is None:
                bad += 1
                print(f"{m['list']}:{m['_line']}: {mutated or 'not found'}: {m['old']!r}")
        ids = [m["id"] for m in mutants]
        for m in mutants:
            if ids.count(m["id"]) > 1:
                bad += 1
                print(f"{m['list']}:{m['_line']}: planted twice: {m['id']}")
        print(f"{len(mutants)} mutants, {bad} not applicable or twice")
        return 1 if bad else 0

    if args.prepare:
        work.prepare()
        return 0
    if args.fresh and os.path.exists(work.results):
        os.remove(work.results)
    seen = work.done()
    if args.summary:
        summary(mutants, seen)
        if args.record:
            catchers(mutants, seen, work.all_tests() if os.path.isdir(work.build) else [])
        return 0

    # An equivalent mutant changes no behaviour a test could see: not run.
    selected = [m for m in mutants if not args.only or args.only in m["id"]]
    runnable = [m for m in selected if "equivalent" not in m and ("gap" in m) == args.gaps]
    if args.survivors_of:
        other = Work(argparse.Namespace(**{**vars(args), "label": args.survivors_of,
                                           "fresh": False})).done()
        runnable = [m for m in runnable if other.get(m["id"], {}).get("result") == "survived"]
        selected = runnable
    todo = [m for m in runnable if m["id"] not in seen or
            (args.retry_survivors and seen[m["id"]]["result"] == "survived")]
    # Round-robin over the folders, so a run stopped early still samples each.
    queues = OrderedDict()
    for m in todo:
        queues.setdefault(folder(m), []).append(m)
    todo = []
    while any(queues.values()):
        for q in queues.values():
            if q:
                todo.append(q.pop(0))
    print(f"{len(selected)} mutants selected, {len(todo)} to run", flush=True)
    if todo:
        work.prepare()
    for i, m in enumerate(todo, 1):
        path = os.path.join(work.src, m["file"])
        started = time.time()
        original, mutated = apply(path, m) if os.path.exists(path) else (None, None)
        if original is None:
            result = "n/a"
        else:
            try:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(mutated)
                failed = None
                if work.compile(targets_of(m["file"])) != 0:
                    result = "no build"
                else:
                    result = "caught" if work.test(m.get("hint"), changed_lines(original, m)) != 0 \
                        else "survived"
                    if args.record:
                        failed = work.failed_tests() if result == "caught" else []
            finally:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original)
        seen[m["id"]] = {"id": m["id"], "result": result, "seconds": round(time.time() - started)}
        if args.record and original is not None and failed is not None:
            seen[m["id"]]["failed"] = failed
        work.record(seen[m["id"]])
        print(f"[{i}/{len(todo)}] {result:9} {m['id']}  {m.get('why', '')}", flush=True)
        if seen[m["id"]].get("failed"):
            print("      failed: " + " ".join(seen[m["id"]]["failed"]), flush=True)
    if todo:
        work.dirty = set()
        work.compile()  # leave the scratch build matching the tree
    summary(selected, seen)
    if args.record:
        catchers(selected, seen, work.all_tests() if os.path.isdir(work.build) else [])
    return 0


if __name__ == "__main__":
    sys.exit(main())
