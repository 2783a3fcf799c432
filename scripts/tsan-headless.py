#!/usr/bin/env python3
"""Runs the headless Copy/Move under a ThreadSanitizer build and checks the result.

The build (no sanitizer option of the project's covers threads; the hardening
is left off, as under the project's own sanitizer option):

    cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS="-fsanitize=thread -g" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
        -DZANDREL_BUILD_BENCH=OFF -DZANDREL_BUILD_TESTS=OFF -DZANDREL_HARDENING=OFF
    cmake --build build-tsan --target zandrel -j2

One case per call:

    scripts/tsan-headless.py [--work /tmp/zt] [--bin build-tsan/zandrel] NAME MODE \
        [--signal INT|TERM] [--nofile N]
        [--at SECONDS | --at-commit N[+SECONDS] | --at-dst DIR:N | --at-src-gone DIR:N]

MODE is Copy or Move. A fresh source tree (20,000 files of 0-8 KiB in 200
folders, the same bytes every time) is copied from a pristine tree made once,
a checksum list is taken of it, and the run goes into an empty destination.
--at sends the signal that many seconds after the start; --at-commit sends it
when the Nth batch commit thread appears (plus an optional delay), found by
watching /proc/PID/task (ThreadSanitizer's own background thread, made at
the first thread start, is not counted). --at-dst sends it once the
destination's folder DIR (d000..d199) holds N names, that is while a commit
names its copies; --at-src-gone once N files are gone from the source's
folder DIR, while a Move's commit deletes its sources. --nofile runs the
program under prlimit.

Afterwards: the exit code, every ThreadSanitizer report verbatim, and the
loss check: each source file either still in the source unchanged or at the
destination with identical content (below the first folder level of the
source's full path, where CopyFoldersAndFiles puts it), a Copy's sources untouched, no named
destination file with other content, no '.*.zandrel-part' left behind.
"""
import argparse
import hashlib
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

FILES = 20000
FOLDERS = 200
PART = re.compile(r"^\..*\.zandrel-part$")


def make_pristine(root):
    if os.path.isdir(root) and os.path.exists(os.path.join(root, ".done")):
        return
    shutil.rmtree(root, ignore_errors=True)
    rng = random.Random(20000)
    tree = os.path.join(root, "tree")
    for i in range(FILES):
        folder = os.path.join(tree, "d%03d" % (i % FOLDERS))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%05d.dat" % i), "wb") as f:
            f.write(rng.randbytes(rng.randint(0, 8192)))
    open(os.path.join(root, ".done"), "w").close()


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def checksums(tree):
    sums = {}
    for d, _, files in os.walk(tree):
        for n in files:
            p = os.path.join(d, n)
            sums[os.path.relpath(p, tree)] = digest(p)
    return sums


def all_files(tree):
    out = set()
    for d, _, files in os.walk(tree):
        for n in files:
            out.add(os.path.relpath(os.path.join(d, n), tree))
    return out


def tsan_reports(text):
    reports, cur = [], None
    for line in text.splitlines():
        if cur is None:
            if line.startswith("WARNING: ThreadSanitizer"):
                cur = [line]
        else:
            if line.startswith("=================="):
                reports.append("\n".join(cur))
                cur = None
            else:
                cur.append(line)
    if cur is not None:
        reports.append("\n".join(cur))
    return reports


