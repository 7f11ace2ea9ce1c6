#!/usr/bin/env python3
"""Soak test of loomwork (make soak; not part of the test suite).

For SOAK_MINUTES (default 30) loomwork runs a diagram with the tone receiver flooded by several
clients that each send a bounded burst of digits, close and connect again; a Timer ticking every
millisecond and a Player playing a file that lasts the whole run, each into a Monitor. The
process's memory (VmRSS) is sampled every minute and printed. The soak fails when the last sample
is more than 5% above the first steady one (the one after the first minute), when loomwork ends
early or does not end with status 0, or when the clients could send nothing.

usage: soak.py [BUILD_DIR]    (BUILD_DIR holds bin/loomwork and modules/; default: build)
environment: SOAK_MINUTES (30), SOAK_CLIENTS (4), SOAK_BURST_KB (256)
"""
import json
import os
import random
import socket
import subprocess
import sys
import tempfile
import threading
import time

GROWTH_LIMIT = 1.05
SAMPLE_SECONDS = 60


def free_receiver_port():
    # The receiver's port setting takes 3000..8000; 3502 is left to the examples.
    for _ in range(200):
        port = random.randint(3000, 8000)
        if port == 3502:
            continue
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
                return port
            except OSError:
                continue
    raise SystemExit("soak: no free port for the tone receiver")


def write_files(folder, port, seconds):
    # The Player has no loop setting: its file repeats a short pattern for the whole run.
    with open(os.path.join(folder, "pattern.csv"), "w") as f:
        for i in range(int(seconds * 50) + 50):
            f.write("%d,0,%d\n" % (i * 20, i % 1000))
    links = [{"from": "dtmf:%d" % k, "to": "keys:%d" % k} for k in range(12)]
    links += [{"from": "dtmf:12", "to": "digit:0"},
              {"from": "tick:0", "to": "ticks:0"},
              {"from": "player:0", "to": "played:0"}]
    diagram = {"loomwork": 1, "modules": [
        {"id": "dtmf", "class": "JToneDigitObj", "rect": [20, 20, 120, 160], "content": {"port": port}},
        {"id": "keys", "class": "Monitor", "rect": [220, 20, 160, 220], "content": {"inputs": 12}},
        {"id": "digit", "class": "Monitor", "rect": [220, 260, 160, 60], "content": {"inputs": 1}},
        {"id": "tick", "class": "Timer", "rect": [20, 340, 80, 60], "content": {"periodMs": 1}},
        {"id": "ticks", "class": "Monitor", "rect": [220, 340, 160, 60], "content": {"inputs": 1}},
        {"id": "player", "class": "Player", "rect": [20, 420, 80, 60],
         "content": {"file": "pattern.csv", "outputs": "i"}},
        {"id": "played", "class": "Monitor", "rect": [220, 420, 160, 60], "content": {"inputs": 1}}],
        "links": links}
    path = os.path.join(folder, "soak.lwd")
    with open(path, "w") as f:
        json.dump(diagram, f, indent=1)
    return path


class Clients:
    """Senders of bounded bursts of digits that connect again after each one."""

    def __init__(self, port, count, burst):
        self.port, self.burst = port, burst
        self.stop = threading.Event()
        self.lock = threading.Lock()
        self.sent = 0
        self.connections = 0
        self.threads = [threading.Thread(target=self.run, daemon=True) for _ in range(count)]
        for t in self.threads:
            t.start()

    def run(self):
        digits = b"0123456789*#"
        block = bytes(random.choice(digits) for _ in range(4096))
        while not self.stop.is_set():
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=5) as s:
                    s.settimeout(10)
                    with self.lock:
                        self.connections += 1
                    left = self.burst
                    while left > 0 and not self.stop.is_set():
                        n = s.send(block[:min(left, len(block))])
                        left -= n
                        with self.lock:
                            self.sent += n
            except OSError:
                self.stop.wait(0.1)

    def finish(self):
        self.stop.set()
        for t in self.threads:
            t.join(timeout=15)


def status_kb(pid, key):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return -1


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    minutes = float(os.environ.get("SOAK_MINUTES", "30"))
    client_count = int(os.environ.get("SOAK_CLIENTS", "4"))
    burst = int(os.environ.get("SOAK_BURST_KB", "256")) * 1024
    loomwork = os.path.join(build, "bin", "loomwork")
    if not os.access(loomwork, os.X_OK):
        raise SystemExit("soak: %s is not built" % loomwork)
    seconds = minutes * 60
    folder = tempfile.mkdtemp(prefix="loomwork-soak-")
    port = free_receiver_port()
    diagram = write_files(folder, port, seconds)
    err_path = os.path.join(folder, "stderr.txt")
    print("soak: %.0f min, %d clients of %d kB bursts on port %d, a 1 ms Timer and a Player; files in %s"
          % (minutes, client_count, burst // 1024, port, folder), flush=True)
    with open(err_path, "w") as err:
        proc = subprocess.Popen([loomwork, "run", diagram, "--modules", os.path.join(build, "modules"),
                                 "--seconds", "%.1f" % (seconds + 1)],
                                stdout=subprocess.DEVNULL, stderr=err)
    deadline = time.time() + 10
    while time.time() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            break
        except OSError:
            time.sleep(0.05)
    start = time.time()
    clients = Clients(port, client_count, burst)
    samples = []
    print("minute   VmRSS kB   VmHWM kB   sent MB  connections", flush=True)
    ended_early = False
    for minute in range(0, int(minutes) + 1):
        while time.time() < start + minute * SAMPLE_SECONDS and proc.poll() is None:
            time.sleep(0.2)
        if proc.poll() is not None:
            ended_early = True
            break
        rss, hwm = status_kb(proc.pid, "VmRSS"), status_kb(proc.pid, "VmHWM")
        samples.append(rss)
        with clients.lock:
            sent, connections = clients.sent, clients.connections
        print("%6d %10d %10d %9.1f %12d" % (minute, rss, hwm, sent / 1048576.0, connections), flush=True)
    clients.finish()
    try:
        status = proc.wait(timeout=60)
    except subprocess.TimeoutExpired:
        proc.kill()
        status = "killed after 60 s"
    failures = []
    if ended_early:
        failures.append("loomwork ended before the soak did")
    if status != 0:
        failures.append("loomwork ended with status %s (standard error in %s)" % (status, err_path))
    if clients.sent == 0:
        failures.append("the clients could send nothing")
    if len(samples) >= 3:
        first, last = samples[1], samples[-1]
        growth = (last - first) * 100.0 / first
        print("soak: first steady sample %d kB, last %d kB: %+.1f%%" % (first, last, growth))
        if last > first * GROWTH_LIMIT:
            failures.append("memory grew by %.1f%% (more than 5%%)" % growth)
    else:
        failures.append("too few samples (the soak needs at least 2 minutes)")
    for f in failures:
        print("soak: FAILED: " + f)
    if not failures:
        print("soak: passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
