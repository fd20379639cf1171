#!/usr/bin/env python3
"""d88's writing verbs under failing system calls, racing editors and kills.

Every run must end in one of two ways: status 1 with every file as it was
and nothing beside it, or status 0 (3: changed, not all reported) with the
correct result and nothing beside it.  Never status 0 with a file lost.

usage: edit_faults.py D88 FIXED_CLOCK.so [sweep|race|kill ...]
"""
import concurrent.futures
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

# The sweep runs d88 thousands of times; a memory file system spares it the
# disk's flushes.
TEMP = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None

D88 = os.path.abspath(sys.argv[1])
# mkdir stamps the folder with the time: one clock for every run.
ENV = dict(os.environ, LC_ALL="C.UTF-8", TZ="UTC", LD_PRELOAD=os.path.abspath(sys.argv[2]))
RNG = random.Random(1)
# 80 sectors of 512 bytes: also the raw disk d88 import reads.
HOST_FILE = bytes(RNG.randrange(256) for _ in range(40960))
SMALL_FILE = bytes(RNG.randrange(256) for _ in range(3000))

# What each verb is run as, where its result lands, and what it starts from.
OPERATIONS = [
    ("add", ["add", "c.d88", "F"], "c.d88"),
    ("rm", ["rm", "c.d88", "AAAA"], "c.d88"),
    ("add -o", ["add", "-o", "out.d88", "c.d88", "F"], "out.d88"),
    ("new", ["new", "-m", "2HD", "out.d88"], "out.d88"),
    ("FAT12 add", ["add", "fat.d88", "F", "--as", "SUB/F"], "fat.d88"),
    ("FAT12 rm", ["rm", "fat.d88", "sub/aaaa"], "fat.d88"),
    ("FAT12 mkdir", ["mkdir", "fat.d88", "SUB/NEW"], "fat.d88"),
    ("FAT12 rmdir", ["rmdir", "fat.d88", "EMPTY"], "fat.d88"),
    ("set", ["set", "--name", "X", "--protect", "on", "fat.d88"], "fat.d88"),
    ("fix", ["fix", "s.d88"], "s.d88"),
    ("split", ["split", "fat.d88"], "fat-0.d88"),
    ("join", ["join", "out.d88", "s.d88", "fat.d88"], "out.d88"),
    ("export", ["export", "-f", "raw", "s.d88", "out.img"], "out.img"),
    ("import", ["import", "-g", "5/2/8/512", "-f", "raw", "F", "out.d88"], "out.d88"),
]

# The calls failed in turn: everything that touches a file or a folder.
INJECTED = {"openat", "read", "pread64", "write", "lseek", "close", "fstat", "newfstatat", "statx",
            "fsync", "fdatasync", "flock", "fcntl", "rename", "renameat", "renameat2", "link", "linkat",
            "unlink", "unlinkat", "fchmod", "fchown", "mmap", "getdents64", "readlink", "access"}

failures = []


def run(args, cwd, prefix=()):
    done = subprocess.run(list(prefix) + [D88] + args, cwd=cwd, env=ENV,
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    return done.returncode, done.stderr.decode("utf-8", "replace")


def snapshot(folder):
    return {name: open(os.path.join(folder, name), "rb").read()
            for name in sorted(os.listdir(folder))}


def base_folder():
    """A folder with a full 2DD container holding AAAA, a FAT12 one holding
    SUB/AAAA and an empty folder, a small FAT12 one whose first record
    miscounts its track (for fix), and the host file F."""
    folder = tempfile.mkdtemp(prefix="d88faults-", dir=TEMP)
    for name, data in (("AAAA", SMALL_FILE), ("F", HOST_FILE)):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    for args in (["new", "-m", "2DD", "c.d88"], ["add", "c.d88", "AAAA"],
                 ["new", "-f", "fat12", "-m", "2DD", "fat.d88"], ["mkdir", "fat.d88", "SUB"],
                 ["add", "fat.d88", "AAAA", "--as", "SUB/AAAA"], ["mkdir", "fat.d88", "EMPTY"],
                 ["new", "-f", "fat12", "-m", "5/2/8/512", "s.d88"]):
        status, err = run(args, folder)
        assert status == 0, err
    with open(os.path.join(folder, "s.d88"), "r+b") as f:
        f.seek(0x2B4)  # the first record's count of sectors in its track
        f.write(b"\x07")
    os.remove(os.path.join(folder, "AAAA"))
    return folder


def fresh_copy(base):
    folder = tempfile.mkdtemp(prefix="d88faults-", dir=TEMP)
    for name in os.listdir(base):
        shutil.copy2(os.path.join(base, name), folder)
    return folder


def judge(what, status, err, before, after, target, expected):
    """Returns the rule a run broke, or None."""
    if status == 1:
        if after != before:
            return f"{what}: status 1 but files changed: {sorted(set(after) ^ set(before)) or 'bytes'}"
        return None
    if status in (0, 3):
        wanted = dict(before, **{target: expected})
        if after.keys() != wanted.keys():
            return f"{what}: status {status}, files {sorted(after)} instead of {sorted(wanted)}"
        for name in wanted:
            if after[name] != wanted[name]:
                return f"{what}: status {status} but {name} is not the correct result"
        return None
    return f"{what}: status {status}: {err.strip()[:200]}"


def expected_results(base):
    results = {}
    for label, args, target in OPERATIONS:
        folder = fresh_copy(base)
        status, err = run(args, folder)
        assert status == 0, f"{label}: {err}"
        results[label] = open(os.path.join(folder, target), "rb").read()
        shutil.rmtree(folder)
    return results


def injection_points(base, args):
    """(syscall, occurrence) for every call the verb makes once its own
    code runs: the dynamic loader's calls before it are left alone."""
    folder = fresh_copy(base)
    log = os.path.join(folder, "..", os.path.basename(folder) + ".log")
    run(args, folder, ["strace", "-f", "-qq", "-o", log])
    names = [m.group(1) for m in (re.match(r"\d+\s+(\w+)\(", line) for line in open(log)) if m]
    os.remove(log)
    shutil.rmtree(folder)
    # The C library registers the thread once the loader has mapped every
    # library: the program's own calls come after.
    start = names.index("rseq") + 1
    seen = {}
    points = []
    for i, name in enumerate(names):
        seen[name] = seen.get(name, 0) + 1
        if i >= start and name in INJECTED:
            points.append((name, seen[name]))
    return points


def sweep(base, results):
    jobs = []
    for label, args, target in OPERATIONS:
        for name, when in injection_points(base, args):
            for error in (["EIO", "ENOSPC"] if name == "write" else ["EIO"]):
                jobs.append((label, args, target, name, when, error))

    def one(job):
        label, args, target, name, when, error = job
        folder = fresh_copy(base)
        before = snapshot(folder)
        status, err = run(args, folder, ["strace", "-f", "-qq", "-o", "/dev/null", "-e", f"trace={name}",
                                         "-e", f"inject={name}:error={error}:when={when}"])
        fault = judge(f"{label} with {name} #{when} failing ({error})", status, err, before,
                      snapshot(folder), target, results[label])
        shutil.rmtree(folder)
        return fault

    with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 2) as pool:
        faults = [f for f in pool.map(one, jobs) if f]
    print(f"sweep: {len(jobs)} runs with one failing call, {len(faults)} broke a rule")
    failures.extend(faults)


