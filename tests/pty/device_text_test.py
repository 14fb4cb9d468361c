#!/usr/bin/env python3
"""Text a USB device supplies (its product, serial number and sysfs name) and paths reach a
terminal escaped: a device whose serial number holds escape sequences can neither retitle the
window nor paint or move over the program's lines. JSON carries the text exactly."""
import json
import os
import subprocess
import unittest

from console_pty_test import PtyCase, answered, cli_command, need
from fleet_test import QUESTION, fake_usb_tree, linked_usb_tree

HOSTILE = "AB\x1b]0;PWNED\x07\x1b[31mRED"
SHOWN = "AB\\x1B]0;PWNED\\x07\\x1B[31mRED"
RAW = ("\x1b", "\x07", "\x9b")


class DeviceText(PtyCase):
    def assert_clean(self, *streams):
        for text in streams:
            for byte in RAW:
                self.assertNotIn(byte, text, repr(text))

    def several(self):
        """Two controllers, one with a hostile serial, socket and /dev directory, updated by
        --all with the question answered: their plain lines on stdout, the question on stderr."""
        need(self, "aio")
        sims = [self.start_sim("aio"), self.start_sim("aio")]
        env, _ = linked_usb_tree(self.tmp.name, [("ttyACM0", "1-1.2" + HOSTILE, HOSTILE,
                                                  sims[0].port),
                                                 ("ttyACM1", "1-1.3", "B2", sims[1].port)])
        dev = os.path.join(self.tmp.name, "dev" + HOSTILE)
        os.rename(env["FWBURN_DEV_ROOT"], dev)
        env["FWBURN_DEV_ROOT"] = dev
        r = answered(cli_command("aio", "--all"), QUESTION, b"\n", env=env)
        self.assertEqual(r.code, 0, r)
        return r.out, r.err

    def test_a_controllers_own_lines_escape_its_socket_and_path(self):
        out, err = self.several()
        tag = "[1-1.2%s] " % SHOWN
        mine = [line for line in (out + err).splitlines() if line.startswith("[")]
        self.assertIn(tag + "Port: %s/ttyACM0" % os.path.join(self.tmp.name, "dev" + SHOWN),
                      mine, out)
        self.assertIn(tag + "Information: Firmware update is SUCCESSFUL!, please REPLUG the USB "
                      "cable", mine, out)
        self.assert_clean(*mine)

    # Needs the several-controller run to show its question's "Waiting:" lines and the summary
    # table's controller column through Shown.
    def test_nothing_of_a_hostile_device_reaches_the_output_raw(self):
        out, err = self.several()
        self.assert_clean(out, err)
        self.assertIn("serial " + SHOWN, err)  # the question's "Waiting:" line
        self.assertIn("serial " + SHOWN, out.split("Summary:\n", 1)[1])

    # Needs --list-ports to show the port, product and serial through Shown.
    def test_list_ports_shows_a_hostile_product_and_serial_escaped(self):
        need(self, "aio")
        env = fake_usb_tree(self.tmp.name, [("ttyACM0", "1-1.2", HOSTILE)])
        with open(os.path.join(env["FWBURN_SYSFS_ROOT"],
                               "devices/pci0000:00/usb1/1-1/1-1.2/product"), "w") as f:
            f.write("ZL500\x1b[2J PLC\n")
        p = subprocess.run(cli_command("aio", "--list-ports", "--json"), env=env,
                           capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=60)
        ports = [json.loads(line) for line in p.stdout.splitlines()]
        self.assertEqual([(o["product"], o["serial"]) for o in ports],
                         [("ZL500\x1b[2J PLC", HOSTILE)])  # JSON keeps the text exactly
        p = subprocess.run(cli_command("aio", "--list-ports"), env=env, capture_output=True,
                           text=True, stdin=subprocess.DEVNULL, timeout=60)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assert_clean(p.stdout, p.stderr)
        self.assertIn("ZL500\\x1B[2J PLC  3b9e:0001  serial " + SHOWN, p.stdout)

    # Needs --info's table (its port column and the reason a port did not open) through Shown.
    def test_info_shows_a_hostile_port_path_escaped(self):
        need(self, "aio")
        port = os.path.join(self.tmp.name, "tty" + HOSTILE)
        p = subprocess.run(cli_command("aio", "--info", "--port", port), capture_output=True,
                           text=True, stdin=subprocess.DEVNULL, timeout=60)
        self.assertEqual(p.returncode, 4, p.stderr)
        self.assert_clean(p.stdout, p.stderr)
        self.assertIn("tty" + SHOWN, p.stdout + p.stderr)


if __name__ == "__main__":
    unittest.main()
