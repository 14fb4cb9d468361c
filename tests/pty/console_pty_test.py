#!/usr/bin/env python3
"""The real console programs against the real plcsim on a pseudo-terminal, in real time.

CTest runs one test class per entry (see CMakeLists.txt) with FWBURN_PLCSIM and FWBURN_CLI_DIR
set; the programs of the test profiles are used when they were built.
"""
import fcntl
import hashlib
import json
import os
import pty
import select
import signal
import struct
import subprocess
import tempfile
import time
import unittest

# Run in the background of a shell without job control, as scripts/test runs this suite, the
# tests start ignoring SIGINT and SIGQUIT; the programs they start would inherit that and keep
# those signals ignored, as a program started so does.
for _signo in (signal.SIGINT, signal.SIGQUIT):
    if signal.getsignal(_signo) == signal.SIG_IGN:
        signal.signal(_signo, signal.SIG_DFL)

PLCSIM = os.environ.get("FWBURN_PLCSIM", "")
CLI_DIR = os.environ.get("FWBURN_CLI_DIR", "")
TIOCGEXCL = 0x80045440  # Linux: is the tty in exclusive mode

SUCCESS_USB = "Information: Firmware update is SUCCESSFUL!, please REPLUG the USB cable"
SUCCESS_SERIAL = "INFORMATION: Firmware update is SUCCESSFUL"

# program: (model, USB-linked)
PROGRAMS = {
    "cpu": ("ZL500", True),
    "aio": ("ZL500-AIO", True),
    "rv7g": ("RV7-G", False),
    "tq38": ("TQ38", False),
}


def program_path(profile):
    return os.path.join(CLI_DIR, "fwburn-%s-cli" % profile)


def need(test, profile):
    if not os.access(program_path(profile), os.X_OK):
        test.skipTest("fwburn-%s-cli was not built" % profile)


class Plcsim:
    """One plcsim run: the port it serves, its log, and its summary once stopped."""

    def __init__(self, workdir, model, image, *args):
        self.summary_path = os.path.join(workdir, "summary.json")
        self.flash_path = os.path.join(workdir, "flash.bin")
        self.log_path = os.path.join(workdir, "plcsim.log")
        cmd = [PLCSIM, "--model", model, "--image", image, "--summary-json", self.summary_path,
               "--flash-out", self.flash_path, "--verbose"] + list(args)
        self.log = open(self.log_path, "w")
        self.proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=self.log, text=True)
        first = self.proc.stdout.readline()
        if " on " not in first:
            self.proc.kill()
            raise RuntimeError("plcsim did not start: %r" % first)
        self.port = first.rsplit(" on ", 1)[1].strip()
        self.summary = None

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=20)
        self.proc.stdout.close()
        self.log.close()
        with open(self.summary_path) as f:
            self.summary = json.load(f)
        return self.summary

    def log_text(self):
        self.log.flush()
        with open(self.log_path) as f:
            return f.read()

    def flash(self):
        with open(self.flash_path, "rb") as f:
            return f.read()


class Run:
    """What one run of a console program left: exit status, stdout, stderr."""

    def __init__(self, code, out, err):
        self.code, self.out, self.err = code, out, err

    def json_lines(self):
        return [json.loads(line) for line in self.out.splitlines()]

    def __repr__(self):
        return "exit %d\n--- stdout\n%s--- stderr\n%s" % (self.code, self.out, self.err)


def cli_command(profile, *args, allow_stand_in=True):
    """The program and its arguments; the test builds' images are stand-ins, which a program
    refuses to write without --allow-stand-in."""
    return [program_path(profile)] + list(args) + (["--allow-stand-in"] if allow_stand_in else [])


def run_cli(profile, *args, stdin=subprocess.DEVNULL, input_text=None, timeout=300,
            allow_stand_in=True):
    p = subprocess.run(cli_command(profile, *args, allow_stand_in=allow_stand_in),
                       stdin=stdin if input_text is None else None, input=input_text,
                       capture_output=True, text=True, timeout=timeout)
    return Run(p.returncode, p.stdout, p.stderr)


def start_cli(profile, *args, stdin=subprocess.DEVNULL):
    """The program running, its output for the test to read as it comes."""
    return subprocess.Popen(cli_command(profile, *args), stdin=stdin, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)


def port_args(sims):
    """--port for each simulator, in order."""
    return [arg for sim in sims for arg in ("--port", sim.port)]


def stop(proc):
    """Ends a program a test started, if it still runs."""
    if proc.poll() is None:
        proc.kill()
        proc.wait()


