#!/usr/bin/env python3
"""Several controllers updated at once by one console program: each on its own plcsim, one of
them failing, in plain, JSON and prompt forms."""
import fcntl
import glob
import json
import os
import resource
import signal
import subprocess
import unittest

from console_pty_test import (PtyCase, answered, cli_command, lock_directory, need, port_args,
                              port_free, read_until, run_cli, start_cli, stop)

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


def linked_usb_tree(root, controllers):
    """A sysfs and /dev tree where each (tty, socket, serial, pty) is a controller whose /dev
    name is a symbolic link to the plcsim pty; returns its env and a function that moves a tty
    name to another socket and pty, as a replug that renumbers the ttys does."""
    sys_root, dev_root = os.path.join(root, "sys"), os.path.join(root, "dev")
    os.makedirs(dev_root)
    interfaces = {}
    for _, socket, serial, _ in controllers:
        usb = os.path.join(sys_root, "devices/pci0000:00/usb1/1-1", socket)
        interfaces[socket] = os.path.join(usb, socket + ":1.0")
        os.makedirs(interfaces[socket])
        for name, value in (("idVendor", "3b9e"), ("idProduct", "0001"), ("serial", serial),
                            ("product", "ZL500 PLC")):
            with open(os.path.join(usb, name), "w") as f:
                f.write(value + "\n")

    def plug(tty, socket, pty):
        link = os.path.join(sys_root, "class/tty", tty, "device")
        os.makedirs(os.path.dirname(link), exist_ok=True)
        for path, target in ((link, interfaces[socket]), (os.path.join(dev_root, tty), pty)):
            if os.path.lexists(path):
                os.unlink(path)
            os.symlink(target, path)

    for tty, socket, _, pty in controllers:
        plug(tty, socket, pty)
    return dict(os.environ, FWBURN_SYSFS_ROOT=sys_root, FWBURN_DEV_ROOT=dev_root), plug


def lock_files(name):
    """The lock files named `name` where the programs lock."""
    return glob.glob(os.path.join(lock_directory(), name))


QUESTION = "Press Enter to continue with all of them (n and Enter cancels all): "


