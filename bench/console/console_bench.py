#!/usr/bin/python3
"""Measures the web console on loopback, with the test harness's real processes:

  1. update latency: a tag put into a virtual reader's field until its row is in the page's
     table (headless Chromium; the page's own clock marks the row's insertion), N samples;
  2. the readers' round rate with no console client, then with stalled event-stream clients
     (asked for the frame trace, never read) and a dozen clients polling the API.

  UHFD=build/tools/uhfd/uhfd UHFSIM=build/tools/uhfsim bench/console/console_bench.py [--samples N]
"""

import argparse
import os
import random
import statistics
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "console"))
from harness import Gateway, chromium, eventually  # noqa: E402
from sse import EventStream  # noqa: E402

# Marks, on the page's clock (epoch milliseconds), when each tag's row went into the table.
OBSERVER = """
window.__rowSeen = {};
new MutationObserver((records) => {
  const now = performance.timeOrigin + performance.now();
  for (const r of records) for (const n of r.addedNodes)
    if (n.dataset && n.dataset.id && !(n.dataset.id in window.__rowSeen)) window.__rowSeen[n.dataset.id] = now;
}).observe(document.querySelector('#tags tbody'), { childList: true });
"""


def percentile(values, p):
    v = sorted(values)
    return v[min(len(v) - 1, int(round(p / 100 * (len(v) - 1))))]


def latency(gw, samples, round_ms):
    profile = tempfile.mkdtemp(prefix="console-bench-chromium-")
    driver = chromium(profile)
    try:
        driver.get(gw.base + "/#reader=r1")
        eventually(lambda: driver.execute_script("return document.querySelectorAll('#tags tbody tr').length") == 0 and
                   driver.execute_script("return document.getElementById('connection').textContent") == "live", 10)
        time.sleep(1)
        driver.execute_script(OBSERVER)
        sim = gw.sims["r1"]
        out = []
        for i in range(samples):
            tag = "E2%022X" % (0xC0FFEE000 + i)
            time.sleep(random.uniform(0, round_ms / 1000))  # any phase of the round
            t_add = time.time() * 1000
            sim.field("add epc %s" % tag)
            seen = eventually(lambda: driver.execute_script("return window.__rowSeen[arguments[0]]", tag), 5, 0.005)
            if not seen:
                raise RuntimeError("row for %s never appeared" % tag)
            out.append(seen - t_add)
            sim.field("remove " + tag)
            eventually(lambda: not driver.execute_script(
                "return document.querySelector('#tags tbody tr[data-id=\"' + arguments[0] + '\"]')", tag), 10, 0.02)
        return out
    finally:
        driver.quit()


def round_rates(gw, seconds):
    def rounds():
        return {r["reader"]: r["counters"]["rounds"] for r in gw.get("/api/readers")[2]["readers"]}
    a, t0 = rounds(), time.monotonic()
    time.sleep(seconds)
    b, t1 = rounds(), time.monotonic()
    return {k: (b[k] - a[k]) / (t1 - t0) for k in sorted(a)}


def loaded_rates(gw, seconds, stalled_per_reader):
    stalled = [EventStream(gw.port, "reader=%s&trace=1" % r, rcvbuf=2048) for r in gw.sims for _ in range(stalled_per_reader)]
    stop = threading.Event()
    served = [0]

    def poll(path):
        while not stop.is_set():
            if gw.request("GET", path, timeout=10)[0] == 200:
                served[0] += 1

    paths = ["/api/readers", "/api/readers/r1/tags", "/metrics", "/api/gateway"]
    threads = [threading.Thread(target=poll, args=(paths[i % len(paths)],)) for i in range(12)]
    for t in threads:
        t.start()
    try:
        time.sleep(2)
        return round_rates(gw, seconds), served
    finally:
        stop.set()
        for t in threads:
            t.join()
        for s in stalled:
            s.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--samples", type=int, default=100)
    ap.add_argument("--round-ms", type=int, default=200)
    ap.add_argument("--seconds", type=float, default=10)
    args = ap.parse_args()
    gw = Gateway(readers=("r1", "r2", "r3"), round_ms=args.round_ms, departure_ms=400)
    try:
        lat = latency(gw, args.samples, args.round_ms)
        print("update latency, tag into the field -> row in the page (%d samples, %d ms rounds): "
              "p50 %.1f ms, p90 %.1f ms, p99 %.1f ms, max %.1f ms"
              % (len(lat), args.round_ms, statistics.median(lat), percentile(lat, 90), percentile(lat, 99), max(lat)))
        base = round_rates(gw, args.seconds)
        print("round rate, no console client: " + ", ".join("%s %.2f/s" % kv for kv in base.items()))
        loaded, served = loaded_rates(gw, args.seconds, 2)
        print("round rate, 2 stalled traced streams per reader + 12 polling clients: " +
              ", ".join("%s %.2f/s" % kv for kv in loaded.items()) + " (%d API answers meanwhile)" % served[0])
    finally:
        gw.close()


if __name__ == "__main__":
    main()
