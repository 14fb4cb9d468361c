#!/usr/bin/env python3
"""The console programs on a pseudo-terminal of a set width, as a person's terminal: no line ever
runs past the right edge (where the terminal would wrap it), the window's own messages broken
between their words, also after the window is made narrower during the transfer; the result and total time close the run, coloured only without
NO_COLOR, and output that is not a terminal carries no escape sequence at all.
"""
import fcntl
import os
import pty
import re
import select
import struct
import subprocess
import termios
import time
import unittest

from console_pty_test import PtyCase, cli_command, need, run_cli

ESCAPE = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]")


def set_columns(fd, columns, rows=24):
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))


class Screen:
    """A terminal's model: the cursor's column and the row under it, followed through carriage
    returns, line ends, clears to the end of the line and other escape sequences (left out); a
    character written past the last column wraps, as a terminal would make it."""

    def __init__(self, columns):
        self.columns = columns
        self.column = 0
        self.row = ""
        self.wrapped = []  # (width then, the row so far)
        self.lines = []    # every row as it was left at its line end

    def feed(self, data, check=True):
        for piece in re.split(rb"(\x1b\[[0-9;?]*[A-Za-z]|\r|\n)", data):
            if not piece:
                continue
            if piece == b"\r":
                self.column = 0
            elif piece == b"\n":
                self.lines.append(self.row)
                self.column = 0
                self.row = ""
            elif piece == b"\x1b[K":
                self.row = self.row[:self.column]
            elif piece.startswith(b"\x1b"):
                continue
            else:
                for ch in piece.decode(errors="replace"):
                    self.row = self.row[:self.column] + ch + self.row[self.column + 1:]
                    self.column += 1
                    if self.column >= self.columns:
                        if check:
                            self.wrapped.append((self.columns, self.row))
                        self.lines.append(self.row)
                        self.column = 0
                        self.row = ""


class TerminalRun:
    """A console program whose controlling terminal is a pty of `columns` columns: a resize of
    the pty sends it SIGWINCH as a terminal window's would."""

    def __init__(self, profile, port, columns, env=None, more=(), rows=24):
        self.master, slave = pty.openpty()
        set_columns(self.master, columns, rows)
        environment = dict(os.environ, TERM="xterm")
        environment.pop("NO_COLOR", None)
        environment.update(env or {})

        def controlling_terminal():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        self.proc = subprocess.Popen(cli_command(profile, "--port", port, *more, "--yes"), stdin=slave,
                                     stdout=slave, stderr=slave, env=environment,
                                     preexec_fn=controlling_terminal, close_fds=True)
        os.close(slave)
        self.output = b""

    def read(self, until=None, timeout=120):
        """Reads until `until` (bytes) has come, or the program ended; what came meanwhile."""
        start = len(self.output)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if until is not None and until in self.output[start:]:
                break
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if ready:
                try:
                    chunk = os.read(self.master, 65536)
                except OSError:  # the program has ended and the line hung up
                    break
                if not chunk:
                    break
                self.output += chunk
            elif self.proc.poll() is not None:
                break
        return self.output[start:]

    def finish(self):
        self.read()
        os.close(self.master)
        return self.proc.wait(timeout=30)


