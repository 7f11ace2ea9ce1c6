#!/usr/bin/env python3
"""Writes a picture of the canvas page watching a running example (build/screenshots/canvas.png).

  screenshot.py --loomwork build/bin/loomwork --modules build/modules [--out PATH] [--example DIR/NAME.lwd]

The example's folder is copied first, so the run never writes into the source tree. Exits 77
when chromium, chromedriver or python3-selenium is missing."""

import argparse
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import canvaspage as cp  # noqa: E402

SETTLE_S = 3.0  # long enough for values on every wire and repainted faces


def main():
    options, rest = cp.args(sys.argv[1:])
    p = argparse.ArgumentParser()
    p.add_argument("--out", default=os.path.join("build", "screenshots", "canvas.png"))
    p.add_argument("--example", default=os.path.join("examples", "posture", "posture.lwd"))
    p.add_argument("--select", default="pose", help="the module whose properties the panel shows")
    more = p.parse_args(rest)
    parts, why = cp.browser_parts()
    if parts is None:
        print("skipped: " + why, file=sys.stderr)
        return cp.SKIP
    example = more.example if os.path.isabs(more.example) else os.path.join(options.source, more.example)
    folder = tempfile.mkdtemp(prefix="canvas-shot-")
    run = browser = None
    try:
        copy = os.path.join(folder, "example")
        shutil.copytree(os.path.dirname(example), copy)
        run = cp.Run(options.loomwork, options.modules, os.path.join(copy, os.path.basename(example)))
        browser = cp.start_browser(parts, 1060, 470)
        cp.open_page(browser, run)
        cp.wait_for("every face", lambda: browser.execute_script(
            "return [...document.querySelectorAll('.module img')].every(i => i.complete && i.naturalWidth > 0)"))
        if more.select:
            browser.find_element("css selector", ".module[data-id='%s']" % more.select).click()
        time.sleep(SETTLE_S)
        cp.wait_for("values on the wires", lambda: browser.execute_script(
            "return [...document.querySelectorAll('.value')].some(v => !v.hidden)"))
        os.makedirs(os.path.dirname(os.path.abspath(more.out)), exist_ok=True)
        if not browser.save_screenshot(more.out):
            cp.fail("could not write " + more.out)
        errors = cp.browser_errors(browser)
        if errors:
            cp.fail("the page reported errors:\n" + "\n".join(errors))
        print(more.out)
        return 0
    finally:
        if browser is not None:
            cp.stop_browser(browser)
        if run is not None:
            run.stop()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
