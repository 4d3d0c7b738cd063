"""A test client for the console's event stream: raw socket, so a test can also open one and
never read it."""

import json
import socket
import time


class EventStream:
    def __init__(self, port, query="", rcvbuf=None, timeout=10):
        self.s = socket.socket()
        if rcvbuf:
            self.s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        self.s.settimeout(timeout)
        self.s.connect(("127.0.0.1", port))
        self.s.sendall(("GET /api/events%s HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/event-stream\r\n\r\n"
                        % (("?" + query) if query else "")).encode())
        self.buf = b""
        self.status = None
        self.headers = {}

    def _fill(self):
        chunk = self.s.recv(65536)
        if not chunk:
            raise EOFError("the stream ended")
        self.buf += chunk

    def head(self):
        while b"\r\n\r\n" not in self.buf:
            self._fill()
        raw, self.buf = self.buf.split(b"\r\n\r\n", 1)
        lines = raw.decode().split("\r\n")
        self.status = int(lines[0].split()[1])
        self.headers = {k.lower(): v.strip() for k, v in (l.split(":", 1) for l in lines[1:])}
        return self.status

    def next(self):
        """The next event as (name, data), skipping comments and retry lines."""
        if self.status is None:
            self.head()
        while True:
            while b"\n\n" not in self.buf:
                self._fill()
            block, self.buf = self.buf.split(b"\n\n", 1)
            name, data = None, []
            for line in block.decode().split("\n"):
                if line.startswith("event: "):
                    name = line[7:]
                elif line.startswith("data: "):
                    data.append(line[6:])
            if name:
                return name, json.loads("\n".join(data))

    def wait_for(self, pred, within):
        """The first event (name, data) with pred(name, data) true, within the time."""
        deadline = time.monotonic() + within
        while time.monotonic() < deadline:
            self.s.settimeout(max(0.05, deadline - time.monotonic()))
            try:
                ev = self.next()
            except socket.timeout:
                break
            if pred(*ev):
                return ev
        return None

    def close(self):
        self.s.close()
