#!/usr/bin/env python3
"""The console programs under hostile conditions, against plcsim on a pseudo-terminal: a stand-in
image without --allow-stand-in, closed standard descriptors, every signal that ends a process,
a terminal or pipe that takes no output, and two updaters on one controller.

CTest runs one test class per entry (see CMakeLists.txt), as for console_pty_test.py.
"""
import errno
import fcntl
import json
import os
import pty
import select
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import termios
import time
import unittest

import fleet_test
from console_pty_test import (PtyCase, TIOCGEXCL, cli_command, lock_directory, need, port_free,
                              program_path, read_events, run_cli, start_cli, stop, wait_until)

NOBODY = 65534

# Every signal whose default ends the process and that a program can catch.
ENDING_SIGNALS = [signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGUSR1,
                  signal.SIGUSR2, signal.SIGALRM, signal.SIGVTALRM, signal.SIGPROF,
                  signal.SIGXCPU, signal.SIGXFSZ, signal.SIGPIPE, signal.SIGPWR, signal.SIGIO,
                  signal.SIGSTKFLT, signal.SIGSYS, signal.SIGABRT, signal.SIGRTMIN,
                  signal.SIGRTMAX]

STAND_IN_REFUSED = ("ERROR: TEST BUILD: the built-in image is a STAND-IN, not a firmware; "
                    "NOTHING was written")


def exclusive_flag(path):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        return struct.unpack("i", fcntl.ioctl(fd, TIOCGEXCL, b"\0\0\0\0"))[0]
    finally:
        os.close(fd)


def opens_for_another_user(path):
    """Whether a user other than root can open the port now: TIOCEXCL refuses such a user, never
    root. As root the check runs as nobody, with the pty made readable and writable for all."""
    if os.geteuid() == 0:
        os.chmod(path, 0o666)
    pid = os.fork()
    if pid == 0:
        code = 0
        try:
            if os.geteuid() == 0:
                os.setgroups([])
                os.setgid(NOBODY)
                os.setuid(NOBODY)
            os.close(os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK))
        except OSError as e:
            code = e.errno
        finally:
            os._exit(code)
    code = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
    if code not in (0, errno.EBUSY):
        raise AssertionError("the probe could not open %s: errno %d" % (path, code))
    return code == 0


def lock_file(port):
    """The lock file of an update of `port` (plain /dev names only)."""
    return os.path.join(lock_directory(),
                        "fwburn-%s.lock" % os.path.realpath(port).replace("/", "_"))


def lock_file_there(port):
    """Whether the lock file of `port` is there."""
    return os.path.lexists(lock_file(port))


