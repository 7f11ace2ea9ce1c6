#!/usr/bin/env python3
"""Writes values.csv for scene.lwd: the Player's outputs are i1, i2, i3, calibrate, tick, enable.

The feed is enabled at once; the three signals sweep their ranges while calibration is on; then
i1 climbs and i3 falls while a tick every 100 ms makes the mapper send the ball's location."""
lines = ["0,5,1"]                                 # enable the feed
t = 300
lines.append(f"{t},3,65535")                      # calibration on
for out in (0, 1, 2):
    for v in (0, 65535):
        t += 20
        lines.append(f"{t},{out},{v}")
t += 100
lines.append(f"{t},3,0")                          # calibration off: all three axes seen
lines.append(f"{t + 10},1,32768")                 # i2 in the middle
for step in range(11):
    t += 100
    lines.append(f"{t},0,{step * 6553}")          # i1 climbs
    lines.append(f"{t},2,{65535 - step * 6553}")  # i3 falls
    lines.append(f"{t + 5},4,{step + 1}")         # tick
with open("values.csv", "w") as f:
    f.write("\n".join(lines) + "\n")
