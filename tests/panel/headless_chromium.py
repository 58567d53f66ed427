"""Debian's chromium, headless, driven through chromedriver by python3-selenium: what the
panel's browser tests and benchmarks share. Importing it exits 77 (skipped) when one of the
three is missing."""

import os
import socket
import sys

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
except ImportError:
    print("SKIP: no python3-selenium", file=sys.stderr)
    sys.exit(77)
for _tool in ("/usr/bin/chromium", "/usr/bin/chromedriver"):
    if not os.access(_tool, os.X_OK):
        print("SKIP: no " + _tool + " (the chromium and chromium-driver packages)", file=sys.stderr)
        sys.exit(77)


def browser(profile, width=1400, height=1100):
    """A headless browser with its profile in the folder profile."""
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=%d,%d" % (width, height), "--user-data-dir=" + profile):
        options.add_argument(argument)
    options.binary_location = "/usr/bin/chromium"
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
