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
import select
import subprocess
import termios
import threading
import time
import tty
import unittest

from console_pty_test import SUCCESS_SERIAL, PtyCase, cli_command, need

ACK, NAK, STX = 0x06, 0x15, 0x02


class StaleAckProxy:
    """Relays between a host pty of its own and plcsim's port, with the host's baud rate passed
    on. Every send of block `target` (counted from 1; a resend repeats the number before it) is
    corrupted and followed by an ACK to the host `delay_ms` after the proxy read it."""

    def __init__(self, upstream, target=None, delay_ms=6):
        self.target = target
        self.delay = delay_ms / 1000.0
        self.blocks = []  # block numbers in the order the host sent them
        self.sends_of_target = 0
        self.injected = []  # (seconds after the block was read) for each ACK injected
        self.up = os.open(upstream, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.up)
        self.master, slave = os.openpty()
        tty.setraw(slave)
        self.port = os.ttyname(slave)
        os.close(slave)
        self.stop_pipe = os.pipe()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def pass_baud(self):
        host = termios.tcgetattr(self.master)
        up = termios.tcgetattr(self.up)
        if (up[4], up[5]) != (host[4], host[5]):
            up[4], up[5] = host[4], host[5]
            termios.tcsetattr(self.up, termios.TCSANOW, up)

    def run(self):
        due = []  # times at which an ACK goes to the host
        seen_at = []
        while True:
            timeout = max(0.0, min(due) - time.monotonic()) if due else 1.0
            ready, _, _ = select.select([self.master, self.up, self.stop_pipe[0]], [], [], timeout)
            now = time.monotonic()
            for t in [t for t in due if t <= now]:
                due.remove(t)
                os.write(self.master, bytes([ACK]))
                self.injected.append(now - seen_at.pop(0))
            if self.stop_pipe[0] in ready:
                return
            if self.master in ready:
                try:
                    data = bytearray(os.read(self.master, 4096))
                except OSError:  # no host has the port open: wait for one
                    time.sleep(0.01)
                    continue
                self.pass_baud()
                if len(data) >= 3 and data[0] == STX and data[2] == 255 - data[1]:
                    self.blocks.append(data[1])
                    if self.ordinal_of_last() == self.target:
                        self.sends_of_target += 1
                        data[10] ^= 0xFF
                        due.append(now + self.delay)
                        seen_at.append(now)
                os.write(self.up, bytes(data))
            if self.up in ready:
                os.write(self.master, os.read(self.up, 4096))

    def ordinal_of_last(self):
        """The ordinal of the block sent last: resends do not count."""
        return 1 + sum(1 for a, b in zip(self.blocks, self.blocks[1:]) if a != b)

    def close(self):
        os.write(self.stop_pipe[1], b"x")
        self.thread.join(5)
        for fd in (self.master, self.up) + self.stop_pipe:
            os.close(fd)


class StaleAck(PtyCase):
    """The last block corrupted on every send, the previous ACK repeated 5 to 25 ms after each
    send: before the block could have crossed, after it, and after the controller's NAK. Both
    link kinds: RV7-G on its serial line, ZL500-AIO standing for its USB port (plcsim --wire on
    both, so that the NAK comes a block's wire time after the send). With the stale-reply rule
    on and off, the updater ends with the whole image or with "FAILED", never "SUCCESSFUL" with
    a block missing."""

    def run_through_proxy(self, profile, target, wire_timing, delay_ms=6, *cli_args):
        sim = self.start_sim(profile, "--wire", "--reconnect-after", "300", "--exit-after-update")
        proxy = StaleAckProxy(sim.port, target, delay_ms)
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
            self.assertEqual(proxy.ordinal_of_last(), blocks)
            for delay_ms in (5, 10, 15, 25):
                for wire_timing in ("on", "off"):
                    with self.subTest(profile=profile, delay_ms=delay_ms, wire_timing=wire_timing):
                        # A case counts only when the proxy repeated the ACK when it was
                        # meant to; a loaded machine may make it late, and the run is made again.
                        # Every run, late or not, must end whole or FAILED.
                        for _ in range(3):
                            p, proxy, sim = self.run_through_proxy(profile, blocks, wire_timing,
                                                                   delay_ms, "--json")
                            self.assert_whole_or_failed(profile, blocks, wire_timing, p, sim)
                            self.assertTrue(proxy.injected, "no ACK was injected")
                            on_time = all(delay_ms / 1000 <= t <= delay_ms / 1000 + 0.008
                                          for t in proxy.injected)
                            if on_time:
                                break
                        self.assertTrue(on_time, proxy.injected)

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
        self.assertEqual(p.returncode, 6, p.stderr)
        self.assertRegex(p.stderr.splitlines()[-1], r"^ERROR: NO RESPONSE @ State \d$")
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
