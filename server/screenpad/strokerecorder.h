#pragma once

#include <optional>

#include <QPointF>
#include <QSizeF>

#include "pad/penstrokes.h"

// Turns pen, finger or mouse positions on the drawn signing area into strokes of pen points
// in the signature's 400 x 120 space. Leaving the area ends a stroke and coming back starts a
// new one; a position that maps onto the last point adds nothing; once a signature holds the
// most points it may, further positions are not taken, so what is kept is what was drawn.
class StrokeRecorder
{
public:
    // The pen point under `at` on an area of `areaSize` (origin top left); nothing outside it.
    static std::optional<PenPoint> toPenPoint(QPointF at, QSizeF areaSize);

    void setAreaSize(QSizeF size) { m_areaSize = size; }
    void penDown(QPointF at);
    void penMove(QPointF at);
    void penUp();
    void clear();

    const PenStrokes& strokes() const { return m_strokes; }
    bool isEmpty() const { return m_pointCount == 0; }
    int pointCount() const { return m_pointCount; }

private:
    void take(QPointF at);

    QSizeF m_areaSize{SigningArea::kWidth, SigningArea::kHeight};
    PenStrokes m_strokes;
    int m_pointCount = 0;
    bool m_penDown = false;
    // Whether the last position continued the last stroke (the pen was on the area).
    bool m_inStroke = false;
};
