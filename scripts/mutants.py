#!/usr/bin/env python3
"""Mutation check of the test suite: how many small faults does it catch?

Usage: scripts/mutants.py [--list] [--sample N] [--seed S] [--timeout SEC]
       scripts/mutants.py --fault FILE LINE TEXT   (one fault of your own)

Each mutant is one simple fault put into one line of a source or header
file (*.cpp, *.h) of diskimage/, geometry/, fat12/, flat/, tool/,
survey/, views/, output/, change/, edit/ or platform/ (or only those
--under names): a comparison flipped (< <=, > >=, == !=), a bound
moved by one (+ 1), && and || swapped, a boolean result inverted, a
statement dropped.  Preprocessor lines (include guards among them),
comments and code only Windows compiles are left alone, and only
statements in function bodies are dropped, never declarations (class
members, using, constants); the size of an array being declared is not
moved either, since more room changes nothing a test can see.  The sample is fixed by the seed and spread
over the files in turn, so runs before and after a change of the tests
face the same faults.

The mutants are made in a private copy of the tree (build-mutants/src),
never in the worktree, so work can go on while they run.  For each mutant
the test suite of the copy is rebuilt incrementally, lightly optimized and
without debug information (warnings not fatal: a mutant may leave a
variable unused; every write moves the file's timestamp, so that a mutated
header rebuilds what includes it) and ctest runs with a per-test timeout
of 10 seconds (the slowest test takes 2), so that a mutant that loops
costs little; the mutated file is restored afterwards, also when the run
is interrupted.  A mutant that does not build is left out of the count.  Prints caught/total and every
survivor as file:line and the change.  With --fault, line LINE of FILE
becomes TEXT, and the tests that fail are named.
"""
import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORK = os.path.join(ROOT, "build-mutants")
SRC = os.path.join(WORK, "src")
BUILD = os.path.join(WORK, "build")
# output/ is mutated once it exists.
# A quick build of what the tests run: no debug information, light
# optimization (a mutated header rebuilds most of the tree), the suites
# and the programs they run; the fault-injection sweep, minutes long, left
# to the full suite.
CONFIGURE = ["-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_CXX_FLAGS_RELEASE=-O1", "-DD88_WERROR=OFF",
             "-DD88_STRACE=OFF"]
BUILD_TESTS = ["cmake", "--build", BUILD, "--target", "d88tests", "fat12tests", "d88", "d88extract",
               "-j2"]
FOLDERS = ["diskimage", "geometry", "fat12", "flat", "tool", "survey", "views", "output", "change", "edit",
           "platform"]

# (kind, pattern, replacement): each match on a line is one mutant.
SWAPS = [
    ("flip", r" < ", " <= "), ("flip", r" <= ", " < "),
    ("flip", r" > ", " >= "), ("flip", r" >= ", " > "),
    ("flip", r" == ", " != "), ("flip", r" != ", " == "),
    ("logic", r" && ", " || "), ("logic", r" \|\| ", " && "),
    ("bound", r" \+ 1\b", " + 2"), ("bound", r" - 1\b", " - 2"),
    ("bool", r"return true;", "return false;"), ("bool", r"return false;", "return true;"),
]
# The right operand of a comparison, when it is one plain name or number.
BOUND = re.compile(r"( (?:<|<=|>|>=|==|!=) )([A-Za-z_][\w.]*|\d+)(?=\s*[;)&|?:])")


def source_files():
    """The product's sources and headers in FOLDERS, those that exist."""
    out = subprocess.run(["git", "ls-files", "--"] + list(FOLDERS), cwd=ROOT, check=True,
                         capture_output=True, text=True).stdout.split()
    return sorted(f for f in out if f.endswith((".cpp", ".h")))


def masked(line):
    """Returns line with the insides of string and character literals
    blanked (same length), so that braces and // in them are not code."""
    out, quote, escaped = [], None, False
    for ch in line:
        if quote is None:
            quote = ch if ch in "\"'" else None
            out.append(ch)
        elif escaped or ch == "\\":
            escaped = not escaped
            out.append("_")
        elif ch == quote:
            quote = None
            out.append(ch)
        else:
            out.append("_")
    return "".join(out)