def controlling_tty(pid):
    """The device number of the controlling terminal of process `pid` as /proc encodes it, 0 when
    it has none."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return int(f.read().rsplit(")", 1)[1].split()[4])
    except (OSError, IndexError, ValueError):
        return 0


def as_user(uid):
    """subprocess arguments that run a program as `uid`, with no other group; none for None."""
    return {} if uid is None else {"user": uid, "group": uid, "extra_groups": []}


HIDE_CURSOR, SHOW_CURSOR = b"\033[?25l", b"\033[?25h"
PRESS_ENTER = b"Press Enter to continue (n and Enter cancels): "


class JobTerminal:
    """A program in the foreground of a terminal (or in its background, until foreground()), as a
    job-control shell runs it: a session leader owns the terminal and waits for the program's stop
    and end, writing each down; SIGUSR1 to it does what `fg` does to a running job."""

    LEADER = (
        "import fcntl, os, signal, subprocess, sys, termios\n"
        "fcntl.ioctl(0, termios.TIOCSCTTY, 0)\n"
        "signal.signal(signal.SIGTTOU, signal.SIG_IGN)\n"
        "p = subprocess.Popen(sys.argv[3:], process_group=0)\n"
        "signal.signal(signal.SIGUSR1, lambda *_: os.tcsetpgrp(0, p.pid))\n"
        "if sys.argv[2] == 'fg': os.tcsetpgrp(0, p.pid)\n"
        "open(sys.argv[1] + '.pid', 'w').write(str(p.pid))\n"
        "_, status = os.waitpid(p.pid, os.WUNTRACED)\n"
        "stopped = os.WSTOPSIG(status) if os.WIFSTOPPED(status) else -1\n"
        "open(sys.argv[1] + '.stopped', 'w').write(str(stopped))\n"
        "open(sys.argv[1] + '.done', 'w').write(str(p.wait()))\n")

    def __init__(self, case, cmd, prepare=None, background=False):
        self.case = case
        self.master, slave = pty.openpty()
        if prepare is not None:
            prepare(slave)
        self.files = tempfile.mkdtemp(dir=case.tmp.name) + "/job"
        self.screen = bytearray()
        self.session = subprocess.Popen(
            [sys.executable, "-c", self.LEADER, self.files, "bg" if background else "fg"] + cmd,
            stdin=slave, stdout=slave,
            stderr=slave, env=dict(os.environ, TERM="xterm"), start_new_session=True)
        os.close(slave)
        case.addCleanup(self.close)

    def read(self):
        while select.select([self.master], [], [], 0.05)[0]:
            try:
                self.screen.extend(os.read(self.master, 65536))
            except OSError:
                break

    def shows(self, text, since=0):
        self.read()
        return self.screen.find(text, since) >= 0

    def count(self, text, since=0):
        self.read()
        return self.screen.count(text, since)

    def text(self):
        return self.screen.decode(errors="replace")

    def written(self, name):
        path = "%s.%s" % (self.files, name)
        if os.path.exists(path) and os.path.getsize(path) > 0:
            with open(path) as f:
                return int(f.read())
        return None

    def pid(self):
        # Kept: the test's directory goes in tearDown, before the cleanups.
        self.known_pid = getattr(self, "known_pid", None) or self.written("pid")
        return self.known_pid

    def foreground(self):
        self.session.send_signal(signal.SIGUSR1)

    def stop(self, signo=None):
        """Ctrl-Z typed, or `signo` sent: the program must stop. Where the screen was then."""
        if signo is None:
            os.write(self.master, b"\x1a")
        else:
            os.kill(self.pid(), signo)
        self.case.assertTrue(wait_until(lambda: self.written("stopped") is not None, 5),
                             "not stopped")
        self.case.assertEqual(self.written("stopped"), signo or signal.SIGTSTP)
        self.read()
        return len(self.screen)

    def status(self):
        self.case.assertTrue(wait_until(lambda: self.written("done") is not None, 20))
        self.read()
        return self.written("done")

    def close(self):
        pid = self.pid()
        if pid and self.session.poll() is None:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        try:
            self.session.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.session.kill()
            self.session.wait()
        os.close(self.master)


class StandIn(PtyCase):
    def test_a_stand_in_build_refuses_before_touching_the_port_unless_allowed(self):
        for args in ([], ["--json"]):
            with self.subTest(args=args):
                sim = self.start_sim("aio")
                r = run_cli("aio", "--port", sim.port, "--yes", *args, allow_stand_in=False)
                self.assertEqual(r.code, 3, r)
                self.assertEqual(r.err.splitlines()[-1], STAND_IN_REFUSED)
                self.assertIn("not a firmware", r.err)
                self.assertIn("Give --allow-stand-in", r.err)
                if args:
                    start, outcome = r.json_lines()
                    self.assertEqual((start["standIn"], start["notice"]),
                                     (True, "TEST BUILD: STAND-IN IMAGE"))
                    self.assertEqual((outcome["exitCode"], outcome["result"]),
                                     (3, "image-refused"))
                else:
                    self.assertIn("; TEST BUILD: STAND-IN IMAGE", r.out.splitlines()[0])
                sim.stop()
                self.assertEqual((sim.summary["hostOpens"], sim.summary["bytesReceived"]), (0, 0))
                # Told, it goes on.
                sim = self.start_sim("aio", "--exit-after-update")
                r = run_cli("aio", "--port", sim.port, "--yes", *args)
                self.assertEqual(r.code, 0, r)
                sim.stop()
                self.assert_flash_is_image("aio", sim)

    def test_refused_without_a_controller_too(self):
        # Nothing is opened or looked for: the port does not exist and it is not the reason.
        r = run_cli("aio", "--port", "/dev/ttyNOPE9", allow_stand_in=False)
        self.assertEqual((r.code, r.err.splitlines()[-1]), (3, STAND_IN_REFUSED), r)
        self.assertNotIn("no such port", r.err)

    def test_version_says_test_build(self):
        r = run_cli("cpu", "--version", allow_stand_in=False)
        self.assertEqual(r.code, 0, r)
        self.assertTrue(r.out.splitlines()[0].endswith("TEST BUILD: STAND-IN IMAGE"), r)
        r = run_cli("cpu", "--version", "--json", allow_stand_in=False)
        version = json.loads(r.out)
        self.assertEqual((version["standIn"], version["notice"]),
                         (True, "TEST BUILD: STAND-IN IMAGE"))


class Descriptors(PtyCase):
    def run_closed(self, profile, closed, *args):
        """The program with the given standard descriptors closed, as `<&- >&- 2>&-` does."""
        redirections = " ".join({0: "<&-", 1: ">&-", 2: "2>&-"}[fd] for fd in closed)
        cmd = ["bash", "-c", 'exec "$@" ' + redirections, "bash"] + cli_command(profile, *args)
        p = subprocess.run(cmd, capture_output=True, text=True, timeout=120,
                           stdin=subprocess.DEVNULL)
        return p.returncode, p.stdout + p.stderr

    def test_closed_descriptors_never_carry_output_to_the_port(self):
        # (program, plcsim faults, exit status): an error shown while the port is open, and a
        # whole update with its prompt and its success.
        for profile, faults, code in (("aio", ["--fault", "run-mode"], 5),
                                      ("aio", [], 0),
                                      ("rv7g", ["--fault", "nak@erase-end"], 7)):
            need(self, profile)
            base = self.start_sim(profile, "--exit-after-update", *faults)
            r = run_cli(profile, "--port", base.port, "--yes")
            self.assertEqual(r.code, code, r)
            base.stop()
            for closed in ([0, 1, 2], [2], [1, 2]):
                with self.subTest(profile=profile, faults=faults, closed=closed):
                    sim = self.start_sim(profile, "--exit-after-update", *faults)
                    status, output = self.run_closed(profile, closed, "--port", sim.port, "--yes")
                    self.assertEqual(status, code, output)
                    sim.stop()
                    for key in ("bytesReceived", "requests", "violationCount", "hostOpens"):
                        self.assertEqual(sim.summary[key], base.summary[key], key)

    def test_closed_descriptors_become_dev_null_and_never_the_port(self):
        sim = self.start_sim("cpu", "--wire", "--fault", "boot-at-power-on")
        cmd = ["bash", "-c", 'exec "$@" <&- >&- 2>&-', "bash"] + cli_command(
            "cpu", "--port", sim.port, "--yes")
        proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL)
        try:
            self.assertTrue(wait_until(lambda: "a host opened the port" in sim.log_text(), 10))
            fds = {int(n): os.readlink("/proc/%d/fd/%s" % (proc.pid, n))
                   for n in os.listdir("/proc/%d/fd" % proc.pid)}
            self.assertEqual([fds[n] for n in (0, 1, 2)], ["/dev/null"] * 3, fds)
            self.assertIn(os.path.realpath(sim.port), fds.values(), fds)
            proc.send_signal(signal.SIGTERM)
            self.assertEqual(proc.wait(timeout=5), 128 + signal.SIGTERM)
        finally:
            stop(proc)

    # A closed stdin is /dev/null to the program, as when run with no input at all: the prompt
    # reads the end of input, which cancels.
    def test_closed_stdin_at_a_prompt_cancels(self):
        sim = self.start_sim("aio")
        started = time.monotonic()
        status, output = self.run_closed("aio", [0], "--port", sim.port)
        self.assertEqual(status, 8, output)
        self.assertLess(time.monotonic() - started, 60)
        self.assertIn("Please REPLUG the USB Cable", output)
        self.assertIn("cancelled at the reconnect step; nothing was erased", output)
        sim.stop()
        self.assertEqual(sim.summary["eraseSteps"], 0)

    def test_the_programs_own_terminal_is_never_taken_for_the_port(self):
        """`--port /dev/tty` (one Tab short of /dev/ttyUSB0), the terminal its output goes to, or
        the terminal of another session (a tmux pane where someone works): refused before the
        terminal is made raw or a frame is written on it. /dev/ptmx would be a new terminal of
        its own, with nobody at the far end; the consoles show what is written on the screen."""
        own = "this program's own terminal, not a PLC's port"
        # (--port, what the terminal is to the program)
        for port, how in (("/dev/tty", "controlling"), (None, "stdout"), (None, "stdin"),
                          (None, "another session's"),
                          ("/dev/ptmx", "the pseudo-terminal multiplexer"),
                          ("/dev/console", "the system console"), ("/dev/tty0", "a virtual console")):
            with self.subTest(how):
                # A container may lack a console, or bind a pseudo-terminal there.
                if port and not os.path.exists(port) or port and port != "/dev/tty" and \
                        os.major(os.stat(port).st_rdev) not in (4, 5):
                    continue
                master, slave = pty.openpty()
                self.addCleanup(os.close, master)
                before = termios.tcgetattr(slave)
                streams = {"stdin": subprocess.DEVNULL, "stdout": subprocess.PIPE,
                           "stderr": subprocess.PIPE}
                cmd = cli_command("cpu", "--port", port or os.ttyname(slave), "--yes")
                refusal = own
                if how == "controlling":
                    streams["stdin"] = slave
                    cmd = [sys.executable, "-c",
                           "import fcntl, os, sys, termios\n"
                           "fcntl.ioctl(0, termios.TIOCSCTTY, 0)\n"
                           "os.execv(sys.argv[1], sys.argv[1:])\n"] + cmd
                elif how == "another session's":
                    holder = subprocess.Popen(["setsid", "-c", "sleep", "60"], stdin=slave,
                                              stdout=subprocess.DEVNULL,
                                              stderr=subprocess.DEVNULL)
                    self.addCleanup(stop, holder)
                    self.assertTrue(wait_until(lambda: controlling_tty(holder.pid) != 0, 10))
                    refusal = "the terminal of session %d, not a PLC's port" % holder.pid
                elif port and port != "/dev/tty":
                    refusal = "%s: %s, not a PLC's port" % (port, how)
                else:
                    streams[how] = slave
                p = subprocess.run(cmd, capture_output=False, timeout=60, text=True,
                                   start_new_session=True, **streams)
                out, err = p.stdout or "", p.stderr or ""
                self.assertEqual(p.returncode, 4, out + err)
                self.assertIn(refusal, out + err)
                self.assertEqual(termios.tcgetattr(slave), before)
                if how != "stdout":
                    self.assertFalse(select.select([master], [], [], 0.2)[0], "written on it")
                os.close(slave)

    def test_lines_lost_on_a_full_device_or_a_closed_stdout_are_said_on_stderr(self):
        """stdout on a full disk, or closed: each command's status stands (the PLC got its
        firmware), and stderr says that the output there is incomplete instead of nothing at
        all."""
        usb = fleet_test.fake_usb_tree(self.tmp.name, [("ttyACM0", "1-1.2", "A1")])
        for args, env in ((["--yes", "--json"], None), (["--version"], None),
                          (["--version", "--json"], None), (["--help"], None),
                          (["--list-ports"], usb), (["--list-ports", "--json"], usb),
                          (["--info", "--json"], None),
                          (["--extract-image", os.path.join(self.tmp.name, "x.bin")], None),
                          (["--extract-image", os.path.join(self.tmp.name, "j.bin"), "--json"],
                           None)):
            # A reader gone before the update ends it (SIGPIPE, elsewhere); before a table or a
            # list, which are written after their loop, it is lines lost as on a full disk; the
            # help and an extraction, written straight to stdout, end by SIGPIPE as any filter.
            for stdout, reason in (("/dev/full", "No space left on device"),
                                   (None, "Bad file descriptor"), ("pipe", "Broken pipe")):
                if stdout == "pipe" and "--yes" in args:
                    continue
                with self.subTest(args=args, stdout=stdout), open("/dev/full", "w") as full:
                    sim = (self.start_sim("aio", *(["--exit-after-update"] if "--yes" in args
                                                   else []))
                           if "--yes" in args or "--info" in args else None)
                    cmd = cli_command("aio", *args, *(["--port", sim.port] if sim else []))
                    if stdout is None:
                        cmd = ["bash", "-c", 'exec "$@" >&-', "bash"] + cmd
                    if stdout == "pipe":
                        unread, full = os.pipe()
                        os.close(unread)
                        self.addCleanup(os.close, full)
                    p = subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, stdout=full,
                                       stderr=subprocess.PIPE, text=True, timeout=120)
                    if stdout == "pipe" and args[0] in ("--help", "--extract-image"):
                        self.assertEqual(p.returncode, -signal.SIGPIPE, p.stderr)
                        continue
                    self.assertEqual(p.returncode, 0, p.stderr)
                    self.assertEqual(p.stderr.splitlines()[-1:], ["fwburn-aio-cli: stdout: %s; "
                                     "lines of this run are missing there" % reason])
                    if sim and "--yes" in args:
                        sim.stop()
                        self.assert_flash_is_image("aio", sim)


class Signals(PtyCase):
    def start_long_update(self, **popen):
        """fwburn-cpu-cli against a ZL500 at line speed that starts in its bootloader: no prompt,
        the port open for minutes."""
        sim = self.start_sim("cpu", "--wire", "--fault", "boot-at-power-on")
        proc = subprocess.Popen(cli_command("cpu", "--port", sim.port, "--yes",
                                            *popen.pop("args", [])), **popen)
        return sim, proc

    def assert_ends_at_once(self, proc, signo, port):
        """Sends the signal; the program must end at once with 128 + the signal's number, having
        let the port go. Returns what it printed since."""
        printed = self.assert_ended_by(proc, signo)
        self.assert_released(port)
        return printed

    def assert_released(self, port):
        self.assertTrue(opens_for_another_user(port), "another user still gets EBUSY")
        self.assertEqual(exclusive_flag(port), 0)
        self.assertTrue(port_free(port))

    def test_each_ending_signal_clears_the_exclusive_flag(self):
        for signo in ENDING_SIGNALS:
            with self.subTest(signo.name):
                sim, proc = self.start_long_update(args=["--json"], stdin=subprocess.DEVNULL,
                                                   stdout=subprocess.PIPE,
                                                   stderr=subprocess.PIPE, text=True)
                try:
                    read_events(proc, lambda e: e["event"] == "phase" and e["phase"] == "erase")
                    # Held: the check can fail.
                    self.assertEqual(exclusive_flag(sim.port), 1)
                    self.assertFalse(opens_for_another_user(sim.port))
                    rest, err = self.assert_ends_at_once(proc, signo, sim.port)
                    outcome = json.loads(rest.splitlines()[-1])
                    self.assertEqual((outcome["result"], outcome["signal"], outcome["exitCode"]),
                                     ("interrupted", signo.name, 128 + signo))
                    self.assertIn("interrupted by %s; the port is released" % signo.name, err)
                    self.assertFalse(lock_file_there(sim.port))  # tidied up too
                finally:
                    stop(proc)
                    proc.stdout.close()
                    proc.stderr.close()

    def test_a_signal_it_was_started_ignoring_leaves_the_update_running(self):
        """nohup ignores SIGHUP, a shell without job control SIGINT in what it runs in the
        background: the update goes on through them, and SIGTERM still ends it."""
        for signo in (signal.SIGHUP, signal.SIGINT):
            with self.subTest(signo.name):
                sim, proc = self.start_long_update(
                    args=["--json"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                    stderr=subprocess.PIPE, text=True,
                    preexec_fn=lambda: signal.signal(signo, signal.SIG_IGN))
                try:
                    read_events(proc, lambda e: e["event"] == "phase" and e["phase"] == "erase")
                    proc.send_signal(signo)
                    time.sleep(1)
                    self.assertIsNone(proc.poll(), "ended by the ignored %s" % signo.name)
                    _, err = self.assert_ends_at_once(proc, signal.SIGTERM, sim.port)
                    self.assertIn("interrupted by SIGTERM; the port is released", err)
                finally:
                    stop(proc)
                    proc.stdout.close()
                    proc.stderr.close()

    def test_a_reader_that_goes_away_ends_it_as_sigpipe_does(self):
        sim, proc = self.start_long_update(args=["--json"], stdin=subprocess.DEVNULL,
                                           stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                           text=True)
        try:
            read_events(proc, lambda e: e["event"] == "phase" and e["phase"] == "erase")
            self.assertFalse(opens_for_another_user(sim.port))
            proc.stdout.close()  # as `| head` does; the erase goes on printing progress
            code = proc.wait(timeout=10)
            self.assert_released(sim.port)
            self.assertEqual(code, 128 + signal.SIGPIPE)
            self.assertIn("interrupted by SIGPIPE; the port is released", proc.stderr.read())
        finally:
            stop(proc)
            proc.stderr.close()

    def full_pipe(self):
        """A pipe with no room left and nobody reading it: every write to it blocks."""
        r, w = os.pipe()
        fcntl.fcntl(w, 1031, 4096)  # F_SETPIPE_SZ: the smallest, quick to fill
        flags = fcntl.fcntl(w, fcntl.F_GETFL)
        fcntl.fcntl(w, fcntl.F_SETFL, flags | os.O_NONBLOCK)
        try:
            while True:
                os.write(w, b"x" * 4096)
        except BlockingIOError:
            pass
        fcntl.fcntl(w, fcntl.F_SETFL, flags)  # blocking again, for the program
        self.addCleanup(os.close, r)
        self.addCleanup(os.close, w)
        return w

    def wait_for_the_port(self, sim):
        # The program's output goes nowhere: plcsim's log tells that the update is under way.
        # A program stuck on its output never gets there; the signal must end it all the same.
        wait_until(lambda: "a host opened the port" in sim.log_text(), 10)

    def test_sigterm_while_output_goes_to_a_full_pipe(self):
        for both in (False, True):
            with self.subTest(stderr_full=both):
                out = self.full_pipe()
                err = self.full_pipe() if both else subprocess.PIPE
                sim, proc = self.start_long_update(stdin=subprocess.DEVNULL, stdout=out,
                                                   stderr=err)
                try:
                    self.wait_for_the_port(sim)
                    _, err = self.assert_ends_at_once(proc, signal.SIGTERM, sim.port)
                    if not both:
                        self.assertIn(b"interrupted by SIGTERM", err)
                finally:
                    stop(proc)
                    if proc.stderr:
                        proc.stderr.close()

    def test_nothing_reaches_the_plc_once_the_signal_is_taken(self):
        """The worker runs on until the process ends, 300 ms later when the output is held up: a
        reply that comes meanwhile must not lead it on to an erase that the last words leave out.
        The bootloader's version comes 1 s late, 150 ms after the SIGTERM."""
        sim = self.start_sim("aio", "--fault", "boot-at-power-on",
                             "--fault", "late=1000@boot-version")
        trace = os.path.join(self.tmp.name, "trace")
        proc = subprocess.Popen(cli_command("aio", "--port", sim.port, "--yes", "--trace", trace),
                                stdin=subprocess.DEVNULL, stdout=self.full_pipe(),
                                stderr=subprocess.PIPE, text=True)

        def asked_version():
            with open(trace) as f:
                return " tx VERSION " in f.read()

        try:
            self.assertTrue(wait_until(lambda: os.path.exists(trace) and asked_version(), 10))
            time.sleep(0.85)
            _, err = self.assert_ends_at_once(proc, signal.SIGTERM, sim.port)
        finally:
            stop(proc)
            proc.stderr.close()
        sim.stop()
        if sim.summary["requests"]["erase-step"] > 0:  # only where the signal came late
            self.assertIn("the erase had begun", err)

    def test_sigterm_while_the_terminal_is_stopped(self):
        master, slave = pty.openpty()
        self.addCleanup(os.close, master)
        termios.tcflow(slave, termios.TCOOFF)  # as Ctrl-S does: nothing written gets out
        env = dict(os.environ, TERM="xterm")
        sim, proc = self.start_long_update(stdin=slave, stdout=slave, stderr=slave, env=env)
        os.close(slave)
        try:
            self.wait_for_the_port(sim)
            self.assert_ends_at_once(proc, signal.SIGTERM, sim.port)
        finally:
            stop(proc)

    def test_sigterm_while_in_the_background_of_a_tostop_terminal(self):
        """The program runs in a background process group of a terminal set to `tostop`: a write
        there raises SIGTTOU, which by default stops the whole process, signals and all."""
        master, slave = pty.openpty()
        self.addCleanup(os.close, master)
        done = os.path.join(self.tmp.name, "done")
        pid_file = os.path.join(self.tmp.name, "pid")
        sim = self.start_sim("cpu", "--wire", "--fault", "boot-at-power-on")
        leader = (
            "import fcntl, os, subprocess, sys, termios\n"
            "fcntl.ioctl(0, termios.TIOCSCTTY, 0)\n"
            "attrs = termios.tcgetattr(0)\n"
            "attrs[3] |= termios.TOSTOP\n"
            "termios.tcsetattr(0, termios.TCSANOW, attrs)\n"
            "p = subprocess.Popen(sys.argv[3:], process_group=0)\n"
            "open(sys.argv[1], 'w').write(str(p.pid))\n"
            "code = p.wait()\n"
            "open(sys.argv[2], 'w').write(str(code))\n")
        env = dict(os.environ, TERM="xterm")
        session = subprocess.Popen(
            [sys.executable, "-c", leader, pid_file, done] +
            cli_command("cpu", "--port", sim.port, "--yes"),
            stdin=slave, stdout=slave, stderr=slave, env=env, start_new_session=True)
        os.close(slave)
        try:
            self.assertTrue(wait_until(lambda: os.path.exists(pid_file)
                                       and os.path.getsize(pid_file) > 0, 10))
            with open(pid_file) as f:
                pid = int(f.read())
            self.wait_for_the_port(sim)
            sent = time.monotonic()
            os.kill(pid, signal.SIGTERM)
            ended = wait_until(lambda: os.path.exists(done) and os.path.getsize(done) > 0, 1.5)
            took = time.monotonic() - sent
            self.assertTrue(ended, "no end %.1f s after SIGTERM" % took)
            with open(done) as f:
                self.assertEqual(int(f.read()), 128 + signal.SIGTERM)
            self.assert_released(sim.port)
        finally:
            try:
                session.wait(timeout=2)
            except subprocess.TimeoutExpired:
                if os.path.exists(pid_file) and os.path.getsize(pid_file) > 0:
                    with open(pid_file) as f:
                        try:
                            os.kill(int(f.read()), signal.SIGKILL)
                        except ProcessLookupError:
                            pass
                session.kill()
                session.wait()

    def test_ctrl_z_leaves_the_cursor_shown_and_fg_draws_the_status_line_again(self):
        sim = self.start_sim("cpu", "--wire", "--fault", "boot-at-power-on")
        job = JobTerminal(self, cli_command("cpu", "--port", sim.port, "--yes"))
        self.assertTrue(wait_until(lambda: job.pid() and job.shows(b"Erasing"), 20), job.text())
        self.assertTrue(job.shows(HIDE_CURSOR))
        stopped_at = job.stop()
        self.assertGreater(job.screen.rfind(SHOW_CURSOR), job.screen.rfind(HIDE_CURSOR),
                           "the cursor stays hidden")
        os.kill(job.pid(), signal.SIGCONT)
        self.assertTrue(wait_until(lambda: job.shows(b"Erasing", stopped_at), 5),
                        "no status line after it was continued")
        self.assertTrue(job.shows(HIDE_CURSOR, stopped_at))
        os.kill(job.pid(), signal.SIGTERM)
        self.assertEqual(job.status(), 128 + signal.SIGTERM)
        self.assertGreater(job.screen.rfind(SHOW_CURSOR), job.screen.rfind(HIDE_CURSOR))
        self.assert_released(sim.port)

    def test_ctrl_z_stops_it_while_its_last_lines_wait_for_a_stopped_terminal(self):
        terminal = []

        def stopped_output(slave):
            # As Ctrl-S does, without IXON: a signal key would start the output again.
            attrs = termios.tcgetattr(slave)
            attrs[0] &= ~termios.IXON
            termios.tcsetattr(slave, termios.TCSANOW, attrs)
            termios.tcflow(slave, termios.TCOOFF)
            terminal.append(os.dup(slave))
            self.addCleanup(os.close, terminal[0])

        sim = self.start_sim("aio", "--exit-after-update")
        job = JobTerminal(self, cli_command("aio", "--port", sim.port, "--yes"), stopped_output)
        self.assertTrue(wait_until(job.pid, 10))
        sim.proc.wait(timeout=60)  # the update is over; the program waits for its terminal
        job.stop()
        termios.tcflow(terminal[0], termios.TCOON)
        os.kill(job.pid(), signal.SIGCONT)
        self.assertEqual(job.status(), 0, job.text())
        self.assertIn(b"success", job.screen)

    def test_a_question_left_and_come_back_to_is_asked_again_once(self):
        # Ctrl-Z, which the program handles; SIGSTOP, which stands for every stop it is not asked
        # about (a debugger, a supervisor); a SIGCONT that continues nothing; and the question met
        # in the background, where a read would stop the program (SIGTTIN) and, once brought back,
        # leave it waiting, deaf to Ctrl-C, for a line the shell had taken.
        for how, asked in (("ctrl-z", 1), ("SIGSTOP", 1), ("SIGCONT alone", 0), ("background", 1)):
            with self.subTest(how=how):
                sim = self.start_sim("aio", "--exit-after-update")
                job = JobTerminal(self, cli_command("aio", "--port", sim.port),
                                  background=how == "background")
                self.assertTrue(wait_until(lambda: job.pid() and job.shows(PRESS_ENTER), 20),
                                job.text())
                left_at = len(job.screen)
                if how == "background":
                    os.write(job.master, b"\n")  # typed for the shell
                    time.sleep(1)
                    self.assertIsNone(job.written("stopped"), "it read the shell's line")
                    job.foreground()
                else:
                    if how != "SIGCONT alone":
                        job.stop(signal.SIGSTOP if how == "SIGSTOP" else None)
                        time.sleep(0.5)
                    os.kill(job.pid(), signal.SIGCONT)
                # The question comes back in the program's time; then nothing more for a while.
                self.assertTrue(wait_until(lambda: job.count(PRESS_ENTER, left_at) >= asked, 10),
                                job.text())
                time.sleep(0.5)
                self.assertEqual(job.count(PRESS_ENTER, left_at), asked, job.text())
                if how != "background":  # there the shell's line answers it
                    os.write(job.master, b"\n")
                self.assertEqual(job.status(), 0, job.text())


