"""The virtual reader uhfsim ($UHF_SIM) as a process a test starts and always stops: on a
pseudo-terminal or a loopback TCP port, optionally taking field commands on its stdin."""

import os
import selectors
import signal
import socket
import subprocess
import tempfile
import time

START_TIMEOUT = 5.0


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Sim:
    """uhfsim serving one reader. ``device`` is the device string a Link opens it with."""

    def __init__(self, *args: str, tcp_port=None, node=None, control=False):
        self._tmp = tempfile.TemporaryDirectory(prefix="uhfsim-")
        cmd = [os.environ["UHF_SIM"], *args]
        if tcp_port is not None:
            cmd += ["--tcp", f"127.0.0.1:{tcp_port}"]
        else:
            self.node = node or os.path.join(self._tmp.name, "reader")
            cmd += ["--link", self.node]
        if control:
            cmd += ["--control", "-"]
        self.process = subprocess.Popen(cmd, stdin=subprocess.PIPE if control else subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self._out = selectors.DefaultSelector()
        self._out.register(self.process.stdout, selectors.EVENT_READ)
        try:
            first = self._line()
        except Exception:
            self.stop()
            raise
        if tcp_port is not None:
            host, port = first.rsplit(":", 1)
            self.port = int(port)
            self.device = f"tcp:{host}:{port}"
        else:
            self.device = self.node

    def _line(self) -> str:
        deadline = time.monotonic() + START_TIMEOUT
        while time.monotonic() < deadline:
            if self._out.select(timeout=deadline - time.monotonic()):
                line = self.process.stdout.readline()
                if line:
                    return line.strip()
                break
        raise RuntimeError(f"uhfsim said nothing: {self.process.stderr.read() if self.process.poll() is not None else ''}")

    def control(self, line: str) -> str:
        """One field command (docs/simulator.md); returns its answer line."""
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        answer = self._line()
        if not answer.startswith("ok"):
            raise RuntimeError(f"uhfsim refused {line!r}: {answer}")
        return answer

    def kill(self) -> None:
        """Ends it at once, as a reader switched off does: nothing is cleaned up."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
            self.process.wait(timeout=10)

    def stop(self) -> None:
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.kill()
        for f in (self.process.stdin, self.process.stdout, self.process.stderr):
            if f is not None:
                f.close()
        self._out.close()
        self._tmp.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