def code_lines(text):
    """Yields (index, line, code) of the lines that hold code on this
    platform: no comments, no preprocessor lines (include guards among
    them), no static_assert (a fault there only fails the build), nothing
    that only Windows compiles.  code is the line without its comment."""
    windows = []  # per open #if: whether the branch being read is Windows-only
    for i, line in enumerate(text.split("\n")):
        s = line.strip()
        if s.startswith("#if"):
            windows.append("_WIN32" in s and "!" not in s)
        elif s.startswith(("#else", "#elif")) and windows:
            windows[-1] = not windows[-1] if "_WIN32" not in s else "!" not in s
        elif s.startswith("#endif") and windows:
            windows.pop()
        if any(windows) or not s or s.startswith(("//", "#", "static_assert")):
            continue
        cut = masked(line).find("//")
        yield i, line, line if cut < 0 else line[:cut]


# A brace opens a block of statements when what stands before it ends a
# function's head (a parameter list, perhaps const or override) or it
# lies inside such a block already; class, namespace and initializer
# braces hold declarations, which are never dropped.
BODY_HEAD = re.compile(r"(\)|\belse|\bdo|\btry)(\s*(const|override|final|noexcept))*\s*$")
# Statements whose loss would not build: declarations of locals, by the
# words they start with or by their form (a type, then a name).
NOT_DROPPED = ("return", "}", "const ", "int ", "std::", "bool ", "diskimage::", "tool::",
               "static ", "using ", "constexpr ", "auto ")
# The size of an array being declared: a bound moved there only makes
# room, which no test can see.
ARRAY_SIZE = re.compile(r"^\s*(?:(?:static|constexpr|const)\s+)*[\w:<>]+\s+\w+\[([^\]]*)\]")
LOCAL = re.compile(r"^(?!(else|case|do|goto)\b)[\w:<>]+[\s&*]+\w+\s*[=({\[;]")


def mutants_of(path, text):
    found = []
    previous = ";"
    blocks = []  # per open brace: whether it holds statements
    head = ""    # code since the last ; { or }
    for i, line, code in code_lines(text):
        size = ARRAY_SIZE.match(code)
        for kind, pattern, repl in SWAPS:
            for m in re.finditer(pattern, code):
                if kind == "bound" and size and size.start(1) <= m.start() < size.end(1):
                    continue
                found.append((path, i, kind, line[:m.start()] + repl + line[m.end():]))
        for m in BOUND.finditer(code):
            if m.group(2) in ("nullptr", "true", "false"):
                continue
            new = line[:m.start(2)] + "(" + m.group(2) + " + 1)" + line[m.end(2):]
            found.append((path, i, "bound", new))
        s = code.strip()
        starts = previous.endswith((";", "{", "}"))
        previous = s or previous
        in_body = bool(blocks) and blocks[-1]
        if in_body and starts and s.endswith(";") and not s.startswith(NOT_DROPPED) \
                and not LOCAL.match(s):
            indent = line[:len(line) - len(line.lstrip())]
            found.append((path, i, "drop", indent + ";  // dropped: " + s))
        for ch in masked(code):
            if ch == "{":
                blocks.append(bool(blocks) and blocks[-1] or bool(BODY_HEAD.search(head)))
            elif ch == "}" and blocks:
                blocks.pop()
            if ch in ";{}":
                head = ""
            else:
                head += ch
        head += " "
    return found


def sample(files, size, seed):
    rng = random.Random(seed)
    per_file = []
    for f in files:
        with open(os.path.join(ROOT, f)) as h:
            ms = mutants_of(f, h.read())
        rng.shuffle(ms)
        per_file.append(ms)
    chosen = []
    while len(chosen) < size and any(per_file):
        for ms in per_file:
            if ms and len(chosen) < size:
                chosen.append(ms.pop())
    return sorted(chosen, key=lambda m: (m[0], m[1], m[3]))


