#!/usr/bin/env python3
"""Sends one request to the program's command channel and prints the reply text.

usage: channel_client.py FOLDER COMMAND [FIELD...]
The fields are joined with CR LF. Exit status: 0 for status 0, 1 for status 1,
2 when no reply came.
"""
import hashlib
import socket
import struct
import sys


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) % 256
        s[i], s[j] = s[j], s[i]
    i = j = 0
    out = bytearray()
    for b in data:
        i = (i + 1) % 256
        j = (j + s[i]) % 256
        s[i], s[j] = s[j], s[i]
        out.append(b ^ s[(s[i] + s[j]) % 256])
    return bytes(out)


def main():
    folder, command = sys.argv[1], int(sys.argv[2])
    data = "\r\n".join(sys.argv[3:]).encode()
    try:
        password = open(folder + "/channel.key", "rb").read().strip()
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        sock.settimeout(10)
        sock.connect(folder + "/channel.sock")
        sock.sendall(struct.pack("<BI", command, len(data)) + data)
        head = b""
        while len(head) < 5:
            part = sock.recv(5 - len(head))
            if not part:
                return 2
            head += part
        length = struct.unpack("<I", head[1:])[0]
        body = b""
        while len(body) < length:
            part = sock.recv(length - len(body))
            if not part:
                return 2
            body += part
    except OSError:
        return 2
    key = hashlib.md5(password + b"qvmex4827").hexdigest()[:16].encode()
    status, _, text = rc4(key, body).partition(b"\r\n")
    sys.stdout.write(text.decode(errors="replace"))
    return 0 if status == b"0" else 1


if __name__ == "__main__":
    sys.exit(main())