def read_until(proc, stream, text, timeout=120):
    """What `stream` of `proc` gave until `text` came (it may end without a newline)."""
    got = ""
    deadline = time.monotonic() + timeout
    while text not in got:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([stream], [], [], left)[0]:
            raise AssertionError("no %r within %d s; got:\n%s" % (text, timeout, got))
        chunk = os.read(stream.fileno(), 4096).decode(errors="replace")
        if not chunk:
            raise AssertionError("ended before %r (exit %s); got:\n%s"
                                 % (text, proc.wait(), got))
        got += chunk
    return got


def read_events(proc, want, timeout=60):
    """JSON lines of a running program until one satisfies `want`."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        line = proc.stdout.readline()
        if not line:
            break
        event = json.loads(line)
        if want(event):
            return event
    raise AssertionError("no such event before the program ended or %d s passed" % timeout)


def answered(cmd, question, answer, env=None, meanwhile=None, timeout=300):
    """Runs `cmd` until `question` is on its stderr, does `meanwhile(proc)` if given, then types
    `answer` (bytes; None: nothing) and waits for the end. Stderr is whole in the Run."""
    proc = subprocess.Popen(cmd, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    try:
        err = read_until(proc, proc.stderr, question)
        if meanwhile is not None:
            meanwhile(proc)
        out, rest = proc.communicate(answer, timeout=timeout)
    finally:
        stop(proc)
    return Run(proc.returncode, out.decode(errors="replace"), err + rest.decode(errors="replace"))


def wait_until(condition, timeout):
    """Whether `condition()` came true within `timeout` s."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.02)
    return False


def end_by_signal(proc, signo, within=5):
    """Sends `signo`; the exit status (None: still running after `within` s) and how long the
    program took to end."""
    sent = time.monotonic()
    proc.send_signal(signo)
    try:
        code = proc.wait(timeout=within)
    except subprocess.TimeoutExpired:
        code = None
    return code, time.monotonic() - sent


def port_free(path):
    """Whether another program could take the port now: it opens, locks, and is not exclusive."""
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        exclusive = struct.unpack("i", fcntl.ioctl(fd, TIOCGEXCL, b"\0\0\0\0"))[0]
        return exclusive == 0
    except OSError:
        return False
    finally:
        os.close(fd)


def lock_directory():
    """Where every updater on this machine keeps its lock files: /run/lock where it is writable
    by all with the sticky bit, else /tmp."""
    try:
        if os.stat("/run/lock").st_mode & 0o1777 == 0o1777:
            return "/run/lock"
    except OSError:
        pass
    return "/tmp"


IMAGE_DIR = tempfile.TemporaryDirectory(prefix="fwburn-pty-images-")


def tearDownModule():
    IMAGE_DIR.cleanup()


class PtyCase(unittest.TestCase):
    images = {}

    def setUp(self):
        if not os.access(PLCSIM, os.X_OK):
            self.skipTest("plcsim was not built")
        self.tmp = tempfile.TemporaryDirectory(prefix="fwburn-pty-")
        self.sims = []

    def tearDown(self):
        for sim in self.sims:
            if sim.proc.poll() is None:
                sim.proc.kill()
                sim.proc.wait()
            if not sim.proc.stdout.closed:
                sim.proc.stdout.close()
            if not sim.log.closed:
                sim.log.close()
        self.tmp.cleanup()

    def image(self, profile):
        """The program's built-in image, as --extract-image writes it."""
        need(self, profile)
        if profile not in PtyCase.images:
            path = os.path.join(IMAGE_DIR.name, profile + ".bin")
            r = run_cli(profile, "--extract-image", path)
            self.assertEqual(r.code, 0, r)
            with open(path, "rb") as f:
                PtyCase.images[profile] = (path, f.read())
        return PtyCase.images[profile]

    def start_sim(self, profile, *args):
        workdir = tempfile.mkdtemp(dir=self.tmp.name)
        sim = Plcsim(workdir, PROGRAMS[profile][0], self.image(profile)[0], *args)
        self.sims.append(sim)
        return sim

    def assert_ended_by(self, proc, signo, within=1.5):
        """Sends `signo`: the program must end within `within` s with 128 + its number. Returns
        what it printed since (stdout, stderr), where they are pipes."""
        code, took = end_by_signal(proc, signo, within + 3)
        stop(proc)
        rest, err = proc.communicate()
        self.assertEqual(code, 128 + signo, "%s took %.1f s\n%s" % (signo.name, took, err))
        self.assertLess(took, within, signo.name)
        return rest, err

    def assert_flash_is_image(self, profile, sim):
        """plcsim's flash holds the image bytes that go out: all of ZL500's but the last 4 KiB."""
        image = self.image(profile)[1]
        sent = len(image) - 4096 if PROGRAMS[profile][0] == "ZL500" else len(image)
        self.assertEqual(sim.summary["imageBytesReceived"], sent)
        self.assertTrue(sim.flash() == image[:sent], "flash differs from the image")
        self.assertTrue(sim.summary["flashMatchesImage"])
        self.assertTrue(sim.summary["transferComplete"])
        self.assertEqual(sim.summary["violationCount"], 0, sim.summary["violations"])


