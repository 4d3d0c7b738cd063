#!/usr/bin/env python3
"""LLRP benchmarks: uhfd's LLRP faces in front of virtual readers, with a real mosquitto, all on
loopback, all started and stopped here (the harness is gateway_bench.py's).

  latency  a tag put into the virtual field at a random moment of the round, until the
           TagReportData that names it reaches an LLRP client whose ROSpec reports every tag:
           p50, p90, p99 (goal: p99 <= one round interval + 20 ms)
  load     8 readers with MQTT output, then the same 8 each with an LLRP client running a ROSpec
           that reports every tag as well: uhfd's CPU and RSS over each pass, and their ratio
           (goal: RSS flat, CPU within 2x of MQTT alone)

The client is a small one written here from the protocol: it adds and enables one ROSpec
(Immediate start, no stop, one AISpec on every antenna, a report upon every tag with the EPC
alone) and reads the reports. Run from the source tree after building uhfd and uhfsim
(BUILD_DIR, default build/).
"""
import argparse
import os
import random
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gateway_bench as gb  # noqa: E402

ADD_ROSPEC, ENABLE_ROSPEC, CLOSE_CONNECTION = 20, 24, 14
ADD_ROSPEC_RESPONSE, ENABLE_ROSPEC_RESPONSE = 30, 34
RO_ACCESS_REPORT, KEEPALIVE, READER_EVENT_NOTIFICATION, KEEPALIVE_ACK = 61, 62, 63, 72
TAG_REPORT_DATA, EPC_DATA, EPC_96 = 240, 241, 13


def tlv(kind, body):
    return struct.pack(">HH", kind, 4 + len(body)) + body


def message(kind, mid, body=b""):
    return struct.pack(">HII", (1 << 10) | kind, 10 + len(body), mid) + body


def rospec(rospec_id):
    boundary = tlv(178, tlv(179, b"\x01") + tlv(182, b"\x00" + struct.pack(">I", 0)))  # Immediate; Null stop
    aispec = tlv(183, struct.pack(">HH", 1, 0)  # AntennaIDs: 0, every antenna
                 + tlv(184, b"\x00" + struct.pack(">I", 0))  # AISpec stop: Null
                 + tlv(186, struct.pack(">HB", 1, 1)))  # InventoryParameterSpec 1, EPCGlobalClass1Gen2
    report = tlv(237, struct.pack(">BH", 1, 1) + tlv(238, struct.pack(">H", 0)))  # upon N = 1 tags; EPC only
    return tlv(177, struct.pack(">IBB", rospec_id, 0, 0) + boundary + aispec + report)


