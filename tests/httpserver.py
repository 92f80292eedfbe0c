#!/usr/bin/env python3
"""HTTP server for the tests: serves one folder on 127.0.0.1 and misbehaves
on request for chosen paths.

    python3 httpserver.py <folder> [port]

The first line on stdout is the port (a free one unless given). The server
ends when its stdin closes, so it never outlives the test that started it.

Control requests (GET, answered with a short text body):
    /__control/behaviour?path=<p>&mode=<m>&value=<n>&interval=<ms>
        mode: normal, notfound, drop (close the connection after <value>
        body bytes), trickle (<value> bytes every <interval> ms),
        wronglength (announce Content-Length <value>, send the whole file,
        close), stall (wait <value> ms before answering)
    /__control/count?path=<p>   requests served for <p> (control excluded)
    /__control/reset            forget all behaviours and counters
"""

import os
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CHUNK = 64 * 1024
MODES = {"normal", "notfound", "drop", "trickle", "wronglength", "stall"}


class State:
    def __init__(self, root):
        self.root = os.path.realpath(root)
        self.lock = threading.Lock()
        self.behaviours = {}
        self.counts = {}

    def count(self, path):
        with self.lock:
            self.counts[path] = self.counts.get(path, 0) + 1

    def behaviour(self, path):
        with self.lock:
            return self.behaviours.get(path, ("normal", 0, 0))


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "ZelTestServer/1.0"

    def log_message(self, format, *args):
        pass

    def do_HEAD(self):
        self.serve(head=True)

    def do_GET(self):
        self.serve(head=False)

    def serve(self, head):
        state = self.server.state
        url = urllib.parse.urlsplit(self.path)
        path = urllib.parse.unquote(url.path)
        if path.startswith("/__control/"):
            self.control(path, urllib.parse.parse_qs(url.query))
            return
        state.count(path)
        mode, value, interval = state.behaviour(path)
        if mode == "notfound":
            self.reply_text(404, "not found\n")
            return
        if mode == "stall":
            time.sleep(value / 1000.0)
        file_path = self.local_path(path)
        if file_path is None:
            self.reply_text(404, "not found\n")
            return
        try:
            stream = open(file_path, "rb")
        except OSError:
            self.reply_text(403, "forbidden\n")
            return
        with stream:
            size = os.fstat(stream.fileno()).st_size
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(value if mode == "wronglength" else size))
            if mode in ("drop", "wronglength"):
                self.send_header("Connection", "close")
                self.close_connection = True
            self.end_headers()
            if not head:
                self.send_body(stream, mode, value, interval)

    def send_body(self, stream, mode, value, interval):
        limit = value if mode == "drop" else None
        piece = max(1, value) if mode == "trickle" else CHUNK
        sent = 0
        try:
            while limit is None or sent < limit:
                data = stream.read(piece if limit is None else min(piece, limit - sent))
                if not data:
                    break
                self.wfile.write(data)
                sent += len(data)
                if mode == "trickle":
                    self.wfile.flush()
                    time.sleep(interval / 1000.0)
            self.wfile.flush()
        except ConnectionError:
            self.close_connection = True

    def local_path(self, path):
        root = self.server.state.root
        candidate = os.path.realpath(os.path.join(root, path.lstrip("/")))
        if candidate != root and not candidate.startswith(root + os.sep):
            return None
        return candidate if os.path.isfile(candidate) else None

    def control(self, path, query):
        state = self.server.state
        target = query.get("path", [""])[0]
        command = path[len("/__control/"):]
        if command == "reset":
            with state.lock:
                state.behaviours.clear()
                state.counts.clear()
            self.reply_text(200, "ok\n")
        elif command == "count":
            with state.lock:
                self.reply_text(200, "%d\n" % state.counts.get(target, 0))
        elif command == "behaviour":
            mode = query.get("mode", ["normal"])[0]
            try:
                value = int(query.get("value", ["0"])[0])
                interval = int(query.get("interval", ["0"])[0])
            except ValueError:
                mode = None
            if mode not in MODES or not target.startswith("/"):
                self.reply_text(400, "bad behaviour\n")
                return
            with state.lock:
                if mode == "normal":
                    state.behaviours.pop(target, None)
                else:
                    state.behaviours[target] = (mode, value, interval)
            self.reply_text(200, "ok\n")
        else:
            self.reply_text(400, "unknown control request\n")

    def reply_text(self, code, text):
        body = text.encode("utf-8")
        self.send_response(code)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # Clients that hang up early are part of the tests, not a fault.
        if not isinstance(sys.exc_info()[1], ConnectionError):
            super().handle_error(request, client_address)


def main():
    if len(sys.argv) < 2 or not os.path.isdir(sys.argv[1]):
        sys.stderr.write("usage: httpserver.py <folder> [port]\n")
        return 2
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    server = Server(("127.0.0.1", port), Handler)
    server.state = State(sys.argv[1])
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdout.write("%d\n" % server.server_address[1])
    sys.stdout.flush()
    try:
        while sys.stdin.buffer.read(4096):
            pass
    except KeyboardInterrupt:
        pass
    # No orderly shutdown: serving threads may be asleep in a trickle or stall.
    os._exit(0)


if __name__ == "__main__":
    sys.exit(main())
