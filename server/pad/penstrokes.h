#pragma once

#include <vector>

// A signature as the pad's pen reports it: strokes of pen points in the signing area, origin
// top left.
struct PenPoint
{
    int x = 0;
    int y = 0;
    friend bool operator==(const PenPoint&, const PenPoint&) = default;
};

// The points of one pen-down movement, in the order they were drawn.
using PenStroke = std::vector<PenPoint>;
using PenStrokes = std::vector<PenStroke>;

// The pad's signing area in pen points; the signature picture has one pixel per point.
namespace SigningArea {
constexpr int kWidth = 400;
constexpr int kHeight = 120;

inline bool contains(const PenPoint& point)
{
    return point.x >= 0 && point.x < kWidth && point.y >= 0 && point.y < kHeight;
}
} // namespace SigningArea
