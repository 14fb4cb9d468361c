#!/usr/bin/env python3
"""plcsim serving an existing tty (--tty) with a USB gadget's UDC file (--udc-file): a replug
unbinds and binds the gadget again, an unbound gadget is refused. The tty here is a
pseudo-terminal's slave and the UDC file a plain file; the real ones run in scripts/vm-test.
"""
import json
import os
import signal
import subprocess
import tempfile
import time
import unittest

from console_pty_test import PLCSIM


class TtyServing(unittest.TestCase):
    def setUp(self):
        if not os.access(PLCSIM, os.X_OK):
            self.skipTest("plcsim was not built")
        self.tmp = tempfile.TemporaryDirectory(prefix="fwburn-tty-")
        self.master, slave = os.openpty()
        self.slave = os.ttyname(slave)
        os.close(slave)
        self.udc = os.path.join(self.tmp.name, "UDC")

    def tearDown(self):
        os.close(self.master)
        self.tmp.cleanup()

    def start(self, udc_text):
        with open(self.udc, "w") as f:
            f.write(udc_text)
        summary = os.path.join(self.tmp.name, "summary.json")
        proc = subprocess.Popen([PLCSIM, "--model", "ZL500", "--tty", self.slave, "--udc-file",
                                 self.udc, "--summary-json", summary, "-v"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        return proc, summary

    def test_a_replug_unbinds_and_binds_the_gadget_again(self):
        proc, summary = self.start("dummy_udc.0\n")
        self.assertEqual(proc.stdout.readline().strip(), "plcsim: ZL500 on " + self.slave)
        proc.send_signal(signal.SIGUSR1)
        time.sleep(2)  # up to 1 s for a hang-up that a pseudo-terminal never shows, 0.2 s out
        proc.send_signal(signal.SIGTERM)
        _, err = proc.communicate(timeout=20)
        self.assertEqual(proc.returncode, 0, err)
        with open(summary) as f:
            s = json.load(f)
        self.assertEqual((s["replugs"], s["usbUnplugs"]), (1, 1), err)
        self.assertIn("USB unplugged (SIGUSR1)", err)
        self.assertIn("USB plugged in", err)
        # Bound again to the controller it was on: "\\n" then the name were written at offset 0.
        with open(self.udc) as f:
            self.assertEqual(f.read(), "dummy_udc.0\n")

    def test_a_gadget_bound_to_no_controller_is_refused(self):
        for text in ("", "\n"):
            with self.subTest(udc=repr(text)):
                proc, _ = self.start(text)
                out, err = proc.communicate(timeout=20)
                self.assertEqual(proc.returncode, 3, err)
                self.assertIn("the gadget is bound to no controller", err)

    def test_options_that_need_a_pseudo_terminal_or_a_tty(self):
        for args, text in ((["--udc-file", "/x"], "--udc-file requires --tty"),
                           (["--tty", "/dev/null", "--wire"], "--wire needs a pseudo-terminal")):
            with self.subTest(args=args):
                p = subprocess.run([PLCSIM] + args, capture_output=True, text=True, timeout=20)
                self.assertEqual(p.returncode, 2, p.stderr)
                self.assertIn(text, p.stderr)


if __name__ == "__main__":
    unittest.main()
