#!/usr/bin/env python3
"""Writes the gesture example: gesture.csv (a recording of two sensor channels while a person
performs two gestures, each followed by a pause, and then performs both again) and gesture.lwd
(the diagram that plays it through the posture recognizer into the gesture modules).

The posture recognizer already knows three postures, stored in the diagram: A, B and C (it puts
out 1, 2, 3 for them and 0 for anything else, such as the rest position). A gesture is a timed
sequence of those numbers. The gesture creator watches the same numbers; once they have been
quiet for secondsBeforeCreating it pulses, and the gesture recognizer learns what it saw since
its last recognition. Performed again, the gesture is recognised: its output "gesture_N" pulses
to 1 and "lastPatternMatched" names it.

  gesture 1: rest -> A -> B -> C -> rest      (1, 2, 3, 0)
  gesture 2: rest -> C -> B -> A -> rest      (3, 2, 1, 0)

A zero (rest) is no activity for the creator, so its quiet time runs from the last posture; the
return to rest comes before the pulse and is part of each gesture, which is therefore recognised
when the person comes back to rest.

Play it:  build/bin/loomwork run examples/gesture/gesture.lwd --until-idle --render gesture.png
"M learn.0 N" is the recognised posture, "M learn.1 65535" the creator's pulse (a gesture
learned), "M gestures.K 1" gesture K+1 recognised and "M gestures.10 N" the last gesture matched.
Standard library only; the output is the same on every run (fixed seed).
"""
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from recording import Recording  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
STEP_MS = 20             # one sample per channel every 20 ms, like the timer
LOW, HIGH = 5000, 60000  # the sensors' calibrated range
ROWS = 16
NOISE = 300              # held still, a sensor still wanders this much

# Rows of the two channels in each posture; the rest position is none of them.
POSTURES = {"A": (4, 12), "B": (12, 12), "C": (12, 4)}
REST = (4, 4)
QUIET_S = 2              # the creator's secondsBeforeCreating

MOVE_MS = 200            # from one posture to the next
HOLD_MS = 700            # each posture of a gesture: well under the quiet time
LEARN_PAUSE_MS = 3500    # rest after a new gesture: longer than the quiet time, so it is learned
PAUSE_MS = 1500


def main():
    rec = Recording(20240612, range(len(REST)), REST, ROWS, LOW, HIGH, STEP_MS, NOISE)

    def gesture(names, pause_ms):
        for name in names:
            rec.move(POSTURES[name], MOVE_MS)
            rec.hold(HOLD_MS)
        rec.move(REST, MOVE_MS)
        rec.hold(pause_ms)

    rec.hold(600)
    gesture("ABC", LEARN_PAUSE_MS)  # learned as gesture 1
    gesture("CBA", LEARN_PAUSE_MS)  # learned as gesture 2
    gesture("ABC", PAUSE_MS)        # recognised: gesture_1
    gesture("CBA", PAUSE_MS)        # recognised: gesture_2

    rec.write_csv(os.path.join(HERE, "gesture.csv"))

    pose = {"numberRows": ROWS, "numberColors": 16, "ticksNeededToAdvance": 1, "ticksNeededToDecay": 1,
            "calibrated": 1, "percentPropagationWidth": 100, "adaptationEnabled": 1, "adaptationSpeed": 30,
            "accuracyPercent": 80}
    for ch in range(10):
        pose[f"min{ch}"], pose[f"max{ch}"] = (LOW, HIGH) if ch < 2 else (0, 0)
    # Patterns 0..2 hold postures A, B, C (a row per channel); every other entry is unset.
    pose.update({f"v-{k * 100 + i}": -1 for k in range(10) for i in range(10)})
    for k, name in enumerate("ABC"):
        for i, row in enumerate(POSTURES[name]):
            pose[f"v-{k * 100 + i}"] = row

    diagram = {
        "loomwork": 1,
        "modules": [
            {"id": "player", "class": "Player", "rect": [20, 60, 100, 80],
             "content": {"file": "gesture.csv", "outputs": "ii"}},
            {"id": "timer", "class": "Timer", "rect": [200, 0, 80, 30], "content": {"periodMs": STEP_MS}},
            {"id": "pose", "class": "JPoseMatcher", "rect": [160, 60, 200, 140], "content": pose},
            {"id": "recogniser", "class": "JGestureMatcher", "rect": [440, 60, 120, 160],
             "content": {"timeAccuracyPercent": 30, "ignoreRepeats": 1, "recognitionClearsOthers": 0,
                         "useTimerAccuracy": 0}},
            {"id": "creator", "class": "JGestureMaker", "rect": [300, 260, 100, 50],
             "content": {"enabled": 1, "ignoreZero": 1, "easyToHardPercent": 90, "minDelta": 0, "maxDelta": 0,
                         "minMaxSet": 0, "secondsBeforeCreating": QUIET_S}},
            {"id": "gestures", "class": "Monitor", "rect": [640, 60, 120, 200], "content": {"inputs": 11}},
            {"id": "learn", "class": "Monitor", "rect": [440, 280, 100, 60], "content": {"inputs": 2}},
        ],
        # Links deliver in the order they are listed: the monitor "learn" shows each value before
        # the gesture modules act on it.
        "links": [
            {"from": "player:0", "to": "pose:0"},
            {"from": "player:1", "to": "pose:1"},
            {"from": "timer:0", "to": "pose:10"},
            {"from": "pose:10", "to": "learn:0"},
            {"from": "creator:0", "to": "learn:1"},
            {"from": "pose:10", "to": "recogniser:0"},
            {"from": "pose:10", "to": "creator:0"},
            {"from": "creator:0", "to": "recogniser:4"},
        ] + [{"from": f"recogniser:{n}", "to": f"gestures:{n}"} for n in range(11)],
    }
    with open(os.path.join(HERE, "gesture.lwd"), "w") as f:
        json.dump(diagram, f, indent=1)
        f.write("\n")


if __name__ == "__main__":
    main()
