#include "msrcontrol.h"

#include <limits>

#include <QPainter>

#include "changenotice.h"
#include "propertystore.h"
#include "propertyvalues.h"

namespace Quillset {

namespace {

constexpr QSize kDesignedSize(43, 36);
constexpr quint8 kDefaultReturnFormat = 8;
constexpr qint16 kDefaultTimeOut = 0;

void reportRefused(const char* property, const Status& status)
{
    qWarning("MSRControl: %s not changed: %s", property, qUtf8Printable(status.text()));
}

} // namespace

MSRControl::MSRControl(QWidget* parent, ChangeNotice* notice)
    : QWidget(parent), m_notice(notice), m_picture(QStringLiteral(":/quillset/card.png"))
{
    resize(kDesignedSize);
}

Status MSRControl::ReturnFormat(quint8 New_ReturnFormat)
{
    m_ReturnFormat = New_ReturnFormat;
    return notifyChange(QStringLiteral("ReturnFormat"));
}

Status MSRControl::TimeOut(qint16 New_TimeOut)
{
    m_TimeOut = New_TimeOut;
    return notifyChange(QStringLiteral("TimeOut"));
}

Status MSRControl::initProperties()
{
    m_ReturnFormat = kDefaultReturnFormat;
    m_TimeOut = kDefaultTimeOut;
    return {};
}

Status MSRControl::readProperties(PropertyStore& store)
{
    // Stored as a 16-bit number; one outside 0 to 255 does not fit the field and stops the load.
    qint16 returnFormat = kDefaultReturnFormat;
    if (Status status =
            readInt16(store, QStringLiteral("ReturnFormat"), kDefaultReturnFormat, returnFormat);
        !status.ok())
        return status;
    if (returnFormat < 0 || returnFormat > std::numeric_limits<quint8>::max())
        return Status::failure(
            StatusCode::Overflow,
            QStringLiteral("Overflow: property ReturnFormat holds %1").arg(returnFormat));
    m_ReturnFormat = quint8(returnFormat);
    return readInt16(store, QStringLiteral("TimeOut"), kDefaultTimeOut, m_TimeOut);
}

Status MSRControl::writeProperties(PropertyStore& store)
{
    if (Status status =
            store.writeProperty(QStringLiteral("ReturnFormat"), QVariant::fromValue(m_ReturnFormat),
                                QVariant::fromValue(kDefaultReturnFormat));
        !status.ok())
        return status;
    return store.writeProperty(QStringLiteral("TimeOut"), QVariant::fromValue(m_TimeOut),
                               QVariant::fromValue(kDefaultTimeOut));
}

void MSRControl::setReturnFormat(int value)
{
    if (value < 0 || value > std::numeric_limits<quint8>::max())
        return reportRefused("ReturnFormat",
                             Status::failure(StatusCode::Overflow, QStringLiteral("Overflow")));
    if (Status status = ReturnFormat(quint8(value)); !status.ok())
        reportRefused("ReturnFormat", status);
}

void MSRControl::setTimeOut(int value)
{
    if (value != qint16(value))
        return reportRefused("TimeOut",
                             Status::failure(StatusCode::Overflow, QStringLiteral("Overflow")));
    if (Status status = TimeOut(qint16(value)); !status.ok())
        reportRefused("TimeOut", status);
}

QSize MSRControl::sizeHint() const
{
    return kDesignedSize;
}

void MSRControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(0, 0, m_picture);
}

Status MSRControl::notifyChange(const QString& name)
{
    if (m_notice) {
        if (Status status = m_notice->propertyChanged(name); !status.ok())
            return status;
    }
    Q_EMIT propertyChanged(name);
    return {};
}

} // namespace Quillset
