#pragma once

#include <QByteArray>

class InkBitmap;

// The picture as a PCX file: version 5, run-length encoded, eight bits per pixel in one plane
// with the 256-entry palette at the end of the file. The palette is a grey ramp (entry i is
// grey level i), so readers that take the pixels as grey levels see the same picture: ink is
// 0 (black), the rest 255 (white). One bit per pixel would be smaller, but readers disagree
// about which of its two values is white.
QByteArray writePcx(const InkBitmap& bitmap);
