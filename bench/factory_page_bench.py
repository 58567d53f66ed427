#!/usr/bin/python3
"""The factory view's first page over a filled shared database: `tarvik-cli panel URL` started
afresh each time, then (a) from its start until it answers (its first reading of the database
included) and (b) in headless chromium, from the page's navigation until its station tiles
show. Median of 3. Prints figures only. Usage: factory_page_bench.py TARVIK_CLI URL
Exits 77 without chromium, chromedriver or python3-selenium."""

import os
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "panel"))
from headless_chromium import browser, free_port  # noqa: E402 (exits 77 without chromium)

cli, url = sys.argv[1], sys.argv[2]
work = tempfile.mkdtemp(prefix="tarvik-factory-page-")
driver = browser(os.path.join(work, "chromium"))
ready, shown, whole = [], [], []
try:
    for _ in range(3):
        port = free_port()
        start = time.monotonic()
        panel = subprocess.Popen([cli, "panel", url, "--panel", str(port)],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        while True:
            try:
                urllib.request.urlopen("http://127.0.0.1:%d/favicon.ico" % port, timeout=5)
                break
            except Exception:
                time.sleep(0.005)
        ready.append(time.monotonic() - start)
        driver.get("http://127.0.0.1:%d/" % port)
        while not driver.execute_script("return document.querySelectorAll('.tile').length"):
            time.sleep(0.005)
        shown.append(driver.execute_script("return performance.now()") / 1000.0)
        whole.append(time.monotonic() - start)
        panel.terminate()
        panel.wait(20)
finally:
    driver.quit()
print("factory view's first page: the panel answers %.3f s after it starts (its first reading "
      "included); the page shows its tiles %.3f s after its navigation; start to tiles %.3f s "
      "(median of 3; target <= 1 s)" % (statistics.median(ready), statistics.median(shown),
                                        statistics.median(whole)))
