#include "drawingsurface.h"

#include <cmath>
#include <optional>
#include <utility>

#include <QPainter>

namespace Quillset {

namespace {

struct PixelLine
{
    QPoint from;
    QPoint to;
};

// The part of the line from a to b inside the rectangle [-1, width] x [-1, height], so that
// far-off coordinates never reach the painter; nothing when the line misses it.
std::optional<PixelLine> clipped(QPointF a, QPointF b, QSize size)
{
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    double enter = 0.0;
    double leave = 1.0;
    const std::pair<double, double> edges[] = {
        {-dx, a.x() + 1.0},
        {dx, size.width() - a.x()},
        {-dy, a.y() + 1.0},
        {dy, size.height() - a.y()},
    };
    for (const auto& [p, q] : edges) {
        if (p == 0.0) {
            if (q < 0.0)
                return std::nullopt;
            continue;
        }
        const double t = q / p;
        if (p < 0.0)
            enter = std::max(enter, t);
        else
            leave = std::min(leave, t);
        if (enter > leave)
            return std::nullopt;
    }
    const auto at = [&](double t) {
        return QPoint(int(std::lround(a.x() + t * dx)), int(std::lround(a.y() + t * dy)));
    };
    return PixelLine{at(enter), at(leave)};
}

bool inside(QPointF pixel, QSize size)
{
    return pixel.x() >= 0 && pixel.y() >= 0 && pixel.x() < size.width() &&
           pixel.y() < size.height();
}

} // namespace

DrawingSurface::DrawingSurface(QSize size)
    : m_size(size), m_ink(size, QImage::Format_ARGB32_Premultiplied)
{
    m_ink.fill(Qt::transparent);
}

void DrawingSurface::resize(QSize size)
{
    m_size = size;
    const QSize needed = m_ink.size().expandedTo(size);
    if (needed == m_ink.size())
        return;
    QImage grown(needed, QImage::Format_ARGB32_Premultiplied);
    grown.fill(Qt::transparent);
    QPainter painter(&grown);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, m_ink);
    painter.end();
    m_ink = std::move(grown);
}

Status DrawingSurface::setScaleWidth(double width)
{
    if (width == 0.0)
        return Status::failure(StatusCode::InvalidPropertyValue,
                               QStringLiteral("Invalid property value: scale width 0"));
    m_scaleWidth = width;
    return {};
}

Status DrawingSurface::setScaleHeight(double height)
{
    if (height == 0.0)
        return Status::failure(StatusCode::InvalidPropertyValue,
                               QStringLiteral("Invalid property value: scale height 0"));
    m_scaleHeight = height;
    return {};
}

void DrawingSurface::clear()
{
    m_ink.fill(Qt::transparent);
    m_current = QPointF(0, 0);
}

void DrawingSurface::drawLine(QPointF from, QPointF to)
{
    const QPointF start = toPixel(from);
    const QPointF end = toPixel(to);
    m_current = to;
    const std::optional<PixelLine> visible = clipped(start, end, m_size);
    if (!visible)
        return;
    QPainter painter(&m_ink);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(m_inkColor, 0));
    painter.drawLine(visible->from, visible->to);
    // The painter may leave out a line's last pixel; a stroke must end where the pen was.
    if (inside(end, m_size))
        painter.drawPoint(end.toPoint());
}

void DrawingSurface::setPoint(QPointF point)
{
    const QPointF pixel = toPixel(point);
    m_current = point;
    if (!inside(pixel, m_size))
        return;
    QPainter painter(&m_ink);
    painter.setPen(QPen(m_inkColor, 0));
    painter.drawPoint(pixel.toPoint());
}

QImage DrawingSurface::image() const
{
    QImage shown(m_size, QImage::Format_RGB32);
    shown.fill(m_backColor);
    QPainter painter(&shown);
    if (!m_picture.isNull())
        painter.drawImage(0, 0, m_picture);
    painter.drawImage(0, 0, m_ink);
    return shown;
}

QPointF DrawingSurface::toPixel(QPointF point) const
{
    return QPointF(std::floor(point.x() * m_size.width() / m_scaleWidth),
                   std::floor(point.y() * m_size.height() / m_scaleHeight));
}

} // namespace Quillset
