#!/usr/bin/env python3
"""A stale block acknowledgement on the guest's UART: a proxy between QEMU's serial line and plcsim.

    stale_ack_proxy.py [--block-size N] [--any-rate] UPSTREAM TARGET DELAY_MS[,DELAY_MS...] SUMMARY_JSON

Serves a pseudo-terminal of its own (its path is the first line on stdout: "proxy on PATH") for
QEMU's serial backend (the guest's UART, or its emulated USB-serial adapter) and relays to
plcsim's port UPSTREAM, passing on the line settings the guest sets. Every send of the TARGET-th
block (counted from 1; a resend of a block does not count again) has one data byte inverted, so
the controller NAKs it, and the previous block's ACK goes to the guest DELAY_MS after the block's
first byte came through: 5 ms is sooner than the block could have crossed a line at 115200, 15
and 25 ms later. Each transfer (the line switched to 115200) takes the next delay of the list,
the last one repeating; a delay of 0 leaves that transfer alone. Bytes reach the proxy in the
pieces QEMU sends, so blocks are found in the byte stream, not per read. On SIGTERM it writes
SUMMARY_JSON: blocks seen and sends of the target in the last transfer, and per transfer the
delay and, for each send of the target, the injected ACK's and the controller's own reply's
times after the block's first byte; and "timeline", from the target's first send on, what the
guest got when ("ack" injected, "reply" the controller's) and when the guest ended the transfer
("eot"), in ms after that first send; "silenceAfterAckMs", the longest time from an injected ACK
before the EOT to the next byte the guest got (null: none came), which the last block's guard must
outlast for the run to say anything of it.

--block-size is the block's data bytes (128, the serial test profile's). --any-rate makes the
whole session one transfer whatever the line's rate: a USB model's port (the pty tests) never
switches to 115200.
"""
import argparse
import json
import os
import select
import signal
import termios
import time
import tty

STX, EOT, ACK = 0x02, 0x04, 0x06
CORRUPT_AT = 10


class BlockFinder:
    """Follows the host's bytes once the line runs at transfer speed. A block starts with STX
    followed by a number and its complement; anything else between blocks (EOT) is passed over."""

    def __init__(self, target, block_size):
        self.target = target
        self.frame = 3 + block_size + 2  # STX, number, its complement, data, CRC
        self.numbers = []  # block numbers in the order the host sent them
        self.at = 0  # position in the current block, 0 between blocks
        self.head = []
        self.hit = False  # the current block is a send of the target

    def ordinal(self):
        return 1 + sum(1 for a, b in zip(self.numbers, self.numbers[1:]) if a != b)

    def feed(self, data, on_target_start, on_eot):
        """Returns the bytes to pass on: the target's data byte inverted."""
        out = bytearray(data)
        for i, b in enumerate(data):
            if self.at == 0:
                if b == STX:
                    self.at, self.head = 1, [b]
                elif b == EOT:
                    on_eot()
                continue
            if self.at < 3:
                self.head.append(b)
                self.at += 1
                if self.at == 3:
                    if self.head[2] != 255 - self.head[1]:
                        self.at = 0  # not a block after all
                        continue
                    self.numbers.append(self.head[1])
                    self.hit = self.ordinal() == self.target
                    if self.hit:
                        on_target_start()
                continue
            if self.hit and self.at == CORRUPT_AT:
                out[i] ^= 0xFF
            self.at += 1
            if self.at == self.frame:
                self.at = 0
        return bytes(out)


def silence_after_a_repeated_ack(timeline):
    """The longest time, in ms, from an ACK repeated before the host's EOT to the next byte the
    host got, whichever send either belonged to: that next byte is what the guard must see (None:
    nothing came after one). A NAK paired with its own send's repeated ACK says nothing once
    resends overlap."""
    eot = next((t for t, what in timeline if what == "eot"), float("inf"))
    got = [(t, what) for t, what in timeline if what != "eot"]
    longest = max((got[k + 1][0] - t if k + 1 < len(got) else float("inf")
                   for k, (t, what) in enumerate(got) if what == "ack" and t < eot), default=0.0)
    return None if longest == float("inf") else round(longest, 2)


