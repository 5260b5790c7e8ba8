#pragma once

#include <memory>

#include <QMap>
#include <QStringList>

#include "core/failure.h"
#include "core/scheduler.h"
#include "pinpad/pinpaddevice.h"

// Records every member used, in order, as "name" or "name=value"; each member can be made to
// fail with an error number. OpenPad and GetPinBlock report their outcome through the
// scheduler, `openMs` and `pinMs` after the call.
class FakePinPad final : public PinPadDevice
{
public:
    explicit FakePinPad(Scheduler& scheduler) : m_scheduler(scheduler) {}

    QStringList calls;
    bool opens = true;
    qint32 errorCode = 0;
    QString errorDescription;
    QString pinBlock;
    QString ksn;
    QString cancelReason = QStringLiteral("customer cancelled");
    int openMs = 0;
    int pinMs = 0;
    // Whether PIN entry ends empty once the stop condition holds, as a real pad's does.
    bool honoursStop = true;
    // Member name -> error number it fails with: thrown at once, except by GetPinBlock,
    // which reports it when PIN entry ends, with `failureDescription`.
    QMap<QString, int> failures;
    QString failureDescription;

    void setPort(const QString& v) override { m_port = record(QStringLiteral("Port"), v); }
    QString Port() const override { return read(QStringLiteral("Port"), m_port); }
    void setBaudRate(const QString& v) override { m_baud = record(QStringLiteral("BaudRate"), v); }
    QString BaudRate() const override { return read(QStringLiteral("BaudRate"), m_baud); }
    void setDataBits(const QString& v) override { m_bits = record(QStringLiteral("DataBits"), v); }
    QString DataBits() const override { return read(QStringLiteral("DataBits"), m_bits); }
    void setParity(const QString& v) override { record(QStringLiteral("Parity"), v); }
    void OpenPad(Opened opened) override
    {
        record(QStringLiteral("OpenPad"));
        m_pending = m_scheduler.callAfter(openMs, [this, opened] { opened(opens); });
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
    void setPinTimeout(int seconds) override
    {
        record(QStringLiteral("PinTimeout"), QString::number(seconds));
    }
    void GetPinBlock(PinBlockTaken taken) override
    {
        calls << QStringLiteral("GetPinBlock");
        const StopWhen stop = std::exchange(m_stop, {});
        m_pending = m_scheduler.callAfter(pinMs, [this, taken, stop] {
            if (failures.contains(QStringLiteral("GetPinBlock")))
                return taken(
                    {{},
                     Failure(failures.value(QStringLiteral("GetPinBlock")), failureDescription)});
            if (honoursStop && stop && stop()) {
                m_reason = QStringLiteral("client gone");
                return taken({});
            }
            m_reason = cancelReason;
            taken({pinBlock, std::nullopt});
        });
    }
    // Words for the log only, not a member the server's rules order: not recorded.
    QString CancelReason() const override { return m_reason; }
    void setStopWhen(StopWhen stop) override { m_stop = std::move(stop); }
    QString Ksn() const override { return read(QStringLiteral("Ksn"), ksn); }
    void ClosePad() override { record(QStringLiteral("ClosePad")); }
    void Abandon() override
    {
        m_pending.reset();
        record(QStringLiteral("Abandon"));
    }

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

    Scheduler& m_scheduler;
    std::unique_ptr<ScheduledCall> m_pending;
    StopWhen m_stop;
    QString m_reason;
    QString m_port;
    QString m_baud;
    QString m_bits;
};
