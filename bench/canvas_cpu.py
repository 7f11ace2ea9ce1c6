#!/usr/bin/python3
"""What a browser page costs a run: CPU of `loomwork run` on a diagram whose Timer ticks every
10 ms into a Monitor, without --serve, serving with nobody watching, with a bare event stream
(curl) and with the canvas page open in headless Chromium.

Two figures per case: the steady rate (ms of CPU per second, all threads, measured by perf stat
over SPAN seconds after the page settled) and the whole run of 10 s (user + system, start-up and
page load included). Run with Debian's python3 (it has Selenium):

    /usr/bin/python3 bench/canvas_cpu.py [build/bin/loomwork] [ROUNDS] [MODULES_DIR]

MODULES_DIR (for example an empty folder) replaces the default module folder, to compare
binaries of two builds on the host modules alone.
"""
import os, socket, subprocess, sys, tempfile, time

LOOMWORK = sys.argv[1] if len(sys.argv) > 1 else "build/bin/loomwork"
ROUNDS = int(sys.argv[2]) if len(sys.argv) > 2 else 3
MODULES = ["--modules", sys.argv[3]] if len(sys.argv) > 3 else []
WARM, SPAN = 3.0, 15.0
DIAGRAM = """{ "loomwork": 1,
  "modules": [
    { "id": "clock", "class": "Timer", "rect": [20, 20, 100, 60], "content": { "periodMs": 10 } },
    { "id": "monitor", "class": "Monitor", "rect": [200, 20, 160, 80], "content": { "inputs": 1 } } ],
  "links": [ { "from": "clock:0", "to": "monitor:0" } ] }
"""


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def open_page(port):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    o = webdriver.ChromeOptions()
    o.add_argument("--headless=new")
    o.add_argument("--no-sandbox")
    o.binary_location = "/usr/bin/chromium"
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            break
        except OSError:
            time.sleep(0.05)
    d = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=o)
    d.get("http://127.0.0.1:%d/" % port)
    return d


def start(diagram, case, seconds):
    args = [LOOMWORK, "run", diagram, "--seconds", str(seconds)] + MODULES
    port = free_port()
    if case != "none":
        args += ["--serve", "127.0.0.1:%d" % port]
    p = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    side = page = None
    if case == "events":
        time.sleep(0.5)
        side = subprocess.Popen(["curl", "-s", "-N", "http://127.0.0.1:%d/api/events" % port],
                                stdout=subprocess.DEVNULL)
    elif case == "page":
        page = open_page(port)
    return p, side, page


def steady(diagram, case):
    p, side, page = start(diagram, case, int(WARM + SPAN + 5))
    time.sleep(WARM)
    r = subprocess.run(["perf", "stat", "-x,", "-e", "task-clock", "-p", str(p.pid), "--", "sleep", str(SPAN)],
                       capture_output=True, text=True)
    ms = float([l for l in r.stderr.splitlines() if "task-clock" in l][0].split(",")[0])
    for s in (side,):
        if s: s.kill()
    if page: page.quit()
    p.kill()
    p.wait()
    return ms / SPAN


def whole(diagram, case):
    p, side, page = start(diagram, case, 10)
    _, _, ru = os.wait4(p.pid, 0)
    if side: side.kill()
    if page: page.quit()
    return (ru.ru_utime + ru.ru_stime) * 1000


def main():
    cases = ("none", "serve", "events", "page")
    with tempfile.TemporaryDirectory() as tmp:
        diagram = os.path.join(tmp, "timer.lwd")
        with open(diagram, "w") as f:
            f.write(DIAGRAM)
        print("steady, ms of CPU per second:   " + "  ".join("%8s" % c for c in cases))
        for _ in range(ROUNDS):
            print("                                " + "  ".join("%8.2f" % steady(diagram, c) for c in cases), flush=True)
        print("whole 10 s run, ms of CPU:       " + "  ".join("%8s" % c for c in ("none", "page")))
        for _ in range(ROUNDS):
            print("                                " + "  ".join("%8.0f" % whole(diagram, c) for c in ("none", "page")),
                  flush=True)


if __name__ == "__main__":
    main()
