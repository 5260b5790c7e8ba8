#!/usr/bin/env python3
"""Writes signature.txt: a signature as a pad reports it, one pen sample a line: X Y pentouch.

The pad's surface is 1200 x 680 units. A sample with pentouch 0 is the pen lifted (it starts the
next stroke); -1 -1 0 is a sample that carries no point, as the pad sends between strokes.
"""
import math

samples = []

def stroke(points):
    first = points[0]
    samples.append((first[0], first[1], 0))
    for x, y in points[1:]:
        samples.append((x, y, 1))
    samples.append((-1, -1, 0))

# A tall looped capital.
stroke([(int(260 + 60 * math.sin(t / 10) - t * 0.8), int(120 + t * 4.2 - 30 * math.cos(t / 7)))
        for t in range(0, 95, 2)] +
       [(int(185 - 70 * math.sin(t / 9)), int(520 - 40 * math.sin(t / 9)))
        for t in range(0, 45, 3)])
# Running hand: loops along a gently rising line.
stroke([(int(330 + 22 * (t / 4) + 40 * math.sin(t / 4)),
         int(400 - 1.2 * t - (110 + 40 * math.sin(t / 13)) * (1 + math.cos(t / 4)) / 2))
        for t in range(0, 130)])
# A dot and a crossing stroke.
stroke([(620, 235), (622, 233)])
stroke([(int(560 + 9 * t), int(300 - 0.6 * t + 4 * math.sin(t / 2))) for t in range(0, 30)])
# The flourish under it all.
stroke([(int(200 + 10 * t), int(560 + 40 * math.sin(t / 14) - 0.4 * t)) for t in range(0, 90)])

with open("signature.txt", "w") as out:
    out.write("# X Y pentouch, on a 1200 x 680 pad\n")
    for x, y, pen in samples:
        out.write(f"{x} {y} {pen}\n")
