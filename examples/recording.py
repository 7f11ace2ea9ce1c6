"""A person with sensors, recorded for a Player: the shared part of the example generators.

Sensor values live on the 0..65535 wire scale, sampled every STEP_MS; a posture is a row per
channel on a ROWS-row scale between LOW and HIGH. Held still, a sensor wanders by `noise`; moving,
it eases in and out. Standard library only; a fixed seed gives the same file on every run.
"""
import math
import random


class Recording:
    def __init__(self, seed, channels, start_rows, rows, low, high, step_ms, noise):
        self.rnd = random.Random(seed)
        self.channels = channels          # Player outputs of the sensors, in order
        self.rows, self.low, self.high = rows, low, high
        self.step_ms, self.noise = step_ms, noise
        self.lines = []                   # (time ms, output, value)
        self.t = 0
        self.at = [self.row_center(r) for r in start_rows]

    def row_center(self, row):
        step = (self.high - self.low) / self.rows
        return int(self.low + row * step + step / 2)

    def event(self, output, value):
        self.lines.append((self.t, output, value))

    def sample(self, values, noise):
        for ch, v in zip(self.channels, values):
            v = v + self.rnd.randint(-noise, noise)
            self.lines.append((self.t, ch, max(0, min(65535, int(v)))))
        self.t += self.step_ms

    def hold(self, ms):
        for _ in range(ms // self.step_ms):
            self.sample(self.at, self.noise)

    def move(self, rows, ms):
        start = list(self.at)
        goal = [self.row_center(r) for r in rows]
        n = ms // self.step_ms
        for i in range(1, n + 1):
            f = (1 - math.cos(math.pi * i / n)) / 2  # ease in and out
            self.at[:] = [s + (g - s) * f for s, g in zip(start, goal)]
            self.sample(self.at, self.noise // 3)

    def write_csv(self, path):
        with open(path, "w") as f:
            for when, output, value in self.lines:
                f.write(f"{when},{output},{value}\n")
