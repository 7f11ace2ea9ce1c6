#!/usr/bin/env python3
"""NMEA logs as three kinds of receiver send them, written from what their manuals show, and what
the GPS module publishes from each. Made the same on every run (fixed seed, standard library).

Writes, beside this script:
  single-gps.nmea   a consumer GPS-only receiver (NMEA 0183 2.3, 4800 baud, $GP talker): GGA, GLL,
                    GSA, one GSV sequence, RMC, VTG each second; the first seconds without a fix
                    ($GPGLL,,,,,,V,N*64 and empty GGA/RMC fields, then satellites with no SNR)
  multi-gnss.nmea   a multi-system receiver (NMEA 4.10): $GNRMC, $GNVTG, $GNGGA, four $GNGSA, then
                    one GSV sequence per system ($GPGSV, $GLGSV, $GAGSV, $GBGSV, each with its own
                    count and the signal field of 4.10), then $GNGLL
  one-sequence.nmea a survey receiver that reports every system in one GSV sequence whose message
                    numbers run on across the talkers, each message carrying the total (10 or 11
                    messages: a two-digit message count)
and for each LOG, LOG.anytalker0.expect and LOG.anytalker1.expect: the module's broadcasts, one a
line, "OUTPUT VALUE" (VALUE a JSON string for the texts), with the setting "any talker" 0 and 1.
Those come from what the receiver model sent, not from parsing the text: with 0, each $GPGSV gives
the number at index 8 of the sentence after "$GP" (the third field while the message count has
one digit, 0 past it) and only $GPGLL gives a position; with 1, every talker's GLL gives the
position and the satellites in view of a second are published once, as the second's total, when
the first sentence after its GSV messages arrives.
"""
import json
import math
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))


def checksum(body):
    c = 0
    for ch in body.encode("ascii"):
        c ^= ch
    return "%02X" % c


def sentence(body):
    return "$%s*%s\r\n" % (body, checksum(body))


def position_fields(lat, lon, decimals):
    def field(deg, width):
        d = int(abs(deg))
        minutes = (abs(deg) - d) * 60
        return "%0*d%0*.*f" % (width, d, decimals + 3, decimals, minutes)
    la, lo = field(lat, 2), field(lon, 3)
    ns, ew = ("N" if lat >= 0 else "S"), ("E" if lon >= 0 else "W")
    # What the module makes of them: "dd mm.mmmm N", "ddd mm.mmmm W".
    texts = ("%s %s %s" % (la[:2], la[2:], ns), "%s %s %s" % (lo[:3], lo[3:], ew))
    return la, ns, lo, ew, texts


class Expect:
    def __init__(self):
        self.lines = {0: [], 1: []}

    def text(self, talkers, output, value):
        for t in talkers:
            self.lines[t].append("%d %s" % (output, json.dumps(value)))

    def number(self, talkers, output, value):
        for t in talkers:
            self.lines[t].append("%d %d" % (output, value))


def satellites(rnd, count, first_prn):
    return [(first_prn + i, rnd.randint(5, 85), rnd.randint(0, 359)) for i in range(count)]


def gsv_groups(sats, tracked, rnd):
    groups = []
    for prn, elev, az in sats:
        snr = "%02d" % rnd.randint(18, 48) if tracked else ""
        groups.append("%02d,%02d,%03d,%s" % (prn, elev, az, snr))
    return groups


class Walker:
    """A car going round town: one step a second."""

    def __init__(self, rnd, lat, lon):
        self.rnd, self.lat, self.lon, self.heading = rnd, lat, lon, 40.0

    def step(self):
        speed = 13.0
        self.lat += speed * math.cos(math.radians(self.heading)) / 1852 / 60
        self.lon += speed * math.sin(math.radians(self.heading)) / (1852 * math.cos(math.radians(self.lat))) / 60
        self.heading += self.rnd.uniform(-5, 7)


