#!/usr/bin/env python3
"""Stale block acknowledgements.

plcsim --wire gives the pseudo-terminal a wire: every byte takes its time at the baud rate the
host set. A proxy between host and controller corrupts the last block (the controller NAKs it)
and repeats the previous block's ACK some milliseconds after the host wrote the block: sooner
than the block could have crossed the line, or later. FWBURN_WIRE_TIMING tells the host whether this
pseudo-terminal has a wire.

CTest runs one test class per entry (see CMakeLists.txt).
"""
import json
import os
import subprocess
import sys
import unittest

from console_pty_test import PtyCase, cli_command, need


PROXY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "vm", "stale_ack_proxy.py")


class StaleAckProxy:
    """The VM tier's proxy between a host pty of its own and plcsim's port, the host's line
    settings passed on. Every send of block `target` (counted from 1; a resend repeats the number
    before it) is corrupted and followed by an ACK to the host `delay_ms` after its first byte
    came through; no target leaves the line alone."""

    def __init__(self, upstream, folder, block_size, target=None, delay_ms=6):
        self.summary_path = os.path.join(folder, "proxy.json")
        self.proc = subprocess.Popen(
            [sys.executable, PROXY, "--any-rate", "--block-size", str(block_size), upstream,
             str(target or 0), str(delay_ms if target else 0), self.summary_path],
            stdout=subprocess.PIPE, text=True)
        self.port = self.proc.stdout.readline().strip().removeprefix("proxy on ")
        self.blocks, self.injected, self.replied = 0, [], []

    def close(self):
        """Ends the proxy; `blocks` is then the ordinal of the last block the host sent, and
        `injected` each injected ACK's seconds after its block's first byte, `replied` the
        controller's own reply's, `silence` the longest wait after a repeated ACK for the next
        byte (seconds, inf when none came)."""
        self.proc.terminate()
        self.proc.wait(10)
        self.proc.stdout.close()
        with open(self.summary_path) as f:
            summary = json.load(f)
        os.unlink(self.summary_path)
        self.blocks = summary["blocks"]
        self.injected = [ms / 1000 for ms in summary["injectedAfterMs"]]
        self.replied = [ms / 1000 for ms in summary["repliedAfterMs"]]
        silence = summary["silenceAfterAckMs"]
        self.silence = float("inf") if silence is None else silence / 1000


def last_block_guard(trace):
    """The last block's guard, in seconds: the one read time-out the trace sets short of the
    commands' 3 s while keeping their write time-out. None where no ACK of it was ever taken."""
    with open(trace) as f:
        for fields in (line.split() for line in f):
            if fields[1:2] == ["timeouts"] and fields[6] == "3000" and fields[4] != "3000":
                return (int(fields[4]) - 2) / 1000  # less the pseudo-terminal's own delivery
    return None


