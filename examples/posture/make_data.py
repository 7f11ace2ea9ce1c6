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
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from recording import Recording  # noqa: E402

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


def main():
    rec = Recording(20240611, SENSORS, NEUTRAL, ROWS, LOW, HIGH, STEP_MS, NOISE)

    # Calibration: each sensor sweeps its whole range, out of phase with the others.
    rec.event(CALIBRATOR, 65535)
    for i in range(2000 // STEP_MS):
        phase = 2 * math.pi * i / (1000 / STEP_MS)
        rec.sample([LOW + (HIGH - LOW) * (1 - math.cos(phase + k)) / 2 for k in (0, 2.1, 4.2)], 0)
    rec.sample([LOW, HIGH, LOW], 0)
    rec.sample([HIGH, LOW, HIGH], 0)
    rec.event(CALIBRATOR, 0)

    # Stand still, switch the creator on, and learn three postures.
    rec.move(NEUTRAL, 800)
    rec.hold(1000)
    rec.event(ENABLE, 65535)
    rec.hold(500)
    for name in "ABC":
        rec.move(POSTURES[name], 800)
        rec.hold(2600)
    # Revisit them in another order: each is recognised again.
    for name in "ACBA":
        rec.move(POSTURES[name], 800)
        rec.hold(1600)

    rec.write_csv(os.path.join(HERE, "posture.csv"))

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