def sync_copy():
    """Makes build-mutants/src the tree as it is now, touching only files
    that differ so that builds stay incremental."""
    names = subprocess.run(["git", "ls-files", "-co", "--exclude-standard"], cwd=ROOT, check=True,
                           capture_output=True, text=True).stdout.split("\n")
    for name in filter(None, names):
        src, dst = os.path.join(ROOT, name), os.path.join(SRC, name)
        if not os.path.isfile(src):
            continue
        with open(src, "rb") as h:
            data = h.read()
        if os.path.exists(dst):
            with open(dst, "rb") as h:
                if h.read() == data:
                    continue
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        with open(dst, "wb") as h:
            h.write(data)


def put(path, text):
    """Writes text to the copy's file at path with a timestamp past the old
    one, also on a coarse clock, so that make rebuilds every object that
    includes it: after a mutant of a header, and after its restore."""
    before = os.stat(path).st_mtime_ns
    with open(path, "w") as h:
        h.write(text)
    if os.stat(path).st_mtime_ns <= before:
        os.utime(path, ns=(before + 1_000_000_000,) * 2)


def run(cmd, timeout):
    try:
        return subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode == 0
    except subprocess.TimeoutExpired:
        return False


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--list", action="store_true", help="show the sample and stop")
    ap.add_argument("--sample", type=int, default=80, help="mutants to try (default 80)")
    ap.add_argument("--seed", type=int, default=1, help="seed of the sample (default 1)")
    ap.add_argument("--timeout", type=int, default=10, help="seconds per test (default 10)")
    ap.add_argument("--under", action="append", choices=FOLDERS, help="only this folder (repeatable)")
    ap.add_argument("--fault", nargs=3, metavar=("FILE", "LINE", "TEXT"), help="run one fault of your own")
    args = ap.parse_args()

    if args.under:
        FOLDERS[:] = args.under
    chosen = sample(source_files(), args.sample, args.seed)
    if args.fault:
        chosen = [(args.fault[0], int(args.fault[1]) - 1, "fault", args.fault[2])]
    if args.list:
        for f, i, kind, new in chosen:
            print(f"{f}:{i + 1}: {kind}: {new.strip()}")
        return 0

    os.makedirs(SRC, exist_ok=True)
    sync_copy()
    if not run(["cmake", "-S", SRC, "-B", BUILD] + CONFIGURE, 600) or not run(BUILD_TESTS, 1800):
        print("mutants: the unmutated tree does not build", file=sys.stderr)
        return 2
    if not run(["ctest", "--test-dir", BUILD, "-j2", "--timeout", str(args.timeout)], 1800):
        print("mutants: the unmutated tree fails its tests", file=sys.stderr)
        return 2

    current = {}  # file -> original text, while it is mutated

    def restore(*_):
        for f, text in current.items():
            put(os.path.join(SRC, f), text)
        current.clear()

    def interrupted(signum, _frame):
        restore()
        sys.exit(128 + signum)

    signal.signal(signal.SIGINT, interrupted)
    signal.signal(signal.SIGTERM, interrupted)
    caught, total, survivors, unbuilt = 0, 0, [], 0
    try:
        for f, i, kind, new in chosen:
            path = os.path.join(SRC, f)
            with open(path) as h:
                text = h.read()
            lines = text.split("\n")
            lines[i] = new
            current[f] = text
            put(path, "\n".join(lines))
            label = f"{f}:{i + 1}: {kind}: {new.strip()}"
            if not run(BUILD_TESTS, 600):
                unbuilt += 1
                print(f"not built  {label}", flush=True)
            else:
                total += 1
                if args.fault:
                    log = subprocess.run(["ctest", "--test-dir", BUILD, "-j2", "--timeout", str(args.timeout)],
                                         capture_output=True, text=True).stdout
                    print(log[log.find("tests passed"):] if "FAILED" in log else "no test failed")
                killed = args.fault is not None and "FAILED" in log or not args.fault and not run(
                    ["ctest", "--test-dir", BUILD, "-j2", "--stop-on-failure", "--timeout", str(args.timeout)],
                    20 * args.timeout)
                caught += killed
                if not killed:
                    survivors.append(label)
                print(f"{'caught' if killed else 'SURVIVED'}   {label}", flush=True)
            restore()
    finally:
        restore()
    print(f"\ncaught {caught}/{total} ({100.0 * caught / max(total, 1):.0f}%), "
          f"{unbuilt} did not build")
    for s in survivors:
        print(f"survivor: {s}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
