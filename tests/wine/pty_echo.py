#!/usr/bin/env python3
"""Serves pseudo-terminals that echo what they receive, linked at the given paths (Wine's
dosdevices entries), for the link tests. Prints "ready" and runs until SIGTERM."""
import os
import pty
import select
import signal
import sys
import tty


def main():
    masters = []
    for link in sys.argv[1:]:
        master, slave = pty.openpty()
        tty.setraw(slave)
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(os.ttyname(slave), link)
        masters.append((master, slave))
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print("ready", flush=True)
    fds = [m for m, _ in masters]
    while True:
        ready, _, _ = select.select(fds, [], [], 0.5)
        for fd in ready:
            try:
                os.write(fd, os.read(fd, 4096))
            except OSError:
                pass


if __name__ == "__main__":
    main()