class Deliverables(PtyCase):
    def test_cpu_updates_a_full_zl500(self):
        sim = self.start_sim("cpu", "--exit-after-update")
        r = run_cli("cpu", "--port", sim.port, "--yes")
        self.assertEqual(r.code, 0, r)
        self.assertEqual(r.out.splitlines()[-1], SUCCESS_USB)
        self.assertNotIn("\r", r.out)  # not a terminal: plain lines
        self.assertIn("Erasing: 100%, 506/506 steps", r.out)
        self.assertIn("Programming: 100%, 8096/8096 blocks", r.out)
        self.assertIn("Information: Please REPLUG the USB Cable, and then press Enter to continue",
                      r.err)
        sim.stop()
        self.assertEqual(sim.summary["blocksTaken"], 8096)
        self.assertEqual(sim.summary["eraseSteps"], 506)
        self.assertEqual(sim.summary["replugs"], 1)
        self.assertEqual(sim.summary["baudRates"][-1], 115200)
        self.assert_flash_is_image("cpu", sim)

    def test_aio_reports_every_step_as_json(self):
        sim = self.start_sim("aio", "--exit-after-update")
        r = run_cli("aio", "--port", sim.port, "--yes", "--json")
        self.assertEqual(r.code, 0, r)
        events = r.json_lines()  # every line one valid JSON object, or this raises
        self.assertEqual(events[0]["event"], "start")
        self.assertEqual(events[0]["model"], "ZL500-AIO")
        self.assertEqual(events[0]["port"], sim.port)
        self.assertEqual(events[-1], dict(events[-1], event="outcome", exitCode=0,
                                          result="success", caption="Information",
                                          text=SUCCESS_USB.split(": ", 1)[1]))
        kinds = [e["event"] for e in events]
        self.assertEqual(kinds.count("prompt"), 1)
        self.assertEqual([e["phase"] for e in events if e["event"] == "phase"],
                         ["erase", "program"])
        for phase, total in (("erase", 6), ("program", 44)):
            steps = [e for e in events if e["event"] == "progress" and e["phase"] == phase]
            percents = [e["percent"] for e in steps]
            self.assertEqual(percents, sorted(percents), phase)
            self.assertEqual(steps[-1]["percent"], 100)
            self.assertEqual(steps[-1]["done"], total)
        self.assertEqual(r.err.splitlines()[-1], SUCCESS_USB)
        sim.stop()
        self.assert_flash_is_image("aio", sim)

    def test_trace_records_the_whole_link(self):
        sim = self.start_sim("rv7g", "--fault", "nak@block:3x1", "--exit-after-update")
        trace = os.path.join(self.tmp.name, "rv7g.trace")
        r = run_cli("rv7g", "--port", sim.port, "--yes", "--trace", trace)
        self.assertEqual(r.code, 0, r)
        with open(trace) as f:
            lines = f.read().splitlines()
        self.assertEqual(lines[0], "# fwburn link trace 1")
        events = [l.split() for l in lines[1:]]
        times = [int(e[0]) for e in events]
        self.assertEqual(times, sorted(times))  # monotonic
        kinds = [e[1] for e in events]
        # Opened, closed for the power cycle, opened again, closed at the end.
        self.assertEqual([e[2] for e in events if e[1] == "note"],
                         ["open", "close", "open", "close"])
        # A pseudo-terminal takes the baud rate but no 7-bit framing: the trace says "refused".
        lines_set = [e[1:8] for e in events if e[1] == "set-line"]
        self.assertIn(["set-line", "9600", "7", "E", "1", "dtr=0", "rts=0"], lines_set)
        self.assertEqual(lines_set[-1], ["set-line", "115200", "8", "N", "1", "dtr=0", "rts=0"])
        blocks = [e for e in events if e[1] == "tx" and e[2].startswith("block-")]
        retried = [e for e in blocks if e[-1] == "retry"]
        self.assertEqual([e[2] for e in retried], ["block-4"])  # the NAKed block, sent again
        self.assertEqual(sum(1 for e in events if e[1] == "rx" and e[2] == "block-4"
                             and e[3] == "15"), 1)
        # Every block sent is followed by the read of its one-byte answer.
        for i, e in enumerate(events):
            if e[1] == "tx" and e[2].startswith("block-"):
                self.assertEqual(events[i + 1][1:3], ["rx", e[2]])
                self.assertEqual(events[i + 1][-1], "want=1")
        self.assertIn("discard", kinds)
        sim.stop()
        self.assert_flash_is_image("rv7g", sim)


