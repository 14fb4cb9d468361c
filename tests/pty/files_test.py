#!/usr/bin/env python3
"""The files the console programs write, under hostile conditions: --extract-image's image, umask,
words for a refused target, a file size limit and a full disk (the file replacement itself, on
every kind of target, is tests/console/extract_image_test.cpp); --trace to a disk that is full
from the start or fills up during the update, or to a terminal or FIFO nobody reads.

CTest runs one test class per entry (see CMakeLists.txt), as for console_pty_test.py.
"""
import fcntl
import hashlib
import json
import os
import pty
import re
import resource
import shutil
import stat
import subprocess
import tempfile
import threading
import unittest

from console_pty_test import PtyCase, cli_command, need, program_path, run_cli

UNSHARE = shutil.which("unshare")


def extract(path, profile="cpu", umask=None, fsize=None, json_lines=False):
    """One --extract-image run, alone on the command line as the option must be (or with
    --json)."""
    def before_exec():
        if umask is not None:
            os.umask(umask)
        if fsize is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (fsize, fsize))
    p = subprocess.run([program_path(profile), "--extract-image", path]
                       + (["--json"] if json_lines else []),
                       stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60,
                       preexec_fn=before_exec)
    return p


def private_mounts_work():
    """Whether this user can mount a tmpfs of its own (a user and mount namespace)."""
    if UNSHARE is None:
        return False
    return subprocess.run([UNSHARE, "-rm", "sh", "-c", "mount -t tmpfs none /mnt"],
                          capture_output=True).returncode == 0