class Locking(PtyCase):
    def test_a_second_update_during_the_replug_prompt_is_refused_naming_the_first(self):
        sim = self.start_sim("aio")
        first = start_cli("aio", "--port", sim.port, "--json", stdin=subprocess.PIPE)
        try:
            read_events(first, lambda e: e["event"] == "prompt")
            # The first one has closed the port for the replug; its lock holds.
            link = os.path.join(self.tmp.name, "plc")
            os.symlink(sim.port, link)
            # (program, --port, the port as the refusal names it, the name in the outcome)
            seconds = [("aio", sim.port, sim.port, "USB"),
                       ("aio", link, "%s (%s)" % (link, sim.port), "USB")]
            if os.geteuid() == 0:  # another node of the same tty, which only root can make
                node, rdev = os.path.join(self.tmp.name, "node"), os.stat(sim.port).st_rdev
                os.mknod(node, 0o600 | stat.S_IFCHR, rdev)
                device = "char %d:%d" % (os.major(rdev), os.minor(rdev))
                seconds.append(("aio", node, "%s (%s)" % (node, device), "USB"))
            if os.access(program_path("rv7g"), os.X_OK):
                seconds.append(("rv7g", sim.port, sim.port, sim.port[len("/dev/"):]))
            for profile, port, named, name in seconds:
                with self.subTest(profile=profile, port=port):
                    r = run_cli(profile, "--port", port, "--yes")
                    self.assertEqual(r.code, 4, r)
                    self.assertIn("%s: in use by another fwburn program (process %d, "
                                  "fwburn-aio-cli; lock file " % (named, first.pid), r.err)
                    self.assertEqual(r.err.splitlines()[-1], "ERROR: CANNOT open %s Port!!!" % name)
            r = run_cli("aio", "--port", sim.port, "--yes", "--json")
            self.assertEqual(r.code, 4, r)
            events = r.json_lines()
            self.assertEqual([e["event"] for e in events], ["start", "open-failed", "outcome"])
            self.assertIn("(process %d, fwburn-aio-cli;" % first.pid, events[1]["reason"])
            self.assertEqual((events[2]["exitCode"], events[2]["result"]), (4, "port-failed"))
            self.assertEqual(sim.log_text().count("a host opened the port"), 1)  # the first's

            # A holder that is killed outright leaves the lock free; the controller, in its
            # bootloader after the first one's replug, is updated by the next program.
            first.kill()
            first.wait()
            self.assertTrue(lock_file_there(sim.port))  # left behind, unlocked
            r = run_cli("aio", "--port", sim.port, "--yes")
            self.assertEqual(r.code, 0, r)
            self.assertFalse(lock_file_there(sim.port))
        finally:
            stop(first)
            for stream in (first.stdin, first.stdout, first.stderr):
                stream.close()
        sim.stop()
        self.assert_flash_is_image("aio", sim)

    def test_a_link_pointed_at_another_port_during_the_replug_is_not_followed(self):
        # The first updates through a link; while both wait for their replug, the link is made to
        # name the port of the second, which holds that port's lock. The first's reopen comes
        # 5 s after its prompt, the second's later still: without a check the first would take
        # the second's controller, in its bootloader, and erase it.
        a, b = self.start_sim("aio"), self.start_sim("aio")
        link = os.path.join(self.tmp.name, "plc")
        os.symlink(a.port, link)
        first = start_cli("aio", "--port", link, "--yes", "--json")
        second = None
        try:
            read_events(first, lambda e: e["event"] == "prompt")
            second = start_cli("aio", "--port", b.port, "--yes", "--json")
            read_events(second, lambda e: e["event"] == "prompt")
            os.unlink(link)
            os.symlink(b.port, link)
            out, err = first.communicate(timeout=60)
            self.assertEqual(first.returncode, 6, err)
            reopen = [e for e in map(json.loads, out.splitlines())
                      if e["event"] == "open-failed" and e["reopen"]]
            self.assertTrue(reopen, out)
            self.assertRegex(reopen[0]["reason"], r"^%s: now leads to another device \(char "
                             r"\d+:\d+\) than the one locked for this update \(char "
                             % link)
            self.assertEqual(second.wait(timeout=60), 0, second.stderr.read())
        finally:
            for proc in (first, second):
                if proc is not None:
                    stop(proc)
                    for stream in (proc.stdin, proc.stdout, proc.stderr):
                        if stream is not None:
                            stream.close()
        a.stop()
        b.stop()
        self.assertEqual(b.summary["hostOpens"], 2)  # the second's open and reopen alone
        self.assert_flash_is_image("aio", b)
        self.assertEqual(a.summary["eraseSteps"], 0)

    # Holds the port as another program would (argv: port, flock, excl, open, or lck for the
    # serial lock file alone, the name it gives itself, "fork" to leave the lock to a child as a
    # program going into the background does), says the holder's pid, and lets go at the end of
    # its input.
    HOLDER = (
        "import fcntl, os, sys, termios\n"
        "fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)\n"
        "if sys.argv[2] == 'flock': fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)\n"
        "if sys.argv[2] == 'excl': fcntl.ioctl(fd, termios.TIOCEXCL)\n"
        "if sys.argv[4:] and os.fork(): os._exit(0)\n"
        "lck = '/run/lock/LCK..' + os.path.basename(os.path.realpath(sys.argv[1]))\n"
        "if sys.argv[2] == 'lck': open(lck, 'w').write('%10d\\n' % os.getpid())\n"
        "open('/proc/self/comm', 'w').write(sys.argv[3])\n"
        "print(os.getpid(), flush=True)\n"
        "sys.stdin.read()\n"
        "if sys.argv[2] == 'excl': fcntl.ioctl(fd, termios.TIOCNXCL)\n"
        "if sys.argv[2] == 'lck': os.unlink(lck)\n")

    # A process with nothing to do with the port, under the name argv[1].
    STRANGER = ("import sys\n"
                "open('/proc/self/comm', 'w').write(sys.argv[1])\n"
                "print(flush=True)\n"
                "sys.stdin.read()\n")

    def hold(self, port, how, name, user=None, fork=False):
        """A holder of `port`, running as `user`, and the pid of the process holding it. With fork
        "reused" the taker's pid, which /proc/locks lists, goes to a stranger after it ends."""
        # Another user may not reach this interpreter: the system's, found on PATH.
        python = sys.executable if user is None else "python3"
        holder = subprocess.Popen([python, "-c", self.HOLDER, port, how, name]
                                  + ["fork"] * bool(fork), stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, text=True, **as_user(user))

        def let_go():
            holder.stdin.close()
            holder.wait(timeout=10)
            holder.stdout.close()
        self.addCleanup(let_go)
        pid = int(holder.stdout.readline())
        if fork:
            holder.wait(timeout=10)  # the taker is gone; its child holds the lock
        if fork == "reused" and not self.start_under(holder.pid, "stranger"):
            self.skipTest("cannot choose the next pid here (root alone may)")
        return let_go, pid

    def start_under(self, pid, name):
        """Starts a stranger under `pid`, free again, as the kernel hands a pid out once they wrap
        around; False where the next pid cannot be chosen."""
        for _ in range(50):  # another process on the machine may take the pid first
            try:
                with open("/proc/sys/kernel/ns_last_pid", "w") as f:
                    f.write(str(pid - 1))
            except OSError:
                return False
            p = subprocess.Popen([sys.executable, "-c", self.STRANGER, name],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

            def end(p=p):
                p.stdin.close()
                p.wait(timeout=10)
                p.stdout.close()
            self.addCleanup(end)
            p.stdout.readline()
            if p.pid == pid:
                return True
        return False

    def test_a_port_another_program_holds_is_refused_naming_that_program(self):
        sim = self.start_sim("aio")
        root = os.geteuid() == 0
        # TIOCEXCL keeps out other users, never root: as root the program runs as nobody there.
        user = NOBODY if root else None
        if root:
            os.chmod(sim.port, 0o666)
        busy = "fwburn-aio-cli: %s: in use by another program" % sim.port
        # (how, the holder's user, the program's user, the holder's name, fork, its name shown;
        # None: nothing more than before, as /proc shows another user's descriptors only to root)
        cases = [("flock", None, None, "holder\x1b]0;x\x07", False, "holder\\x1B]0;x\\x07"),
                 ("flock", None, None, "daemon", True, "daemon"),
                 ("excl", user, user, "term", False, "term")]
        if os.access("/run/lock", os.W_OK):  # a terminal program that keeps to LCK.. files
            cases.append(("lck", None, None, "term\x1b", False, "term\\x1B"))
        if root:
            cases += [("flock", None, NOBODY, "holder", False, "holder"),
                      ("excl", None, NOBODY, "term", False, None),
                      # not the stranger that now has the pid the lock was taken under
                      ("flock", None, None, "daemon", "reused", "daemon")]
        lck = "/run/lock/LCK.." + os.path.basename(os.path.realpath(sim.port))
        for how, holder_user, cli_user, name, fork, shown in cases:
            with self.subTest(how=how, holder_user=holder_user, cli_user=cli_user, name=name):
                let_go, pid = self.hold(sim.port, how, name, holder_user, fork)
                # setpriv, not a change of user in the child: it reaches a build in a folder
                # only root may enter, as the CI's clone is.
                become = [] if cli_user is None else [
                    "setpriv", "--reuid=%d" % cli_user, "--regid=%d" % cli_user, "--clear-groups"]
                try:
                    r = subprocess.run(become + cli_command("aio", "--port", sim.port, "--yes"),
                                       stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                       timeout=60)
                finally:
                    let_go()
                self.assertEqual(r.returncode, 4, r.stderr)
                tail = ", lock file " + lck if how == "lck" else ""
                self.assertEqual(r.stderr.splitlines(), [
                    busy + ("" if shown is None else " (%s, process %d%s)" % (shown, pid, tail)),
                    "ERROR: CANNOT open USB Port!!!"])
        if root:
            # Root's open passes another program's TIOCEXCL, which refuses it all the same while
            # that program is there; the flag a killed one left on the pty does not.
            let_go, pid = self.hold(sim.port, "excl", "term")
            r = run_cli("aio", "--port", sim.port, "--info")
            self.assertEqual(r.code, 4, r)
            self.assertIn("%s: in use by another program (term, process %d)" % (sim.port, pid), r.out, r)
            os.kill(pid, signal.SIGKILL)
            let_go()
            self.assertEqual(run_cli("aio", "--port", sim.port, "--info").code, 0)
        sim.stop()

    def test_a_holder_that_hidepid_hides_is_not_named(self):
        if os.geteuid() != 0 or not shutil.which("unshare") or not shutil.which("setpriv"):
            self.skipTest("needs root, unshare and setpriv")
        sim = self.start_sim("aio")
        os.chmod(sim.port, 0o666)
        # Root's flock refuses the program, run as nobody; a process of nobody's has the port
        # open too, but is not the one to blame.
        self.hold(sim.port, "flock", "holder")
        self.hold(sim.port, "open", "bystander", NOBODY)
        r = subprocess.run(
            ["unshare", "--mount", "--propagation", "private", "sh", "-c",
             "mount -t proc -o hidepid=invisible proc /proc && exec setpriv --reuid=%d "
             "--regid=%d --clear-groups \"$@\"" % (NOBODY, NOBODY), "sh"]
            + cli_command("aio", "--port", sim.port, "--yes"),
            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
        if "mount:" in r.stderr:
            self.skipTest("cannot mount /proc with hidepid here: " + r.stderr)
        self.assertEqual(r.returncode, 4, r.stderr)
        self.assertEqual(r.stderr.splitlines(), [
            "fwburn-aio-cli: %s: in use by another program" % sim.port,
            "ERROR: CANNOT open USB Port!!!"])
        sim.stop()

    def test_a_lock_file_planted_as_a_symbolic_link_is_refused_untouched(self):
        sim = self.start_sim("aio")
        victim = os.path.join(self.tmp.name, "victim")
        with open(victim, "w") as f:
            f.write("keep me\n")
        lock = lock_file(sim.port)
        if os.path.lexists(lock):
            os.unlink(lock)  # left by an earlier updater of this pty number, unlocked
        os.symlink(victim, lock)
        self.addCleanup(os.unlink, lock)
        r = run_cli("aio", "--port", sim.port, "--yes")
        self.assertEqual(r.code, 4, r)
        self.assertIn("%s: a symbolic link, not a lock file" % lock, r.err)
        with open(victim) as f:
            self.assertEqual(f.read(), "keep me\n")
        sim.stop()
        self.assertEqual(sim.summary["hostOpens"], 0)


if __name__ == "__main__":
    unittest.main()
