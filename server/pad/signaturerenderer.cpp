#include "pad/signaturerenderer.h"

#include <cstdlib>

InkBitmap::InkBitmap(int width, int height)
    : m_width(width), m_height(height), m_pixels(size_t(width) * size_t(height), false)
{
}

void InkBitmap::setInk(int x, int y)
{
    if (x >= 0 && x < m_width && y >= 0 && y < m_height)
        m_pixels[size_t(y) * size_t(m_width) + size_t(x)] = true;
}

namespace {

// Inks the pixels of the straight line from `from` to `to`, both ends included, stepping one
// pixel at a time along the longer axis (Bresenham's integer line).
void drawLine(InkBitmap& bitmap, PenPoint from, PenPoint to)
{
    const int dx = std::abs(to.x - from.x);
    const int dy = -std::abs(to.y - from.y);
    const int stepX = from.x < to.x ? 1 : -1;
    const int stepY = from.y < to.y ? 1 : -1;
    int error = dx + dy;
    int x = from.x;
    int y = from.y;
    for (;;) {
        bitmap.setInk(x, y);
        if (x == to.x && y == to.y)
            return;
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += stepX;
        }
        if (twice <= dx) {
            error += dx;
            y += stepY;
        }
    }
}

} // namespace

InkBitmap renderSignature(const PenStrokes& strokes)
{
    InkBitmap bitmap(SigningArea::kWidth, SigningArea::kHeight);
    for (const PenStroke& stroke : strokes) {
        if (stroke.empty())
            continue;
        bitmap.setInk(stroke.front().x, stroke.front().y);
        for (size_t i = 1; i < stroke.size(); ++i)
            drawLine(bitmap, stroke[i - 1], stroke[i]);
    }
    return bitmap;
}
