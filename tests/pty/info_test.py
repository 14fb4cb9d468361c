#!/usr/bin/env python3
"""--info against plcsim: what each program reads of its own model, of another model, of a
bootloader and of a silent port, in a table and in JSON, never changing the controller; and the
words an update says about what went wrong before its final message."""
import json
import os
import signal
import subprocess
import tempfile
import time
import unittest

from console_pty_test import (PROGRAMS, Plcsim, PtyCase, cli_command, need, run_cli, start_cli,
                              stop)

CHANGES = ("update-request", "erase-step", "erase-end", "update", "block", "transfer-end")


class Info(PtyCase):
    def sim_of(self, profile, model, *args):
        """A plcsim of `model` that takes `profile`'s image."""
        workdir = tempfile.mkdtemp(dir=self.tmp.name)
        sim = Plcsim(workdir, model, self.image(profile)[0], *args)
        self.sims.append(sim)
        return sim

    def assert_untouched(self, sim, wrong_address=False):
        """Nothing that changes the controller was asked; the only rule broken, where the probe
        had to try, is a request to the other address."""
        summary = sim.stop()
        for phase in CHANGES:
            self.assertEqual(summary["requests"][phase], 0, (phase, summary["requests"]))
        self.assertEqual(summary["eraseSteps"], 0)
        self.assertEqual(summary["blocksTaken"], 0)
        broken = [v for v in summary["violations"]
                  if not (wrong_address and "mode query with target byte" in v)]
        self.assertEqual(broken, [])

    def row(self, r, port):
        """The table's row of `port`, split into its columns."""
        for line in r.out.splitlines():
            if line.startswith(port + " "):
                return line.split()
        self.fail("no row for %s:\n%r" % (port, r))

    def test_each_program_on_its_own_model(self):
        for profile, (model, _) in PROGRAMS.items():
            with self.subTest(profile=profile):
                need(self, profile)
                sim = self.start_sim(profile)
                r = run_cli(profile, "--info", "--port", sim.port, allow_stand_in=False)
                self.assertEqual(r.code, 0, r)
                self.assertEqual(r.out.splitlines()[0].split(),
                                 ["PORT", "MODE", "MODEL", "ID", "VARIANT", "BOOTLOADER", "FITS"])
                row = self.row(r, sim.port)
                self.assertEqual(row[1:3], ["application", model], r)
                self.assertEqual(row[-1], "yes", r)
                j = run_cli(profile, "--info", "--json", "--port", sim.port,
                            allow_stand_in=False).json_lines()
                self.assertEqual(len(j), 1)
                self.assertEqual((j[0]["event"], j[0]["models"], j[0]["fits"], j[0]["why"],
                                  j[0]["exitCode"]), ("info", model, True, None, 0))
                self.assert_untouched(sim)

    def test_the_variant_register_tells_the_rv7_kt5_from_the_rv7_g(self):
        need(self, "rv7g")
        sim = self.sim_of("rv7g", "RV7-KT5")
        r = run_cli("rv7g", "--info", "--json", "--port", sim.port, allow_stand_in=False)
        self.assertEqual(r.code, 0, r)
        info = r.json_lines()[0]
        self.assertEqual((info["modelId"], info["variantRegister"], info["models"], info["fits"]),
                         (0x000C, "D1386", "RV7-KT5", False))
        self.assertIn("RV7-KT5 is different than RV7-G", info["why"])
        self.assert_untouched(sim)

    def test_another_model_and_another_address(self):
        need(self, "cpu")
        zl600 = self.sim_of("cpu", "ZL600")
        aio = self.sim_of("cpu", "ZL500-AIO")
        r = run_cli("cpu", "--info", "--port", zl600.port, "--port", aio.port,
                    allow_stand_in=False)
        self.assertEqual(r.code, 0, r)  # both answered
        self.assertEqual(self.row(r, zl600.port)[1:4], ["application", "ZL600", "0x3000"])
        self.assertEqual(self.row(r, zl600.port)[-1], "no")
        self.assertEqual(self.row(r, aio.port)[2], "ZL500-AIO")
        self.assertIn(zl600.port + ": the PLC is a ZL600 (ID 0x3000", r.out)
        self.assertIn(aio.port + ": the PLC is a ZL500-AIO (ID 0x3010, address 0x5B)", r.out)
        self.assert_untouched(zl600)
        self.assert_untouched(aio, wrong_address=True)

    def test_a_bootloader_and_a_silent_port_one_object_each(self):
        need(self, "cpu")
        boot = self.start_sim("cpu", "--fault", "boot-at-power-on")
        silent = self.start_sim("cpu", "--fault", "silent")
        r = run_cli("cpu", "--info", "--json", "--port", boot.port, "--port", silent.port,
                    allow_stand_in=False)
        self.assertEqual(r.code, 6, r)  # the worst: one port gave nothing
        first, second = r.json_lines()
        self.assertEqual((first["port"], first["mode"], first["bootId"], first["models"],
                          first["fits"]), (boot.port, "bootloader", 0x3010, "ZL500", True))
        self.assertEqual((second["port"], second["answered"], second["exitCode"]),
                         (silent.port, False, 6))
        self.assertIn("not one byte came back", second["why"])
        self.assert_untouched(boot)

    def test_a_port_that_does_not_open(self):
        need(self, "cpu")
        missing = os.path.join(self.tmp.name, "no-such-tty")
        r = run_cli("cpu", "--info", "--port", missing, allow_stand_in=False)
        self.assertEqual(r.code, 4, r)
        self.assertIn(missing + ": no such port", r.out)

    def test_a_signal_mid_look_still_ends_with_an_object_per_port(self):
        need(self, "cpu")
        missing = os.path.join(self.tmp.name, "no-such-tty")
        for signo in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signo.name):
                silent = self.sim_of("cpu", "ZL500", "--fault", "silent")
                proc = start_cli("cpu", "--info", "--json", "--port", missing, "--port",
                                 silent.port)
                try:
                    deadline = time.monotonic() + 10
                    while "a host opened the port" not in silent.log_text():
                        self.assertLess(time.monotonic(), deadline, "the look never opened")
                        time.sleep(0.02)
                    out, err = self.assert_ended_by(proc, signo)
                finally:
                    stop(proc)
                self.assertIn("--info interrupted by " + signo.name, err)
                gone, cut = [json.loads(line) for line in out.splitlines()]
                # The looks run side by side: on a busy machine the missing port's may not have
                # begun when the other's open let the signal go, and then it too was cut.
                self.assertIn((gone["event"], gone["port"], gone["mode"], gone["exitCode"]),
                              [("info", missing, "not opened", 4),
                               ("info", missing, "interrupted", 128 + signo)])
                self.assertEqual((cut["event"], cut["port"], cut["opened"], cut["mode"],
                                  cut["signal"], cut["exitCode"]),
                                 ("info", silent.port, None, "interrupted", signo.name,
                                  128 + signo))
                silent.stop()

    def test_info_goes_alone(self):
        need(self, "cpu")
        r = run_cli("cpu", "--info", "--version", allow_stand_in=False)
        self.assertEqual(r.code, 2, r)
        need(self, "rv7g")
        r = run_cli("rv7g", "--info", "--all", allow_stand_in=False)
        self.assertEqual(r.code, 2, r)
        self.assertIn("give each with --port", r.err)


