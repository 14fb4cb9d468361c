#!/usr/bin/env python3
"""A minimal simulated controller on a pseudo-terminal, for the Windows programs under Wine until
the simulator program serves one: the happy path of one serial-linked model, written from the
controller's side (its own LRC and CRC).

  pty_peer.py --model RV7-G|TQ38 --link PATH --flash OUT [--block-delay-ms N]

Makes PATH a symlink to the pty's terminal, prints "ready" and serves until SIGTERM. SIGUSR1 is the
operator's power cycle. The flash (every block taken, fill included) is written to OUT after each
block, and "flash complete" is logged when the closing EOT is acknowledged. Everything received
that the controller does not expect is logged as "violation: ..." so a test can fail on it.
"""
import argparse
import os
import pty
import select
import signal
import sys
import termios
import time
import tty

ACK, NAK, EOT, STX = 0x06, 0x15, 0x04, 0x02

MODELS = {
    # model: (application ID, boot ID, variant register and value, power-cycle model)
    "RV7-G": (0x000C, 0x000C, (0x156A, 0x4138), True),
    "TQ38": (0x0013, 0x0013, (0x147C, 0x0001), False),
}
BLOCK = 128  # both models take 128-byte blocks


def log(*parts):
    print(*parts, flush=True)


def lrc(data):
    return (-sum(data)) & 0xFF


def frame(data):
    return (":" + "".join("%02X" % b for b in data + bytes([lrc(data)])) + "\r\n").encode()


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else (crc << 1)
            crc &= 0xFFFF
    return crc


