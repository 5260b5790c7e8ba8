#include "drawingsurface.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include <QLineF>
#include <QPainter>

namespace Quillset {

namespace {

// Further than this many pixels from the surface's corner a line is first cut in floating point,
// so that the whole-number steps below cannot overflow. No surface comes near it.
constexpr double kReach = double(1 << 30);

// The part of the line from a to b inside [-kReach, kReach] on both axes, cut without leaving the
// line; nothing when the line misses that box or has no finite end.
std::optional<QLineF> withinReach(QPointF a, QPointF b)
{
    if (!std::isfinite(a.x()) || !std::isfinite(a.y()) || !std::isfinite(b.x()) ||
        !std::isfinite(b.y()))
        return std::nullopt;
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    double enter = 0.0;
    double leave = 1.0;
    const std::pair<double, double> edges[] = {
        {-dx, a.x() + kReach},
        {dx, kReach - a.x()},
        {-dy, a.y() + kReach},
        {dy, kReach - a.y()},
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
    const QPointF from = enter > 0.0 ? QPointF(a.x() + enter * dx, a.y() + enter * dy) : a;
    const QPointF to = leave < 1.0 ? QPointF(a.x() + leave * dx, a.y() + leave * dy) : b;
    return QLineF(from, to);
}

// n / d rounded to the nearest whole number, halves upwards, for d > 0.
qint64 roundedQuotient(qint64 n, qint64 d)
{
    qint64 quotient = n / d;
    qint64 remainder = n % d;
    if (remainder < 0) {
        --quotient;
        remainder += d;
    }
    return quotient + (2 * remainder >= d ? 1 : 0);
}

// Sets the pixels of the line from pixel a to pixel b, both ends included, that fall inside
// size. Each step along the longer axis takes its other coordinate from the end points alone, so
// the part of a line that the surface shows is the same however much of it lies outside.
void plotLine(QImage& image, QSize size, QPointF a, QPointF b, QRgb ink)
{
    const bool alongX = std::abs(b.x() - a.x()) >= std::abs(b.y() - a.y());
    const auto major = [alongX](QPointF p) { return qint64(alongX ? p.x() : p.y()); };
    const auto minor = [alongX](QPointF p) { return qint64(alongX ? p.y() : p.x()); };
    const qint64 majorSize = alongX ? size.width() : size.height();
    const qint64 minorSize = alongX ? size.height() : size.width();
    const qint64 majorFrom = major(a);
    const qint64 minorFrom = minor(a);
    qint64 majorRun = major(b) - majorFrom;
    qint64 minorRun = minor(b) - minorFrom;
    if (majorRun < 0) {
        majorRun = -majorRun;
        minorRun = -minorRun;
    }
    const qint64 first = std::max(std::min(majorFrom, major(b)), qint64(0));
    const qint64 last = std::min(std::max(majorFrom, major(b)), majorSize - 1);
    for (qint64 step = first; step <= last; ++step) {
        const qint64 across =
            majorRun == 0 ? minorFrom
                          : minorFrom + roundedQuotient((step - majorFrom) * minorRun, majorRun);
        if (across < 0 || across >= minorSize)
            continue;
        if (alongX)
            image.setPixel(int(step), int(across), ink);
        else
            image.setPixel(int(across), int(step), ink);
    }
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
    m_current = to;
    const std::optional<QLineF> line = withinReach(toPixel(from), toPixel(to));
    if (!line)
        return;
    // Whole pixels: a line cut short above lands between them.
    const QPointF start(std::round(line->x1()), std::round(line->y1()));
    const QPointF end(std::round(line->x2()), std::round(line->y2()));
    plotLine(m_ink, m_size, start, end, qPremultiply(m_inkColor.rgba()));
}

void DrawingSurface::setPoint(QPointF point)
{
    drawLine(point, point);
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
