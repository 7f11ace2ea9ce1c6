"""Shared by the browser tests and the screenshot script: a real `loomwork run --serve` on a
loopback port and a headless Chromium driven by Selenium that opens its page."""

import json
import os
import queue
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

SKIP = 77  # the test's SKIP_RETURN_CODE: no browser on this machine

SERVE_WAIT_S = 10     # a run prints its serving line long before this
BROWSER_FLAGS = [
    "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-dev-shm-usage",
]


def browser_parts():
    """(chromium, chromedriver) paths, or a reason why there is no browser to drive."""
    try:
        import selenium  # noqa: F401
    except ImportError:
        return None, "python3-selenium is not installed"
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    driver = shutil.which("chromedriver")
    if not chromium:
        return None, "chromium is not installed"
    if not driver:
        return None, "chromium-driver is not installed"
    return (chromium, driver), None


def start_browser(parts, width=1200, height=760):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    chromium, driver = parts
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for flag in BROWSER_FLAGS:
        options.add_argument(flag)
    options.add_argument("--window-size=%d,%d" % (width, height))
    profile = tempfile.mkdtemp(prefix="canvas-chromium-")
    options.add_argument("--user-data-dir=" + profile)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    d = webdriver.Chrome(service=Service(driver), options=options)
    # The page's own size, whatever room the headless window keeps for itself.
    d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                      {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
    d.set_page_load_timeout(20)
    d.set_script_timeout(10)
    d.canvas_profile = profile
    return d


def stop_browser(d):
    try:
        d.quit()
    finally:
        shutil.rmtree(getattr(d, "canvas_profile", ""), ignore_errors=True)


class Run:
    """`loomwork run DIAGRAM --serve 127.0.0.1:0` (a free port, named on its serving line) until
    stop(); standard output goes to a file."""

    def __init__(self, loomwork, modules, diagram, extra=()):
        self.folder = os.path.dirname(diagram)
        self.out_path = os.path.join(self.folder, "run.out")
        self.err_lines = []
        self._lines = queue.Queue()
        self._out = open(self.out_path, "wb")
        self.proc = subprocess.Popen(
            [loomwork, "run", diagram, "--serve", "127.0.0.1:0", "--modules", modules, *extra],
            stdout=self._out, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        self._reader = threading.Thread(target=self._read_errors, daemon=True)
        self._reader.start()
        self.url = self._serving_url()

    def _read_errors(self):
        for raw in self.proc.stderr:
            line = raw.decode("utf-8", "replace").rstrip("\n")
            self.err_lines.append(line)
            self._lines.put(line)
        self._lines.put(None)

    def _serving_url(self):
        deadline = time.monotonic() + SERVE_WAIT_S
        while time.monotonic() < deadline:
            try:
                line = self._lines.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                break
            if line is None:
                break
            m = re.search(r"serving (http://\S+)", line)
            if m:
                return m.group(1)
        self.stop()
        raise RuntimeError("loomwork did not start serving:\n" + "\n".join(self.err_lines))

    def api(self, path, method="GET", body=None):
        """(status, text) of one request to the run, the token passed as the page passes it."""
        url = self.url.split("?")[0].rstrip("/") + path
        token = re.search(r"[?&]token=([^&]+)", self.url)
        if token:
            url += ("&" if "?" in url else "?") + "token=" + token.group(1)
        data = None if body is None else json.dumps(body).encode()
        req = urllib.request.Request(url, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(req, timeout=5) as r:
                return r.status, r.read().decode()
        except urllib.error.HTTPError as e:
            return e.code, e.read().decode()

    def json(self, path):
        status, text = self.api(path)
        if status != 200:
            raise AssertionError("%s answered %d: %s" % (path, status, text))
        return json.loads(text)

    def output(self):
        self._out.flush()
        with open(self.out_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self._reader.join(timeout=10)  # every line it wrote, sanitizer reports included
        self._out.close()
        self.proc.stderr.close()
        return self.proc.returncode


def wait_for(what, check, timeout=8.0, every=0.05):
    """check()'s first true answer within timeout seconds, else AssertionError naming what."""
    deadline = time.monotonic() + timeout
    last = None
    while True:
        try:
            last = check()
            if last:
                return last
        except Exception as e:  # a page still building raises now and then
            last = e
        if time.monotonic() >= deadline:
            raise AssertionError("timed out waiting for %s (last: %r)" % (what, last))
        time.sleep(every)


def page_ready(d):
    return d.execute_script("return document.body.dataset.ready === '1'")


def open_page(d, run):
    d.get(run.url)
    wait_for("the page to show the diagram", lambda: page_ready(d))


def browser_errors(d):
    """Severe lines of the browser's console (script errors, failed requests)."""
    try:
        return [e["message"] for e in d.get_log("browser") if e.get("level") == "SEVERE"]
    except Exception:
        return []


def args(argv):
    """--loomwork BIN --modules DIR, or LOOMWORK_BIN / LOOMWORK_MODULES_DIR from the environment."""
    import argparse
    p = argparse.ArgumentParser()
    p.add_argument("--loomwork", default=os.environ.get("LOOMWORK_BIN"))
    p.add_argument("--modules", default=os.environ.get("LOOMWORK_MODULES_DIR"))
    p.add_argument("--source", default=os.environ.get("LOOMWORK_SOURCE_DIR",
                   os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "..", ".."))))
    known, rest = p.parse_known_args(argv)
    if not known.loomwork or not known.modules:
        p.error("give --loomwork and --modules (or LOOMWORK_BIN and LOOMWORK_MODULES_DIR)")
    return known, rest


def fail(message):
    print(message, file=sys.stderr)
    sys.exit(1)