class Controller:
    def __init__(self, model, flash_path, block_delay):
        self.app_id, self.boot_id, (self.reg, self.reg_value), self.power_cycle = MODELS[model]
        self.flash_path = flash_path
        self.block_delay = block_delay
        self.state = "application"
        self.buf = bytearray()
        self.flash = bytearray()
        self.next_block = 1
        self.erase_steps = 0
        self.erased = False

    # --- replies -------------------------------------------------------------------------
    def status_reply(self, status, b5=0, b6=0):
        return frame(bytes([0x00, 0x64, 0x01, 0x59, status, b5, b6]))

    def ascii_request(self, text):
        body = text[1:].rstrip(b"\r\n")
        try:
            data = bytes.fromhex(body.decode())
        except ValueError:
            log("violation: bad ASCII request", text)
            return None
        if lrc(data[:-1]) != data[-1]:
            log("violation: bad LRC", text)
            return None
        d = data[:-1]
        if self.state == "awaiting power cycle":
            return b""  # switched off, as far as the line can tell
        if d == bytes([0x00, 0x64, 0x01, 0x59, 0x06]):
            if self.state == "update accepted":
                self.state = "boot"  # restarts into its bootloader by itself
                log("restarted into the bootloader")
            else:
                log("violation: acknowledgement without an accepted update request")
            return b""
        if d == bytes([0x00, 0x7F]):
            return b":007F0081\r\n"  # wake: 11 characters, read and dropped by the host
        if d == bytes([0x00, 0x64, 0x01, 0x59, 0x01]):
            return self.status_reply(5 if self.state == "application" else 6)
        if self.state != "application":
            log("violation: application request in boot mode", text)
            return None
        if d == bytes([0x00, 0x64, 0x01, 0x59, 0x49, 0x44]):
            return self.status_reply(ACK, self.app_id >> 8, self.app_id & 0xFF)
        if d[:2] == bytes([0x00, 0x03]) and len(d) == 6:
            value = self.reg_value if (d[2] << 8 | d[3]) == self.reg else 0
            return frame(bytes([0x00, 0x03, 0x02, value >> 8, value & 0xFF]))
        if d == bytes([0x00, 0x64, 0x01, 0x59]) + b"ERASE":
            if self.power_cycle:
                self.state = "awaiting power cycle"  # accepts without a word
                log("update request accepted, silent")
                return b""
            self.state = "update accepted"
            return self.status_reply(ACK)
        log("violation: unknown request", text)
        return None

    def power_on(self):
        if self.state == "awaiting power cycle":
            self.state = "boot"
            log("powered on into the bootloader")
        else:
            log("powered on")

    # --- byte intake ---------------------------------------------------------------------
    def take(self, data):
        """Returns the bytes to send back."""
        self.buf += data
        out = bytearray()
        while self.buf:
            b = self.buf[0]
            if self.state == "transfer" and b == STX:
                if len(self.buf) < BLOCK + 5:
                    break
                out += self.block(bytes(self.buf[: BLOCK + 5]))
                del self.buf[: BLOCK + 5]
                continue
            if b == ord(":"):
                end = self.buf.find(b"\n")
                if end < 0:
                    break
                reply = self.ascii_request(bytes(self.buf[: end + 1]))
                del self.buf[: end + 1]
                out += reply or b""
                continue
            if b == EOT and self.state in ("erase", "transfer"):
                del self.buf[:1]
                out += self.eot()
                continue
            words = [b"ID", b"VERSION", b"ERASE", b"UPDATE"]
            matched = [w for w in words if self.buf.startswith(w)]
            if matched and self.state in ("boot", "erase"):
                word = matched[0]
                del self.buf[: len(word)]
                out += self.word(word)
                continue
            if any(w.startswith(bytes(self.buf)) for w in words):
                break  # a word not complete yet
            log("violation: unexpected byte 0x%02X in state %s" % (b, self.state))
            del self.buf[:1]
        return bytes(out)

    def word(self, word):
        if word == b"ID":
            return bytes([ACK, self.boot_id >> 8, self.boot_id & 0xFF])
        if word == b"VERSION":
            return bytes([ACK, 0x01, 0x00])
        if word == b"ERASE":
            self.state = "erase"
            self.erased = False
            self.erase_steps += 1
            self.flash = bytearray()
            return bytes([ACK])
        if word == b"UPDATE":
            if not self.erased:
                log("violation: UPDATE before an erase")
            self.state = "transfer"
            self.next_block = 1
            log("update: %d erase steps" % self.erase_steps)
            return bytes([ACK])
        return b""

    def eot(self):
        if self.state == "erase":
            self.state = "boot"
            self.erased = True
            return bytes([ACK])
        self.state = "done"
        log("flash complete: %d blocks, %d bytes" % ((len(self.flash) // BLOCK), len(self.flash)))
        return bytes([ACK])

    def block(self, f):
        number, complement, data = f[1], f[2], f[3 : 3 + BLOCK]
        crc = f[3 + BLOCK] << 8 | f[4 + BLOCK]
        if (number + complement) & 0xFF != 0xFF or crc != crc16(data):
            log("violation: damaged block %d" % number)
            return bytes([NAK])
        if number == (self.next_block - 1) & 0xFF and self.flash:
            return bytes([ACK])  # a resend of the block already taken
        if number != self.next_block:
            log("violation: block %d out of order (expected %d)" % (number, self.next_block))
            return bytes([NAK])
        self.flash += data
        self.next_block = (self.next_block + 1) & 0xFF
        with open(self.flash_path, "wb") as out:
            out.write(self.flash)
        if self.block_delay:
            time.sleep(self.block_delay / 1000.0)
        return bytes([ACK])


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--model", required=True, choices=sorted(MODELS))
    p.add_argument("--link", required=True)
    p.add_argument("--flash", required=True)
    p.add_argument("--block-delay-ms", type=int, default=0)
    a = p.parse_args()

    master, slave = pty.openpty()
    # Raw from the start; the host sets its line settings over these. Keeping a slave descriptor
    # open here keeps the master readable while the host has the port closed.
    tty.setraw(slave)
    name = os.ttyname(slave)
    if os.path.lexists(a.link):
        os.unlink(a.link)
    os.symlink(name, a.link)
    controller = Controller(a.model, a.flash, a.block_delay_ms)
    signal.signal(signal.SIGUSR1, lambda *_: controller.power_on())
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    log("ready", name)
    while True:
        try:
            ready, _, _ = select.select([master], [], [], 0.5)
        except InterruptedError:
            continue
        if not ready:
            continue
        try:
            data = os.read(master, 4096)
        except OSError:
            time.sleep(0.05)
            continue
        log("rx %d bytes in state %s" % (len(data), controller.state))
        reply = controller.take(data)
        if reply:
            os.write(master, reply)
            # The host's line settings as the pty keeps them: the switch to 115200 shows here.
        if controller.state == "transfer" and controller.next_block == 2:
            speed = termios.tcgetattr(slave)[4]
            if speed != getattr(controller, "logged_speed", None):
                controller.logged_speed = speed
                log("line speed code", speed)


if __name__ == "__main__":
    main()