class Diagnosis(PtyCase):
    def test_a_zl600_on_the_zl500_program_is_named(self):
        need(self, "cpu")
        workdir = tempfile.mkdtemp(dir=self.tmp.name)
        sim = Plcsim(workdir, "ZL600", self.image("cpu")[0])
        self.sims.append(sim)
        r = run_cli("cpu", "--port", sim.port, "--yes")
        # The message stays the window's; the status says a wrong controller answered.
        self.assertEqual(r.code, 5, r)
        lines = r.err.splitlines()
        said = lines.index("fwburn-cpu-cli: the PLC answered model ID 0x3000 (ZL600); this "
                           "program updates ZL500 (ID 0x3010) only: use the updater of the PLC's "
                           "model")
        self.assertEqual(lines[said + 1], "ERROR: NO RESPONSE @ State 2")
        events = run_cli("cpu", "--port", sim.port, "--yes", "--json").json_lines()
        kinds = [e["event"] for e in events]
        self.assertEqual(kinds[-2:], ["diagnosis", "outcome"])
        self.assertEqual((events[-2]["finding"], events[-2]["id"], events[-2]["models"]),
                         ("wrong-model", 0x3000, "ZL600"))

    def test_an_erased_plc_is_said_to_need_the_update_again(self):
        need(self, "aio")
        sim = self.start_sim("aio", "--fault", "nak@block:3")
        r = run_cli("aio", "--port", sim.port, "--yes")
        self.assertEqual(r.code, 7, r)
        self.assertIn("run the update again to recover the PLC", r.err)

    def test_a_port_gone_at_the_replug_is_said_to_be_so(self):
        """The PLC answered and took the update request; its port is not there to reopen."""
        need(self, "aio")
        sim = self.start_sim("aio")
        alias = os.path.join(self.tmp.name, "plc")
        os.symlink(sim.port, alias)
        proc = subprocess.Popen(cli_command("aio", "--port", alias, "--json"),
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)
        try:
            for line in proc.stdout:
                if json.loads(line)["event"] == "prompt":
                    break
            os.unlink(alias)
            out, err = proc.communicate("\n", timeout=120)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.communicate()
        self.assertEqual(proc.returncode, 6, err)
        events = [json.loads(line) for line in out.splitlines()]
        self.assertEqual([e["event"] for e in events[-2:]], ["diagnosis", "outcome"])
        self.assertEqual(events[-2]["finding"], "not-reopened")
        self.assertGreater(events[-2]["bytesReceived"], 0)
        self.assertIn("its port could not be opened again (%s: " % alias, err)
        self.assertNotIn("not one byte", err)
        self.assertEqual(sim.stop()["eraseSteps"], 0)

    # Which words cancel is the console's answer tests' concern; here the typed one reaches it.
    def test_no_and_enter_cancel_at_the_prompt(self):
        need(self, "aio")
        sim = self.start_sim("aio")
        r = run_cli("aio", "--port", sim.port, input_text="n\n")
        self.assertEqual(r.code, 8, r)
        self.assertIn("and then press Enter to continue", r.err)
        self.assertEqual(sim.stop()["eraseSteps"], 0)


if __name__ == "__main__":
    unittest.main()