def epcs_in(body):
    """The EPCs of a report's TagReportData, as upper-case hex."""
    out, at = [], 0
    while at + 4 <= len(body):
        kind, length = struct.unpack_from(">HH", body, at)
        kind &= 0x3FF
        if kind == TAG_REPORT_DATA and at + 4 < len(body):
            first = body[at + 4]
            if first & 0x80 and first & 0x7F == EPC_96:
                out.append(body[at + 5:at + 17].hex().upper())
            elif not first & 0x80 and struct.unpack_from(">H", body, at + 4)[0] & 0x3FF == EPC_DATA:
                bits = struct.unpack_from(">H", body, at + 8)[0]
                out.append(body[at + 10:at + 10 + (bits + 7) // 8].hex().upper())
        at += max(length, 4)
    return out


class Client:
    """One LLRP connection: a thread reads every message, stamps reports with the monotonic clock
    as they arrive and acknowledges keepalives."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.sock.settimeout(None)
        self.lock = threading.Lock()
        self.responses = {}
        self.seen = []  # (time, epc)
        self.reports = 0
        self.next_id = 1
        threading.Thread(target=self._read, daemon=True).start()

    def _exactly(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise EOFError
            data += chunk
        return data

    def _read(self):
        try:
            while True:
                head = self._exactly(10)
                now = time.monotonic()
                kind_word, length, mid = struct.unpack(">HII", head)
                body = self._exactly(length - 10)
                kind = kind_word & 0x3FF
                if kind == RO_ACCESS_REPORT:
                    with self.lock:
                        self.reports += 1
                        self.seen.extend((now, e) for e in epcs_in(body))
                elif kind == KEEPALIVE:
                    self.sock.sendall(message(KEEPALIVE_ACK, mid))
                elif kind != READER_EVENT_NOTIFICATION:  # events carry the reader's own ids
                    with self.lock:
                        self.responses[mid] = (kind, body)
        except (EOFError, OSError):
            return

    def transact(self, kind, body, want):
        with self.lock:
            mid, self.next_id = self.next_id, self.next_id + 1
        self.sock.sendall(message(kind, mid, body))
        end = time.monotonic() + 10
        while time.monotonic() < end:
            with self.lock:
                if mid in self.responses:
                    got, answer = self.responses.pop(mid)
                    # LLRPStatus first: its StatusCode 0 is M_Success.
                    if got != want or struct.unpack_from(">H", answer, 4)[0] != 0:
                        raise RuntimeError("message %d refused: %r" % (kind, answer))
                    return
            time.sleep(0.001)
        raise RuntimeError("no answer to message %d" % kind)

    def run_rospec(self, rospec_id=1):
        self.transact(ADD_ROSPEC, rospec(rospec_id), ADD_ROSPEC_RESPONSE)
        self.transact(ENABLE_ROSPEC, struct.pack(">I", rospec_id), ENABLE_ROSPEC_RESPONSE)

    def take(self):
        with self.lock:
            out, self.seen = self.seen, []
        return out

    def close(self):
        try:
            self.sock.sendall(message(CLOSE_CONNECTION, 0))
        except OSError:
            pass
        self.sock.close()


def latency(args):
    with gb.Run() as run:
        port = gb.free_port()
        run.broker(port)
        link, ctl = run.sim("r1", args.tags, 1)
        face = gb.free_port()
        run.uhfd(port, [dict(name="r1", device=link, round=args.round_ms, departure=3000, report=0, llrp=face)])
        gb.wait_port(face)
        client = Client(face)
        client.run_rospec()
        time.sleep(1)
        client.take()
        samples, missed = [], 0
        for _ in range(args.samples):
            time.sleep(random.uniform(0, args.round_ms / 1000) + 0.01)
            start = time.monotonic()
            tag_id = gb.control(ctl, "add epc").split()[1].upper()
            got = None
            while got is None and time.monotonic() < start + 5:
                for t, epc in client.take():
                    if got is None and epc == tag_id:
                        got = t
                time.sleep(0.001)
            if got is None:
                missed += 1
            else:
                samples.append((got - start) * 1000)
            gb.control(ctl, "remove " + tag_id)
        client.close()
        ms = sorted(samples)
        print("LLRP latency, tag into the field -> its TagReportData at the client, round interval %d ms,"
              " %d tags in the field, %d samples (%d missed); load average %s"
              % (args.round_ms, args.tags, len(ms), missed, gb.load_average()))
        if ms:
            print("  p50 %.1f ms  p90 %.1f ms  p99 %.1f ms  max %.1f ms  (goal: p99 <= %d ms)"
                  % (gb.percentile(ms, 50), gb.percentile(ms, 90), gb.percentile(ms, 99), ms[-1], args.round_ms + 20))


def load_pass(args, with_llrp):
    """uhfd's CPU (% of a core) and RSS samples (KiB) over one pass."""
    with gb.Run() as run:
        port = gb.free_port()
        run.broker(port)
        readers = []
        for i in range(args.readers):
            link, _ = run.sim("r%d" % i, args.tags, 700 + i)
            readers.append(dict(name="r%d" % i, device=link, round=args.round_ms, departure=3000,
                                report=args.report_ms, llrp=gb.free_port() if with_llrp else 0))
        sub = gb.Subscriber(run, port, "uhf/bench/+/events")
        gw = run.uhfd(port, readers)
        clients = []
        if with_llrp:
            for r in readers:
                gb.wait_port(r["llrp"])
                clients.append(Client(r["llrp"]))
                clients[-1].run_rospec()
        time.sleep(5)
        sub.take()
        cpu0, t0 = gb.cpu_seconds(gw.pid), time.monotonic()
        reports0 = sum(c.reports for c in clients)
        rss = []
        while time.monotonic() - t0 < args.seconds:
            rss.append(gb.rss_kib(gw.pid))
            sub.take()
            for c in clients:
                c.take()
            time.sleep(max(0.0, 10 - (time.monotonic() - t0) % 10))
        elapsed = time.monotonic() - t0
        used = gb.cpu_seconds(gw.pid) - cpu0
        rss.append(gb.rss_kib(gw.pid))
        reports = sum(c.reports for c in clients) - reports0
        for c in clients:
            c.close()
        return 100 * used / elapsed, rss, reports, elapsed


def load(args):
    print("LLRP load: %d readers x %d tags, rounds every %d ms, %d s a pass; load average %s"
          % (args.readers, args.tags, args.round_ms, args.seconds, gb.load_average()))
    mqtt_cpu, mqtt_rss, _, _ = load_pass(args, False)
    print("  MQTT alone:       uhfd CPU %.1f %% of a core; RSS (KiB) every 10 s: %s"
          % (mqtt_cpu, " ".join(map(str, mqtt_rss))))
    both_cpu, both_rss, reports, elapsed = load_pass(args, True)
    print("  MQTT and LLRP:    uhfd CPU %.1f %% of a core; RSS (KiB) every 10 s: %s"
          % (both_cpu, " ".join(map(str, both_rss))))
    print("  %d RO_ACCESS_REPORTs (%.0f/s) to %d clients; CPU ratio %.2f (goal <= 2); RSS after the first"
          " minute: min %d max %d KiB; load average %s"
          % (reports, reports / elapsed, args.readers, both_cpu / max(mqtt_cpu, 0.01),
             min(both_rss[6:] or both_rss), max(both_rss[6:] or both_rss), gb.load_average()))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="what", required=True)
    a = sub.add_parser("latency")
    a.add_argument("--samples", type=int, default=200)
    a.add_argument("--tags", type=int, default=20)
    a.add_argument("--round-ms", type=int, default=200)
    b = sub.add_parser("load")
    b.add_argument("--readers", type=int, default=8)
    b.add_argument("--tags", type=int, default=20)
    b.add_argument("--round-ms", type=int, default=200)
    b.add_argument("--report-ms", type=int, default=10000)
    b.add_argument("--seconds", type=int, default=600)
    args = ap.parse_args()
    {"latency": latency, "load": load}[args.what](args)


if __name__ == "__main__":
    main()