class TestProfiles(PtyCase):
    def test_serial_models_run_at_9600_then_115200(self):
        for profile, prompt in (("rv7g", "POWER OFF=>ON"), ("tq38", None)):
            with self.subTest(profile):
                need(self, profile)
                sim = self.start_sim(profile, "--exit-after-update")
                r = run_cli(profile, "--port", sim.port, "--yes")
                self.assertEqual(r.code, 0, r)
                self.assertEqual(r.out.splitlines()[-1], SUCCESS_SERIAL)
                if prompt:
                    self.assertIn(prompt, r.err)
                else:
                    self.assertNotIn("Please", r.err)
                sim.stop()
                self.assertEqual(sim.summary["baudRates"], [9600, 115200])
                self.assert_flash_is_image(profile, sim)

    def test_enter_answers_the_power_cycle_prompt(self):
        need(self, "rv7g")
        sim = self.start_sim("rv7g", "--exit-after-update")
        r = run_cli("rv7g", "--port", sim.port, input_text="\n")
        self.assertEqual(r.code, 0, r)
        self.assertIn("Please POWER OFF=>ON the PLC, and then press Enter to continue\n"
                      "Press Enter to continue (n and Enter cancels): ", r.err)
        sim.stop()
        self.assertEqual(sim.summary["powerCycles"], 1)


# (program, plcsim faults, exit status, final line on stderr)
BEFORE_ERASE = [
    ("aio", ["--fault", "silent"], 6, "ERROR: NO RESPONSE @ State 1"),
    ("aio", ["--fault", "error=2/1@mode-query"], 6, "ERROR: FLOW ERROR @ State 1"),
    ("aio", ["--fault", "run-mode"], 5, "ERROR: PLC in RUN MODE"),
    # Another model's ID in a valid reply: a wrong controller, whatever the message says.
    ("aio", ["--fault", "app-id=0x3000"], 5, "ERROR: NO RESPONSE @ State 2"),
    ("aio", ["--fault", "error=2/3@id-query"], 6, "ERROR: FLOW ERROR @ State 3"),
    ("aio", ["--fault", "version=0.9"], 5,
     "ERROR: The bootloader version is V0.9, do not support AIO FW update"),
    ("aio", ["--fault", "error=2/4@update-request"], 6, "ERROR: FLOW ERROR @ State 4"),
    ("tq38", ["--fault", "d1148=0"], 5, "ERROR: Check PLC, 28TQ3 is different than 12TQ3"),
    ("rv7g", ["--fault", "d1386=0"], 5, "ERROR: Check PLC, RV7-KT5 is different than RV7-G"),
    ("tq38", ["--fault", "boot-id=0x0014"], 5, "ERROR: PLC type is WRONG"),
    ("aio", ["--fault", "silence@boot-version"], 6,
     "ERROR: PLC DOES NOT respond to the version read"),
]

AFTER_ERASE = [
    ("tq38", ["--fault", "nak@erase-end"], 7,
     "ERROR: PLC DOES NOT respond to the erasing signal"),
    ("tq38", ["--fault", "silence@update"], 7, "ERROR: PLC DOES NOT respond to the update signal"),
    ("aio", ["--fault", "nak@block:10"], 7, "ERROR: Firmware update is FAILED"),
    ("aio", ["--fault", "link-loss@block:20"], 7, "ERROR: Firmware update is FAILED"),
    ("tq38", ["--fault", "garbage@transfer-end"], 7, "ERROR: Firmware update is FAILED"),
]