def single_gps(rnd):
    out, ex = "", Expect()
    car = Walker(rnd, 49 + 16.45 / 60, -(123 + 11.12 / 60))
    sky = satellites(rnd, 12, 2)
    for e in range(16):
        utc = "2254%02d.000" % (40 + e)
        fix = e >= 3
        la, ns, lo, ew, texts = position_fields(car.lat, car.lon, 4)
        in_view = [0, 5, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 11, 10, 9][e]
        if fix:
            out += sentence("GPGGA,%s,%s,%s,%s,%s,1,%02d,1.0,12.5,M,-16.8,M,,0000" % (utc, la, ns, lo, ew, in_view - 2))
            out += sentence("GPGLL,%s,%s,%s,%s,%s,A,A" % (la, ns, lo, ew, utc))
            ex.text((0, 1), 0, texts[0])
            ex.text((0, 1), 1, texts[1])
            used = ",".join("%02d" % s[0] for s in sky[:in_view - 2]) + "," * (12 - (in_view - 2))
            out += sentence("GPGSA,A,3,%s,1.8,1.0,1.5" % used)
        else:
            out += sentence("GPGGA,%s,,,,,0,00,,,M,,M,,0000" % utc)
            # Before it has the time, too, the receiver leaves every field empty.
            out += sentence("GPGLL,,,,,,V,N" if e == 0 else "GPGLL,,,,,%s,V,N" % utc)
            out += sentence("GPGSA,A,1,,,,,,,,,,,,,,,")
        if in_view == 0:
            out += sentence("GPGSV,1,1,00")
            ex.number((0,), 2, 0)
        else:
            groups = gsv_groups(sky[:in_view], fix, rnd)
            messages = (in_view + 3) // 4
            for m in range(messages):
                out += sentence("GPGSV,%d,%d,%02d,%s" % (messages, m + 1, in_view, ",".join(groups[m * 4:m * 4 + 4])))
                ex.number((0,), 2, in_view)
        ex.number((1,), 2, in_view)  # at the RMC that follows
        if fix:
            out += sentence("GPRMC,%s,A,%s,%s,%s,%s,25.3,%05.1f,081226,,,A" % (utc, la, ns, lo, ew, car.heading % 360))
            out += sentence("GPVTG,%05.1f,T,,M,25.3,N,46.9,K,A" % (car.heading % 360))
        else:
            out += sentence("GPRMC,%s,V,,,,,,,081226,,,N" % utc)
            out += sentence("GPVTG,,T,,M,,N,,K,N")
        car.step()
    return out, ex


SYSTEMS = [("GP", 1, "1"), ("GL", 65, "1"), ("GA", 1, "7"), ("GB", 1, "1")]  # talker, first PRN, signal


