#!/usr/bin/env python3
"""Writes the posture example: posture.csv (a recording of three sensor channels while a person
moves between three postures) and posture.lwd (the diagram that plays it into the recognizer).

The recording: the person sweeps every sensor over its whole range while the recognizer
calibrates, stands still, and then the creator is switched on. Three postures are each held
still long enough to be learned, then revisited in another order and recognised. Sensor noise
runs through all of it. Standard library only; the output is the same on every run (fixed seed).

Play it:  build/bin/loomwork run examples/posture/posture.lwd --until-idle --render posture.png
The Monitor prints "M monitor.0 N" for the recognised posture N (0: none) and "M monitor.1 V" for
the creator's signal (65535 while the person holds still).
"""
import json
import math
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
STEP_MS = 20            # one sample per channel every 20 ms (50 Hz), like the timer
LOW, HIGH = 5000, 60000  # the sensors' range
ROWS = 16
NOISE = 300             # held still, a sensor still wanders this much

# Rows of the three channels in each posture; far enough apart to tell them by 80 % accuracy.
POSTURES = {"A": (3, 12, 7), "B": (12, 3, 13), "C": (7, 8, 2)}
NEUTRAL = (8, 8, 8)

# Player outputs: three sensors, the recognizer's calibrator, the creator's "enabled".
SENSORS, CALIBRATOR, ENABLE = (0, 1, 2), 3, 4


def row_center(row):
    step = (HIGH - LOW) / ROWS
    return int(LOW + row * step + step / 2)


def main():
    rnd = random.Random(20240611)
    lines = []
    t = 0
    at = [row_center(r) for r in NEUTRAL]

    def sample(values, noise):
        nonlocal t
        for ch, v in zip(SENSORS, values):
            v = v + rnd.randint(-noise, noise)
            lines.append((t, ch, max(0, min(65535, int(v)))))
        t += STEP_MS

    def event(output, value):
        lines.append((t, output, value))

    def hold(ms):
        for _ in range(ms // STEP_MS):
            sample(at, NOISE)

    def move(rows, ms):
        start = list(at)
        goal = [row_center(r) for r in rows]
        n = ms // STEP_MS
        for i in range(1, n + 1):
            f = (1 - math.cos(math.pi * i / n)) / 2  # ease in and out
            at[:] = [s + (g - s) * f for s, g in zip(start, goal)]
            sample(at, NOISE // 3)

    # Calibration: each sensor sweeps its whole range, out of phase with the others.
    event(CALIBRATOR, 65535)
    for i in range(2000 // STEP_MS):
        phase = 2 * math.pi * i / (1000 / STEP_MS)
        sample([LOW + (HIGH - LOW) * (1 - math.cos(phase + k)) / 2 for k in (0, 2.1, 4.2)], 0)
    sample([LOW, HIGH, LOW], 0)
    sample([HIGH, LOW, HIGH], 0)
    event(CALIBRATOR, 0)

    # Stand still, switch the creator on, and learn three postures.
    move(NEUTRAL, 800)
    hold(1000)
    event(ENABLE, 65535)
    hold(500)
    for name in "ABC":
        move(POSTURES[name], 800)
        hold(2600)
    # Revisit them in another order: each is recognised again.
    for name in "ACBA":
        move(POSTURES[name], 800)
        hold(1600)

    with open(os.path.join(HERE, "posture.csv"), "w") as f:
        for when, output, value in lines:
            f.write(f"{when},{output},{value}\n")

    pose = {
        "numberRows": ROWS, "numberColors": 16, "ticksNeededToAdvance": 1, "ticksNeededToDecay": 1,
        "calibrated": 0, "percentPropagationWidth": 100, "adaptationEnabled": 1, "adaptationSpeed": 30,
        "accuracyPercent": 80,
    }
    # No stored postures yet: every pattern entry unset.
    pose.update({f"v-{k * 100 + i}": -1 for k in range(10) for i in range(10)})
    diagram = {
        "loomwork": 1,
        "modules": [
            {"id": "player", "class": "Player", "rect": [20, 40, 100, 100],
             "content": {"file": "posture.csv", "outputs": "iiiii"}},
            {"id": "timer", "class": "Timer", "rect": [220, 0, 80, 30], "content": {"periodMs": STEP_MS}},
            {"id": "pose", "class": "JPoseMatcher", "rect": [180, 60, 200, 140], "content": pose},
            {"id": "maker", "class": "JPoseMaker", "rect": [200, 260, 100, 50],
             "content": {"enabled": 0, "easyToHardPercent": 80, "minValue": 0, "maxValue": 0, "minMaxSet": 0}},
            {"id": "monitor", "class": "Monitor", "rect": [440, 160, 100, 60], "content": {"inputs": 2}},
        ],
        "links": [
            {"from": "player:0", "to": "pose:0"},
            {"from": "player:1", "to": "pose:1"},
            {"from": "player:2", "to": "pose:2"},
            {"from": "player:3", "to": "pose:11"},
            {"from": "player:4", "to": "maker:1"},
            {"from": "timer:0", "to": "pose:10"},
            {"from": "pose:11", "to": "maker:0"},
            {"from": "maker:0", "to": "pose:20"},
            {"from": "pose:10", "to": "monitor:0"},
            {"from": "maker:0", "to": "monitor:1"},
        ],
    }
    with open(os.path.join(HERE, "posture.lwd"), "w") as f:
        json.dump(diagram, f, indent=1)
        f.write("\n")


if __name__ == "__main__":
    main()
