#!/usr/bin/env python3
"""Out of address space for more threads, with many controllers named: the runs it could start
end as they would, the rest are refused one by one ("could not be started"), nothing aborts, and
no lock file is left behind. Not under a sanitizer, which reserves terabytes of address space.

    thread_limit_test.py PROGRAM
"""
import os
import resource
import subprocess
import sys
import tempfile


def few_threads():  # each thread's stack takes 128 MiB of the 2 GiB
    resource.setrlimit(resource.RLIMIT_STACK, (128 << 20, 128 << 20))
    resource.setrlimit(resource.RLIMIT_AS, (2 << 30, 2 << 30))


def main(program):
    with tempfile.TemporaryDirectory(prefix="fwburn-no-thread-") as tmp:
        ports = [a for i in range(40) for a in ("--port", os.path.join(tmp, "port-%d" % i))]
        p = subprocess.run([program, "--yes", "--allow-stand-in"] + ports,
                           preexec_fn=few_threads, capture_output=True, text=True,
                           stdin=subprocess.DEVNULL, timeout=120)
        lock_dir = "/run/lock" if os.stat("/run/lock").st_mode & 0o1777 == 0o1777 else "/tmp"
        left = [f for f in os.listdir(lock_dir) if os.path.basename(tmp) in f]
    problems = []
    if p.returncode != 4:  # the worst of the runs: ports that are not there
        problems.append("exit %d, not 4" % p.returncode)
    if "could not be started: Resource temporarily unavailable" not in p.stdout:
        problems.append("no run was refused for want of a thread")
    if "no such port" not in p.stderr:
        problems.append("no run started")
    if left:
        problems.append("lock files left: %s" % left)
    if problems:
        print("FAIL: " + "; ".join(problems) + "\n--- stdout\n" + p.stdout[-2000:] +
              "\n--- stderr\n" + p.stderr[-2000:])
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
