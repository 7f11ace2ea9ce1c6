#!/usr/bin/env python3
"""Recorded device data for the tracking-device examples, made the same on every run.

Writes, beside this script:
  gps.nmea     what an NMEA 0183 receiver on a moving car sends at 4800 baud: one epoch a second
               (GGA, GLL, three GSV messages, RMC), CR LF line ends, starting mid-sentence as a
               receiver plugged in while running does
  tracker.bin  what a Flock of Birds sends in continuous (stream) POSITION/ANGLES mode at 19200
               baud: 100 records a second of a sensor moving round a circle and turning
  gps.csv, tracker.csv
               the same bytes as a Player plays them: blocks as a serial reader gets them (every
               few milliseconds, whatever has arrived, so records and sentences are split anywhere)

Standard library only; a fixed seed.
"""
import math
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))


# --- NMEA ---

def checksum(body):
    c = 0
    for ch in body.encode("ascii"):
        c ^= ch
    return "%02X" % c


def sentence(body):
    return "$%s*%s\r\n" % (body, checksum(body))


def latitude_field(deg):
    hemisphere = "N" if deg >= 0 else "S"
    deg = abs(deg)
    d = int(deg)
    return "%02d%07.4f" % (d, (deg - d) * 60), hemisphere


def longitude_field(deg):
    hemisphere = "E" if deg >= 0 else "W"
    deg = abs(deg)
    d = int(deg)
    return "%03d%07.4f" % (d, (deg - d) * 60), hemisphere


def gps_log(rnd, epochs):
    """The receiver's text, and the start time (ms) of each epoch's first byte."""
    lat, lon = 49 + 16.45 / 60, -(123 + 11.12 / 60)
    heading, speed = 40.0, 14.0  # degrees, metres a second
    text, starts = "", []
    satellites = [(rnd.randint(1, 32), rnd.randint(5, 85), rnd.randint(0, 359)) for _ in range(12)]
    for e in range(epochs):
        hh, mm, ss = 22, 54, 44 + e
        mm, ss = mm + ss // 60, ss % 60
        utc = "%02d%02d%02d" % (hh, mm, ss)
        la, ns = latitude_field(lat)
        lo, ew = longitude_field(lon)
        in_view = 8 + (e // 5) % 4  # 8, 9, 10, 11 ... as the sky opens and closes
        epoch = sentence("GPGGA,%s.00,%s,%s,%s,%s,1,%02d,0.9,45.2,M,-16.8,M,," % (utc, la, ns, lo, ew, in_view - 2))
        epoch += sentence("GPGLL,%s,%s,%s,%s,%s.00,A,A" % (la, ns, lo, ew, utc))
        messages = (in_view + 3) // 4
        for m in range(messages):
            body = "GPGSV,%d,%d,%02d" % (messages, m + 1, in_view)
            for prn, elev, az in satellites[m * 4:min(in_view, m * 4 + 4)]:
                body += ",%02d,%02d,%03d,%02d" % (prn, elev, az, rnd.randint(20, 48))
            epoch += sentence(body)
        epoch += sentence("GPRMC,%s.00,A,%s,%s,%s,%s,%.1f,%.1f,081226,,,A" % (utc, la, ns, lo, ew, speed * 1.944, heading))
        starts.append((e * 1000, len(text)))
        text += epoch
        # Move on: metres to degrees (a minute of latitude is 1852 m).
        lat += speed * math.cos(math.radians(heading)) / 1852 / 60
        lon += speed * math.sin(math.radians(heading)) / (1852 * math.cos(math.radians(lat))) / 60
        heading += rnd.uniform(-4, 6)
    # Plugged in while running: the log starts in the middle of a sentence.
    return "45.2,M,-16.8,M,,*4B\r\n" + text, starts


# --- Flock of Birds ---

def word(value, full_scale):
    raw = int(round(value / full_scale * 32768))
    raw = max(-32768, min(32767, raw))
    return (raw >> 2) & 0x3FFF  # 14 data bits


def record(x, y, z, azimuth, elevation, roll):
    data = [word(x, 36), word(y, 36), word(z, 36), word(azimuth, 180), word(elevation, 180), word(roll, 180)]
    out = bytearray()
    for k, d in enumerate(data):
        out.append((d & 0x7F) | (0x80 if k == 0 else 0))  # the phasing bit marks a record's first byte
        out.append(d >> 7)
    return bytes(out)


def tracker_stream(rnd, records):
    out = bytearray()
    for i in range(records):
        t = i / 100.0
        x = 12 + 10 * math.cos(t * 2) + rnd.uniform(-0.05, 0.05)
        y = 10 * math.sin(t * 2) + rnd.uniform(-0.05, 0.05)
        z = 5 + 2 * math.sin(t * 5)
        azimuth = ((t * 120 + 180) % 360) - 180
        elevation = 30 * math.sin(t * 3)
        roll = -45 + 10 * math.cos(t * 4)
        out += record(x, y, z, azimuth, elevation, roll)
    return bytes(out)


# --- Player recordings ---

def arrivals(data, starts, byte_ms):
    """The time (ms) each byte is in: bursts start at their times, bytes follow at the line rate."""
    times = []
    bounds = starts + [(None, len(data))]
    for (t0, first), (_, end) in zip(bounds, bounds[1:]):
        for j in range(first, end):
            times.append(t0 + (j - first + 1) * byte_ms)
    return times


def reader_blocks(rnd, data, times, poll_min, poll_max):
    """(time ms, bytes): a reader that wakes every few ms and takes whatever has arrived."""
    blocks, t, i = [], 0.0, 0
    while i < len(data):
        t += rnd.uniform(poll_min, poll_max)
        j = i
        while j < len(data) and times[j] <= t:
            j += 1
        if j > i:
            blocks.append((int(t), data[i:j]))
            i = j
    return blocks


def write_csv(path, what, blocks):
    with open(path, "w", newline="\n") as f:
        f.write("# %s: time in ms, output 0, the block of bytes (made by make_data.py)\n" % what)
        for t, b in blocks:
            f.write("%d,0,0x%s\n" % (t, b.hex()))


def main():
    rnd = random.Random(5021)
    log, starts = gps_log(rnd, 12)
    nmea = log.encode("ascii")
    shift = len("45.2,M,-16.8,M,,*4B\r\n")
    with open(os.path.join(HERE, "gps.nmea"), "wb") as f:
        f.write(nmea)
    times = arrivals(nmea, [(0, 0)] + [(t + 100, s + shift) for t, s in starts], 10 * 1000 / 4800)
    write_csv(os.path.join(HERE, "gps.csv"), "NMEA at 4800 baud", reader_blocks(rnd, nmea, times, 10, 40))

    stream = tracker_stream(rnd, 300)
    with open(os.path.join(HERE, "tracker.bin"), "wb") as f:
        f.write(stream)
    times = arrivals(stream, [(i * 10, i * 12) for i in range(300)], 10 * 1000 / 19200)
    write_csv(os.path.join(HERE, "tracker.csv"), "Flock of Birds stream at 19200 baud",
              reader_blocks(rnd, stream, times, 2, 15))


if __name__ == "__main__":
    main()
