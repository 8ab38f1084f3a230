#!/usr/bin/env python3
"""Small servers for the engine's end-to-end tests and benchmark.

    server_peers.py http ADDRESS PORT ROOT
        HTTP/1.0, closing every connection after its answer: a GET is
        answered with the file under ROOT; a PUT or POST with a
        Content-Length is read whole and answered with the body's SHA-256 in
        hex and its length, "<hex> <bytes>\\n". It goes on sending whatever
        the client does with its own sending side.
    server_peers.py udp-echo ADDRESS PORT
        Sends every datagram back to where it came from.
"""
import functools
import hashlib
import http.server
import socket
import sys


class Handler(http.server.SimpleHTTPRequestHandler):
    def _take_body(self):
        left = int(self.headers.get("Content-Length", "0"))
        digest = hashlib.sha256()
        got = 0
        while left > 0:
            chunk = self.rfile.read(min(left, 1 << 20))
            if not chunk:
                break
            digest.update(chunk)
            got += len(chunk)
            left -= len(chunk)
        answer = f"{digest.hexdigest()} {got}\n".encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)

    do_PUT = _take_body
    do_POST = _take_body

    def log_message(self, *args):
        pass


class Server(http.server.ThreadingHTTPServer):
    # Tests open dozens of connections at once; the default queue of 5 would
    # drop their handshakes while the server is busy hashing.
    request_queue_size = 256


def serve_http(address, port, root):
    handler = functools.partial(Handler, directory=root)
    server = Server((address, int(port)), handler)
    server.daemon_threads = True
    server.serve_forever()


def udp_echo(address, port):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((address, int(port)))
    while True:
        data, peer = s.recvfrom(65535)
        s.sendto(data, peer)


def main():
    commands = {"http": (serve_http, 3), "udp-echo": (udp_echo, 2)}
    if len(sys.argv) < 2 or sys.argv[1] not in commands or len(sys.argv) != 2 + commands[sys.argv[1]][1]:
        sys.exit(__doc__)
    commands[sys.argv[1]][0](*sys.argv[2:])


if __name__ == "__main__":
    main()
