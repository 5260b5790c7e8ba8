#pragma once

#include <QMap>
#include <QStringList>

#include "core/failure.h"
#include "pinpad/pinpaddevice.h"

// Records every member used, in order, as "name" or "name=value"; each member can be made to
// fail with an error number.
class FakePinPad final : public PinPadDevice
{
public:
    QStringList calls;
    bool opens = true;
    qint32 errorCode = 0;
    QString errorDescription;
    QString pinBlock;
    QString ksn;
    QString cancelReason = QStringLiteral("customer cancelled");
    // Member name -> error number it fails with.
    QMap<QString, int> failures;

    void setPort(const QString& v) override { m_port = record(QStringLiteral("Port"), v); }
    QString Port() const override { return read(QStringLiteral("Port"), m_port); }
    void setBaudRate(const QString& v) override { m_baud = record(QStringLiteral("BaudRate"), v); }
    QString BaudRate() const override { return read(QStringLiteral("BaudRate"), m_baud); }
    void setDataBits(const QString& v) override { m_bits = record(QStringLiteral("DataBits"), v); }
    QString DataBits() const override { return read(QStringLiteral("DataBits"), m_bits); }
    void setParity(const QString& v) override { record(QStringLiteral("Parity"), v); }
    bool OpenPad() override
    {
        record(QStringLiteral("OpenPad"));
        return opens;
    }
    qint32 ErrorCode() const override
    {
        read(QStringLiteral("ErrorCode"), {});
        return errorCode;
    }
    QString ErrorDescription() const override
    {
        return read(QStringLiteral("ErrorDescription"), errorDescription);
    }
    void setCardNumber(const QString& v) override { record(QStringLiteral("CardNumber"), v); }
    void setAmount(const QString& v) override { record(QStringLiteral("Amount"), v); }
    QString GetPinBlock() override
    {
        record(QStringLiteral("GetPinBlock"));
        return pinBlock;
    }
    QString Ksn() const override { return read(QStringLiteral("Ksn"), ksn); }
    // Words for the log only, not a member the server's rules order: not recorded.
    QString CancelReason() const override { return cancelReason; }
    void ClosePad() override { record(QStringLiteral("ClosePad")); }

private:
    // A property set or a call, recorded with the value it was given.
    QString record(const QString& name, const QString& value)
    {
        return use(name + QLatin1Char('=') + value, name, value);
    }
    void record(const QString& name) { use(name, name, {}); }
    QString read(const QString& name, const QString& value) const
    {
        return const_cast<FakePinPad*>(this)->use(name, name, value);
    }
    QString use(const QString& call, const QString& name, const QString& value)
    {
        calls << call;
        if (failures.contains(name))
            throw Failure(failures.value(name));
        return value;
    }

    QString m_port;
    QString m_baud;
    QString m_bits;
};