class Widths(PtyCase):
    def run_at(self, profile, columns, env=None, *sim_args):
        need(self, profile)
        sim = self.start_sim(profile, "--exit-after-update", *sim_args)
        run = TerminalRun(profile, sim.port, columns, env)
        return sim, run

    def test_nothing_wraps_at_80_or_60_columns(self):
        for columns in (80, 60):
            with self.subTest(columns=columns):
                sim, run = self.run_at("cpu", columns)
                self.assertEqual(run.finish(), 0, run.output)
                screen = Screen(columns)
                screen.feed(run.output)
                self.assertEqual(screen.wrapped, [], run.output[-400:])
                text = run.output.decode()
                self.assertIn("8096/8096 blocks", text)
                # The start line is broken, never wrapped: the image name whole on one row.
                name = "ZL500_v1.06.40_0628_01_DDRVA_odd_axis_resume.bin"
                self.assertTrue(any(name in row for row in screen.lines), screen.lines[:4])
                self.assertIn("(2076672", text)
                self.assertRegex(screen.lines[-1], r"^Result: success, total time \d+:\d\d$")
                self.assertIn(b"\x1b[32msuccess\x1b[0m", run.output)
                sim.stop()
                self.assert_flash_is_image("cpu", sim)

    def test_the_windows_messages_break_between_words_at_80_and_40_columns(self):
        # The reconnect line with --yes is 82 columns, the success message 72.
        for columns in (80, 40):
            with self.subTest(columns=columns):
                sim, run = self.run_at("aio", columns)
                self.assertEqual(run.finish(), 0, run.output)
                screen = Screen(columns)
                screen.feed(run.output)
                self.assertEqual(screen.wrapped, [], run.output)
                words = " ".join(line.strip() for line in screen.lines)
                for said in ("Information: Please REPLUG the USB Cable, and then press Enter to "
                             "continue [--yes]",
                             "Information: Firmware update is SUCCESSFUL!, please REPLUG the "
                             "USB cable"):
                    self.assertIn(said, words)
                sim.stop()

    def test_a_refusal_before_any_controller_breaks_between_words_at_40_columns(self):
        # Said before there is a screen: a trace that cannot be written, no port to list.
        need(self, "aio")
        nowhere = {"FWBURN_SYSFS_ROOT": "/nonexistent", "FWBURN_DEV_ROOT": "/nonexistent"}
        sim = self.start_sim("aio")
        for more, code, said in (
                (("--trace", "/nonexistent/dir/link.trace"), 2,
                 "--trace /nonexistent/dir/link.trace: cannot write the file: No such file or "
                 "directory"),
                (("--list-ports",), 0, "fwburn-aio-cli: no controller on the USB link found")):
            with self.subTest(said=said):
                run = TerminalRun("aio", sim.port, 40, nowhere, more)
                self.assertEqual(run.finish(), code, run.output)
                screen = Screen(40)
                screen.feed(run.output)
                self.assertEqual(screen.wrapped, [], run.output)
                self.assertIn(said, " ".join(line.strip() for line in screen.lines))

    def test_a_window_made_narrower_mid_transfer_is_followed(self):
        # Block 2001 is answered 2.5 s late: the pty is resized while the transfer waits on it.
        sim, run = self.run_at("cpu", 80, None, "--fault", "late=2500@block:2000x1")
        before = run.read(until=b"2000/8096 blocks", timeout=120)
        self.assertIn(b"2000/8096 blocks", before)
        self.assertIsNone(run.proc.poll())
        screen = Screen(80)
        screen.feed(run.output)
        set_columns(run.master, 60)  # the kernel sends SIGWINCH to the program
        resized = len(run.output)
        time.sleep(0.3)  # a redraw already on its way may still be 80 wide
        run.read(timeout=0.01)
        grace = len(run.output)
        screen.feed(run.output[resized:grace], check=False)
        screen.columns = 60
        code = run.finish()
        after = run.output[grace:]
        screen.feed(after)
        self.assertEqual(code, 0, run.output[-400:])
        self.assertEqual(screen.wrapped, [], after[-600:])
        # The transfer went on after the resize, redrawn on the narrower line.
        self.assertGreater(after.count(b"\r"), 5, after)
        self.assertIn(b"8096/8096 blocks", after)
        sim.stop()

    def test_several_controllers_fit_and_keep_their_retries_on_their_lines(self):
        need(self, "aio")
        good = self.start_sim("aio", "--exit-after-update")
        bad = self.start_sim("aio", "--exit-after-update", "--fault", "nak@block:30x99")
        run = TerminalRun("aio", good.port, 60, more=("--port", bad.port))
        self.assertEqual(run.finish(), 7, run.output)
        screen = Screen(60)
        screen.feed(run.output)
        self.assertEqual(screen.wrapped, [], run.output[-600:])
        # The failing controller's line carries its retries; no line of its own is said for each.
        self.assertNotIn(b"Retry:", run.output)
        text = run.output.decode()
        self.assertRegex(text, r"update-failed +Programming 30/44 blocks +retries 6/6")
        self.assertIn("Summary:", text)

    def test_a_board_taller_than_the_terminal_stays_below_its_top_row(self):
        # Six controllers on six rows: a redraw that climbed to the top would smear the
        # scrollback at every tick. The failing one, named last, comes first on the board and is
        # named again after the summary.
        need(self, "aio")
        sims = [self.start_sim("aio", "--exit-after-update") for _ in range(5)]
        sims.append(self.start_sim("aio", "--exit-after-update", "--fault", "nak@block:10x99"))
        more = [a for sim in sims[1:] for a in ("--port", sim.port)]
        run = TerminalRun("aio", sims[0].port, 80, more=more, rows=6)
        self.assertEqual(run.finish(), 7, run.output[-600:])
        climbs = [int(n) for n in re.findall(rb"\x1b\[(\d+)A", run.output)]
        self.assertTrue(climbs, run.output[-600:])
        self.assertLessEqual(max(climbs), 4, run.output[-600:])
        before, summary = run.output.decode().split("Summary:", 1)
        # The last board, four lines: the rows but the top one and the cursor's.
        board = [ESCAPE.sub(b"", line.encode()).decode().strip("\r")
                 for line in before.split("\r\n")[-5:-1]]
        failing = sims[5].port[len("/dev/"):]
        self.assertEqual(board[0].split()[:2], [failing, "update-failed"], board)
        self.assertEqual(board[3], "+3 more: 3 succeeded", board)
        table = summary.strip().splitlines()
        self.assertEqual([line.split()[:2] for line in table[1:-1]],
                         [[sim.port, "success"] for sim in sims[:5]] +
                         [[sims[5].port, "update-failed"]])
        # Taller than the terminal: the line after it names the failure scrolled out of sight.
        self.assertEqual(table[-1], "Not succeeded: 1 of 6: %s update-failed" % sims[5].port)

    def test_no_colour_with_no_color_set_even_empty(self):
        for value in ("1", ""):
            with self.subTest(NO_COLOR=value):
                sim, run = self.run_at("aio", 80, {"NO_COLOR": value})
                self.assertEqual(run.finish(), 0, run.output)
                self.assertIn(b"Result: success, total time", run.output)
                colours = [m for m in ESCAPE.findall(run.output)
                           if m not in (b"\x1b[?25l", b"\x1b[?25h", b"\x1b[K")]
                self.assertEqual(colours, [], run.output)
                sim.stop()

    def test_no_escape_sequence_without_a_terminal(self):
        for args in ((), ("--json",)):
            with self.subTest(args=args):
                need(self, "aio")
                sim = self.start_sim("aio", "--exit-after-update")
                r = run_cli("aio", "--port", sim.port, "--yes", *args)
                self.assertEqual(r.code, 0, r)
                self.assertNotIn("\x1b", r.out + r.err)
                self.assertNotIn("total time", r.out + r.err)
                sim.stop()


if __name__ == "__main__":
    unittest.main()
