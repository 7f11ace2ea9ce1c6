#!/usr/bin/env python3
"""The canvas page in a real headless Chromium against a real `loomwork run --serve`.

Run: test_canvas_page.py --loomwork BIN --modules DIR [unittest options]. Exits 77 (skipped)
only when chromium, chromedriver or python3-selenium is missing."""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import canvaspage as cp  # noqa: E402

OPTIONS = None
BROWSER = None


def setUpModule():
    global BROWSER
    BROWSER = cp.start_browser(PARTS)


def tearDownModule():
    if BROWSER is not None:
        cp.stop_browser(BROWSER)


def retype(field, text):
    """Replaces a field's text as a user does (select all, type) and presses Enter."""
    from selenium.webdriver.common.keys import Keys
    field.send_keys(Keys.CONTROL, "a")
    field.send_keys(text + Keys.ENTER)


def first_example():
    """examples/first: its diagram and the files beside it."""
    src = os.path.join(OPTIONS.source, "examples", "first")
    with open(os.path.join(src, "first.lwd")) as f:
        diagram = json.load(f)
    with open(os.path.join(src, "values.csv")) as f:
        return diagram, {"values.csv": f.read()}


class PageTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="canvas-page-")
        self.run_ = None
        self.d = BROWSER
        cp.browser_errors(self.d)  # reading the console empties it

    def tearDown(self):
        # Script errors and failed requests of the page fail the test that caused them (refused
        # edits excepted: the tests check what the page says about them, and requests to a run
        # a test has ended); the page is left before the run ends.
        errors = [e for e in cp.browser_errors(self.d)
                  if "status of 400" not in e and "ERR_CONNECTION_REFUSED" not in e]
        self.d.get("about:blank")
        status = self.run_.stop() if self.run_ is not None else 0
        shutil.rmtree(self.folder, ignore_errors=True)
        self.assertEqual(errors, [], "the browser's console")
        # Served, watched and edited, the run still ends as a run does at Ctrl-C.
        self.assertEqual(status, 0, "\n".join(self.run_.err_lines if self.run_ else []))
        for line in self.run_.err_lines if self.run_ else []:
            self.assertNotRegex(line, r"Sanitizer|runtime error", "\n".join(self.run_.err_lines))

    def serve(self, diagram, files=None):
        for name, text in (files or {}).items():
            with open(os.path.join(self.folder, name), "w") as f:
                f.write(text)
        path = os.path.join(self.folder, "diagram.lwd")
        with open(path, "w") as f:
            json.dump(diagram, f, indent=2)
        self.path = path
        self.run_ = cp.Run(OPTIONS.loomwork, OPTIONS.modules, path)
        cp.open_page(self.d, self.run_)
        return self.run_

    # --- reading the page ---

    def js(self, script, *args):
        return self.d.execute_script(script, *args)

    def label(self, wire):
        """The value shown on a wire, or None while it has none."""
        return self.js(
            "const l = [...document.querySelectorAll('.value')].find(l => l.dataset.wire === arguments[0]);"
            "return l && !l.hidden ? l.textContent : null;", wire)

    def wires(self):
        return sorted(self.js(
            "return [...document.querySelectorAll('#wires .wire')].map(g => g.dataset.from + '>' + g.dataset.to)"))

    def log_lines(self):
        return self.js("return [...document.querySelectorAll('#log .line')].map(l => l.textContent)")

    def el(self, css):
        return self.d.find_element("css selector", css)

    def drag(self, source, target=None, by=None):
        from selenium.webdriver.common.action_chains import ActionChains
        a = ActionChains(self.d).move_to_element(source).click_and_hold().move_by_offset(4, 4)
        if target is not None:
            a = a.move_to_element(target)
        else:
            a = a.move_by_offset(by[0] - 4, by[1] - 4)
        a.release().perform()

    # --- the tests ---

    def test_first_example_shows_every_face_and_wire_where_the_run_puts_them(self):
        diagram, files = first_example()
        run = self.serve(diagram, files)
        served = run.json("/api/diagram")
        ports = run.json("/api/ports")
        # Every face loaded, drawn at its module's rect and at its size.
        for m in served["modules"]:
            css = ".module[data-id='%s']" % m["id"]
            face = cp.wait_for("the face of " + m["id"], lambda: self.js(
                "const i = document.querySelector(arguments[0] + ' img');"
                "return i && i.complete && i.naturalWidth > 0 ? [i.naturalWidth, i.naturalHeight] : null;", css))
            self.assertEqual(face, m["rect"][2:], m["id"])
            box = self.js("const e = document.querySelector(arguments[0]);"
                          "return [e.offsetLeft, e.offsetTop, e.offsetWidth, e.offsetHeight];", css)
            self.assertEqual(box, m["rect"], m["id"])
        self.assertEqual(len(served["modules"]), 3)
        # Every wire, from its output's link point to its input's.
        self.assertEqual(self.wires(), sorted(l["from"] + ">" + l["to"] for l in diagram["links"]))
        for l in diagram["links"]:
            fid, fn = l["from"].rsplit(":", 1)
            tid, tn = l["to"].rsplit(":", 1)
            a = next(p["point"] for p in ports[fid]["outputs"] if p["index"] == int(fn))
            b = next(p["point"] for p in ports[tid]["inputs"] if p["index"] == int(tn))
            line = self.js(
                "const g = [...document.querySelectorAll('#wires .wire')].find("
                "  g => g.dataset.from === arguments[0] && g.dataset.to === arguments[1]);"
                "const l = g.querySelector('line');"
                "return ['x1','y1','x2','y2'].map(k => Number(l.getAttribute(k)));", l["from"], l["to"])
            self.assertEqual([round(v, 3) for v in line], [round(v, 3) for v in a + b], l)
        # Every port of the run is there to be wired.
        count = sum(len(p["inputs"]) + len(p["outputs"]) for p in ports.values())
        self.assertEqual(self.js("return document.querySelectorAll('#overlay .port').length"), count)
        self.assertEqual(count, 3 + 4 + 1)
        self.assertIn("running", self.el("#run-state").get_attribute("class"))

    def test_player_values_reach_their_wires_as_the_trace_writes_them(self):
        rows = ["%d,0,%d\n%d,1,\"t %d\"\n%d,2,0x%02x00ff" % (t, i, t, i, t, i % 256)
                for i, t in enumerate(range(0, 30000, 100))]
        diagram = {
            "loomwork": 1,
            "modules": [
                {"id": "player", "class": "Player", "rect": [20, 20, 100, 90],
                 "content": {"file": "long.csv", "outputs": "isb"}},
                {"id": "monitor", "class": "Monitor", "rect": [260, 20, 140, 120], "content": {"inputs": 3}},
            ],
            "links": [{"from": "player:%d" % i, "to": "monitor:%d" % i} for i in range(3)],
        }
        self.serve(diagram, {"long.csv": "\n".join(rows) + "\n"})
        seen = set()

        def values():
            n = self.label("player:0>monitor:0")
            if n is not None:
                seen.add(n)
            return len(seen) >= 3
        cp.wait_for("three different numbers on the integer wire", values)
        for n in seen:
            self.assertRegex(n, r"^\d+$")
        text = cp.wait_for("a text on the text wire", lambda: self.label("player:1>monitor:1"))
        self.assertRegex(text, r'^"t \d+"$')
        data = cp.wait_for("bytes on the byte wire", lambda: self.label("player:2>monitor:2"))
        self.assertRegex(data, r"^0x[0-9a-f]{2}00ff$")
        # The Monitor's lines reach the log as the run prints them.
        lines = cp.wait_for("Monitor lines in the log", lambda: [
            l for l in self.log_lines() if l.startswith("M monitor.1 ")])
        self.assertRegex(lines[-1], r'^M monitor\.1 "t \d+"$')
        # The same line as the run prints it (its standard output may come a moment later).
        cp.wait_for("the run to print " + lines[-1], lambda: lines[-1] in self.run_.output().splitlines())
        # The page tells when the run has ended.
        self.assertEqual(self.el("#run-state").text, "running")
        self.assertEqual(self.run_.stop(), 0)
        cp.wait_for("the page to see the run end", lambda: "ended" in self.el("#run-state").get_attribute("class"))

    def test_property_changed_in_the_panel_changes_the_next_values(self):
        diagram = {
            "loomwork": 1,
            "modules": [
                {"id": "clock", "class": "Timer", "rect": [20, 40, 100, 60], "content": {"periodMs": 1000}},
                {"id": "monitor", "class": "Monitor", "rect": [240, 40, 120, 60], "content": {"inputs": 1}},
            ],
            "links": [{"from": "clock:0", "to": "monitor:0"}],
        }
        run = self.serve(diagram)
        self.el(".module[data-id='clock']").click()
        row = ".prop[data-name='periodMs']"
        field = self.el(row + " input")
        self.assertEqual(field.get_attribute("value"), "1000")
        self.assertIn("1..3600000", self.el(row + " .kind").text)
        self.assertEqual(self.el("#panel-title").text, "clock")
        first = int(cp.wait_for("the first tick on the wire", lambda: self.label("clock:0>monitor:0")))
        self.assertLess(first, 5)
        # Refused values: the run's own error under the field, nothing changed.
        for bad in ("0", "fast"):
            retype(field, bad)
            error = cp.wait_for("the error of " + bad, lambda: self.js(
                "const e = document.querySelector(arguments[0]); return e.hidden ? '' : e.textContent;",
                row + " .error"))
            self.assertIn(bad, error)
            self.assertIn("invalid", self.el(row).get_attribute("class"))
        self.assertEqual(run.json("/api/diagram")["modules"][0]["content"]["periodMs"], 1000)
        retype(field, "10")
        cp.wait_for("the run to take the new period", lambda:
                    run.json("/api/diagram")["modules"][0]["content"]["periodMs"] == 10)
        cp.wait_for("the field accepted", lambda: "invalid" not in self.el(row).get_attribute("class"))
        # At 1000 ms it would take most of a minute to count this far.
        cp.wait_for("ticks every 10 ms on the wire", lambda: int(self.label("clock:0>monitor:0")) >= 40)
        self.assertEqual(self.el(row + " input").get_attribute("value"), "10")

    def test_wire_drawn_by_dragging_carries_values_and_a_refused_one_says_why(self):
        diagram = {
            "loomwork": 1,
            "modules": [
                {"id": "clock", "class": "Timer", "rect": [20, 20, 100, 60], "content": {"periodMs": 30}},
                {"id": "slow", "class": "Timer", "rect": [20, 140, 100, 60], "content": {"periodMs": 100000}},
                {"id": "monitor", "class": "Monitor", "rect": [260, 20, 120, 180], "content": {"inputs": 2}},
            ],
            "links": [],
        }
        run = self.serve(diagram)
        self.assertEqual(self.wires(), [])
        self.drag(self.el(".port.output[data-port='clock:0']"), self.el(".port.input[data-port='monitor:1']"))
        cp.wait_for("the new wire", lambda: self.wires() == ["clock:0>monitor:1"])
        self.assertEqual(run.json("/api/diagram")["links"], [{"from": "clock:0", "to": "monitor:1"}])
        seen = set()
        cp.wait_for("values on the new wire", lambda: seen.add(self.label("clock:0>monitor:1")) or
                    len(seen - {None}) >= 2)
        cp.wait_for("its values at the Monitor", lambda: any(
            re.match(r"^M monitor\.1 \d+$", l) for l in self.log_lines()))
        # An input takes one wire: the run refuses a second one, and the page says so there.
        self.drag(self.el(".port.output[data-port='slow:0']"), self.el(".port.input[data-port='monitor:1']"))
        bubble = cp.wait_for("the refusal", lambda: self.js(
            "const b = document.getElementById('canvas-error'); return b.hidden ? '' : b.textContent;"))
        self.assertIn("monitor", bubble)
        self.assertEqual(self.wires(), ["clock:0>monitor:1"])
        self.assertEqual(len(run.json("/api/diagram")["links"]), 1)

    def test_ids_with_markup_slashes_and_colons_are_shown_as_text_and_reached(self):
        odd = ["a b/c?d#e%41", "<img src=x onerror=document.title='owned'>", "x:1", "\u00fcn\u00ef \"q\""]
        diagram = {
            "loomwork": 1,
            "modules": [
                {"id": odd[0], "class": "Timer", "rect": [20, 20, 100, 60], "content": {"periodMs": 30}},
                {"id": odd[1], "class": "Monitor", "rect": [220, 20, 120, 100], "content": {"inputs": 2}},
                {"id": odd[2], "class": "Timer", "rect": [20, 140, 100, 60], "content": {"periodMs": 30}},
                {"id": odd[3], "class": "Monitor", "rect": [220, 160, 120, 60], "content": {"inputs": 1}},
            ],
            "links": [{"from": odd[0] + ":0", "to": odd[1] + ":0"}, {"from": odd[2] + ":0", "to": odd[3] + ":0"}],
        }
        run = self.serve(diagram)
        shown = cp.wait_for("every face", lambda: self.js(
            "const m = [...document.querySelectorAll('.module')];"
            "return m.every(e => e.querySelector('img').naturalWidth > 0) &&"
            "  m.map(e => e.querySelector('.id').textContent);"))
        self.assertEqual(sorted(shown), sorted(odd))
        for key in (odd[0] + ":0>" + odd[1] + ":0", odd[2] + ":0>" + odd[3] + ":0"):
            cp.wait_for("a value on " + key, lambda: (self.label(key) or "").isdigit())
        self.assertEqual(self.js("return document.querySelectorAll('img').length"), 4, "no markup from an id")
        self.assertNotEqual(self.d.title, "owned")
        # Edits reach the module the id names: its properties, and Delete.
        self.el(".module[data-id='x:1']").click()
        field = self.el(".prop[data-name='periodMs'] input")
        retype(field, "70")
        cp.wait_for("the new period", lambda: next(
            m for m in run.json("/api/diagram")["modules"] if m["id"] == "x:1")["content"]["periodMs"] == 70)
        from selenium.webdriver.common.keys import Keys
        self.assertIn("selected", self.el(".module[data-id='x:1']").get_attribute("class"))
        self.el("#scroller").send_keys(Keys.DELETE)
        cp.wait_for("the module gone", lambda: [m["id"] for m in run.json("/api/diagram")["modules"]] ==
                    [odd[0], odd[1], odd[3]])
        cp.wait_for("its wire gone", lambda: self.wires() == [odd[0] + ":0>" + odd[1] + ":0"])

    def test_moved_deleted_added_and_saved_diagram_runs_again(self):
        run = self.serve(*first_example())
        # Move the clock by dragging it.
        self.drag(self.el(".module[data-id='clock']"), by=(60, 40))
        cp.wait_for("the clock at its new place", lambda: next(
            m for m in run.json("/api/diagram")["modules"] if m["id"] == "clock")["rect"] == [80, 170, 100, 60])
        # Its wire starts where the run now puts the clock's output.
        point = run.json("/api/ports")["clock"]["outputs"][0]["point"]
        cp.wait_for("the wire to follow", lambda: self.js(
            "const l = document.querySelector(\"#wires .wire[data-from='clock:0'] line\");"
            "return [Number(l.getAttribute('x1')), Number(l.getAttribute('y1'))];") == point)
        # Select a wire and delete it.
        self.el("#wires .wire[data-from='player:0'][data-to='monitor:0'] line.hit").click()
        self.assertIn("selected", self.el("#wires .wire[data-from='player:0']").get_attribute("class"))
        from selenium.webdriver.common.keys import Keys
        self.el("#scroller").send_keys(Keys.DELETE)
        cp.wait_for("the wire gone", lambda: "player:0>monitor:0" not in self.wires())
        # Add a Timer from the list of classes.
        from selenium.webdriver.support.ui import Select
        Select(self.el("#add-class")).select_by_value("Timer")
        self.el("#add-button").click()
        cp.wait_for("the new Timer", lambda: self.js("return !!document.querySelector(\".module[data-id='timer']\")"))
        # A selected module goes with Delete too.
        self.el(".module[data-id='timer']").click()
        self.el("#scroller").send_keys(Keys.DELETE)
        cp.wait_for("the new Timer deleted", lambda: self.js(
            "return !document.querySelector(\".module[data-id='timer']\")"))
        Select(self.el("#add-class")).select_by_value("Value")
        self.el("#add-button").click()
        cp.wait_for("the new Value", lambda: self.js("return !!document.querySelector(\".module[data-id='value']\")"))
        # Save, then run what was saved.
        self.el("#save-button").click()
        cp.wait_for("the saved message", lambda: self.el("#bar-message").text.startswith("saved"))
        saved = json.load(open(self.path))
        self.assertEqual({m["id"] for m in saved["modules"]}, {"player", "clock", "monitor", "value"})
        self.assertEqual(next(m for m in saved["modules"] if m["id"] == "clock")["rect"], [80, 170, 100, 60])
        self.assertNotIn({"from": "player:0", "to": "monitor:0"}, saved["links"])
        self.assertEqual(len(saved["links"]), 3)
        r = subprocess.run([OPTIONS.loomwork, "run", self.path, "--seconds", "0.5", "--modules", OPTIONS.modules],
                           capture_output=True, text=True, timeout=30)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn('M monitor.1 "hello"', r.stdout)
        self.assertNotIn("M monitor.0 ", r.stdout)


if __name__ == "__main__":
    OPTIONS, rest = cp.args(sys.argv[1:])
    PARTS, why = cp.browser_parts()
    if PARTS is None:
        print("skipped: " + why)
        sys.exit(cp.SKIP)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
