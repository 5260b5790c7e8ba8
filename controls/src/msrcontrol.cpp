#include "msrcontrol.h"

#include <QPainter>

#include "propertychange.h"
#include "propertystore.h"
#include "propertyvalues.h"

namespace Quillset {

namespace {

constexpr QSize kDesignedSize(43, 36);
constexpr quint8 kDefaultReturnFormat = 8;
constexpr qint16 kDefaultTimeOut = 0;

} // namespace

MSRControl::MSRControl(QWidget* parent, ChangeNotice* notice)
    : QWidget(parent), m_notice(notice), m_picture(QStringLiteral(":/quillset/card.png"))
{
    resize(kDesignedSize);
}

Status MSRControl::ReturnFormat(quint8 New_ReturnFormat)
{
    m_ReturnFormat = New_ReturnFormat;
    return notifyChange(*this, m_notice, QStringLiteral("ReturnFormat"));
}

Status MSRControl::TimeOut(qint16 New_TimeOut)
{
    m_TimeOut = New_TimeOut;
    return notifyChange(*this, m_notice, QStringLiteral("TimeOut"));
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
    qint16 stored = kDefaultReturnFormat;
    if (Status status =
            readInt16(store, QStringLiteral("ReturnFormat"), kDefaultReturnFormat, stored);
        !status.ok())
        return status;
    if (Status status = toUInt8(stored, m_ReturnFormat, "ReturnFormat"); !status.ok())
        return status;
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
    setFromDesigner<quint8>("MSRControl", "ReturnFormat", value,
                            [this](quint8 v) { return ReturnFormat(v); });
}

void MSRControl::setTimeOut(int value)
{
    setFromDesigner<qint16>("MSRControl", "TimeOut", value,
                            [this](qint16 v) { return TimeOut(v); });
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

} // namespace Quillset
