#!/usr/bin/env python3
"""Plays a recorded device into a pseudo-terminal, as the device would send it on a serial line.

    replay.py RECORDING [--baud N] [--link PATH] [--wait S] [--linger S] [--repeat N]

Opens a pseudo-terminal in raw mode and prints its device on the first line ("device: PATH");
with --link, PATH also names it (a symbolic link, removed at the end), so that a diagram can keep
one device name. It then waits (up to --wait seconds) until a program opens the device, and
writes the recording's bytes at the pace of the line: BAUD / 10 bytes a second (8 data bits, a
start and a stop bit), a few milliseconds' worth at a time. Bytes that the program sends to the
device (a tracker's commands) are printed as they come, one line per read: "from program: 0x...".
After the last byte it keeps the device open until the program closes it (or --linger seconds
pass), so that the program sees no hang-up. Standard library only.
"""
import argparse
import os
import pty
import select
import sys
import time
import tty

TICK_S = 0.005


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[1])
    ap.add_argument("recording", help="the bytes to play (gps.nmea, tracker.bin)")
    ap.add_argument("--baud", type=int, default=4800, help="line speed (default 4800)")
    ap.add_argument("--link", help="also name the device PATH (a symbolic link)")
    ap.add_argument("--wait", type=float, default=60, help="seconds to wait for a program to open it")
    ap.add_argument("--linger", type=float, default=600,
                    help="seconds to keep the device open after the last byte, at most (default 600)")
    ap.add_argument("--repeat", type=int, default=1, help="play the recording this many times")
    a = ap.parse_args()
    if a.baud < 50:
        ap.error("--baud must be at least 50")
    with open(a.recording, "rb") as f:
        data = f.read() * max(a.repeat, 1)

    master, slave = pty.openpty()
    tty.setraw(slave)  # no echo, no line editing, no CR/LF translation: the bytes as they are
    device = os.ttyname(slave)
    if a.link:
        if os.path.islink(a.link):
            os.unlink(a.link)
        os.symlink(device, a.link)
    print("device: %s" % (a.link or device), flush=True)
    os.close(slave)  # now the master reports a hang-up until somebody opens the device

    try:
        poller = select.poll()
        poller.register(master, select.POLLIN)
        deadline = time.monotonic() + a.wait
        while any(ev & select.POLLHUP for _, ev in poller.poll(0)):
            if time.monotonic() > deadline:
                print("nobody opened %s within %g s" % (device, a.wait), file=sys.stderr)
                return 1
            time.sleep(0.02)
        time.sleep(0.2)  # let the program set the line up before the first byte

        def listen(timeout_s):
            """Prints what the program sent; False once it has closed the device."""
            for _, ev in poller.poll(int(timeout_s * 1000)):
                if ev & select.POLLIN:
                    try:
                        got = os.read(master, 4096)
                    except OSError:
                        return False
                    if got:
                        print("from program: 0x%s" % got.hex(), flush=True)
                elif ev & select.POLLHUP:
                    return False
            return True

        rate = a.baud / 10.0
        start, sent = time.monotonic(), 0
        while sent < len(data):
            due = min(len(data), int((time.monotonic() - start) * rate) + 1)
            if due > sent:
                try:
                    sent += os.write(master, data[sent:due])
                except BlockingIOError:
                    pass
                except OSError:
                    break
            if not listen(TICK_S):
                break
        if sent < len(data):
            print("the program closed the device after %d of %d bytes" % (sent, len(data)), flush=True)
            return 0
        print("played %d bytes in %.2f s" % (len(data), time.monotonic() - start), flush=True)
        end = time.monotonic() + a.linger
        while time.monotonic() < end and listen(min(0.05, max(0.0, end - time.monotonic()))):
            pass
        return 0
    finally:
        os.close(master)
        if a.link and os.path.islink(a.link):
            os.unlink(a.link)


if __name__ == "__main__":
    sys.exit(main())
