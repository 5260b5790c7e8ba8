#pragma once

#include <optional>

#include <QString>

#include "pad/penstrokes.h"

// The text the pad puts into its variable "SIGCOMP" once the customer has signed: "S1", then
// each stroke as "." followed by three characters per pen point. A point is the number
// y * 400 + x written as three base-64 digits (A-Z a-z 0-9 + /), most significant first.
// A 2,000-point signature takes at most 2 + 2,000 * 4 = 8,002 characters.
namespace Sigcomp {

// Most pen points one signature may hold.
constexpr int kMaxPoints = 2000;

// The text for strokes whose points all lie in the signing area; strokes without points are
// left out.
QString encode(const PenStrokes& strokes);
// The strokes of a text written by encode(); nothing when the text is not exactly such a text
// (wrong mark, empty stroke, a cut point, a character outside the alphabet, a point outside
// the area, no stroke at all).
std::optional<PenStrokes> decode(const QString& text);

} // namespace Sigcomp
