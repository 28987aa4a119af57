#!/usr/bin/env python3
"""The far end of a Windows port under Wine: a pseudo-terminal linked as a dosdevices COM port.

Usage: pty_peer.py LINK -- COMMAND...   (LINK: $WINEPREFIX/dosdevices/comN)
Echoes what arrives, swallows 'x' bytes (a request that gets no reply), and answers "?B" with
the bit rate the Windows side set, as six digits. Runs COMMAND and exits with its status.
"""
import os, select, subprocess, sys, termios, threading

SPEEDS = {getattr(termios, n): int(n[1:]) for n in dir(termios) if n[0] == 'B' and n[1:].isdigit()}

def serve(master, stop):
    pending = b''
    while not stop.is_set():
        ready, _, _ = select.select([master], [], [], 0.05)
        if not ready:
            continue
        try:
            data = os.read(master, 4096)
        except OSError:
            continue
        for byte in data:
            b = bytes([byte])
            if pending:
                pending += b
                if pending == b'?B':
                    speed = SPEEDS.get(termios.tcgetattr(master)[4], 0)
                    os.write(master, b'%06d' % speed)
                else:
                    os.write(master, pending)
                pending = b''
            elif b == b'?':
                pending = b
            elif b != b'x':
                os.write(master, b)

def main():
    link, command = sys.argv[1], sys.argv[sys.argv.index('--') + 1:]
    master, slave = os.openpty()
    attrs = termios.tcgetattr(slave)
    attrs[3] &= ~(termios.ECHO | termios.ICANON | termios.ISIG | termios.IEXTEN)
    attrs[0] &= ~(termios.ICRNL | termios.IXON)
    attrs[1] &= ~termios.OPOST
    termios.tcsetattr(slave, termios.TCSANOW, attrs)
    os.makedirs(os.path.dirname(link), exist_ok=True)
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(os.ttyname(slave), link)
    stop = threading.Event()
    thread = threading.Thread(target=serve, args=(master, stop), daemon=True)
    thread.start()
    try:
        status = subprocess.call(command)
    finally:
        stop.set()
        thread.join()
        os.remove(link)
    sys.exit(status)

if __name__ == '__main__':
    main()
