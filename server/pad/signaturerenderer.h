#pragma once

#include <cstddef>
#include <vector>

#include "pad/penstrokes.h"

// A black-and-white picture, row by row from the top; true is ink.
class InkBitmap
{
public:
    InkBitmap(int width, int height);

    int width() const { return m_width; }
    int height() const { return m_height; }
    bool ink(int x, int y) const
    {
        return m_pixels[std::size_t(y) * std::size_t(m_width) + std::size_t(x)];
    }
    // Inks one pixel; a pixel outside the picture is ignored.
    void setInk(int x, int y);

private:
    int m_width;
    int m_height;
    std::vector<bool> m_pixels;
};

// The signature drawn one pixel per pen point on a picture of the signing area: every point
// inked, consecutive points of a stroke joined by straight lines one pixel wide.
InkBitmap renderSignature(const PenStrokes& strokes);
