"""What the console tests start for real: a mosquitto broker, virtual readers (uhfsim over TCP with
a control socket) and uhfd with its console, each on a free loopback port with a scratch
configuration. Every process dies with the test process however it ends (PR_SET_PDEATHSIG), and
Gateway.close() stops them in order; a sanitizer report in uhfd's log fails the test."""

import ctypes
import http.client
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time

UHFD = os.environ.get("UHFD", "uhfd")
UHFSIM = os.environ.get("UHFSIM", "uhfsim")
MOSQUITTO = shutil.which("mosquitto", path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin") or "mosquitto"
TOKEN = "console-test-token-0123456789"
SANITIZER_REPORTS = ("AddressSanitizer", "ThreadSanitizer", "LeakSanitizer", "runtime error:")

_libc = ctypes.CDLL(None, use_errno=True)


def _die_with_parent():
    _libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_open(port):
    with socket.socket() as s:
        s.settimeout(0.5)
        return s.connect_ex(("127.0.0.1", port)) == 0


def eventually(pred, within, step=0.02):
    deadline = time.monotonic() + within
    while time.monotonic() < deadline:
        value = pred()
        if value:
            return value
        time.sleep(step)
    return pred()


class Proc:
    def __init__(self, argv, out, err):
        self.out, self.err = out, err
        with open(out, "w") as o, open(err, "w") as e:
            self.p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=o, stderr=e, preexec_fn=_die_with_parent)

    def running(self):
        return self.p.poll() is None

    def stop(self, sig=signal.SIGTERM, within=5.0):
        """The exit status, or None when it was still running at the deadline (then killed)."""
        if self.p.poll() is None:
            self.p.send_signal(sig)
            try:
                return self.p.wait(within)
            except subprocess.TimeoutExpired:
                self.p.kill()
                self.p.wait()
                return None
        return self.p.returncode

    def stderr(self):
        with open(self.err, errors="replace") as f:
            return f.read()


class Sim:
    """A virtual reader on a loopback TCP port; its field changes through its control socket."""

    def __init__(self, dir, name, tags=0, seed=1):
        self.port = free_port()
        self.control = os.path.join(dir, name + ".ctl")
        self.device = "tcp:127.0.0.1:%d" % self.port
        self.proc = Proc([UHFSIM, "--tcp", "127.0.0.1:%d" % self.port, "--tags", str(tags), "--seed", str(seed),
                          "--control", self.control], os.path.join(dir, name + ".out"), os.path.join(dir, name + ".err"))
        if not eventually(lambda: port_open(self.port) and os.path.exists(self.control), 10):
            raise RuntimeError("uhfsim did not start: " + self.proc.stderr())

    def field(self, line):
        """One control command; its one-line answer."""
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(5)
            s.connect(self.control)
            s.sendall(line.encode() + b"\n")
            answer = b""
            while not answer.endswith(b"\n"):
                chunk = s.recv(4096)
                if not chunk:
                    break
                answer += chunk
        return answer.decode().strip()


def config(broker_port, queue_dir, readers, token=TOKEN, max_streams=16, allow=("Set_Work_Param", "Set_Active_ANT")):
    """A gateway with fast rounds and its console on a port the kernel picks."""
    text = ['[gateway]\nid = "gw"\nqueue_dir = "%s"\nreconnect_min_ms = 50\nreconnect_max_ms = 400\n' % queue_dir,
            '[broker]\nuri = "mqtt://127.0.0.1:%d"\nkeepalive = 5\n' % broker_port,
            "[commands]\nallow = [%s]\n" % ", ".join('"%s"' % a for a in allow),
            '[http]\nlisten = "127.0.0.1:0"\nmax_streams = %d\n' % max_streams]
    if token:
        text.append('token = "%s"\n' % token)
    for r in readers:
        text.append('[[readers]]\nname = "%s"\ndevice = "%s"\nfamilies = ["epc", "gb", "gjb"]\n'
                    "round_interval_ms = %d\ndeparture_timeout_ms = %d\nreport_interval_ms = 0\n"
                    % (r["name"], r["device"], r.get("round_ms", 100), r.get("departure_ms", 1000)))
    return "".join(text)


