#!/usr/bin/env python3
"""logind's sleep lock: held by an update from before its transfer to its end, never by a look,
a list or --version; an update without a bus, or with one that never answers, goes on at once.
A private bus stands for the system bus, python3-dbusmock's logind template for logind."""
import os
import re
import shutil
import socket
import subprocess
import sys
import time
import unittest

from console_pty_test import PtyCase, cli_command, read_events, stop

LOGIND = ["--dest=org.freedesktop.login1", "/org/freedesktop/login1"]


def mock_python():
    """An interpreter that has dbusmock: this one, or Debian's where this is another."""
    for python in (sys.executable, "/usr/bin/python3"):
        if os.access(python, os.X_OK) and subprocess.run(
                [python, "-c", "import dbusmock"], capture_output=True).returncode == 0:
            return python
    return None


class Sleep(PtyCase):
    def setUp(self):
        python = mock_python()
        if not (python and shutil.which("dbus-daemon") and shutil.which("dbus-send")):
            self.skipTest("needs dbus-daemon, dbus-send and python3-dbusmock")
        super().setUp()
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(lambda: (stop(bus), bus.stdout.close()))
        self.env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.stdout.readline().strip())
        mock = subprocess.Popen([python, "-m", "dbusmock", "--system", "--template", "logind"],
                                env=self.env, stdout=subprocess.DEVNULL)
        self.addCleanup(stop, mock)
        deadline = time.monotonic() + 20
        while self.logind("Manager.ListInhibitors") is None:
            self.assertLess(time.monotonic(), deadline, "the mock logind did not come up")
            time.sleep(0.1)

    def logind(self, method):
        """dbus-send's reply to the mock's `method` (in org.freedesktop.login1 or, for Mock.*,
        the mock's own interface); None when it did not answer."""
        interface = "DBus" if method.startswith("Mock.") else "login1"
        r = subprocess.run(["dbus-send", "--system", "--print-reply"] + LOGIND
                           + ["org.freedesktop.%s.%s" % (interface, method)],
                           env=self.env, capture_output=True, text=True, timeout=10)
        return r.stdout if r.returncode == 0 else None

    def inhibitors(self):
        """(what, who, why, mode) of every lock the mock holds."""
        reply = self.logind("Manager.ListInhibitors")
        return [tuple(re.findall(r'string "([^"]*)"', s)) for s in reply.split("struct {")[1:]]

    def inhibits_asked(self):
        return self.logind("Mock.GetCalls").count('string "Inhibit"')

    def update(self, sims, env, want, look):
        """One run updating `sims`: what `look()` gives once an event satisfies `want`, and
        stderr, the run having succeeded."""
        ports = [arg for sim in sims for arg in ("--port", sim.port)]
        proc = subprocess.Popen(cli_command("aio", *ports, "--yes", "--json"), env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            read_events(proc, want)
            seen = look()
            _, err = proc.communicate(timeout=60)
        finally:
            stop(proc)
        self.assertEqual(proc.returncode, 0, err)
        return seen, err

    def test_an_update_holds_one_lock_until_it_ends(self):
        for count in (1, 2):  # one controller, and several in one session
            with self.subTest(controllers=count):
                # Block 6 goes unanswered once: 3 s mid-transfer to look in, until it is resent.
                sims = [self.start_sim("aio", "--exit-after-update", *fault)
                        for fault in (["--fault", "silence@block:5x1"], [])[:count]]
                held, _ = self.update(sims, self.env, lambda e: e["event"] == "progress"
                                      and e["phase"] == "program" and e["done"] >= 5
                                      and e.get("port", sims[0].port) == sims[0].port,
                                      self.inhibitors)
                self.assertEqual([(what, who, mode) for what, who, _, mode in held],
                                 [("sleep", "fwburn-aio-cli", "block")])
                self.assertIn("bootloader", held[0][2])
                self.assertEqual(self.inhibits_asked(), count)
                deadline = time.monotonic() + 5  # the mock sees the descriptor close in its time
                while self.inhibitors() and time.monotonic() < deadline:
                    time.sleep(0.05)
                self.assertEqual(self.inhibitors(), [])

    def test_looks_lists_and_the_version_take_no_lock(self):
        sim = self.start_sim("aio")
        for args in (["--info", "--port", sim.port], ["--list-ports"], ["--version"]):
            with self.subTest(args[0]):
                r = subprocess.run(cli_command("aio", *args), env=self.env, capture_output=True,
                                   text=True, timeout=60)
                self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.inhibits_asked(), 0)

    def test_an_update_goes_on_at_once_without_a_bus_or_with_one_that_never_answers(self):
        silent = socket.socket(socket.AF_UNIX)  # takes the connection, never says a word
        silent.bind(os.path.join(self.tmp.name, "bus"))
        silent.listen()
        self.addCleanup(silent.close)
        for address in ("unix:path=/nonexistent", "unix:path=" + silent.getsockname()):
            with self.subTest(address):
                began = time.monotonic()
                opened, err = self.update([self.start_sim("aio", "--exit-after-update")],
                                          dict(self.env, DBUS_SYSTEM_BUS_ADDRESS=address),
                                          lambda e: e["event"] == "open", time.monotonic)
                self.assertLess(opened - began, 4)
                self.assertEqual(err.splitlines()[:-1],
                                 ["Information: Please REPLUG the USB Cable, and then press "
                                  "Enter to continue [--yes]"])

if __name__ == "__main__":
    unittest.main()
