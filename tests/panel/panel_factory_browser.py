#!/usr/bin/python3
"""The factory view in a real browser (headless chromium): `tarvik-cli panel URL` over a shared
database that the caller filled, checked against what the caller says each station is.

Usage: panel_factory_browser.py TARVIK_CLI URL EXPECTED_JSON [SCREENSHOT.png]
EXPECTED_JSON: {"states": {station: "live"|"quiet"|"offline"}, "hostile": station name,
                "ending": a failure's text that must be listed}
Exits 77 (skipped) when chromium, chromedriver or python3-selenium is missing."""

import json
import os
import subprocess
import sys
import tempfile
import time


sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from headless_chromium import browser, free_port  # noqa: E402 (exits 77 without chromium)

cli, url, expected = sys.argv[1], sys.argv[2], json.loads(sys.argv[3])
shot = sys.argv[4] if len(sys.argv) > 4 else None
port = free_port()
work = tempfile.mkdtemp(prefix="tarvik-factory-")
panel = subprocess.Popen([cli, "panel", url, "--panel", str(port), "--refresh", "1"],
                         stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "err"), "w"))
failures = []
driver = None
try:
    start = time.time()
    driver = browser(os.path.join(work, "chromium"), 1400, 1300)
    for _ in range(100):
        try:
            driver.get("http://127.0.0.1:%d/" % port)
            break
        except Exception:
            time.sleep(0.1)
    js = driver.execute_script
    tiles = {}
    deadline = time.time() + 20
    while time.time() < deadline:
        tiles = js("""const t = {}; for (const n of document.querySelectorAll('.tile'))
                        t[n.querySelector('.device').textContent] = [n.dataset.state,
                          n.querySelector('.state').textContent];
                      return t;""")
        if all(tiles.get(k, [None])[0] == v for k, v in expected["states"].items()):
            break
        time.sleep(0.1)
    for station, state in expected["states"].items():
        if tiles.get(station, [None])[0] != state:
            failures.append("%s shows %s, not %s" % (station, tiles.get(station), state))
    words = {"live": "Live", "quiet": "Quiet", "offline": "Offline"}
    for station, (state, text) in tiles.items():
        if words.get(state) != text:
            failures.append("%s's state is not in words: %r" % (station, text))
    if expected["hostile"] not in tiles:
        failures.append("the hostile name is not shown as text: %s" % list(tiles))
    if js("return window.pwned") is not None:
        failures.append("a script from a station's name ran")
    if expected["ending"] not in js("return document.getElementById('causes-table').textContent"):
        failures.append("the failures by cause lack " + expected["ending"])
    if not js("return document.querySelectorAll('#yield-table table').length") == 3:
        failures.append("three yield tables")
    print("factory view first shown after %.2f s" % (time.time() - start))
    if shot:
        driver.save_screenshot(shot)
finally:
    if driver:
        driver.quit()
    panel.terminate()
    panel.wait(20)
for failure in failures:
    print("FAIL: " + failure, file=sys.stderr)
sys.exit(1 if failures else 0)