def main():
    args = argparse.ArgumentParser()
    args.add_argument("--block-size", type=int, default=128)
    args.add_argument("--any-rate", action="store_true")
    for name in ("upstream", "target", "delays", "summary"):
        args.add_argument(name)
    a = args.parse_args()
    upstream, summary_path, target = a.upstream, a.summary, int(a.target)
    delays = [float(d) for d in a.delays.split(",")]
    up = os.open(upstream, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(up)
    master, slave = os.openpty()
    tty.setraw(slave)  # kept open: the master reads no hang-up before QEMU opens it
    print("proxy on " + os.ttyname(slave), flush=True)

    def transfer():
        """The next transfer: its delay, a fresh count of blocks."""
        delay = delays[min(len(transfers), len(delays) - 1)]
        transfers.append({"delayMs": delay, "injectedAfterMs": [], "repliedAfterMs": [],
                          "timeline": []})
        first[0] = None
        sends[0] = 0
        return BlockFinder(target if delay > 0 else None, a.block_size)

    due, sends, first = [], [0], [None]
    awaiting = []  # the first byte of each target send whose reply has not come yet
    transfers = []  # per transfer: its delay and the ACKs injected in it
    finder = transfer() if a.any_rate else BlockFinder(None, a.block_size)
    fast = False
    stop_r, stop_w = os.pipe()
    signal.signal(signal.SIGTERM, lambda *_: os.write(stop_w, b"x"))

    def mark(what):
        """On the timeline once the target was first sent."""
        if first[0] is not None:
            ms = round((time.monotonic() - first[0]) * 1000, 2)
            transfers[-1]["timeline"].append([ms, what])

    def target_starts():
        delay = transfers[-1]["delayMs"]
        if delay <= 0:
            return
        sends[0] += 1
        now = time.monotonic()
        first[0] = first[0] or now
        due.append((now + delay / 1000.0, now))
        awaiting.append(now)

    while True:
        timeout = max(0.0, min(d for d, _ in due) - time.monotonic()) if due else None
        ready, _, _ = select.select([master, up, stop_r], [], [], timeout)
        now = time.monotonic()
        for item in [d for d in due if d[0] <= now]:
            due.remove(item)
            # Timed before the write, the reply after its own: their difference is never less
            # than the host saw between them.
            transfers[-1]["injectedAfterMs"].append(round((time.monotonic() - item[1]) * 1000, 2))
            os.write(master, bytes([ACK]))
            mark("ack")
        if stop_r in ready:
            break
        if master in ready:
            data = os.read(master, 4096)
            host = termios.tcgetattr(master)
            line = termios.tcgetattr(up)
            if (line[4], line[5], line[2]) != (host[4], host[5], host[2]):
                line[4], line[5], line[2] = host[4], host[5], host[2]
                termios.tcsetattr(up, termios.TCSANOW, line)
            if a.any_rate:
                fast = True
            elif host[5] == termios.B115200 and not fast:
                finder = transfer()
                fast = True
            else:
                fast = host[5] == termios.B115200
            if fast:
                data = finder.feed(data, target_starts, lambda: mark("eot"))
            os.write(up, data)
        if up in ready:
            reply = os.read(up, 4096)
            os.write(master, reply)
            for _ in reply:
                mark("reply")
            if awaiting and reply:
                # The controller's own reply to the target (its NAK), as the host gets it: timed
                # once it is on the host's side.
                transfers[-1]["repliedAfterMs"].append(
                    round((time.monotonic() - awaiting.pop(0)) * 1000, 2))

    with open(summary_path, "w") as f:
        json.dump({"blocks": finder.ordinal() if finder.numbers else 0, "targetSends": sends[0],
                   "injectedAfterMs": transfers[-1]["injectedAfterMs"] if transfers else [],
                   "repliedAfterMs": transfers[-1]["repliedAfterMs"] if transfers else [],
                   "timeline": transfers[-1]["timeline"] if transfers else [],
                   "silenceAfterAckMs": silence_after_a_repeated_ack(
                       transfers[-1]["timeline"] if transfers else []),
                   "transfers": transfers}, f)


if __name__ == "__main__":
    main()
