#!/usr/bin/env python3
"""Sends command 13 (nothing, run on the program's main loop) to the command
channel every INTERVAL ms and records each round trip.

usage: channel_pinger.py FOLDER RECORD [INTERVAL_MS]
Each request goes on a connection of its own at its tick, whether or not
earlier ones were answered (while the channel's listen backlog is full it
waits its turn, its time running), so a stalled main loop shows in every
request that waited on it. RECORD gets one line per request, "SENT MS": the send
time (seconds since the epoch) and the round trip in milliseconds, or -1
when the request failed or got no reply within 10 s. Until the channel
exists nothing is recorded. Runs until SIGTERM or SIGINT.
"""
import hashlib
import os
import selectors
import signal
import socket
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from channel_client import rc4  # noqa: E402

NOP = 13
TIMEOUT = 10.0


class Request:
    def __init__(self, sent):
        self.sent = sent
        self.reply = b""
        self.sock = None

    def connect(self, path):
        """True once sent; False while the channel's backlog is full (the
        request waits, its time running); OSError when it cannot be sent."""
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.setblocking(False)
        try:
            self.sock.connect(path)
        except BlockingIOError:
            self.sock.close()
            return False
        except OSError:
            self.sock.close()
            raise
        self.sock.send(struct.pack("<BI", NOP, 0))
        return True


def main():
    folder, record = sys.argv[1], sys.argv[2]
    interval = float(sys.argv[3]) / 1000 if len(sys.argv) > 3 else 0.010
    path = folder + "/channel.sock"
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    sel = selectors.DefaultSelector()
    key = None
    out = open(record, "w", buffering=1)

    def done(req, ms):
        sel.unregister(req.sock)
        req.sock.close()
        out.write("%.6f %.3f\n" % (req.sent, ms))

    def check(req):
        nonlocal key
        if key is None:
            password = open(folder + "/channel.key", "rb").read().strip()
            key = hashlib.md5(password + b"qvmex4827").hexdigest()[:16].encode()
        length = struct.unpack("<I", req.reply[1:5])[0]
        status = rc4(key, req.reply[5:5 + length]).partition(b"\r\n")[0]
        return status == b"0"

    waiting = []  # requests the full backlog has not taken yet, oldest first
    next_tick = time.time()
    while not stop:
        now = time.time()
        if now >= next_tick:
            next_tick += interval
            if next_tick < now:  # the pinger itself fell behind: no burst to catch up
                next_tick = now + interval
            waiting.append(Request(now))
        while waiting:
            req = waiting[0]
            try:
                if not req.connect(path):
                    break
                sel.register(req.sock, selectors.EVENT_READ, req)
            except OSError:
                if key is not None:
                    out.write("%.6f -1\n" % req.sent)
            waiting.pop(0)
        if waiting and time.time() - waiting[0].sent > TIMEOUT:
            out.write("%.6f -1\n" % waiting.pop(0).sent)
        # With requests waiting for the backlog, look again after 1 ms.
        wait = max(0.0, next_tick - time.time())
        for k, _ in sel.select(min(wait, 0.001) if waiting else wait):
            req = k.data
            try:
                part = req.sock.recv(65536)
            except OSError:
                part = b""
            if not part:
                done(req, -1)
                continue
            req.reply += part
            if len(req.reply) >= 5 and len(req.reply) >= 5 + struct.unpack("<I", req.reply[1:5])[0]:
                ms = (time.time() - req.sent) * 1000
                done(req, ms if check(req) else -1)
        late = time.time() - TIMEOUT
        for k in list(sel.get_map().values()):
            if k.data.sent < late:
                done(k.data, -1)
    out.close()


if __name__ == "__main__":
    main()