class Gateway:
    """A broker, `readers` virtual readers and uhfd serving its console."""

    def __init__(self, readers=("r1", "r2"), round_ms=100, departure_ms=1000, tags=0, **kw):
        self.dir = tempfile.mkdtemp(prefix="console-test-")
        os.chmod(self.dir, 0o755)  # mosquitto started as root drops to its own user
        self.procs = []
        self.sims = {}
        try:
            self.broker_port = free_port()
            conf = os.path.join(self.dir, "mosquitto.conf")
            with open(conf, "w") as f:
                f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n" % self.broker_port)
            self.broker = Proc([MOSQUITTO, "-c", conf], os.path.join(self.dir, "broker.out"), os.path.join(self.dir, "broker.err"))
            self.procs.append(self.broker)
            if not eventually(lambda: port_open(self.broker_port), 10):
                raise RuntimeError("mosquitto did not start: " + self.broker.stderr())
            for i, name in enumerate(readers):
                self.sims[name] = Sim(self.dir, name, tags=tags, seed=7 + i)
                self.procs.append(self.sims[name].proc)
            self.readers = [{"name": n, "device": s.device, "round_ms": round_ms, "departure_ms": departure_ms}
                            for n, s in self.sims.items()]
            self.config_path = os.path.join(self.dir, "uhfd.toml")
            with open(self.config_path, "w") as f:
                f.write(config(self.broker_port, os.path.join(self.dir, "queue"), self.readers, **kw))
            self.uhfd = Proc([UHFD, "--config", self.config_path], os.path.join(self.dir, "uhfd.out"),
                             os.path.join(self.dir, "uhfd.err"))
            found = eventually(lambda: re.search(r"console on http://127\.0\.0\.1:(\d+)/", self.uhfd.stderr()), 15)
            if not found:
                raise RuntimeError("uhfd's console did not start:\n" + self.uhfd.stderr())
            self.port = int(found.group(1))
            self.base = "http://127.0.0.1:%d" % self.port
            if not eventually(lambda: all(r["state"] == "online" for r in self.get("/api/readers")[2]["readers"]), 15):
                raise RuntimeError("readers did not come online:\n" + self.uhfd.stderr())
        except BaseException:
            self.close()
            raise

    def request(self, method, path, body=None, headers=None, timeout=15):
        """(status, headers, body): the body parsed when it is JSON."""
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            data = body if isinstance(body, (bytes, str)) or body is None else json.dumps(body)
            h = dict(headers or {})
            if data is not None and "Content-Type" not in h:
                h["Content-Type"] = "application/json"
            c.request(method, path, body=data, headers=h)
            r = c.getresponse()
            raw = r.read()
            hdrs = {k.lower(): v for k, v in r.getheaders()}
            parsed = raw.decode(errors="replace")
            if hdrs.get("content-type", "").startswith("application/json"):
                parsed = json.loads(raw)
            return r.status, hdrs, parsed
        finally:
            c.close()

    def get(self, path):
        return self.request("GET", path)

    def reader(self, name):
        return self.get("/api/readers/" + name)[2]

    def tag_ids(self, reader):
        return {t["id"] for t in self.get("/api/readers/%s/tags" % reader)[2]["tags"]}

    def log(self):
        return self.uhfd.stderr()

    def close(self):
        """Stops uhfd first (its exit status and log are checked), then the readers and the broker."""
        problems = []
        if getattr(self, "uhfd", None):
            rc = self.uhfd.stop(signal.SIGTERM, 10)
            log = self.uhfd.stderr()
            if rc not in (0, None):
                problems.append("uhfd exited %s" % rc)
            problems += ["uhfd: " + r for r in SANITIZER_REPORTS if r in log]
            if problems:
                problems.append(log[-6000:])
            self.uhfd = None
        for p in reversed(self.procs):
            p.stop(signal.SIGTERM, 5)
        self.procs = []
        shutil.rmtree(self.dir, ignore_errors=True)
        if problems:
            raise AssertionError("\n".join(problems))


def hex_of(text):
    """A tag id spelling `text`: whole 16-bit words, so padded with a space when odd."""
    if len(text) % 2:
        text += " "
    return text.encode().hex().upper()


# No back-forward cache: the tests decide when a page is gone, and a page the browser keeps
# frozen there would keep its shared worker, and the worker's stream, frozen too (the console
# serves its page as no-store, which keeps it out of that cache; this makes sure).
CHROME_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--disable-default-apps", "--disable-extensions", "--window-size=1280,1000",
                "--disable-features=BackForwardCache"]


def chromium(profile_dir):
    """Debian's headless Chromium under chromium-driver, with a fresh profile and nothing that
    reaches beyond the machine."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    for flag in CHROME_FLAGS:
        options.add_argument(flag)
    options.add_argument("--user-data-dir=" + profile_dir)
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    service = Service(shutil.which("chromedriver") or "/usr/bin/chromedriver", log_path=os.path.join(profile_dir, "driver.log"))
    return webdriver.Chrome(service=service, options=options)
