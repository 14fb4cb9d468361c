#!/usr/bin/env python3
"""Whole updates over pseudo-terminals, for scripts/bench --pty and --gang.

--pty: whole ZL500 updates, ours against a bare sender and against the line limit.
--pty --wire-only: only the update against the line limit (about 3 minutes).
--gang N[,N...] [--program cpu|aio]: N controllers updated at once by one process, each on its
own plcsim with --wire, beside a single update in the same run.

Every run gets its own plcsim (its own pty pair) in the bootloader. Wall time is from the host's
start to its exit; CPU time is the host's own user+sys from wait4. The machine is shared (the
test suite may be running), so the table also shows how busy all CPUs were meanwhile.
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build/bench"
PROGRAM = "cpu"
PLCSIM = os.path.join(BUILD, "sim/plcsim/plcsim")
CLI = os.path.join(BUILD, "ui/console/fwburn-%s-cli")
BARE = os.path.join(BUILD, "tests/fwburn_bare_sender")
REPEATS = 5  # short runs: the median of a few keeps one scheduling hiccup out


def cpu_ticks():
    """(busy, total) jiffies of all CPUs together."""
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    idle = fields[3] + fields[4]
    return sum(fields) - idle, sum(fields)


def run_update(work, name, host, sim_flags):
    link = os.path.join(work, name + ".port")
    summary = os.path.join(work, name + ".json")
    sim = subprocess.Popen(
        [PLCSIM, "--fault", "boot-at-power-on", "--image", os.path.join(work, "image.bin"),
         "--link", link, "--exit-after-update", "--summary-json", summary] + sim_flags,
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    sim.stdout.readline()  # the port line comes after the link is made
    log = open(os.path.join(work, name + ".log"), "w")
    busy0, total0 = cpu_ticks()
    t0 = time.monotonic()
    pid = subprocess.Popen([a.replace("@PORT@", link) for a in host], stdout=log,
                           stderr=subprocess.STDOUT).pid
    _, status, ru = os.wait4(pid, 0)
    wall = time.monotonic() - t0
    busy1, total1 = cpu_ticks()
    log.close()
    # wait4 rather than Popen.wait: plcsim's own CPU time shows what the wire simulation costs.
    deadline = time.monotonic() + 30
    while True:
        done, _, sim_ru = os.wait4(sim.pid, os.WNOHANG)
        if done:
            sim.returncode = 0  # reaped here; keeps Popen from waiting for it again
            break
        if time.monotonic() > deadline:
            sim.kill()
            sys.exit("bench: plcsim did not end after " + name)
        time.sleep(0.05)
    with open(summary) as f:
        s = json.load(f)
    code = os.waitstatus_to_exitcode(status)
    if code != 0 or not s["transferComplete"] or not s["flashMatchesImage"] or s["violations"]:
        sys.exit(f"bench: {name} failed (exit {code}); see {work}")
    return {"wall": wall, "cpu": ru.ru_utime + ru.ru_stime,
            "busy": (busy1 - busy0) / max(1, total1 - total0), "summary": s,
            "sim_cpu": sim_ru.ru_utime + sim_ru.ru_stime}


def wire_limit(s):
    """Seconds the bytes of a bare update take on the line at 10 bits per byte."""
    slow = (2 + 3) + s["expectedEraseSteps"] * (5 + 1) + (1 + 1) + (6 + 1)  # 9600 baud
    fast = s["expectedBlocks"] * (261 + 1) + (1 + 1)  # 115200 baud, after UPDATE
    return slow * 10 / 9600 + fast * 10 / 115200


def wire_only():
    """The whole ZL500 update at line speed against the line limit, alone."""
    with tempfile.TemporaryDirectory(prefix="fwburn-bench-") as work:
        subprocess.run([CLI % "cpu", "--extract-image", os.path.join(work, "image.bin")],
                       check=True, stdout=subprocess.DEVNULL)
        ours_cmd = [CLI % "cpu", "--port", "@PORT@", "--yes", "--allow-stand-in"]
        wire = run_update(work, "wire", ours_cmd, ["--wire", "--instant"])
    limit = wire_limit(wire["summary"])
    print(f"ZL500 --wire --instant: {wire['wall']:.3f} s, wire limit {limit:.3f} s, "
          f"ratio {wire['wall'] / limit:.4f}, over the limit {wire['wall'] - limit:.3f} s, "
          f"host CPU {wire['cpu']:.3f} s, all CPUs busy {wire['busy'] * 100:.0f}%")


def main():
    if "--wire-only" in sys.argv[2:]:
        wire_only()
        return
    ncpu = os.cpu_count()
    load = open("/proc/loadavg").read().split()[:3]
    print(f"machine: {ncpu} CPUs, load average {' '.join(load)} at start")
    with tempfile.TemporaryDirectory(prefix="fwburn-bench-") as work:
        subprocess.run([CLI % "cpu", "--extract-image", os.path.join(work, "image.bin")],
                       check=True, stdout=subprocess.DEVNULL)
        # A bench build has no real image: its stand-in is written only when told.
        ours_cmd = [CLI % "cpu", "--port", "@PORT@", "--yes", "--allow-stand-in"]
        bare_cmd = [BARE, "@PORT@", os.path.join(work, "image.bin")]

        ours, bare = [], []
        for i in range(REPEATS):  # interleaved, so that a change of load hits both alike
            ours.append(run_update(work, f"ours{i}", ours_cmd, []))
            bare.append(run_update(work, f"bare{i}", bare_cmd, []))
        wire = run_update(work, "wire", ours_cmd, ["--wire", "--instant"])
    load = open("/proc/loadavg").read().split()[:3]

    def med(runs, key):
        return statistics.median(r[key] for r in runs)

    limit = wire_limit(wire["summary"])
    rows = [
        ("(a) ours, no wire, median of %d" % REPEATS, med(ours, "wall"), med(ours, "cpu"),
         med(ours, "sim_cpu"), med(ours, "busy")),
        ("(a) bare sender, no wire, median of %d" % REPEATS, med(bare, "wall"), med(bare, "cpu"),
         med(bare, "sim_cpu"), med(bare, "busy")),
        ("(b) ours, --wire --instant", wire["wall"], wire["cpu"], wire["sim_cpu"], wire["busy"]),
        ("(b) wire limit (computed)", limit, None, None, None),
    ]
    print()
    print(f"{'run':<40} {'wall s':>9} {'host cpu s':>11} {'plcsim cpu s':>13} {'all CPUs busy':>14}")
    for name, wall, cpu, sim_cpu, busy in rows:
        c = f"{cpu:11.3f}" if cpu is not None else f"{'':>11}"
        c += f" {sim_cpu:13.3f}" if sim_cpu is not None else f" {'':>13}"
        b = f"{busy * 100:13.0f}%" if busy is not None else f"{'':>14}"
        print(f"{name:<40} {wall:9.3f} {c} {b}")
    print()
    ratio_a = med(ours, "wall") / med(bare, "wall")
    ratio_b = wire["wall"] / limit
    share = wire["cpu"] / wire["wall"]
    print(f"{'check':<40} {'value':>9} {'target':>11}")
    for name, value, target, fmt in [
        ("ours / bare, no wire", ratio_a, 1.10, "{:9.3f}"),
        ("ours / wire limit", ratio_b, 1.02, "{:9.3f}"),
        ("ours host CPU / wall, wire", share * 100, 2.0, "{:8.2f}%"),
    ]:
        verdict = "met" if value <= target else "MISSED"
        t = f"<= {target:.2f}" + ("%" if "CPU" in name else "")
        print(f"{name:<40} {fmt.format(value)} {t:>11}  {verdict}")
    print(f"\nload average {' '.join(load)} at end")


MODELS = {"cpu": "ZL500", "aio": "ZL500-AIO"}
GANG_REPEATS = int(os.environ.get("FWBURN_GANG_REPEATS", "3"))  # short runs: a few, interleaved


def start_sims(work, name, count, program):
    """`count` plcsims with --wire, starting in their bootloader (no replug to wait for)."""
    sims = []
    for i in range(count):
        summary = os.path.join(work, "%s-%d.json" % (name, i))
        sim = subprocess.Popen(
            [PLCSIM, "--model", MODELS[program], "--fault", "boot-at-power-on", "--image",
             os.path.join(work, "image.bin"), "--wire", "--exit-after-update",
             "--summary-json", summary], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            text=True)
        sims.append((sim, sim.stdout.readline().rsplit(" on ", 1)[1].strip(), summary))
    return sims


def peak_kib(pid):
    """VmHWM of a running process, in KiB; 0 once it is gone."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def run_gang(work, name, count, program):
    """One process updating `count` controllers at once: per controller its time (from the
    program's JSON), and the process's CPU time, wall time and peak RSS (wait4)."""
    sims = start_sims(work, name, count, program)
    cmd = [CLI % program, "--yes", "--allow-stand-in", "--json"]
    for _, port, _ in sims:
        cmd += ["--port", port]
    # Each controller's time is when its outcome line came, on this clock: the program's own
    # "elapsed" is in tenths of a second.
    busy0, total0 = cpu_ticks()
    t0 = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    times, events = [], []
    hwm = 0  # the updater's peak resident memory, KiB, read while it runs
    for line in proc.stdout:
        hwm = max(hwm, peak_kib(proc.pid))
        events.append(json.loads(line))
        if events[-1]["event"] == "outcome":
            times.append(time.monotonic() - t0)
    _, status, ru = os.wait4(proc.pid, 0)
    proc.returncode = 0  # reaped here
    wall = time.monotonic() - t0
    busy1, total1 = cpu_ticks()
    proc.stdout.close()
    with open(os.path.join(work, name + ".jsonl"), "w") as f:
        f.writelines(json.dumps(e) + "\n" for e in events)
    for sim, _, summary in sims:
        try:
            sim.wait(timeout=30)
        except subprocess.TimeoutExpired:
            sim.kill()
            sys.exit("bench: plcsim did not end after " + name)
        sim.stdout.close()
        with open(summary) as f:
            s = json.load(f)
        if not s["transferComplete"] or not s["flashMatchesImage"] or s["violations"]:
            sys.exit(f"bench: {name} left a controller not updated; see {work}")
    code = os.waitstatus_to_exitcode(status)
    if code != 0 or len(times) != count:
        sys.exit(f"bench: {name} failed (exit {code}); see {work}")
    return {"slowest": max(times), "wall": wall, "cpu": ru.ru_utime + ru.ru_stime,
            "rss": hwm or ru.ru_maxrss, "busy": (busy1 - busy0) / max(1, total1 - total0)}


