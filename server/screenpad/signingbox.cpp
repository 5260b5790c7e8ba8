#include "screenpad/signingbox.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTabletEvent>
#include <QTouchEvent>

#include "screenpad/padlook.h"

SigningBox::SigningBox(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_AcceptTouchEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::CrossCursor);
}

void SigningBox::setAccepting(bool accepting)
{
    m_accepting = accepting;
    m_recorder.penUp();
}

void SigningBox::clear()
{
    m_recorder.clear();
    update();
}

void SigningBox::penDown(QPointF at)
{
    if (!m_accepting)
        return;
    m_recorder.penDown(at);
    update();
}

void SigningBox::penMove(QPointF at)
{
    if (!m_accepting)
        return;
    m_recorder.penMove(at);
    update();
}

void SigningBox::penUp()
{
    m_recorder.penUp();
}

bool SigningBox::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel: {
        // One finger signs; a second finger on the glass is a resting hand.
        auto* touch = static_cast<QTouchEvent*>(event);
        const QList<QEventPoint>& points = touch->points();
        if (event->type() == QEvent::TouchCancel || points.isEmpty())
            penUp();
        else if (event->type() == QEvent::TouchBegin)
            penDown(points.first().position());
        else if (event->type() == QEvent::TouchUpdate)
            penMove(points.first().position());
        else
            penUp();
        event->accept();
        return true;
    }
    default:
        return QWidget::event(event);
    }
}

void SigningBox::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        penDown(event->position());
}

void SigningBox::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        penMove(event->position());
}

void SigningBox::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        penUp();
}

void SigningBox::tabletEvent(QTabletEvent* event)
{
    // Accepted, so Qt makes no mouse events of the pen as well.
    event->accept();
    if (event->type() == QEvent::TabletPress)
        penDown(event->position());
    else if (event->type() == QEvent::TabletMove)
        penMove(event->position());
    else if (event->type() == QEvent::TabletRelease)
        penUp();
}

void SigningBox::resizeEvent(QResizeEvent* event)
{
    m_recorder.setAreaSize(size());
    QWidget::resizeEvent(event);
}

void SigningBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), PadLook::kSigningWhite);
    const double scaleX = double(width()) / SigningArea::kWidth;
    const double scaleY = double(height()) / SigningArea::kHeight;
    const auto centre = [&](const PenPoint& point) {
        return QPointF((point.x + 0.5) * scaleX, (point.y + 0.5) * scaleY);
    };
    QPen ink(PadLook::kInk, std::max(2.0, scaleX * 1.5), Qt::SolidLine, Qt::RoundCap,
             Qt::RoundJoin);
    painter.setPen(ink);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const PenStroke& stroke : m_recorder.strokes()) {
        if (stroke.size() == 1) {
            painter.drawPoint(centre(stroke.front()));
            continue;
        }
        QPolygonF line;
        line.reserve(qsizetype(stroke.size()));
        for (const PenPoint& point : stroke)
            line.append(centre(point));
        painter.drawPolyline(line);
    }
}