def on_small_disk(size, script, *args):
    """Runs a shell script with a fresh tmpfs of `size` mounted at $1 (the rest of the arguments
    follow); the tmpfs is private to the script and goes with it."""
    mountpoint = tempfile.mkdtemp(prefix="fwburn-disk-")
    try:
        return subprocess.run(
            [UNSHARE, "-rm", "sh", "-c",
             'mount -t tmpfs -o size=%s none "$1" || exit 99\n%s' % (size, script), "sh",
             mountpoint] + list(args),
            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=600)
    finally:
        os.rmdir(mountpoint)


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class ExtractImage(unittest.TestCase):
    def setUp(self):
        need(self, "cpu")
        self.dir = tempfile.mkdtemp(prefix="fwburn-files-")
        v = subprocess.run([program_path("cpu"), "--version", "--json"], capture_output=True,
                           text=True)
        self.sha256 = json.loads(v.stdout)["sha256"]

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def entries(self):
        return sorted(os.listdir(self.dir))

    def assert_image(self, path):
        self.assertEqual(sha256_of(path), self.sha256)

    def test_new_file_is_the_image_with_the_users_umask(self):
        p = extract(self.path("fw.bin"), umask=0o027)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assert_image(self.path("fw.bin"))
        self.assertEqual(stat.S_IMODE(os.lstat(self.path("fw.bin")).st_mode), 0o640)
        self.assertEqual(self.entries(), ["fw.bin"])

    def test_what_is_not_a_regular_file_is_refused_in_the_programs_words(self):
        # Every kind of target (link, FIFO, directory, socket, device node) is in
        # tests/console/extract_image_test.cpp; here the program's exit status and words.
        with open(self.path("target"), "w") as f:
            f.write("theirs")
        os.symlink("target", self.path("link"))
        p = extract(self.path("link"))
        self.assertEqual(p.returncode, 1, p.stderr)
        self.assertEqual(p.stdout, "")
        self.assertIn("cannot write %s: a symbolic link" % self.path("link"), p.stderr)
        self.assertTrue(os.path.islink(self.path("link")))
        with open(self.path("target")) as f:
            self.assertEqual(f.read(), "theirs")
        self.assertEqual(self.entries(), ["link", "target"])
        # A script still reads how it ended, as it would of an update refused.
        p = extract(self.path("link"), json_lines=True)
        self.assertEqual(p.returncode, 1, p.stderr)
        closing = [json.loads(line) for line in p.stdout.splitlines()]
        self.assertEqual([(e["event"], e["exitCode"], e["result"]) for e in closing],
                         [("outcome", 1, "unexpected")])
        self.assertIn("cannot write %s: a symbolic link" % self.path("link"), closing[0]["text"])

    def test_file_size_limit_fails_cleanly(self):
        with open(self.path("fw.bin"), "w") as f:
            f.write("old")
        p = extract(self.path("fw.bin"), fsize=64 * 1024)
        self.assertEqual(p.returncode, 1, "%d %s" % (p.returncode, p.stderr))
        self.assertIn("cannot write %s: File too large" % self.path("fw.bin"), p.stderr)
        with open(self.path("fw.bin")) as f:
            self.assertEqual(f.read(), "old")
        self.assertEqual(self.entries(), ["fw.bin"])

    def test_full_disk_fails_cleanly(self):
        if not private_mounts_work():
            self.skipTest("cannot mount a small tmpfs here")
        p = on_small_disk("256k", 'echo old > "$1/fw.bin"; "$2" --extract-image "$1/fw.bin"; '
                          'echo "rc=$?"; ls -A "$1"; cat "$1/fw.bin"', program_path("cpu"))
        self.assertEqual(p.stdout, "rc=1\nfw.bin\nold\n", p.stderr)
        self.assertIn("No space left on device", p.stderr)

    def test_a_damaged_program_neither_writes_nor_vouches_for_its_image(self):
        """One bit of the image flipped in the program file (a bad copy, a failing disk): no file
        is written, --version does not pass the recorded digest off as the image's, and both end
        as the update would, exit 3."""
        p = extract(self.path("intact.bin"))
        self.assertEqual(p.returncode, 0, p.stderr)
        with open(program_path("cpu"), "rb") as f:
            program = bytearray(f.read())
        with open(self.path("intact.bin"), "rb") as f:
            image = f.read()
        at = program.find(image)
        self.assertGreaterEqual(at, 0, "the image is not in the program file as it is")
        program[at + len(image) // 2] ^= 0x01
        damaged = self.path("damaged-cli")
        with open(damaged, "wb") as f:
            f.write(program)
        os.chmod(damaged, 0o755)
        out = self.path("out.bin")
        for args in (["--extract-image", out], ["--extract-image", out, "--json"],
                     ["--version"], ["--version", "--json"]):
            with self.subTest(args=args):
                r = subprocess.run([damaged, *args], stdin=subprocess.DEVNULL,
                                   capture_output=True, text=True, timeout=60)
                self.assertEqual(r.returncode, 3, r)
                self.assertEqual(r.stderr.splitlines()[-1:],
                                 ["ERROR: The firmware image is CORRUPTED"], r)
                if "--json" in args:
                    closing = json.loads(r.stdout.splitlines()[-1])
                    self.assertEqual((closing["event"], closing["exitCode"], closing["result"]),
                                     ("outcome", 3, "image-refused"), r.stdout)
                elif args[0] == "--version":
                    self.assertIn("sha256:   %s (recorded; the built-in image does NOT match it)"
                                  % self.sha256, r.stdout.splitlines())
        self.assertEqual(self.entries(), ["damaged-cli", "intact.bin"])


def outcome(run):
    return run.json_lines()[-1]


def trace_lines(text):
    return [line for line in text.splitlines() if line.strip()]


class Trace(PtyCase):
    def test_empty_trace_name_is_a_usage_error(self):
        need(self, "aio")
        r = run_cli("aio", "--trace", "")
        self.assertEqual(r.code, 2, r)
        self.assertIn("--trace needs a file name", r.err)
        p = subprocess.run([program_path("aio"), "--trace="], capture_output=True, text=True)
        self.assertEqual(p.returncode, 2, p.stderr)

    def test_a_trace_that_cannot_open_is_told_for_what_it_is(self):
        sim = self.start_sim("aio")
        fifo = os.path.join(self.tmp.name, "unread")
        os.mkfifo(fifo)
        hint = "(a FIFO needs its reader started first)"
        # /dev/tty in a session without a terminal fails as a FIFO with no reader does.
        for path, hinted in ((fifo, True), ("/dev/tty", False)):
            with self.subTest(path=path):
                p = subprocess.run(cli_command("aio", "--port", sim.port, "--yes", "--trace", path),
                                   stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                   start_new_session=True, timeout=60)
                self.assertEqual(p.returncode, 2, p.stderr)
                self.assertIn("--trace %s: cannot write the file: No such device or address"
                              % path, p.stderr)
                self.assertEqual(hint in p.stderr, hinted, p.stderr)

    def test_a_trace_that_cannot_be_written_is_reported_once(self):
        # The control: a trace that is written says nothing about the trace.
        sim = self.start_sim("aio", "--exit-after-update")
        written = os.path.join(self.tmp.name, "aio.trace")
        good = run_cli("aio", "--port", sim.port, "--yes", "--json", "--trace", written)
        self.assertEqual(good.code, 0, good)
        self.assertNotIn("trace", good.err)
        self.assertNotIn("traceError", outcome(good))
        sim.stop()
        with open(written) as f:
            self.assertTrue(f.read().endswith("note close %s\n" % sim.port))

        for json_lines in (True, False):
            with self.subTest(json=json_lines):
                sim = self.start_sim("aio", "--exit-after-update")
                args = ["--port", sim.port, "--yes", "--trace", "/dev/full"]
                r = run_cli("aio", *(args + (["--json"] if json_lines else [])))
                self.assertEqual(r.code, 0, r)  # the update's own status
                said = [l for l in r.err.splitlines() if "--trace" in l]
                self.assertEqual(said, ["fwburn-aio-cli: --trace /dev/full: cannot write: No "
                                        "space left on device; the trace stops here, the update "
                                        "goes on"], r)
                if json_lines:
                    self.assertEqual(outcome(r)["traceError"], "No space left on device")
                    self.assertEqual(outcome(r)["exitCode"], 0)
                sim.stop()
                self.assert_flash_is_image("aio", sim)

    def test_a_file_size_limit_with_no_room_stops_the_trace_not_the_update(self):
        # At 0 bytes every file written counts, the update's own lock files among them.
        sim = self.start_sim("aio", "--exit-after-update")
        trace = os.path.join(self.tmp.name, "aio.trace")
        p = subprocess.run(
            cli_command("aio", "--port", sim.port, "--yes", "--trace", trace),
            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120,
            preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (0, 0)))
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertIn("--trace %s: cannot write: File too large" % trace, p.stderr)
        sim.stop()
        self.assert_flash_is_image("aio", sim)

    def test_a_look_is_traced_as_an_update_is(self):
        sim = self.start_sim("aio")
        written = os.path.join(self.tmp.name, "info.trace")
        r = run_cli("aio", "--info", "--port", sim.port, "--trace", written)
        self.assertEqual(r.code, 0, r)
        with open(written) as f:
            lines = f.read().splitlines()
        self.assertEqual(lines[0], "# fwburn link trace 1")
        self.assertIn("note open %s" % sim.port, lines[1])
        self.assertTrue(lines[-1].endswith("note close %s" % sim.port), lines[-1])
        sent = {l.split()[2] for l in lines if l.split()[1:2] == ["tx"]}
        self.assertIn("model-ID-query-analog-module", sent)
        self.assertNotIn("update-request", " ".join(sent))
        # Into the file stdout goes to: neither the trace nor the lines overwrite the other.
        shared = os.path.join(self.tmp.name, "shared.out")
        with open(shared, "w") as out:
            p = subprocess.run([program_path("aio"), "--info", "--json", "--port", sim.port,
                                "--trace", "/dev/stdout"], stdout=out, stderr=subprocess.PIPE)
        self.assertEqual(p.returncode, 0, p.stderr)
        with open(shared) as f:
            lines = f.read().splitlines()
        self.assertIn("# fwburn link trace 1", lines)
        self.assertEqual([json.loads(l)["port"] for l in lines if l.startswith("{")], [sim.port])
        full = run_cli("aio", "--info", "--port", sim.port, "--trace", "/dev/full")
        self.assertEqual(full.code, 0, full)
        self.assertEqual([l for l in full.err.splitlines() if "--trace" in l],
                         ["fwburn-aio-cli: --trace /dev/full: cannot write: No space left on "
                          "device; the trace stops here"], full)

    def test_a_trace_reader_that_goes_away(self):
        # A pipe whose reader has gone fails the trace's write, never the update.
        sim = self.start_sim("aio", "--exit-after-update")
        r, w = os.pipe()
        p = subprocess.Popen([program_path("aio"), "--port", sim.port, "--yes", "--json",
                              "--allow-stand-in", "--trace", "/dev/fd/%d" % w], pass_fds=(w,),
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
        os.close(w)
        os.read(r, 100)
        os.close(r)
        out, err = p.communicate(timeout=300)
        self.assertEqual(p.returncode, 0, err)
        self.assertEqual([l for l in err.splitlines() if "--trace" in l],
                         ["fwburn-aio-cli: --trace /dev/fd/%d: cannot write: Broken pipe; the "
                          "trace stops here, the update goes on" % w])
        self.assertEqual(json.loads(out.splitlines()[-1])["traceError"], "Broken pipe")
        sim.stop()
        self.assert_flash_is_image("aio", sim)

    def test_a_disk_that_fills_during_the_update(self):
        if not private_mounts_work():
            self.skipTest("cannot mount a small tmpfs here")
        self.image("aio")
        sim = self.start_sim("aio", "--exit-after-update")
        copy = os.path.join(self.tmp.name, "trace.copy")
        # Room for the checks and a part of the transfer's lines, not for all of them.
        p = on_small_disk("16k", '"$2" --port "$3" --yes --json --allow-stand-in '
                          '--trace "$1/trace" >"$4.out"; echo "rc=$?"; cp "$1/trace" "$4"',
                          program_path("aio"), sim.port, copy)
        self.assertEqual(p.stdout, "rc=0\n", p.stderr)
        said = [l for l in p.stderr.splitlines() if "--trace" in l]
        self.assertEqual(len(said), 1, p.stderr)
        self.assertIn("No space left on device", said[0])
        with open(copy + ".out") as f:
            events = [json.loads(line) for line in f]
        self.assertEqual(events[-1]["traceError"], "No space left on device")
        self.assertEqual(events[-1]["result"], "success")
        with open(copy) as f:
            lines = trace_lines(f.read())
        self.assertGreater(len(lines), 100)  # it did fill mid-update, not at the start
        self.assertTrue(any(" tx block-" in line for line in lines))
        self.assertNotIn(" note close", lines[-1])
        sim.stop()
        self.assert_flash_is_image("aio", sim)

    # ZL500's trace is some 4.7 MB, far beyond what a terminal, a FIFO and the trace's queue
    # hold: most of it has to go. The update takes some 8 s here; a trace that held up the
    # worker held it until somebody read.
    NORMAL_TIME = 40
    DROPPED = re.compile(r"--trace (\S+): (\d+) lines dropped: the file did not take them in time")

    def assert_drop_reported(self, out, err, path):
        said = [m for m in map(self.DROPPED.search, err.splitlines()) if m]
        self.assertEqual([m.group(1) for m in said], [path], err[-2000:])
        events = [json.loads(line) for line in out.splitlines()]
        self.assertEqual(events[-1]["result"], "success", events[-1])
        self.assertEqual(events[-1]["exitCode"], 0)
        self.assertNotIn("traceError", events[-1])
        # The outcome counts what was dropped before it; the closing lines come after it.
        self.assertGreater(events[-1]["traceDropped"], 0)
        self.assertLessEqual(events[-1]["traceDropped"], int(said[0].group(2)))

    def test_a_trace_onto_a_terminal_nobody_reads_does_not_hold_up_the_update(self):
        need(self, "cpu")
        sim = self.start_sim("cpu", "--exit-after-update")
        master, slave = pty.openpty()
        self.addCleanup(os.close, master)
        p = subprocess.Popen(cli_command("cpu", "--port", sim.port, "--yes", "--json",
                                         "--trace", "/dev/stderr"),
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=slave)
        os.close(slave)
        read = []
        try:
            # Nobody reads the terminal until the controller has its firmware.
            sim.proc.wait(timeout=self.NORMAL_TIME)

            def drain():
                try:
                    while True:
                        read.append(os.read(master, 65536))
                except OSError:  # EIO: the program has closed its end
                    pass
            reader = threading.Thread(target=drain)
            reader.start()
            out = p.stdout.read().decode()
            self.assertEqual(p.wait(timeout=30), 0)
            reader.join(timeout=30)
        finally:
            if p.poll() is None:
                p.kill()
                p.wait()
            p.stdout.close()
        err = b"".join(read).decode(errors="replace").replace("\r\n", "\n")
        self.assert_drop_reported(out, err, "/dev/stderr")
        sim.stop()
        self.assert_flash_is_image("cpu", sim)

    def test_a_trace_onto_a_fifo_nobody_reads_does_not_hold_up_the_update(self):
        need(self, "cpu")
        sim = self.start_sim("cpu", "--exit-after-update")
        fifo = os.path.join(self.tmp.name, "trace")
        os.mkfifo(fifo)
        # Open for reading, so that the program's open does not wait, and never read.
        r = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        self.addCleanup(os.close, r)
        fcntl.fcntl(r, 1031, 4096)  # F_SETPIPE_SZ: full after the first few lines
        p = subprocess.Popen(cli_command("cpu", "--port", sim.port, "--yes", "--json",
                                         "--trace", fifo),
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
        try:
            sim.proc.wait(timeout=self.NORMAL_TIME)
            out, err = p.communicate(timeout=30)
        finally:
            if p.poll() is None:
                p.kill()
                p.communicate()
        self.assertEqual(p.returncode, 0, err)
        self.assert_drop_reported(out, err, fifo)
        sim.stop()
        self.assert_flash_is_image("cpu", sim)


if __name__ == "__main__":
    unittest.main()