def worker_threads(pid):
    try:
        return set(os.listdir("/proc/%d/task" % pid)) - {str(pid)}
    except OSError:
        return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("name")
    ap.add_argument("mode", choices=["Copy", "Move"])
    ap.add_argument("--work", default="/tmp/zt")
    ap.add_argument("--bin", default=os.path.join(os.path.dirname(__file__), "..", "build-tsan",
                                                  "zandrel"))
    ap.add_argument("--signal", choices=["INT", "TERM"])
    ap.add_argument("--at", type=float)
    ap.add_argument("--at-commit")
    ap.add_argument("--at-dst")
    ap.add_argument("--at-src-gone")
    ap.add_argument("--nofile", type=int)
    ap.add_argument("--timeout", type=float, default=1800)
    a = ap.parse_args()

    pristine = os.path.join(a.work, "pristine")
    make_pristine(pristine)
    sums_file = os.path.join(a.work, "sums.txt")
    if not os.path.exists(sums_file):
        with open(sums_file, "w") as f:
            for rel, h in sorted(checksums(os.path.join(pristine, "tree")).items()):
                f.write("%s  %s\n" % (h, rel))

    case = os.path.join(a.work, a.name)
    shutil.rmtree(case, ignore_errors=True)
    os.makedirs(case)
    src, dst = os.path.join(case, "src"), os.path.join(case, "dst")
    subprocess.run(["cp", "-a", os.path.join(pristine, "tree"), src], check=True)
    os.makedirs(dst)
    # The list is checked against the copy actually made, not only the pristine one.
    sums = checksums(src)
    with open(os.path.join(case, "sums.txt"), "w") as f:
        for rel, h in sorted(sums.items()):
            f.write("%s  %s\n" % (h, rel))
    listing = os.path.join(case, "list.bak")
    with open(listing, "wb") as f:
        f.write(("%s<%s<%s<Subfolders<CopyFoldersAndFiles<Overwrite<desc<:Specific|Types:*.*\r\n"
                 % (a.mode, src, dst)).encode())

    cmd = [os.path.abspath(a.bin), listing, "-r"]
    if a.nofile:
        cmd = ["prlimit", "--nofile=%d:%d" % (a.nofile, a.nofile), "--"] + cmd
    env = dict(os.environ, TSAN_OPTIONS="halt_on_error=0 second_deadlock_stack=1")
    print("$ TSAN_OPTIONS=%r %s" % (env["TSAN_OPTIONS"], " ".join(cmd)))
    out = open(os.path.join(case, "stdout.txt"), "w")
    err = open(os.path.join(case, "stderr.txt"), "w")
    start = time.monotonic()
    p = subprocess.Popen(cmd, stdout=out, stderr=err, env=env, cwd=case)
    sent = []

    def send():
        if p.poll() is None:
            p.send_signal(getattr(signal, "SIG" + a.signal))
            sent.append(time.monotonic() - start)

    if a.signal and a.at is not None:
        threading.Timer(a.at, send).start()
    elif a.signal and a.at_commit:
        nth, _, delay = a.at_commit.partition("+")
        nth, delay = int(nth), float(delay or 0)

        def watch():
            # The program (under prlimit, once prlimit has exec'd) is p.pid.
            seen, count, tsan_skipped = None, 0, False
            while p.poll() is None:
                now = worker_threads(p.pid)
                if now is None:
                    return
                if seen is None:
                    seen = now  # the threads alive at the start are not commits
                elif now - seen:
                    # The lowest new id at the first start is TSan's background thread.
                    count += len(now - seen) - (not tsan_skipped)
                    tsan_skipped = True
                    seen |= now
                    if count >= nth:
                        time.sleep(delay)
                        send()
                        return
                time.sleep(0.0005)

        time.sleep(0.3)  # past the start-up threads (TSan's, Qt's)
        threading.Thread(target=watch, daemon=True).start()
    elif a.signal and (a.at_dst or a.at_src_gone):
        below = os.path.abspath(src).strip("/").split("/", 1)[1]
        folder, _, n = (a.at_dst or a.at_src_gone).partition(":")
        n = int(n)
        where = os.path.join(dst, below, folder) if a.at_dst else os.path.join(src, folder)
        at_start = len(os.listdir(where)) if a.at_src_gone else 0

        def watch_names():
            while p.poll() is None:
                try:
                    have = len(os.listdir(where))
                except OSError:
                    have = 0 if a.at_dst else at_start
                if (a.at_dst and have >= n) or (a.at_src_gone and at_start - have >= n):
                    send()
                    return
                time.sleep(0.0002)

        threading.Thread(target=watch_names, daemon=True).start()
    try:
        rc = p.wait(timeout=a.timeout)
    except subprocess.TimeoutExpired:
        p.kill()
        rc = "timeout (killed)"
    took = time.monotonic() - start
    out.close()
    err.close()

    stderr = open(os.path.join(case, "stderr.txt"), errors="replace").read()
    reports = tsan_reports(stderr)
    print("exit code: %s   time: %.1f s   signal sent at: %s" %
          (rc, took, ", ".join("%.2f s" % s for s in sent) or "-"))
    print("ThreadSanitizer reports: %d" % len(reports))
    for r in reports:
        print(r)
        print("------------------")

    # The loss check.
    in_src = all_files(src) if os.path.isdir(src) else set()
    # CopyFoldersAndFiles keeps the path below its first folder level:
    # /tmp/zt/NAME/src/d000/f.dat lands in DST/zt/NAME/src/d000/f.dat.
    below = os.path.abspath(src).strip("/").split("/", 1)[1]
    landed = os.path.join(dst, below)
    in_dst = {os.path.relpath(os.path.join(dst, r), landed)
              for r in all_files(dst)} if os.path.isdir(dst) else set()
    lost, src_changed, dst_wrong, both, only_src, only_dst = [], [], [], 0, 0, 0
    for rel, h in sums.items():
        s_ok = rel in in_src and digest(os.path.join(src, rel)) == h
        d_ok = rel in in_dst and digest(os.path.join(landed, rel)) == h
        if rel in in_src and not s_ok:
            src_changed.append(rel)
        if rel in in_dst and not d_ok:
            dst_wrong.append(rel)
        if not s_ok and not d_ok:
            lost.append(rel)
        both += s_ok and d_ok
        only_src += s_ok and not d_ok
        only_dst += d_ok and not s_ok
    parts = sorted(r for r in in_dst | in_src if PART.match(os.path.basename(r)))
    extra = sorted(in_dst - set(sums) - set(parts))
    print("files: %d | at destination only %d | in source only %d | both %d" %
          (len(sums), only_dst, only_src, both))
    print("lost %d | source changed %d | destination differs %d | .zandrel-part %d | "
          "unexpected at destination %d" %
          (len(lost), len(src_changed), len(dst_wrong), len(parts), len(extra)))
    for label, names in (("lost", lost), ("source changed", src_changed),
                         ("destination differs", dst_wrong), ("zandrel-part", parts),
                         ("unexpected", extra)):
        for n in names[:10]:
            print("  %s: %s" % (label, n))
    bad = lost or src_changed or dst_wrong or parts or extra
    if a.mode == "Copy" and len(in_src) != len(sums):
        print("  a Copy's source lost files: %d of %d remain" % (len(in_src), len(sums)))
        bad = True
    if not a.signal:
        complete = only_dst + both == len(sums)
        if a.mode == "Move":
            complete = complete and only_dst == len(sums)
        print("complete: %s%s" % ("yes" if complete else "NO",
                                  "; source folder %s" % ("remains" if os.path.isdir(src)
                                                          else "removed")
                                  if a.mode == "Move" else ""))
        bad = bad or not complete
    tail = [l for l in stderr.splitlines() if l.startswith("zandrel")]
    for l in tail[:5]:
        print("stderr: " + l)
    print("loss check: %s" % ("FAILED" if bad else "ok"))
    return 1 if (bad or reports) else 0


if __name__ == "__main__":
    sys.exit(main())
