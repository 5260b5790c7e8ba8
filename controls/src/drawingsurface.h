#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QSize>

#include "quillsetglobal.h"
#include "status.h"

namespace Quillset {

// The signature control's drawing surface: a background colour, a background picture at the
// top-left corner and a backing image of ink that repaints restore. Coordinates are logical:
// the surface is scaleWidth units wide and scaleHeight units high, origin at the top-left.
class QUILLSET_EXPORT DrawingSurface
{
public:
    explicit DrawingSurface(QSize size);

    // The size in pixels; ink drawn so far keeps its pixels when the surface is resized.
    QSize size() const { return m_size; }
    void resize(QSize size);

    QColor backColor() const { return m_backColor; }
    void setBackColor(const QColor& color) { m_backColor = color; }
    QColor inkColor() const { return m_inkColor; }
    void setInkColor(const QColor& color) { m_inkColor = color; }

    const QImage& picture() const { return m_picture; }
    void setPicture(QImage picture) { m_picture = std::move(picture); }

    double scaleWidth() const { return m_scaleWidth; }
    double scaleHeight() const { return m_scaleHeight; }
    // A zero width or height leaves no coordinate system and is refused.
    Status setScaleWidth(double width);
    Status setScaleHeight(double height);

    QPointF currentPosition() const { return m_current; }

    // Erases the ink and moves the current position to (0, 0); the picture stays.
    void clear();
    // A line in the ink colour, both end points included; the current position moves to `to`.
    void drawLine(QPointF from, QPointF to);
    // One pixel in the ink colour; the current position moves to it.
    void setPoint(QPointF point);

    // What the surface shows: background colour, picture, then ink.
    QImage image() const;

private:
    // The pixel a logical point falls in, unbounded.
    QPointF toPixel(QPointF point) const;

    QSize m_size;
    QColor m_backColor = Qt::white;
    QColor m_inkColor = Qt::black;
    QImage m_picture;
    // Transparent where no ink was drawn; never smaller than the largest size seen.
    QImage m_ink;
    double m_scaleWidth = 1.0;
    double m_scaleHeight = 1.0;
    QPointF m_current;
};

} // namespace Quillset