class Faults(PtyCase):
    def run_cases(self, cases):
        for profile, faults, code, line in cases:
            with self.subTest(profile=profile, faults=faults):
                need(self, profile)
                sim = self.start_sim(profile, *faults)
                r = run_cli(profile, "--port", sim.port, "--yes")
                self.assertEqual(r.code, code, r)
                self.assertEqual(r.err.splitlines()[-1], line, r)
                self.assertNotIn(line.split(": ", 1)[1], r.out)
                sim.stop()
                erased = sim.summary["eraseSteps"] > 0
                self.assertEqual(erased, code == 7, sim.summary)


class FaultsBeforeErase(Faults):
    def test_each_fault_ends_with_its_message_and_status(self):
        self.run_cases(BEFORE_ERASE)


class FaultsAfterErase(Faults):
    def test_each_fault_ends_with_its_message_and_status(self):
        self.run_cases(AFTER_ERASE)

    def test_retries_are_counted_and_reported(self):
        sim = self.start_sim("aio", "--fault", "nak@block:10x3", "--exit-after-update")
        r = run_cli("aio", "--port", sim.port, "--yes", "--json")
        self.assertEqual(r.code, 0, r)
        retries = [e for e in r.json_lines() if e["event"] == "retry"]
        self.assertTrue(retries, r)
        self.assertEqual(retries[-1]["totalErrCounter"], 3)
        self.assertEqual({e["phase"] for e in retries}, {"program"})
        # One event per failed attempt, however fast they come, with both counters.
        self.assertEqual([(e["errCounter"], e["totalErrCounter"]) for e in retries],
                         [(1, 1), (2, 2), (3, 3)])
        sim.stop()
        self.assert_flash_is_image("aio", sim)

    def test_a_block_never_taken_leaves_the_exact_count(self):
        """Block 101 of 8096 is refused for good: 100 blocks were done, whatever the percentage
        (1 %, which stands for 81 blocks) says."""
        for args, shown in ((["--json"], None), ([], "Programming: 1%, 100/8096 blocks")):
            with self.subTest(args=args):
                sim = self.start_sim("cpu", "--fault", "nak@block:100", "--exit-after-update")
                r = run_cli("cpu", "--port", sim.port, "--yes", *args)
                self.assertEqual(r.code, 7, r)
                if shown is None:
                    steps = [e for e in r.json_lines()
                             if e["event"] == "progress" and e["phase"] == "program"]
                    self.assertEqual((steps[-1]["done"], steps[-1]["total"]), (100, 8096), r)
                    self.assertEqual(r.json_lines()[-1]["erased"], True)
                else:
                    self.assertIn(shown, r.out)
                sim.stop()
                self.assertEqual(sim.summary["blocksTaken"], 100)


class Reconnects(PtyCase):
    def test_yes_gives_up_on_a_controller_that_stays_in_its_application(self):
        for profile in ("aio", "tq38"):
            with self.subTest(profile):
                need(self, profile)
                sim = self.start_sim(profile, "--fault", "stay-in-application")
                r = run_cli(profile, "--port", sim.port, "--yes", "--json")
                self.assertEqual(r.code, 8, r)
                self.assertIn("the PLC stayed in application mode after 3 accepted update "
                              "requests; giving up", r.err)
                events = r.json_lines()
                self.assertEqual(events[-1]["result"], "cancelled")
                self.assertEqual(events[-1]["exitCode"], 8)
                sim.stop()
                self.assertEqual(sim.summary["requests"]["update-request"], 4)
                self.assertEqual(sim.summary["eraseSteps"], 0)

    def test_a_person_at_a_terminal_sees_the_bar_and_answers_with_enter(self):
        sim = self.start_sim("aio", "--exit-after-update")
        master, slave = pty.openpty()
        env = dict(os.environ, TERM="xterm")
        proc = subprocess.Popen(cli_command("aio", "--port", sim.port), stdin=slave,
                                stdout=slave, stderr=slave, env=env, close_fds=True)
        os.close(slave)
        screen = b""
        answered = False
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            ready, _, _ = select.select([master], [], [], 0.2)
            if ready:
                try:
                    chunk = os.read(master, 4096)
                except OSError:  # the program has ended and the line hung up
                    break
                screen += chunk
            if not answered and b"Press Enter to continue" in screen:
                os.write(master, b"\r")  # Enter, as the terminal sends it
                answered = True
            if proc.poll() is not None and not ready:
                break
        os.close(master)
        self.assertEqual(proc.wait(timeout=10), 0, screen)
        text = screen.decode()
        self.assertIn("\r", text)                      # the status line redrawn in place
        self.assertIn("\033[?25l", text)               # cursor hidden while it runs
        self.assertTrue(text.rstrip("\r\n").endswith("\033[?25h"), repr(text[-80:]))
        self.assertIn("100%  44/44 blocks", text)
        self.assertIn(SUCCESS_USB, text)
        sim.stop()
        self.assert_flash_is_image("aio", sim)