def gang(counts, program):
    ncpu = os.cpu_count()
    load = open("/proc/loadavg").read().split()[:3]
    print(f"machine: {ncpu} CPUs, load average {' '.join(load)} at start")
    print(f"program: fwburn-{program}-cli ({MODELS[program]}), plcsim --wire, "
          f"median of {GANG_REPEATS} runs each")
    rows = []
    with tempfile.TemporaryDirectory(prefix="fwburn-gang-") as work:
        subprocess.run([CLI % program, "--extract-image", os.path.join(work, "image.bin")],
                       check=True, stdout=subprocess.DEVNULL)
        for n in counts:
            single, several = [], []
            for i in range(GANG_REPEATS):  # interleaved: a change of load hits both alike
                single.append(run_gang(work, f"single{n}-{i}", 1, program))
                several.append(run_gang(work, f"gang{n}-{i}", n, program))

            def med(runs, key):
                return statistics.median(r[key] for r in runs)
            extra = (med(several, "rss") - med(single, "rss")) / (n - 1) if n > 1 else None
            rows.append((n, med(single, "slowest"), med(several, "slowest"),
                         med(several, "cpu") / med(several, "wall") / n * 100,
                         med(single, "rss"), med(several, "rss"), extra,
                         med(several, "busy") * 100))
    load = open("/proc/loadavg").read().split()[:3]
    print()
    print(f"{'N':>3} {'single s':>9} {'slowest s':>10} {'ratio':>6} {'cpu %/ctl':>10} "
          f"{'rss 1 KiB':>10} {'rss N KiB':>10} {'KiB/extra':>10} {'CPUs busy':>10}")
    for n, one, slowest, cpu, rss1, rssn, extra, busy in rows:
        e = f"{extra:10.0f}" if extra is not None else f"{'-':>10}"
        print(f"{n:3d} {one:9.3f} {slowest:10.3f} {slowest / one:6.3f} {cpu:10.3f} "
              f"{rss1:10d} {rssn:10.0f} {e} {busy:9.0f}%")
    print("\ntargets: ratio <= 1.05, host CPU < 1 % of wall time per controller")
    print(f"load average {' '.join(load)} at end")


if __name__ == "__main__":
    if len(sys.argv) > 2 and sys.argv[2] == "--gang":
        counts = [int(n) for n in (sys.argv[3] if len(sys.argv) > 3 else "1,4,8").split(",")]
        if len(sys.argv) > 5 and sys.argv[4] == "--program":
            PROGRAM = sys.argv[5]
        gang(counts, PROGRAM)
    else:
        main()