class Fleet(PtyCase):
    def three(self, failing_fault):
        """Three ZL500-AIO simulators; the second fails with `failing_fault`."""
        need(self, "aio")
        sims = [self.start_sim("aio"), self.start_sim("aio", *failing_fault),
                self.start_sim("aio")]
        return sims, port_args(sims)

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
        self.assertEqual([(c["port"], c["exitCode"], c["result"]) for c in summary["controllers"]],
                         [(sims[0].port, 0, "success"), (sims[1].port, 6, "communication-failed"),
                          (sims[2].port, 0, "success")])
        self.assertEqual(sum(e["event"] == "summary" for e in events), 1)

    def test_a_controller_given_up_on_is_summed_up_as_such(self):
        """--yes answered every prompt: nobody cancelled the one that stayed in its application."""
        need(self, "aio")
        sims = [self.start_sim("aio"), self.start_sim("aio", "--fault", "stay-in-application")]
        r = run_cli("aio", *port_args(sims), "--yes", "--json")
        self.assertEqual(r.code, 8, r)
        messages = [c["message"] for c in r.json_lines()[-1]["controllers"]]
        self.assertEqual(messages[1], "the PLC stayed in application mode after 3 accepted "
                                      "update requests; giving up (nothing was erased)")

    def test_one_question_lists_every_controller_waiting_for_the_replug(self):
        need(self, "aio")
        sims = [self.start_sim("aio"), self.start_sim("aio")]
        proc = subprocess.Popen(cli_command("aio", *port_args(sims)), stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        # One Enter answers both; a second one is never read.
        out, err = proc.communicate("\n", timeout=600)
        self.assertEqual(proc.returncode, 0, err)
        self.assertEqual(err.count("Press Enter"), 1, err)
        self.assertIn("cancels all): \n", err)  # Enter from a pipe is not echoed: ours ends it
        waiting = err.split("Waiting:\n", 1)[1].splitlines()
        self.assertEqual(sorted(line.strip() for line in waiting[:2]),
                         sorted(s.port for s in sims), err)
        for sim in sims:
            sim.stop()
            self.assertEqual(sim.summary["replugs"], 1)

    def test_the_question_waits_3_s_not_for_a_controller_still_writing(self):
        """A controller already in its bootloader goes on to its transfer at once; the other's
        replug is asked 3 s after it began to wait, not once that transfer is over."""
        need(self, "cpu")
        sims = [self.start_sim("cpu"), self.start_sim("cpu", "--wire", "--fault",
                                                       "boot-at-power-on")]
        proc = start_cli("cpu", *port_args(sims), stdin=subprocess.PIPE)
        self.addCleanup(stop, proc)
        said = read_until(proc, proc.stderr, QUESTION, timeout=60)
        self.assertEqual([line.strip() for line in said.split("Waiting:\n", 1)[1].splitlines()],
                         [sims[0].port, QUESTION.strip()], said)
        proc.terminate()
        proc.wait(timeout=30)
        for stream in (proc.stdin, proc.stdout, proc.stderr):
            stream.close()
        for sim in sims:
            sim.stop()
        self.assertFalse(sims[1].summary["transferComplete"])

    def test_a_line_said_while_the_question_waits_leaves_it_asked_below(self):
        """A controller that fails while the others wait for Enter: its lines start on lines of
        their own, and the question is asked again below them."""
        need(self, "aio")
        sims = [self.start_sim("aio"), self.start_sim("aio", "--fault", "silent")]
        proc = start_cli("aio", *port_args(sims), stdin=subprocess.PIPE)
        self.addCleanup(stop, proc)
        said = read_until(proc, proc.stderr, "ERROR: NO RESPONSE @ State 1\n")
        if QUESTION not in said.split("ERROR: NO RESPONSE", 1)[1]:
            said += read_until(proc, proc.stderr, QUESTION)
        out, err = proc.communicate("\n", timeout=120)
        self.assertEqual(proc.returncode, 6, said + err)
        self.assertNotIn(QUESTION + "[", said + err)
        self.assertIn(QUESTION, said.split("ERROR: NO RESPONSE", 1)[1])

    def test_no_and_enter_cancels_every_controller_waiting(self):
        need(self, "aio")
        sims = [self.start_sim("aio"), self.start_sim("aio")]
        r = answered(cli_command("aio", *port_args(sims)), QUESTION, b"No \n", timeout=60)
        self.assertEqual(r.code, 8, r)
        self.assertEqual(r.err.count(QUESTION), 1, r)
        self.assertIn(QUESTION + "\n[", r.err)  # one line end, for both controllers
        summary = r.out.split("Summary:\n", 1)[1].splitlines()
        self.assertEqual([row.split()[1] for row in summary[1:]], ["cancelled", "cancelled"])
        for sim in sims:
            sim.stop()
            self.assertEqual(sim.summary["blocksTaken"], 0)

    def test_a_replug_that_swaps_the_tty_names_follows_each_controller(self):
        need(self, "aio")
        # The second controller NAKs its block 3 once: its retry must show under its own socket.
        a, b = self.start_sim("aio"), self.start_sim("aio", "--fault", "nak@block:2x1")
        env, plug = linked_usb_tree(self.tmp.name, [("ttyACM0", "1-1.2", "A1", a.port),
                                                    ("ttyACM1", "1-1.3", "B2", b.port)])
        dev = env["FWBURN_DEV_ROOT"]

        def swap(_):  # both are unplugged now; they come back with each other's tty name
            plug("ttyACM0", "1-1.3", b.port)
            plug("ttyACM1", "1-1.2", a.port)

        r = answered(cli_command("aio", "--all"), QUESTION, b"\n", env=env, meanwhile=swap)
        self.assertEqual(r.code, 0, r)
        out, err = r.out, r.err
        lines = out.splitlines()
        for socket, before, after in (("1-1.2", "ttyACM0", "ttyACM1"),
                                      ("1-1.3", "ttyACM1", "ttyACM0")):
            tag = "[%s] " % socket
            self.assertIn(tag + "Port: %s/%s" % (dev, before), lines, out)
            self.assertIn(tag + "Port reopened: %s/%s" % (dev, after), lines, out)
            self.assertIn(tag + SUCCESS_USB, lines, out)
        self.assertIn("[1-1.3] Retry: 1 in this command, 1 in all", lines, out)
        self.assertNotIn("[1-1.2] Retry", out)
        self.assertIn("usb 1-1.2 serial A1 (%s/ttyACM0)" % dev, err)
        for sim in (a, b):
            sim.stop()
            self.assertEqual(sim.summary["replugs"], 1)
            self.assert_flash_is_image("aio", sim)

    def test_a_run_of_several_and_a_discovering_run_keep_each_other_out(self):
        need(self, "aio")
        a, b = self.start_sim("aio"), self.start_sim("aio")
        env, _ = linked_usb_tree(self.tmp.name, [("ttyACM0", "1-1.2", "A1", a.port),
                                                 ("ttyACM1", "1-1.3", "B2", b.port)])
        def single(proc):
            # Waiting for the replug, both unplugged: a run that finds its controller by itself
            # would take the first to come back.
            r = run_cli("aio", "--yes")
            self.assertEqual(r.code, 4, r)
            self.assertIn("the PLC on USB: in use by another fwburn program (process %d, "
                          "fwburn-aio-cli;" % proc.pid, r.err)

        r = answered(cli_command("aio", "--all"), QUESTION, b"\n", env=env, meanwhile=single)
        self.assertEqual(r.code, 0, r)
        self.assertEqual(lock_files("fwburn-usb-3b9e-0001.lock"), [])  # the last one out

        # The other way round: while a discovering run holds the link, the several are refused.
        fd = os.open(os.path.join(lock_directory(), "fwburn-usb-3b9e-0001.lock"),
                     os.O_RDWR | os.O_CREAT, 0o644)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX)
            os.pwrite(fd, b"%10d\n" % os.getpid(), 0)
            p = subprocess.run(cli_command("aio", "--all", "--yes"), env=env, capture_output=True,
                               text=True, stdin=subprocess.DEVNULL, timeout=60)
            # A look too: the discovering run could take the controller it probes.
            look = subprocess.run(cli_command("aio", "--info", "--all", "--json"), env=env,
                                  capture_output=True, text=True, stdin=subprocess.DEVNULL,
                                  timeout=60)
        finally:
            os.unlink(os.path.join(lock_directory(), "fwburn-usb-3b9e-0001.lock"))
            os.close(fd)
        self.assertEqual(p.returncode, 4, p)
        for socket in ("1-1.2", "1-1.3"):
            self.assertIn("[%s] fwburn-aio-cli: the PLC on USB: in use by another fwburn "
                          "program (process %d, " % (socket, os.getpid()), p.stderr)
        self.assertEqual(look.returncode, 4, look)
        for info in map(json.loads, look.stdout.splitlines()):
            self.assertEqual((info["opened"], info["exitCode"]), (False, 4))
            self.assertIn("the PLC on USB: in use by another fwburn program (process %d, "
                          % os.getpid(), info["why"])
        for sim in (a, b):  # the refused runs never opened them
            sim.stop()
            self.assertEqual(sim.summary["replugs"], 1)
            self.assertTrue(sim.summary["transferComplete"])

    def test_sigterm_ends_every_update_and_releases_every_port(self):
        need(self, "cpu")
        sims = [self.start_sim("cpu", "--wire"), self.start_sim("cpu", "--wire")]
        proc = start_cli("cpu", *port_args(sims), "--yes", "--json")
        try:
            programming = set()
            while len(programming) < 2:
                line = proc.stdout.readline()
                self.assertTrue(line, "ended before both were programming")
                event = json.loads(line)
                if event["event"] == "progress" and event["phase"] == "program":
                    programming.add(event["port"])
            locks = [f for s in sims
                     for f in lock_files("fwburn-%s.lock" % s.port.replace("/", "_"))]
            self.assertEqual(len(locks), 2, locks)
            for sim in sims:
                self.assertFalse(port_free(sim.port))
            rest, err = self.assert_ended_by(proc, signal.SIGTERM)
        finally:
            stop(proc)
        for sim in sims:
            self.assertTrue(port_free(sim.port), "%s is still held" % sim.port)
        self.assertEqual([f for f in locks if os.path.exists(f)], [])
        events = [json.loads(line) for line in rest.splitlines()]
        outcomes = {e["port"]: (e["result"], e["signal"], e["phase"])
                    for e in events if e["event"] == "outcome"}
        self.assertEqual(outcomes, {s.port: ("interrupted", "SIGTERM", "program") for s in sims})
        # The run's close, as for one that ran to its end: one summary, with the status.
        summary = events[-1]
        self.assertEqual((summary["event"], summary["exitCode"], summary["result"],
                          summary["signal"]), ("summary", 143, "interrupted", "SIGTERM"))
        self.assertEqual([(c["port"], c["result"], c["exitCode"]) for c in summary["controllers"]],
                         [(s.port, "interrupted", 143) for s in sims])
        self.assertEqual(sum(e["event"] == "summary" for e in events), 1)
        for sim in sims:
            tag = "[%s] " % sim.port[len("/dev/"):]
            self.assertIn(tag + "fwburn-cpu-cli: interrupted by SIGTERM; the port is released", err)
            sim.stop()
            self.assertFalse(sim.summary["transferComplete"])

    def test_all_refuses_a_serial_model_and_says_when_no_controller_is_attached(self):
        need(self, "rv7g")
        for allowed in (True, False):  # a usage error comes before a stand-in image's refusal
            r = run_cli("rv7g", "--all", allow_stand_in=allowed)
            self.assertEqual(r.code, 2, r)
            self.assertIn("--port", r.err)
        env = dict(os.environ, FWBURN_SYSFS_ROOT="/nonexistent", FWBURN_DEV_ROOT="/nonexistent")
        p = subprocess.run(cli_command("aio", "--all"), env=env, capture_output=True, text=True,
                           stdin=subprocess.DEVNULL, timeout=60)
        self.assertEqual(p.returncode, 4, p.stderr)
        self.assertIn("no controller found", p.stderr)

    def test_a_json_run_refused_before_its_controllers_still_ends_with_its_closing_record(self):
        nothing = dict(os.environ, FWBURN_SYSFS_ROOT="/nonexistent", FWBURN_DEV_ROOT="/nonexistent")
        alias = os.path.join(self.tmp.name, "null")
        os.symlink("/dev/null", alias)
        # A thread's stack as large as the address space: no thread can be made, not even the
        # output's.
        def no_threads():
            resource.setrlimit(resource.RLIMIT_STACK, (1 << 47, resource.RLIM_INFINITY))
        # (program, arguments, environment, status, closing event, its result, limit)
        cases = [
            ("aio", ["--all", "--yes"], nothing, 4, "outcome", "port-failed", None),
            ("aio", ["--info", "--all"], nothing, 4, "info", None, None),
            ("aio", ["--info"], nothing, 4, "info", None, None),
            ("rv7g", ["--all"], None, 2, "outcome", "usage", None),
            ("rv7g", ["--info", "--all"], None, 2, "info", None, None),
            ("cpu", ["--port", "/dev/null", "--port", alias], None, 2, "outcome", "usage", None),
            ("cpu", ["--trace", self.tmp.name, "--port", "/dev/ttyNOPE9"], None, 2, "outcome",
             "usage", None),
            ("cpu", ["--port", "/dev/ttyNOPE9", "--yes"], None, 1, "outcome", "unexpected",
             no_threads),
            ("aio", ["--info", "--port", "/dev/ttyNOPE9"], None, 1, "info", None, no_threads),
        ]
        hard = resource.getrlimit(resource.RLIMIT_STACK)[1]
        for profile, args, env, code, event, result, limit in cases:
            with self.subTest(profile=profile, args=args):
                need(self, profile)
                if limit and hard != resource.RLIM_INFINITY:
                    self.skipTest("the stack's hard limit cannot be raised here")
                p = subprocess.run(cli_command(profile, "--json", *args), env=env,
                                   capture_output=True, text=True, stdin=subprocess.DEVNULL,
                                   timeout=60, preexec_fn=limit)
                self.assertEqual(p.returncode, code, p.stderr)
                self.assertTrue(p.stderr, "the reason is said to a person too")
                events = [json.loads(line) for line in p.stdout.splitlines()]
                self.assertTrue(events, p.stderr)
                closing = [e for e in events if e["event"] in ("outcome", "info", "summary")]
                self.assertEqual(len(closing), 1, events)
                self.assertIs(closing[0], events[-1])
                self.assertEqual((events[-1]["event"], events[-1]["exitCode"]), (event, code))
                if event == "outcome":
                    self.assertEqual(events[0]["event"], "start")
                    self.assertEqual(events[-1]["result"], result)
                else:
                    self.assertEqual((events[-1]["port"], events[-1]["opened"]), (None, False))
                    self.assertIn(p.stderr.split(": ", 1)[1].strip(), events[-1]["why"])

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
