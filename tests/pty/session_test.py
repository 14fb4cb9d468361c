#!/usr/bin/env python3
"""What every kind of run shares: the ports it chooses, the identities it locks, the discovery
trees it looks in, and the way a signal ends it at a question."""
import fcntl
import os
import signal
import subprocess
import unittest

from console_pty_test import (PtyCase, answered, cli_command, lock_directory, need, port_args,
                              port_free, run_cli)
from fleet_test import QUESTION, SUCCESS_USB, linked_usb_tree

PROMPT = "Press Enter to continue (n and Enter cancels): "


def lock_name(identity):
    """The lock file's name for `identity`, as the programs spell it."""
    keep = set("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-+")
    return "fwburn-%s.lock" % "".join(
        "_" if c == "/" else c if c in keep else "%%%02X" % ord(c) for c in identity)


class Session(PtyCase):
    def test_a_look_is_refused_a_controller_that_an_update_holds_by_its_usb_identity(self):
        need(self, "aio")
        sim = self.start_sim("aio")
        env, _ = linked_usb_tree(self.tmp.name, [("ttyACM1", "1-1.2", "S1", sim.port)])
        # Another updater holds the controller by its socket and serial number, as one waiting
        # for its replug does while the controller comes back under another tty name.
        path = os.path.join(lock_directory(), lock_name("usb 1-1.2 serial S1"))
        fd = os.open(path, os.O_RDWR | os.O_CREAT, 0o644)
        self.addCleanup(os.unlink, path)
        self.addCleanup(os.close, fd)
        fcntl.flock(fd, fcntl.LOCK_EX)
        for args in (["--info", "--port", env["FWBURN_DEV_ROOT"] + "/ttyACM1"], ["--info"],
                     ["--info", "--json"]):
            with self.subTest(args=args):
                p = subprocess.run(cli_command("aio", *args), env=env, capture_output=True,
                                   text=True, stdin=subprocess.DEVNULL, timeout=120)
                self.assertEqual(p.returncode, 4, p.stdout + p.stderr)
                self.assertIn("in use by another fwburn program (process %d" % os.getpid(),
                              p.stdout)
        sim.stop()
        self.assertEqual(sim.summary["bytesReceived"], 0)

    def test_one_port_named_twice_through_a_link_is_a_usage_error(self):
        need(self, "rv7g")
        sim = self.start_sim("rv7g")
        alias = os.path.join(self.tmp.name, "alias")
        os.symlink(sim.port, alias)
        # A second --port, or the trace, on the controller's own port: refused before any open.
        for args, said in ((["--port", alias], "--port %s and --port %s are one port" %
                            (sim.port, alias)),
                           (["--trace", alias], "--trace %s is the PLC's port %s" %
                            (alias, sim.port))):
            with self.subTest(args=args):
                r = run_cli("rv7g", "--port", sim.port, *args, "--yes")
                self.assertEqual(r.code, 2, r)
                self.assertIn(said, r.err)
                self.assertTrue(port_free(sim.port))
        sim.stop()
        self.assertEqual(sim.summary["bytesReceived"], 0)

    def test_a_discovering_run_keeps_to_its_controller_across_a_replug_that_swaps_names(self):
        need(self, "aio")
        a, b = self.start_sim("aio"), self.start_sim("aio")
        env, plug = linked_usb_tree(self.tmp.name, [("ttyACM0", "1-1.2", "S1", a.port),
                                                    ("ttyACM1", "1-1.3", "S2", b.port)])
        dev = env["FWBURN_DEV_ROOT"]
        # The look finds its controller in the same trees as the update.
        p = subprocess.run(cli_command("aio", "--info", "--json"), env=env, capture_output=True,
                           text=True, stdin=subprocess.DEVNULL, timeout=120)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertIn('"port":"%s/ttyACM0"' % dev, p.stdout.replace(" ", ""))

        def swap(_):  # the other controller comes back under the name this one had
            plug("ttyACM0", "1-1.3", b.port)
            plug("ttyACM1", "1-1.2", a.port)

        r = answered(cli_command("aio"), PROMPT, b"\n", env=env, meanwhile=swap)
        self.assertEqual(r.code, 0, r)
        self.assertIn("Port reopened: %s/ttyACM1" % dev, r.out.splitlines())
        self.assertIn(SUCCESS_USB, r.out)
        a.stop()
        b.stop()
        self.assert_flash_is_image("aio", a)
        self.assertEqual(b.summary["blocksTaken"], 0)

    def test_another_controller_put_in_the_same_socket_is_not_taken_at_the_reopen(self):
        need(self, "aio")
        a, b = self.start_sim("aio"), self.start_sim("aio")
        env, plug = linked_usb_tree(self.tmp.name, [("ttyACM0", "1-1.2", "S1", a.port)])
        serial = os.path.join(env["FWBURN_SYSFS_ROOT"], "devices/pci0000:00/usb1/1-1/1-1.2/serial")

        def swap(_):  # unplugged for the replug; another controller goes into its socket
            with open(serial, "w") as f:
                f.write("S2\n")
            plug("ttyACM0", "1-1.2", b.port)

        r = answered(cli_command("aio"), PROMPT, b"\n", env=env, meanwhile=swap)
        self.assertEqual(r.code, 6, r)  # the first never came back: nothing was erased
        self.assertIn("usb 1-1.2 serial S1: the controller is not attached", r.err)
        a.stop()
        b.stop()
        self.assertEqual(b.summary["bytesReceived"], 0)

    def test_two_programs_update_two_controllers_at_once(self):
        need(self, "aio")
        a, b = self.start_sim("aio"), self.start_sim("aio")
        env, _ = linked_usb_tree(self.tmp.name, [("ttyACM0", "1-1.2", "S1", a.port),
                                                 ("ttyACM1", "1-1.3", "S2", b.port)])
        dev = env["FWBURN_DEV_ROOT"]

        def other(_):  # the first waits for its replug, holding its controller and the link
            p = subprocess.run(cli_command("aio", "--port", dev + "/ttyACM1", "--yes"), env=env,
                               capture_output=True, text=True, stdin=subprocess.DEVNULL,
                               timeout=120)
            self.assertEqual(p.returncode, 0, p.stdout + p.stderr)

        r = answered(cli_command("aio", "--port", dev + "/ttyACM0"), PROMPT, b"\n", env=env,
                     meanwhile=other)
        self.assertEqual(r.code, 0, r)
        for sim in (a, b):
            sim.stop()
            self.assert_flash_is_image("aio", sim)

    def test_a_signal_at_the_shared_question_ends_on_a_line_of_its_own(self):
        need(self, "aio")
        sims = [self.start_sim("aio"), self.start_sim("aio")]
        r = answered(cli_command("aio", *port_args(sims)), QUESTION, None,
                     meanwhile=lambda proc: proc.send_signal(signal.SIGTERM), timeout=60)
        self.assertEqual(r.code, 128 + signal.SIGTERM, r)
        self.assertIn(QUESTION + "\n[", r.err)


if __name__ == "__main__":
    unittest.main()
