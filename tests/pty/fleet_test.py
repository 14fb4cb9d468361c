#!/usr/bin/env python3
"""Several controllers updated at once by one console program: each on its own plcsim, one of
them failing, in plain, JSON and prompt forms."""
import json
import os
import subprocess
import unittest

from console_pty_test import PtyCase, cli_command, need, run_cli

SUCCESS_USB = "Information: Firmware update is SUCCESSFUL!, please REPLUG the USB cable"
FAILED = "ERROR: Firmware update is FAILED"


def fake_usb_tree(root, controllers):
    """A sysfs and /dev tree with a controller per (tty, socket, serial); returns its env."""
    sys_root, dev_root = os.path.join(root, "sys"), os.path.join(root, "dev")
    for tty, socket, serial in controllers:
        usb = os.path.join(sys_root, "devices/pci0000:00/usb1/1-1", socket)
        interface = os.path.join(usb, socket + ":1.0")
        os.makedirs(os.path.join(interface, "tty", tty))
        for name, value in (("idVendor", "3b9e"), ("idProduct", "0001"), ("serial", serial),
                            ("product", "ZL500 PLC")):
            if value:
                with open(os.path.join(usb, name), "w") as f:
                    f.write(value + "\n")
        os.makedirs(os.path.join(sys_root, "class/tty", tty))
        os.symlink(interface, os.path.join(sys_root, "class/tty", tty, "device"))
        os.makedirs(dev_root, exist_ok=True)
        open(os.path.join(dev_root, tty), "w").close()
    return dict(os.environ, FWBURN_SYSFS_ROOT=sys_root, FWBURN_DEV_ROOT=dev_root)


class Fleet(PtyCase):
    def three(self, failing_fault):
        """Three ZL500-AIO simulators; the second fails with `failing_fault`."""
        need(self, "aio")
        sims = [self.start_sim("aio"), self.start_sim("aio", *failing_fault),
                self.start_sim("aio")]
        ports = []
        for sim in sims:
            ports += ["--port", sim.port]
        return sims, ports

    def test_three_at_once_one_failing_the_others_succeed(self):
        sims, ports = self.three(["--fault", "nak@block:10"])
        r = run_cli("aio", *ports, "--yes")
        self.assertEqual(r.code, 7, r)  # the worst outcome: the erased one
        for i, sim in enumerate(sims):
            tag = "[%s] " % sim.port[len("/dev/"):]
            mine = [line for line in r.out.splitlines() + r.err.splitlines()
                    if line.startswith(tag)]
            self.assertTrue(any(line.startswith(tag + "Port: ") for line in mine), r)
            final = SUCCESS_USB if i != 1 else FAILED
            self.assertIn(tag + final, mine, r)
        summary = r.out.split("Summary:\n", 1)[1].splitlines()
        self.assertEqual(summary[0].split(), ["CONTROLLER", "RESULT", "TIME", "MESSAGE"])
        self.assertEqual([row.split()[:2] for row in summary[1:]],
                         [[sims[0].port, "success"], [sims[1].port, "update-failed"],
                          [sims[2].port, "success"]])
        for i, sim in enumerate(sims):
            sim.stop()
            if i != 1:
                self.assert_flash_is_image("aio", sim)
            self.assertEqual(sim.summary["transferComplete"], i != 1)

    def test_json_tags_every_event_and_ends_with_one_summary(self):
        sims, ports = self.three(["--fault", "silent"])
        r = run_cli("aio", *ports, "--yes", "--json")
        self.assertEqual(r.code, 6, r)  # nothing erased anywhere: communication failed
        events = r.json_lines()
        for event in events[:-1]:
            self.assertIn(event["port"], [s.port for s in sims], event)
            self.assertEqual(event["identity"], event["port"], event)  # ptys have no socket
        outcomes = {e["port"]: e["result"] for e in events if e["event"] == "outcome"}
        self.assertEqual(outcomes, {sims[0].port: "success", sims[1].port: "communication-failed",
                                    sims[2].port: "success"})
        summary = events[-1]
        self.assertEqual(summary["event"], "summary")
        self.assertEqual(summary["exitCode"], 6)
        self.assertEqual([(c["port"], c["exitCode"]) for c in summary["controllers"]],
                         [(sims[0].port, 0), (sims[1].port, 6), (sims[2].port, 0)])
        self.assertEqual(sum(e["event"] == "summary" for e in events), 1)

    def test_one_question_lists_every_controller_waiting_for_the_replug(self):
        need(self, "aio")
        sims = [self.start_sim("aio"), self.start_sim("aio")]
        args = []
        for sim in sims:
            args += ["--port", sim.port]
        proc = subprocess.Popen(cli_command("aio", *args), stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        # One Enter answers both; a second one is never read.
        out, err = proc.communicate("\n", timeout=600)
        self.assertEqual(proc.returncode, 0, err)
        self.assertEqual(err.count("Press Enter"), 1, err)
        waiting = err.split("Waiting:\n", 1)[1].splitlines()
        self.assertEqual(sorted(line.strip() for line in waiting[:2]),
                         sorted(s.port for s in sims), err)
        for sim in sims:
            sim.stop()
            self.assertEqual(sim.summary["replugs"], 1)

    def test_all_refuses_a_serial_model_and_says_when_no_controller_is_attached(self):
        need(self, "rv7g")
        r = run_cli("rv7g", "--all")
        self.assertEqual(r.code, 2, r)
        self.assertIn("--port", r.err)
        env = dict(os.environ, FWBURN_SYSFS_ROOT="/nonexistent", FWBURN_DEV_ROOT="/nonexistent")
        p = subprocess.run(cli_command("aio", "--all"), env=env, capture_output=True, text=True,
                           stdin=subprocess.DEVNULL, timeout=60)
        self.assertEqual(p.returncode, 4, p.stderr)
        self.assertIn("no controller found", p.stderr)

    def test_list_ports_tells_product_ids_serial_and_socket(self):
        need(self, "aio")
        env = fake_usb_tree(self.tmp.name, [("ttyACM0", "1-1.3", ""), ("ttyACM1", "1-1.2", "A1")])
        dev = env["FWBURN_DEV_ROOT"]
        p = subprocess.run(cli_command("aio", "--list-ports"), env=env, capture_output=True,
                           text=True, stdin=subprocess.DEVNULL, timeout=60)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(p.stdout.splitlines(), [
            dev + "/ttyACM0  ZL500 PLC  3b9e:0001  serial -  usb 1-1.3",
            dev + "/ttyACM1  ZL500 PLC  3b9e:0001  serial A1  usb 1-1.2"])
        p = subprocess.run(cli_command("aio", "--list-ports", "--json"), env=env,
                           capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=60)
        self.assertEqual([json.loads(line) for line in p.stdout.splitlines()], [
            {"port": dev + "/ttyACM0", "product": "ZL500 PLC", "usbId": "3b9e:0001",
             "serial": None, "usbPath": "1-1.3"},
            {"port": dev + "/ttyACM1", "product": "ZL500 PLC", "usbId": "3b9e:0001",
             "serial": "A1", "usbPath": "1-1.2"}])
        empty = dict(env, FWBURN_SYSFS_ROOT="/nonexistent")
        p = subprocess.run(cli_command("aio", "--list-ports"), env=empty, capture_output=True,
                           text=True, stdin=subprocess.DEVNULL, timeout=60)
        self.assertEqual((p.returncode, p.stdout), (0, ""))
        self.assertIn("no controller on the USB link found", p.stderr)


if __name__ == "__main__":
    unittest.main()