def race(base):
    """Two editors on one container: both files end up there, or the one
    that was refused says so and left nothing."""
    delays = [("read", 3), ("close", 5), ("fsync", 1), ("rename", 1), ("lseek", 10), ("openat", 8)]
    runs = 0
    for name, when in delays:
        for pause in (0.0, 0.05, 0.15):
            folder = fresh_copy(base)
            for editor in ("BBBB", "CCCC"):
                with open(os.path.join(folder, editor), "wb") as f:
                    f.write(editor.encode() * 100)
            slow = subprocess.Popen(["strace", "-f", "-qq", "-o", "/dev/null", "-e", f"trace={name}", "-e",
                                     f"inject={name}:delay_exit=300000:when={when}", D88, "add", "c.d88", "BBBB"],
                                    cwd=folder, env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE)
            time.sleep(pause)
            fast_status, fast_err = run(["add", "c.d88", "CCCC"], folder)
            slow_err = slow.communicate(timeout=120)[1].decode("utf-8", "replace")
            listing = subprocess.run([D88, "list", "c.d88"], cwd=folder, env=ENV, capture_output=True).stdout
            for editor, status, err in (("BBBB", slow.returncode, slow_err), ("CCCC", fast_status, fast_err)):
                present = editor.encode() in listing
                if status == 0 and not present:
                    failures.append(f"race ({name} #{when} held, {pause}s): {editor} exited 0 but is gone")
                elif status == 1 and present:
                    failures.append(f"race ({name} #{when} held, {pause}s): {editor} refused but written")
                elif status not in (0, 1):
                    failures.append(f"race ({name} #{when} held, {pause}s): {editor} status {status}: {err}")
            if b"AAAA" not in listing:
                failures.append(f"race ({name} #{when} held, {pause}s): AAAA lost")
            runs += 1
            shutil.rmtree(folder)
    print(f"race: {runs} pairs of editors")


def kill(base, results):
    """Killed at any moment, an edit leaves the old container or the new
    one, and a leftover that d88 test names."""
    runs = 0
    for label, args, target in OPERATIONS:
        for _ in range(30):
            folder = fresh_copy(base)
            before = snapshot(folder)
            editor = subprocess.Popen([D88] + args, cwd=folder, env=ENV, stdin=subprocess.DEVNULL,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(RNG.uniform(0, 0.012))
            editor.kill()
            editor.wait()
            after = snapshot(folder)
            result = after.get(target)
            if result not in (before.get(target), results[label]):
                failures.append(f"kill during {label}: {target} is neither the old nor the new one")
            leftovers = sorted(set(after) - set(before) - {target})
            if leftovers:
                report = subprocess.run([D88, "test", "."], cwd=folder, env=ENV, capture_output=True)
                text = (report.stdout + report.stderr).decode("utf-8", "replace")
                for leftover in leftovers:
                    if leftover not in text:
                        failures.append(f"kill during {label}: d88 test does not name the leftover {leftover}")
            runs += 1
            shutil.rmtree(folder)
    print(f"kill: {runs} editors killed")


def main():
    parts = sys.argv[3:] or ["sweep", "race", "kill"]
    base = base_folder()
    results = expected_results(base)
    if "sweep" in parts:
        sweep(base, results)
    if "race" in parts:
        race(base)
    if "kill" in parts:
        kill(base, results)
    shutil.rmtree(base)
    for fault in failures[:40]:
        print("FAIL", fault)
    if len(failures) > 40:
        print(f"... and {len(failures) - 40} more")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
