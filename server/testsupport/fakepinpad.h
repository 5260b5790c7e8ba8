#pragma once

#include <memory>

#include <QMap>
#include <QStringList>

#include "core/failure.h"
#include "core/scheduler.h"
#include "pinpad/pinpaddevice.h"

// A PIN pad that writes down what reached it — "open port=… baud=… bits=… parity=…",
// "prompt card=… amount=… limit=…", "close", "abandon" — and can be made to fail. OpenPad and
// GetPinBlock report their outcome through the scheduler, `openMs` and `pinMs` after the call.
class FakePinPad final : public PinPadDevice
{
public:
    explicit FakePinPad(Scheduler& scheduler) : m_scheduler(scheduler) {}

    QStringList effects;
    bool opens = true;
    qint32 errorCode = 0;
    QString errorDescription;
    QString pinBlock;
    QString ksn;
    QString cancelReason = QStringLiteral("customer cancelled");
    int openMs = 0;
    int pinMs = 0;
    // Whether PIN entry ends empty at once on cancelEntry(), as a real pad's does.
    bool honoursCancel = true;
    // Member name -> error number it fails with: thrown at once, except by GetPinBlock,
    // which reports it when PIN entry ends, with `failureDescription`.
    QMap<QString, int> failures;
    QString failureDescription;

    void OpenPad(const LineSettings& line, Opened opened) override
    {
        use(QStringLiteral("OpenPad"),
            QStringLiteral("open port=%1 baud=%2 bits=%3 parity=%4")
                .arg(line.port, line.baudRate, line.dataBits, line.parity));
        m_pending = m_scheduler.callAfter(openMs, [this, opened] { opened(opens); });
    }
    qint32 ErrorCode() const override { return errorCode; }
    QString ErrorDescription() const override { return errorDescription; }
    void GetPinBlock(const PinPrompt& prompt, PinBlockTaken taken) override
    {
        effects << QStringLiteral("prompt card=%1 amount=%2 limit=%3")
                       .arg(prompt.cardNumber, prompt.amount)
                       .arg(prompt.timeoutSeconds);
        m_taken = std::move(taken);
        m_pending = m_scheduler.callAfter(pinMs, [this] {
            if (failures.contains(QStringLiteral("GetPinBlock")))
                return end(
                    {{},
                     Failure(failures.value(QStringLiteral("GetPinBlock")), failureDescription)});
            m_reason = cancelReason;
            end({pinBlock, std::nullopt});
        });
    }
    QString CancelReason() const override { return m_reason; }
    void cancelEntry() override
    {
        if (!honoursCancel || !m_taken)
            return;
        m_reason = QStringLiteral("client gone");
        m_pending = m_scheduler.callAfter(0, [this] { end({}); });
    }
    QString Ksn() const override
    {
        if (failures.contains(QStringLiteral("Ksn")))
            throw Failure(failures.value(QStringLiteral("Ksn")));
        return ksn;
    }
    void ClosePad() override { effects << QStringLiteral("close"); }
    void Abandon() override
    {
        m_pending.reset();
        m_taken = {};
        effects << QStringLiteral("abandon");
    }

private:
    void use(const QString& name, const QString& effect)
    {
        if (failures.contains(name))
            throw Failure(failures.value(name));
        effects << effect;
    }
    void end(const PinBlockResult& result)
    {
        const PinBlockTaken taken = std::exchange(m_taken, {});
        if (taken)
            taken(result);
    }

    Scheduler& m_scheduler;
    std::unique_ptr<ScheduledCall> m_pending;
    PinBlockTaken m_taken;
    QString m_reason;
};
