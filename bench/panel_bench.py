#!/usr/bin/python3
"""The operator panel's cost and speed, on lab stations of 16 devices (4 bays of 4) at pace 20:

- the station's wall time and CPU time with the panel open in headless chromium, against the
  same station without a panel (each the median of RUNS runs, alternating);
- event to tile: for every started and finished event on --events, the time until the
  browser's DOM shows it (a MutationObserver in the page notes each tile's change with the
  time; both clocks are this machine's), median and 90th percentile.

Prints figures only; none is asserted. Usage: panel_bench.py TARVIK_CLI SAMPLE_IMAGE [RUNS]
Exits 77 (skipped) without chromium, chromedriver or python3-selenium."""

import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "panel"))
from headless_chromium import browser, free_port  # noqa: E402 (exits 77 without chromium)

CLI, IMAGE = sys.argv[1], sys.argv[2]
RUNS = int(sys.argv[3]) if len(sys.argv) > 3 else 3
work = tempfile.mkdtemp(prefix="tarvik-panel-bench-")



def station(port=None, events=None):
    """One station run: its wall and CPU seconds."""
    command = [CLI, "--lab", "--pace", "20", "station", IMAGE, "--lab-bays", "4x4", "--jobs", "16",
               "--history", "none", "--stop-after", "1"]
    if port:
        command += ["--panel", str(port)]
    if events:
        command += ["--events"]
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=events or subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return process, start, before


def finish(process, start, before):
    process.wait()
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


driver = browser(os.path.join(work, "chromium"))

OBSERVE = """
window.seen = [];
const note = () => {
  const now = Date.now();
  for (const t of document.querySelectorAll('.tile')) {
    const key = t.dataset.slot + '|' + t.querySelector('.device').textContent + '|' + t.dataset.state;
    if (!window.last) window.last = {};
    if (window.last[t.dataset.slot] !== key) {
      window.last[t.dataset.slot] = key;
      window.seen.push([now, t.dataset.slot, t.querySelector('.device').textContent, t.dataset.state]);
    }
  }
};
new MutationObserver(note).observe(document.getElementById('tiles'), {childList: true, subtree: true});
note();
"""

plain, paneled, latencies = [], [], []
try:
    for run in range(RUNS):
        plain.append(finish(*station()))
        port = free_port()
        events_path = os.path.join(work, "events-%d.jsonl" % run)
        with open(events_path, "w") as events:
            process, start, before = station(port, events)
            for _ in range(200):
                try:
                    driver.get("http://127.0.0.1:%d/" % port)
                    break
                except Exception:
                    time.sleep(0.01)
            for _ in range(200):
                if driver.execute_script("return document.body.dataset.version"):
                    break
                time.sleep(0.01)
            driver.execute_script(OBSERVE)
            # The page keeps what it saw after the station is gone.
            paneled.append(finish(process, start, before))
            seen = driver.execute_script("return window.seen")
        with open(events_path) as f:
            for line in f:
                event = json.loads(line)
                want = {"started": ("running",), "finished": ("passed", "failed")}.get(event["event"])
                if not want:
                    continue
                at = time.mktime(time.strptime(event["time"][:19], "%Y-%m-%dT%H:%M:%S")) - time.timezone
                at = at * 1000 + int(event["time"][20:23])
                shown = [s[0] for s in seen if s[1] == event["bay"] and s[2] == event["device"]
                         and s[3] in want and s[0] >= at - 5]
                if shown:
                    latencies.append(shown[0] - at)
finally:
    driver.quit()

wall0 = statistics.median(w for w, _ in plain)
wall1 = statistics.median(w for w, _ in paneled)
cpu0 = statistics.median(c for _, c in plain)
cpu1 = statistics.median(c for _, c in paneled)
print("station of 16 lab devices at pace 20, median of %d: without the panel %.2f s wall, %.3f s CPU;"
      " with it open in a browser %.2f s wall, %.3f s CPU" % (RUNS, wall0, cpu0, wall1, cpu1))
print("panel open / without: wall %.3f (target <= 1.01); CPU +%.2f %% of a core over the run "
      "(target <= +2 %%)" % (wall1 / wall0, 100.0 * (cpu1 - cpu0) / wall1))
if latencies:
    latencies.sort()
    print("event to tile: median %.0f ms, 90th percentile %.0f ms over %d events (target: median <= 200 ms)"
          % (statistics.median(latencies), latencies[int(len(latencies) * 0.9) - 1], len(latencies)))
else:
    print("event to tile: no event matched a tile")