class Interrupts(PtyCase):
    def test_port_held_exclusively_then_ctrl_c_mid_transfer_releases_it(self):
        sim = self.start_sim("cpu", "--wire")  # at line speed: minutes to interrupt in
        proc = start_cli("cpu", "--port", sim.port, "--yes", "--json")
        try:
            # While it erases, the port is its alone: another update is refused by its lock,
            # and any other program by the port's exclusive flag.
            read_events(proc, lambda e: e["event"] == "phase" and e["phase"] == "erase", 120)
            self.assertFalse(port_free(sim.port))
            second = run_cli("aio", "--port", sim.port, "--yes")
            self.assertEqual(second.code, 4, second)
            self.assertEqual(second.err.splitlines()[-1], "ERROR: CANNOT open USB Port!!!")
            self.assertIn("%s: in use by another fwburn program (process %d, fwburn-cpu-cli;"
                          % (sim.port, proc.pid), second.err)
            if os.access(program_path("rv7g"), os.X_OK):
                serial = run_cli("rv7g", "--port", sim.port, "--yes")
                self.assertEqual(serial.code, 4, serial)
                name = sim.port[len("/dev/"):]
                self.assertEqual(serial.err.splitlines()[-1],
                                 "ERROR: CANNOT open %s Port!!!" % name)

            read_events(proc, lambda e: e["event"] == "progress" and e["phase"] == "program"
                        and e["percent"] >= 2, 120)
            closes_before = sim.log_text().count("closed the port")
            rest, err = self.assert_ended_by(proc, signal.SIGINT)
        finally:
            stop(proc)
        self.assertTrue(port_free(sim.port), "the port is still held")
        outcome = json.loads(rest.splitlines()[-1])
        self.assertEqual((outcome["result"], outcome["signal"], outcome["phase"]),
                         ("interrupted", "SIGINT", "program"))
        self.assertIn("interrupted by SIGINT; the port is released; the erase had begun: the PLC "
                      "needs a new update", err)
        # plcsim notes the close when it next looks at its side of the pty.
        self.assertTrue(wait_until(
            lambda: sim.log_text().count("closed the port") > closes_before, 10))
        sim.stop()
        self.assertFalse(sim.summary["transferComplete"])
        self.assertLess(sim.summary["blocksTaken"], 8096)

    def test_sigterm_while_a_prompt_awaits_enter(self):
        sim = self.start_sim("aio")
        proc = start_cli("aio", "--port", sim.port, "--json", stdin=subprocess.PIPE)
        try:
            read_events(proc, lambda e: e["event"] == "prompt", 30)
            _, err = self.assert_ended_by(proc, signal.SIGTERM, within=5)
        finally:
            stop(proc)
        self.assertIn("interrupted by SIGTERM; the port is released", err)
        self.assertNotIn("erase had begun", err)
        self.assertTrue(port_free(sim.port))


class Ports(PtyCase):
    def test_a_port_that_is_not_there(self):
        for profile, line in (("aio", "ERROR: CANNOT open USB Port!!!"),
                              ("rv7g", "ERROR: CANNOT open ttyNOPE9 Port!!!")):
            with self.subTest(profile):
                need(self, profile)
                r = run_cli(profile, "--port", "/dev/ttyNOPE9", "--yes")
                self.assertEqual(r.code, 4, r)
                self.assertEqual(r.err.splitlines(), [
                    "fwburn-%s-cli: /dev/ttyNOPE9: no such port" % profile, line])

    def test_usage_errors_and_information(self):
        r = run_cli("cpu", "--bogus")
        self.assertEqual(r.code, 2, r)
        self.assertEqual(r.out, "")
        r = run_cli("cpu", "--list-ports")
        self.assertEqual(r.code, 0, r)
        r = run_cli("cpu", "--version")
        self.assertEqual(r.code, 0, r)
        self.assertIn("model:    ZL500\n", r.out)
        self.assertIn("length:   2076672 bytes\n", r.out)
        image = self.image("cpu")[1]
        self.assertIn("sha256:   %s\n" % hashlib.sha256(image).hexdigest(), r.out)


if __name__ == "__main__":
    unittest.main()
