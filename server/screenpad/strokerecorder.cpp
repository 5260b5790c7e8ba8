#include "screenpad/strokerecorder.h"

#include <cmath>

#include "pad/sigcomp.h"

std::optional<PenPoint> StrokeRecorder::toPenPoint(QPointF at, QSizeF areaSize)
{
    if (areaSize.width() <= 0 || areaSize.height() <= 0 || at.x() < 0 || at.y() < 0)
        return std::nullopt;
    const PenPoint point{int(std::floor(at.x() * SigningArea::kWidth / areaSize.width())),
                         int(std::floor(at.y() * SigningArea::kHeight / areaSize.height()))};
    if (!SigningArea::contains(point))
        return std::nullopt;
    return point;
}

void StrokeRecorder::penDown(QPointF at)
{
    m_penDown = true;
    m_inStroke = false;
    take(at);
}

void StrokeRecorder::penMove(QPointF at)
{
    if (m_penDown)
        take(at);
}

void StrokeRecorder::penUp()
{
    m_penDown = false;
    m_inStroke = false;
}

void StrokeRecorder::clear()
{
    m_strokes.clear();
    m_pointCount = 0;
    m_inStroke = false;
}

void StrokeRecorder::take(QPointF at)
{
    const std::optional<PenPoint> point = toPenPoint(at, m_areaSize);
    if (!point) {
        m_inStroke = false;
        return;
    }
    if (m_inStroke && m_strokes.back().back() == *point)
        return;
    if (m_pointCount >= Sigcomp::kMaxPoints) {
        // The rest of this movement is not drawn either: the next stroke starts afresh.
        m_inStroke = false;
        return;
    }
    if (!m_inStroke)
        m_strokes.emplace_back();
    m_strokes.back().push_back(*point);
    ++m_pointCount;
    m_inStroke = true;
}
