#!/usr/bin/env python3
"""A stale block acknowledgement on a line with wire timing.

plcsim --wire gives the pseudo-terminal a wire: every byte takes its time at the baud rate the
host set. A proxy between host and controller corrupts the last block (the controller NAKs it)
and repeats the previous block's ACK 6 ms after the host wrote the block, before the block's
133 bytes (RV7-G sends 128 data bytes a block) could have crossed at 115200 (11.5 ms). FWBURN_WIRE_TIMING tells the host that
this pseudo-terminal has a wire.

CTest runs one test class per entry (see CMakeLists.txt).
"""
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
    def run_through_proxy(self, target, wire_timing):
        sim = self.start_sim("rv7g", "--wire", "--reconnect-after", "300", "--exit-after-update")
        proxy = StaleAckProxy(sim.port, target)
        try:
            env = dict(os.environ, FWBURN_WIRE_TIMING=wire_timing)
            p = subprocess.run(cli_command("rv7g", "--port", proxy.port, "--yes"), env=env,
                               stdin=subprocess.DEVNULL, capture_output=True, text=True,
                               timeout=300)
        finally:
            proxy.close()
        sim.stop()
        return p, proxy, sim

    def test_a_repeated_ack_never_stands_for_a_corrupted_last_block(self):
        need(self, "rv7g")
        # A clean run through the proxy: the proxy itself breaks nothing, and it names the
        # number of the last block.
        p, proxy, sim = self.run_through_proxy(None, "on")
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assert_flash_is_image("rv7g", sim)
        blocks = sim.summary["blocksTaken"]
        self.assertEqual(proxy.ordinal_of_last(), blocks)

        # Without the rule the repeated ACK is taken for the last block: "SUCCESSFUL" with a
        # block missing. With it the host waits for the real answer, the NAK, resends, and
        # gives up on a block that never gets through.
        for wire_timing, success in (("off", True), ("on", False)):
            with self.subTest(wire_timing=wire_timing):
                p, proxy, sim = self.run_through_proxy(blocks, wire_timing)
                self.assertTrue(proxy.injected, "no ACK was injected")
                self.assertTrue(all(0.005 <= t <= 0.010 for t in proxy.injected),
                                proxy.injected)
                if success:
                    self.assertEqual(p.returncode, 0, p.stderr)
                    self.assertEqual(p.stdout.splitlines()[-1], SUCCESS_SERIAL)
                    self.assertEqual(sim.summary["blocksTaken"], blocks - 1)
                    self.assertFalse(sim.summary["flashMatchesImage"])
                else:
                    self.assertEqual(p.returncode, 7, p.stdout + p.stderr)
                    self.assertNotIn("SUCCESSFUL", p.stdout + p.stderr)
                    self.assertEqual(p.stderr.splitlines()[-1], "ERROR: Firmware update is FAILED")
                    self.assertEqual(proxy.sends_of_target, 6)  # the first send and 5 more
                    self.assertEqual(sim.summary["blocksTaken"], blocks - 1)


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
        self.assertEqual(p.stderr.splitlines()[-1], "ERROR: NO RESPONSE @ State 1")
        sent = sim.summary["bytesSent"]
        self.assertGreater(sent, 0)
        # Every byte the controller sent was dropped, and said so once, just before the close.
        self.assertEqual(notes[-2:], ["stale %d bytes dropped" % sent, "close " + sim.port])
        self.assertEqual(sum(n.startswith("stale ") for n in notes), 1)

        # At wire speed no reply is early: a success, and no such note.
        p, sim, notes = self.run_rv7g("--wire")
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assert_flash_is_image("rv7g", sim)
        self.assertFalse([n for n in notes if n.startswith("stale ")], notes)


if __name__ == "__main__":
    unittest.main()
