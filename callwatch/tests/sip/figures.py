#!/usr/bin/env python3
"""Figures of Callwatch on a SIP line, on loopback:

  answer   the time from the last counted ring to the answer: SIPp callers, the INVITE sent and
           the 200 received as SIPp logs them, less the rings before the answer
  calls    CALLS calls in a row (SIPp, one at a time): each answered, its '*' hanging it up, none
           lost or left open
  digits   the delay from the first RTP packet of a key (RFC 4733, replayed from sip-tester's
           recordings) to loomwork's Monitor line for it

  figures.py BUILD_DIR [--calls N] [--answers N] [--digits N]
"""
import argparse
import os
import re
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
from datetime import datetime

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
PCAPS = "/usr/share/sip-tester"
RING_MS = 300
RINGS = 2


def free_port(low=None):
    for port in range(low, low + 2000) if low else [0] * 50:
        try:
            u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            u.bind(("127.0.0.1", port))
            t = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            t.bind(("127.0.0.1", u.getsockname()[1]))
            return u.getsockname()[1]
        except OSError:
            pass
    raise SystemExit("figures: no free port")


class Lines:
    """A program's standard output, each line with the time it arrived."""

    def __init__(self, args, **kw):
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, bufsize=1, **kw)
        self.lines, self.err = [], []
        self.lock = threading.Lock()
        threading.Thread(target=self._read, args=(self.proc.stdout, self.lines), daemon=True).start()
        threading.Thread(target=self._read, args=(self.proc.stderr, self.err), daemon=True).start()

    def _read(self, stream, into):
        for line in stream:
            with self.lock:
                into.append((time.time(), line.rstrip("\n")))

    def wait_for(self, test, seconds, stream="out"):
        end = time.time() + seconds
        while time.time() < end:
            with self.lock:
                lines = list(self.lines if stream == "out" else self.err)
            if test(lines):
                return lines
            time.sleep(0.005)
        raise SystemExit("figures: timed out; stderr:\n" + "\n".join(l for _, l in self.err[-20:]))

    def stop(self, sig=15):
        self.proc.send_signal(sig)
        try:
            self.proc.wait(20)
        except subprocess.TimeoutExpired:
            self.proc.kill()


def sipp(work, scenario, port, keys, extra=()):
    args = ["sipp", "-sf", scenario, "127.0.0.1:%d" % port, "-i", "127.0.0.1", "-p", str(free_port()), "-mp",
            str(free_port()), "-nostdin", "-timeout", "60s", "-timeout_error", "-trace_msg", "-trace_err"]
    for k, v in keys.items():
        args += ["-key", k, v]
    return subprocess.Popen(args + list(extra), cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)


def caller_keys(rtp_port, display="FIGURES", user="4255550100"):
    return {"display": display, "user": user, "codec": "8", "codecname": "PCMA", "rtpport": str(rtp_port),
            "d1": PCAPS + "/dtmf_2833_1.pcap", "d2": PCAPS + "/dtmf_2833_2.pcap",
            "d3": PCAPS + "/dtmf_2833_pound.pcap", "d4": PCAPS + "/dtmf_2833_star.pcap"}


def message_log(work):
    logs = [f for f in os.listdir(work) if f.endswith("_messages.log")]
    return "".join(open(os.path.join(work, f), errors="replace").read() for f in logs)


def log_times(log, first_line):
    """Times (seconds) of the messages in a SIPp message log whose first line starts so."""
    times = []
    for m in re.finditer(r"-{10,} (\d{4}-\d\d-\d\d)\s+(\d\d:\d\d:\d\d\.\d+)\n.*?message (?:sent|received).*?:\n\n(.*)",
                         log):
        if m.group(3).startswith(first_line):
            times.append(datetime.strptime(m.group(1) + " " + m.group(2), "%Y-%m-%d %H:%M:%S.%f").timestamp())
    return times


