"""A scripted reader on a pseudo-terminal, in Python, for the binding's own tests.

It decodes each request frame the library sends and answers with the next scripted reply:
(status, data) for a well-formed frame, or raw bytes sent as they are. Written apart from the
library's codec so that the two check each other.
"""

import os
import select
import threading
import tty

DLE, STX, ETX = 0x10, 0x01, 0x02


def checksum(fields):
    x = 0
    for b in fields:
        if b != DLE:
            x ^= b
    return x


def encode_reply(addr, cmd, status, data, bad_checksum=False):
    fields = bytes([addr, cmd, status, len(data) >> 8, len(data) & 0xFF]) + bytes(data)
    body = fields + bytes([checksum(fields) ^ (0xFF if bad_checksum else 0)])
    doubled = b"".join(bytes([b, b]) if b == DLE else bytes([b]) for b in body)
    return bytes([DLE, STX]) + doubled + bytes([DLE, ETX])


class FakeReader:
    def __init__(self, addr=1):
        self.addr = addr
        self.requests = []  # (cmd, data) of every request after the handshake
        self.replies = []  # scripted answers, oldest first
        self.malformed = []  # what was wrong with any request that was not a clean frame
        self._master, self._slave = os.openpty()
        tty.setraw(self._slave)
        self.path = os.ttyname(self._slave)
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def close(self):
        self.hang_up()
        if self._slave is not None:
            os.close(self._slave)
            self._slave = None

    def hang_up(self):
        """Closes the reader's side, as an unplugged adapter does."""
        self._stop.set()
        self._thread.join()
        if self._master is not None:
            os.close(self._master)
            self._master = None

    def reply(self, status=0, data=b"", **faults):
        self.replies.append(("frame", status, bytes(data), faults))

    def _answer(self, addr, cmd, data):
        if cmd == 0:  # the link handshake
            return encode_reply(addr, cmd, 0, b"")
        self.requests.append((cmd, data))
        if not self.replies:
            return encode_reply(addr, cmd, 0, b"")
        _, status, payload, faults = self.replies.pop(0)
        return encode_reply(faults.pop("from_addr", addr), cmd, status, payload, **faults)

    def _serve(self):
        buf = bytearray()
        while not self._stop.is_set():
            ready, _, _ = select.select([self._master], [], [], 0.05)
            if not ready:
                continue
            try:
                buf += os.read(self._master, 4096)
            except OSError:
                return
            while True:
                frame = self._take_frame(buf)
                if frame is None:
                    break
                addr, cmd, data = frame
                os.write(self._master, self._answer(addr, cmd, data))

    def _take_frame(self, buf):
        """Removes one whole request frame from buf; returns (addr, cmd, data) or None."""
        problems = self.malformed
        start = buf.find(bytes([DLE, STX]))
        if start < 0:
            return None
        fields = bytearray()
        i = start + 2
        while i < len(buf):
            b = buf[i]
            if b == DLE:
                if i + 1 >= len(buf):
                    return None
                if buf[i + 1] == ETX:
                    del buf[: i + 2]
                    addr, cmd, length = fields[0], fields[1], fields[2]
                    data = bytes(fields[3 : 3 + length])
                    if len(fields) != 4 + length:
                        problems.append("length byte disagrees with the data")
                    if checksum(fields[:-1]) != fields[-1]:
                        problems.append("bad request checksum")
                    return addr, cmd, data
                if buf[i + 1] != DLE:
                    problems.append("lone 0x10 inside a request")
                i += 1
            fields.append(b)
            i += 1
        return None