class StaleAck(PtyCase):
    """The last block corrupted on every send, the previous ACK repeated 5 to 25 ms after each
    send: before the block could have crossed, after it, and after the controller's NAK. Both
    link kinds: RV7-G on its serial line, ZL500-AIO standing for its USB port (plcsim --wire on
    both, so that the NAK comes a block's wire time after the send). With the stale-reply rule
    on and off, the updater ends with the whole image or with "FAILED", never "SUCCESSFUL" with
    a block missing."""

    def run_through_proxy(self, profile, target, wire_timing, delay_ms=6, *cli_args):
        sim = self.start_sim(profile, "--wire", "--reconnect-after", "300", "--exit-after-update")
        proxy = StaleAckProxy(sim.port, self.tmp.name, self.plan(profile)["blockSize"], target,
                              delay_ms)
        try:
            env = dict(os.environ, FWBURN_WIRE_TIMING=wire_timing)
            p = subprocess.run(cli_command(profile, "--port", proxy.port, "--yes", *cli_args),
                               env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                               timeout=300)
        finally:
            proxy.close()
        sim.stop()
        return p, proxy, sim

    def test_a_repeated_ack_never_stands_for_a_corrupted_last_block(self):
        for profile in ("rv7g", "aio"):
            need(self, profile)
            # A clean run through the proxy: the proxy breaks nothing, and it names the number of
            # the last block.
            p, proxy, sim = self.run_through_proxy(profile, None, "on")
            self.assertEqual(p.returncode, 0, p.stderr)
            self.assert_flash_is_image(profile, sim)
            blocks = sim.summary["blocksTaken"]
            self.assertEqual(proxy.blocks, blocks)
            for delay_ms in (5, 10, 15, 25):
                for wire_timing in ("on", "off"):
                    with self.subTest(profile=profile, delay_ms=delay_ms, wire_timing=wire_timing):
                        # A run decides the case when the proxy repeated the ACK when it was
                        # meant to and the controller's NAK came within the guard after it: a
                        # NAK later than that is the hole the guard leaves (a loaded machine
                        # makes one, and the pty suite runs beside the builds), and the run is
                        # made again. A run that ended "SUCCESSFUL" decides the case only when no
                        # repeated ACK was left alone for half the guard or more: a longer
                        # silence, the pseudo-terminal's delivery late on a loaded machine, may
                        # be the hole. A decisive run must end whole or FAILED.
                        for _ in range(6):
                            trace = os.path.join(self.tmp.name, "stale.trace")
                            p, proxy, sim = self.run_through_proxy(
                                profile, blocks, wire_timing, delay_ms, "--json", "--trace", trace)
                            self.assertTrue(proxy.injected, "no ACK was injected")
                            guard = last_block_guard(trace)
                            decisive = len(proxy.replied) >= len(proxy.injected) and all(
                                delay_ms / 1000 <= i <= delay_ms / 1000 + 0.008
                                and (guard is None or r - i <= guard)
                                for i, r in zip(proxy.injected, proxy.replied)) and (
                                p.returncode != 0 or guard is None
                                or proxy.silence < guard / 2)
                            if decisive:
                                break
                        self.assertTrue(decisive, ("guard", guard, "injected", proxy.injected,
                                                   "replied", proxy.replied, "silence",
                                                   proxy.silence, "exit", p.returncode))
                        self.assert_whole_or_failed(profile, blocks, wire_timing, p, sim)

    def plan(self, profile):
        """The update's plan, as the first JSON line says it before any port is opened."""
        p = subprocess.run(cli_command(profile, "--json", "--yes", "--port", "/nonexistent"),
                           stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
        return json.loads(p.stdout.splitlines()[0])

    def assert_whole_or_failed(self, profile, blocks, wire_timing, p, sim):
        outcome = json.loads(p.stdout.splitlines()[-1])
        self.assertEqual(outcome["event"], "outcome")
        if p.returncode == 0:
            self.assert_flash_is_image(profile, sim)
        else:
            self.assertEqual(p.returncode, 7, p.stdout + p.stderr)
            self.assertNotIn("SUCCESSFUL", p.stdout + p.stderr)
            self.assertEqual(p.stderr.splitlines()[-1], "ERROR: Firmware update is FAILED")
            self.assertEqual(sim.summary["blocksTaken"], blocks - 1)
        if wire_timing == "off":
            # Every stale ACK was read as a reply, caught after one, or dropped before a write:
            # none vanishes unsaid.
            self.assertGreaterEqual(outcome["surplusBytes"], 1, outcome)

    def test_a_clean_update_puts_the_same_bytes_on_the_wire(self):
        """Each request once, in order, the EOT straight after the last block's ACK: the guard
        is a read, the trace shows it as a quiet one between two time-out changes."""
        need(self, "rv7g")
        sim = self.start_sim("rv7g", "--wire", "--exit-after-update")
        trace = os.path.join(self.tmp.name, "clean.trace")
        p = subprocess.run(cli_command("rv7g", "--port", sim.port, "--yes", "--trace", trace),
                           stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=300)
        sim.stop()
        self.assertEqual(p.returncode, 0, p.stderr)
        with open(trace) as f:
            events = [line.split() for line in f.read().splitlines()[1:]]
        tx = [e for e in events if e[1] == "tx"]
        self.assertFalse([e for e in tx if "retry" in e])
        blocks = [e[2] for e in tx if e[2].startswith("block-")]
        self.assertEqual(len(blocks), sim.summary["blocksTaken"])
        self.assertEqual(blocks, ["block-%d" % (n % 256) for n in range(1, len(blocks) + 1)])
        self.assertEqual(tx[-1][2], "EOT")
        last = max(i for i, e in enumerate(events) if e[1] == "tx" and e[2] == blocks[-1])
        eot = max(i for i, e in enumerate(events) if e[1] == "tx" and e[2] == "EOT")
        between = [e[1:] for e in events[last + 1:eot]]
        self.assertEqual([e[0] for e in between], ["rx", "timeouts", "rx", "timeouts", "discard"])
        self.assertEqual(between[1], ["timeouts", "4294967295", "0", "22", "0", "3000"])
        self.assertEqual(between[2][2], "-")  # nothing came in the guard
        self.assertFalse([e for e in events if e[1] == "discard" and len(e) > 2])


class TooFastALine(PtyCase):
    """A controller that answers sooner than its line could carry the request (an emulated UART
    passes bytes on at once): with the rule on, every reply is dropped, and the trace says how
    many bytes went, so that such a line is told from a silent controller."""

    def run_rv7g(self, *sim_args):
        sim = self.start_sim("rv7g", "--exit-after-update", *sim_args)
        trace = os.path.join(self.tmp.name, "trace.txt")
        env = dict(os.environ, FWBURN_WIRE_TIMING="on")
        p = subprocess.run(cli_command("rv7g", "--port", sim.port, "--yes", "--trace", trace),
                           env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                           timeout=300)
        sim.stop()
        with open(trace) as f:
            notes = [line.split(" ", 2)[2] for line in f.read().splitlines()
                     if line.split(" ")[1:2] == ["note"]]
        return p, sim, notes

    def test_the_trace_counts_the_replies_dropped_as_stale(self):
        need(self, "rv7g")
        p, sim, notes = self.run_rv7g()  # no --wire: each reply comes at once
        # The run ends before the erase for want of replies: silence at a request, or, where a
        # loaded machine read the earlier replies late enough to take them, silence at the
        # variant read, which an RV7-G program tells as the other variant.
        self.assertIn(p.returncode, (5, 6), p.stderr)
        self.assertRegex(p.stderr.splitlines()[-1],
                         r"^ERROR: (NO RESPONSE @ State \d|Check PLC, RV7-KT5 is different "
                         r"than RV7-G)$")
        self.assertEqual(sim.summary["eraseSteps"], 0)
        sent = sim.summary["bytesSent"]
        self.assertGreater(sent, 0)
        # The controller's bytes were dropped, and said so once, just before the close. On a
        # loaded machine a reply read late is taken as in time, so at most every byte.
        stale = [n for n in notes if n.startswith("stale ")]
        self.assertEqual(len(stale), 1, notes)
        self.assertEqual(notes[-2:], [stale[0], "close " + sim.port])
        dropped = int(stale[0].split()[1])
        self.assertTrue(0 < dropped <= sent, (dropped, sent))

        # At wire speed no reply is early: a success, and no such note.
        p, sim, notes = self.run_rv7g("--wire")
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assert_flash_is_image("rv7g", sim)
        self.assertFalse([n for n in notes if n.startswith("stale ")], notes)


if __name__ == "__main__":
    unittest.main()
