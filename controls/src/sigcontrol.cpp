#include "sigcontrol.h"

#include <QLocale>
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>

#include "propertychange.h"
#include "propertystore.h"
#include "propertyvalues.h"
#include "widgetmessageboxpresenter.h"

namespace Quillset {

namespace {

constexpr QSize kDesignedSize(242, 136);
constexpr qint16 kDefaultBorderStyle = 1;
constexpr qint16 kDefaultTimeOut = 10;
constexpr qint16 kDefaultMaxSize = 1024;
constexpr bool kDefaultConnectLines = false;
constexpr OLE_COLOR kDefaultForeColor = 0x000000;
constexpr OLE_COLOR kDefaultBackColor = 0xFFFFFF;

QImage signatureAreaPicture()
{
    return QImage(QStringLiteral(":/quillset/signaturearea.png"));
}

Status checkBorderStyle(qint16 style)
{
    if (style == 0 || style == 1)
        return {};
    return Status::failure(StatusCode::InvalidPropertyValue,
                           QStringLiteral("Invalid property value: border style %1").arg(style));
}

// The shortest plain decimal form: 5, -1, 2.5.
QString plainNumber(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

} // namespace

SigControl::SigControl(QWidget* parent, ChangeNotice* notice, MessageBoxPresenter* messageBox)
    : QWidget(parent), m_surface(kDesignedSize - QSize(2, 2)), m_notice(notice),
      m_messageBox(messageBox)
{
    if (!m_messageBox) {
        m_ownMessageBox = std::make_unique<WidgetMessageBoxPresenter>(this);
        m_messageBox = m_ownMessageBox.get();
    }
    m_surface.setPicture(signatureAreaPicture());
    resize(kDesignedSize);
}

SigControl::~SigControl() = default;

Status SigControl::BorderStyle(qint16 New_BorderStyle)
{
    if (Status status = checkBorderStyle(New_BorderStyle); !status.ok())
        return status;
    m_borderStyle = New_BorderStyle;
    update();
    return notifyChange(*this, m_notice, QStringLiteral("BorderStyle"));
}

Status SigControl::TimeOut(qint16 New_TimeOut)
{
    m_TimeOut = New_TimeOut;
    return notifyChange(*this, m_notice, QStringLiteral("TimeOut"));
}

Status SigControl::MimicClearScreen()
{
    DrawingSurface& surface = sizedSurface();
    surface.setPicture(QImage());
    surface.clear();
    update();
    return {};
}

Status SigControl::MimicSetScale(qint16 W, qint16 H)
{
    if (Status status = m_surface.setScaleWidth(W); !status.ok())
        return status;
    return m_surface.setScaleHeight(H);
}

Status SigControl::MimicSetLine(qint16 X1, qint16 Y1, std::optional<qint16> X2,
                                std::optional<qint16> Y2)
{
    DrawingSurface& surface = sizedSurface();
    if (!X2)
        surface.drawLine(surface.currentPosition(), QPointF(X1, Y1));
    else
        surface.drawLine(QPointF(X1, Y1), QPointF(*X2, Y2.value_or(0)));
    repaint();
    return {};
}

Status SigControl::MimicStatus()
{
    const QPointF current = m_surface.currentPosition();
    const QString text = QStringLiteral("Current = ") + plainNumber(current.x()) +
                         QStringLiteral(", ") + plainNumber(current.y());
    // The box's event loop lets the host destroy this control, and with it its own presenter.
    const QPointer<SigControl> alive(this);
    Status status = m_messageBox->show(text);
    if (!alive)
        qWarning("SigControl: the control was destroyed while its MimicStatus box was open");
    return status;
}

Status SigControl::MimicSetPixel(qint16 X, qint16 Y, qint16 pentouch)
{
    if (X < 0 && Y < 0)
        return {};
    DrawingSurface& surface = sizedSurface();
    if (ConnectLines() && pentouch != 0)
        surface.drawLine(surface.currentPosition(), QPointF(X, Y));
    else
        surface.setPoint(QPointF(X, Y));
    // The platform repaints when it gets to it; a sample stream must not wait for each one.
    update();
    return {};
}

Status SigControl::MaxSize(qint16 New_MaxSize)
{
    m_MaxSize = New_MaxSize;
    return notifyChange(*this, m_notice, QStringLiteral("MaxSize"));
}

Status SigControl::ConnectLines(bool New_ConnectLines)
{
    m_ConnectLines = New_ConnectLines;
    return notifyChange(*this, m_notice, QStringLiteral("ConnectLines"));
}

Status SigControl::BackColor(OLE_COLOR vNewValue)
{
    QColor color;
    if (Status status = colorFromOleColor(vNewValue, color); !status.ok())
        return status;
    m_surface.setBackColor(color);
    m_BackColor = vNewValue;
    update();
    return {};
}

Status SigControl::ForeColor(OLE_COLOR vNewValue)
{
    QColor color;
    if (Status status = colorFromOleColor(vNewValue, color); !status.ok())
        return status;
    m_surface.setInkColor(color);
    m_ForeColor = vNewValue;
    return {};
}

Status SigControl::initProperties()
{
    m_TimeOut = kDefaultTimeOut;
    m_MaxSize = kDefaultMaxSize;
    m_ConnectLines = kDefaultConnectLines;
    m_BackColor = kDefaultBackColor;
    m_ForeColor = kDefaultForeColor;
    return applySurfaceColors();
}

Status SigControl::readProperties(PropertyStore& store)
{
    qint16 borderStyle = kDefaultBorderStyle;
    if (Status status =
            readInt16(store, QStringLiteral("BorderStyle"), kDefaultBorderStyle, borderStyle);
        !status.ok())
        return status;
    if (Status status = checkBorderStyle(borderStyle); !status.ok())
        return status;
    m_borderStyle = borderStyle;
    update();

    if (Status status = readInt16(store, QStringLiteral("TimeOut"), kDefaultTimeOut, m_TimeOut);
        !status.ok())
        return status;
    if (Status status = readInt16(store, QStringLiteral("MaxSize"), kDefaultMaxSize, m_MaxSize);
        !status.ok())
        return status;
    if (Status status =
            readBool(store, QStringLiteral("ConnectLines"), kDefaultConnectLines, m_ConnectLines);
        !status.ok())
        return status;
    if (Status status =
            readOleColor(store, QStringLiteral("ForeColor"), kDefaultForeColor, m_ForeColor);
        !status.ok())
        return status;
    if (Status status =
            readOleColor(store, QStringLiteral("BackColor"), kDefaultBackColor, m_BackColor);
        !status.ok())
        return status;
    return applySurfaceColors();
}

Status SigControl::writeProperties(PropertyStore& store)
{
    if (Status status =
            store.writeProperty(QStringLiteral("BorderStyle"), QVariant::fromValue(m_borderStyle),
                                QVariant::fromValue(kDefaultBorderStyle));
        !status.ok())
        return status;
    if (Status status =
            store.writeProperty(QStringLiteral("TimeOut"), QVariant::fromValue(m_TimeOut),
                                QVariant::fromValue(kDefaultTimeOut));
        !status.ok())
        return status;
    if (Status status =
            store.writeProperty(QStringLiteral("MaxSize"), QVariant::fromValue(m_MaxSize),
                                QVariant::fromValue(kDefaultMaxSize));
        !status.ok())
        return status;
    if (Status status =
            store.writeProperty(QStringLiteral("ConnectLines"), QVariant(m_ConnectLines),
                                QVariant(kDefaultConnectLines));
        !status.ok())
        return status;
    // Colours are stored as signed 32-bit numbers; system colours come out negative.
    if (Status status = store.writeProperty(QStringLiteral("ForeColor"),
                                            QVariant::fromValue(qint32(m_ForeColor)),
                                            QVariant::fromValue(qint32(kDefaultForeColor)));
        !status.ok())
        return status;
    return store.writeProperty(QStringLiteral("BackColor"),
                               QVariant::fromValue(qint32(m_BackColor)),
                               QVariant::fromValue(qint32(kDefaultBackColor)));
}

void SigControl::setBorderStyle(int value)
{
    setFromDesigner<qint16>("SigControl", "BorderStyle", value,
                            [this](qint16 v) { return BorderStyle(v); });
}

void SigControl::setTimeOut(int value)
{
    setFromDesigner<qint16>("SigControl", "TimeOut", value,
                            [this](qint16 v) { return TimeOut(v); });
}

void SigControl::setMaxSize(int value)
{
    setFromDesigner<qint16>("SigControl", "MaxSize", value,
                            [this](qint16 v) { return MaxSize(v); });
}

void SigControl::setConnectLines(bool value)
{
    reportRefused("SigControl", "ConnectLines", ConnectLines(value));
}

void SigControl::setBackColor(uint value)
{
    reportRefused("SigControl", "BackColor", BackColor(value));
}

void SigControl::setForeColor(uint value)
{
    reportRefused("SigControl", "ForeColor", ForeColor(value));
}

QSize SigControl::sizeHint() const
{
    return kDesignedSize;
}

void SigControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(clientRect().topLeft(), sizedSurface().image());
    if (m_borderStyle == 1) {
        painter.setPen(QPen(Qt::black, 0));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void SigControl::resizeEvent(QResizeEvent* event)
{
    sizedSurface();
    QWidget::resizeEvent(event);
}

const DrawingSurface& SigControl::surface() const
{
    return sizedSurface();
}

DrawingSurface& SigControl::sizedSurface() const
{
    if (m_surface.size() != clientRect().size())
        m_surface.resize(clientRect().size());
    return m_surface;
}

Status SigControl::applySurfaceColors()
{
    QColor back;
    if (Status status = colorFromOleColor(m_BackColor, back); !status.ok())
        return status;
    m_surface.setBackColor(back);
    QColor ink;
    if (Status status = colorFromOleColor(m_ForeColor, ink); !status.ok())
        return status;
    m_surface.setInkColor(ink);
    update();
    return {};
}

QRect SigControl::clientRect() const
{
    const int border = m_borderStyle == 1 ? 1 : 0;
    const QRect inner = rect().adjusted(border, border, -border, -border);
    return QRect(inner.topLeft(), inner.size().expandedTo(QSize(0, 0)));
}

} // namespace Quillset