def multi_gnss(rnd):
    out, ex = "", Expect()
    car = Walker(rnd, 52 + 31.2 / 60, 13 + 24.6 / 60)
    skies = {t: satellites(rnd, 14, p) for t, p, _ in SYSTEMS}
    for e in range(12):
        utc = "0915%02d.00" % (10 + e)
        fix = e >= 2
        la, ns, lo, ew, texts = position_fields(car.lat, car.lon, 5)
        counts = {"GP": [3, 9, 10, 11, 11, 12, 12, 11, 10, 10, 11, 12][e], "GL": [0, 5, 6, 7, 7, 8, 8, 7, 7, 6, 6, 7][e],
                  "GA": [0, 0, 4, 5, 6, 6, 7, 7, 0, 0, 5, 6][e], "GB": [0, 3, 4, 4, 5, 5, 6, 6, 6, 7, 7, 8][e]}
        if fix:
            out += sentence("GNRMC,%s,A,%s,%s,%s,%s,0.021,,081226,,,A,V" % (utc, la, ns, lo, ew))
            out += sentence("GNVTG,,T,,M,0.021,N,0.039,K,A")
            out += sentence("GNGGA,%s,%s,%s,%s,%s,1,12,0.78,34.9,M,39.6,M,," % (utc, la, ns, lo, ew))
        else:
            out += sentence("GNRMC,%s,V,,,,,,,081226,,,N,V" % utc)
            out += sentence("GNVTG,,,,,,,,,N")
            out += sentence("GNGGA,%s,,,,,0,00,99.99,,,,,," % utc)
        for system_id in range(1, 5):
            out += sentence("GNGSA,A,%d,,,,,,,,,,,,,99.99,99.99,99.99,%d" % (3 if fix else 1, system_id))
        for talker, _, signal in SYSTEMS:
            n = counts[talker]
            messages = max(1, (n + 3) // 4)
            groups = gsv_groups(skies[talker][:n], fix, rnd)
            for m in range(messages):
                fields = ",".join(groups[m * 4:m * 4 + 4])
                body = "%sGSV,%d,%d,%02d,%s%s" % (talker, messages, m + 1, n, fields + "," if fields else "", signal)
                out += sentence(body)
                if talker == "GP":
                    ex.number((0,), 2, n)
        ex.number((1,), 2, sum(counts.values()))  # at the GNGLL that follows
        if fix:
            out += sentence("GNGLL,%s,%s,%s,%s,%s,A,A" % (la, ns, lo, ew, utc))
            ex.text((1,), 0, texts[0])
            ex.text((1,), 1, texts[1])
        else:
            out += sentence("GNGLL,,,,,%s,V,N" % utc)
        car.step()
    return out, ex


def one_sequence(rnd):
    out, ex = "", Expect()
    car = Walker(rnd, -(33 + 51.7 / 60), 151 + 12.4 / 60)
    skies = {t: satellites(rnd, 14, p) for t, p, _ in SYSTEMS}
    for e in range(8):
        utc = "0302%02d.00" % (30 + e)
        la, ns, lo, ew, texts = position_fields(car.lat, car.lon, 6)
        counts = {"GP": [12, 12, 11, 11, 12, 10, 10, 11][e], "GL": [9, 8, 8, 9, 9, 9, 8, 8][e],
                  "GA": [9, 9, 10, 10, 9, 9, 9, 10][e], "GB": [8, 8, 8, 7, 6, 6, 7, 8][e]}
        total = sum(counts.values())
        out += sentence("GNGGA,%s,%s,%s,%s,%s,4,%02d,0.6,58.1,M,22.0,M,1.0,0001" % (utc, la, ns, lo, ew, min(total, 99)))
        out += sentence("GNRMC,%s,A,%s,%s,%s,%s,0.02,182.6,081226,,,R" % (utc, la, ns, lo, ew))
        # Messages hold one system's satellites each, numbered on across the systems.
        blocks = []
        for talker, _, _ in SYSTEMS:
            groups = gsv_groups(skies[talker][:counts[talker]], True, rnd)
            blocks += [(talker, groups[i:i + 4]) for i in range(0, len(groups), 4)]
        for m, (talker, groups) in enumerate(blocks):
            out += sentence("%sGSV,%d,%d,%02d,%s" % (talker, len(blocks), m + 1, total, ",".join(groups)))
            if talker == "GP":
                ex.number((0,), 2, 0)  # index 8 falls on the comma after the message number
        ex.number((1,), 2, total)  # at the GNGLL that follows
        out += sentence("GNGLL,%s,%s,%s,%s,%s,A,D" % (la, ns, lo, ew, utc))
        ex.text((1,), 0, texts[0])
        ex.text((1,), 1, texts[1])
        car.step()
    return out, ex


def main():
    rnd = random.Random(2026)
    for name, make in (("single-gps", single_gps), ("multi-gnss", multi_gnss), ("one-sequence", one_sequence)):
        text, ex = make(rnd)
        with open(os.path.join(HERE, name + ".nmea"), "w", newline="") as f:
            f.write(text)
        for t in (0, 1):
            with open(os.path.join(HERE, "%s.anytalker%d.expect" % (name, t)), "w") as f:
                f.write("".join(l + "\n" for l in ex.lines[t]))


if __name__ == "__main__":
    main()