def pcap_payloads(path):
    """The UDP payloads of a recording, with their times from the first (Ethernet, IPv4)."""
    data = open(path, "rb").read()
    out, off = [], 24
    while off + 16 <= len(data):
        sec, usec, size, _ = struct.unpack("<IIII", data[off:off + 16])
        off += 16
        packet = data[off:off + size]
        off += size
        ihl = (packet[14] & 15) * 4
        out.append((sec + usec / 1e6, packet[14 + ihl + 8:]))
    return [(t - out[0][0], p) for t, p in out]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build")
    parser.add_argument("--calls", type=int, default=100)
    parser.add_argument("--answers", type=int, default=10)
    parser.add_argument("--digits", type=int, default=30)
    a = parser.parse_args()
    build = os.path.abspath(a.build)
    if not shutil.which("sipp"):
        raise SystemExit("figures: sipp is missing (make deps installs sip-tester)")
    work = tempfile.mkdtemp(prefix="callwatch-sip-figures-")
    os.makedirs(os.path.join(work, "config", "Larkspur Soft"))
    with open(os.path.join(work, "config", "Larkspur Soft", "Callwatch.conf"), "w") as f:
        f.write("[Settings]\nRings=%d\n" % RINGS)
    with open(os.path.join(work, "connect.txt"), "w") as f:
        f.write("127.0.0.1\n")
    import wave
    with wave.open(os.path.join(work, "greeting.wav"), "wb") as g:
        g.setnchannels(1), g.setsampwidth(2), g.setframerate(8000)
        g.writeframes(struct.pack("<h", 1000) * 800)
    sip_port, digit_port = free_port(), free_port(3502)
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"), CALLWATCH_TELEPHONY="sip",
               CALLWATCH_SIP_LISTEN="127.0.0.1:%d" % sip_port, CALLWATCH_SIP_RING_MS=str(RING_MS),
               CALLWATCH_LOOMWORK_PORT=str(digit_port), CALLWATCH_GREETING=os.path.join(work, "greeting.wav"),
               PHONESIM_SOCKET=os.path.join(work, "phonesim.sock"))
    loomwork = Lines([build + "/bin/loomwork", "run", SOURCE + "/examples/tones/tones.lwd", "--modules",
                      build + "/modules", "--set", "dtmf.port=%d" % digit_port])
    callwatch = Lines([build + "/bin/callwatch", "--headless", "--messages", os.path.join(work, "Messages")],
                      env=env, cwd=work)
    callwatch.wait_for(lambda l: any("watching" in x for _, x in l), 20, stream="err")
    rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    rtp.bind(("127.0.0.1", 0))
    rtp_port = rtp.getsockname()[1]
    results = {}
    try:
        # ---- answer time after the last counted ring ------------------------------------------
        delays = []
        for i in range(a.answers):
            call_dir = os.path.join(work, "answer%d" % i)
            os.makedirs(call_dir)
            p = sipp(call_dir, os.path.join(HERE, "quick.xml"), sip_port, caller_keys(rtp_port), ["-m", "1"])
            if p.wait(60) != 0:
                raise SystemExit("figures: an answer call failed:\n" + p.stderr.read())
            log = message_log(call_dir)
            invite, ok = log_times(log, "INVITE ")[0], log_times(log, "SIP/2.0 200")[0]
            delays.append((ok - invite) * 1000 - (RINGS - 1) * RING_MS)
        results["answer"] = delays
        # ---- digits: recorded RFC 4733 events replayed into a call -----------------------------
        keys = "1234567890"
        digit_delays = []
        calls = 0
        while len(digit_delays) < a.digits:
            calls += 1
            call_dir = os.path.join(work, "digits%d" % calls)
            os.makedirs(call_dir)
            heard_before = sum(1 for _, l in loomwork.lines if l.startswith("M digit.0 "))
            p = sipp(call_dir, os.path.join(HERE, "listen.xml"), sip_port, caller_keys(rtp_port), ["-m", "1"])
            end = time.time() + 20
            media = 0
            while not media and time.time() < end:
                m = re.search(r"SIP/2.0 200.*?m=audio (\d+)", message_log(call_dir), re.S)
                media = int(m.group(1)) if m else 0
                time.sleep(0.01)
            if not media:
                raise SystemExit("figures: no answer for the digit call")
            time.sleep(0.3)  # the greeting
            out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            sent = []
            for key in keys[:a.digits - len(digit_delays)]:
                packets = pcap_payloads("%s/dtmf_2833_%s.pcap" % (PCAPS, key))
                start, ended = time.time(), None
                for t, payload in packets:
                    while time.time() < start + t:
                        time.sleep(0.001)
                    out.sendto(payload, ("127.0.0.1", media))
                    if ended is None and len(payload) >= 14 and payload[13] & 0x80:
                        ended = time.time()  # the packet that ends the key (its E bit)
                sent.append((start, ended or start))
                time.sleep(0.2)
            want = heard_before + len(sent)
            lines = loomwork.wait_for(lambda l: sum(1 for _, x in l if x.startswith("M digit.0 ")) >= want, 10)
            heard = [t for t, x in lines if x.startswith("M digit.0 ")][heard_before:want]
            digit_delays += [((h - s) * 1000, (h - e) * 1000) for h, (s, e) in zip(heard, sent)]
            # '*' from SIPp ends the call
            if p.wait(60) != 0:
                raise SystemExit("figures: a digit call failed:\n" + p.stderr.read())
        results["digits"] = digit_delays
        # ---- many calls in a row --------------------------------------------------------------
        before = sum(1 for _, l in callwatch.lines if " Over rings" in l)
        call_dir = os.path.join(work, "many")
        os.makedirs(call_dir)
        began = time.time()
        p = sipp(call_dir, os.path.join(HERE, "quick.xml"), sip_port, caller_keys(rtp_port),
                 ["-m", str(a.calls), "-l", "1", "-r", "100"])
        status = p.wait(30 + a.calls * 10)
        took = time.time() - began
        callwatch.wait_for(lambda l: sum(1 for _, x in l if " Over rings" in x) >= before + a.calls, 30)
        stats = open([os.path.join(call_dir, f) for f in os.listdir(call_dir) if f.endswith("_errors.log")][0]).read() \
            if any(f.endswith("_errors.log") for f in os.listdir(call_dir)) else ""
        results["calls"] = (status, took, stats)
    finally:
        callwatch.stop()
        loomwork.stop(2)
    over = [l for _, l in callwatch.lines if " Over rings" in l]
    numbers = {l.split(":")[0] for _, l in callwatch.lines if l.startswith("call ")}
    open_calls = [n for n in numbers if not any(l.startswith(n + ":") and " Over rings" in l for l in over)]
    answer, digits = results["answer"], results["digits"]
    status, took, errors = results["calls"]
    print("answer after the last counted ring (%d calls, %d rings of %d ms): median %.1f ms, max %.1f ms"
          % (len(answer), RINGS, RING_MS, statistics.median(answer), max(answer)))
    first, end = [d[0] for d in digits], [d[1] for d in digits]
    print("digit delay to loomwork's Monitor line (%d keys of 140 ms): from the key's first RTP event packet "
          "median %.1f ms, max %.1f ms; from its end packet median %.1f ms, max %.1f ms"
          % (len(digits), statistics.median(first), max(first), statistics.median(end), max(end)))
    print("%d calls in a row: sipp status %d in %.1f s; Callwatch logged %d calls in all, %d over, %d left open"
          % (a.calls, status, took, len(numbers), len(over), len(open_calls)))
    if errors.strip():
        print("sipp errors:\n" + errors[-2000:])
    shutil.rmtree(work, ignore_errors=True)
    return 0 if status == 0 and not open_calls else 1


if __name__ == "__main__":
    sys.exit(main())
