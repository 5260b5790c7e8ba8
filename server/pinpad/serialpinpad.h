#pragma once

#include <memory>

#include <QMap>
#include <QString>
#include <QtGlobal>

#include "pinpad/pinpaddevice.h"
#include "pinpad/pinpadlink.h"

class Failure;
class QSerialPort;
class ScheduledCall;
class Scheduler;

// The 1000SE on a serial port, spoken to with its packet protocol over QSerialPort. It
// advances on the pad's bytes and on scheduled calls, so other clients are served while the
// customer keys the PIN.
class SerialPinPad final : public PinPadDevice
{
public:
    // Length of one step while the customer keys the PIN: the time limit is looked at once a
    // step.
    static constexpr int kStepMs = 500;
    // What the pad shows while it is idle.
    static constexpr char kIdleText[] = "WELCOME";

    // `serialPorts` maps COM numbers to devices.
    SerialPinPad(QMap<int, QString> serialPorts, Scheduler& scheduler);
    ~SerialPinPad() override;
    SerialPinPad(const SerialPinPad&) = delete;
    SerialPinPad& operator=(const SerialPinPad&) = delete;

    // Fails without touching the line while another PIN entry holds the pad.
    void OpenPad(const LineSettings& line, Opened opened) override;
    qint32 ErrorCode() const override { return m_errorCode; }
    QString ErrorDescription() const override { return m_errorDescription; }

    // Shows the amount, asks for the PIN and waits for the pad's answer, at most the
    // prompt's time-out; then cancels PIN entry on the pad and gives an empty PIN block. Fails with
    // 57 when the line goes away, the pad gives up resending a damaged answer, or its answer cannot
    // be read; with 68 when the pad does not take the cancel; with 5 for values too long for a
    // packet. A failure closes the port.
    void GetPinBlock(const PinPrompt& prompt, PinBlockTaken taken) override;
    QString CancelReason() const override { return m_cancelReason; }
    void cancelEntry() override;
    // Twenty hex digits, the leading F's the pad leaves out put back.
    QString Ksn() const override;
    // Does nothing while another PIN entry holds the pad: the port is that entry's.
    void ClosePad() override;
    void Abandon() override;

private:
    void openFailed(int code, const QString& description);
    void sendStep(const QByteArray& payload, std::function<void()> acknowledged);
    Failure sendFailure(PinPadLink::Sent sent) const;
    void startWaiting();
    // One step of the wait for the customer: when it starts, then every kStepMs.
    void waitStep();
    // What the pad sent on its own or the line's loss, while the customer keys the PIN.
    void lineChanged();
    // Takes what the pad sent; true when that ended PIN entry.
    bool takeIncoming();
    void cancelOnPad(bool clientGone);
    void pinEntryEnded(const QString& pinBlock);
    void pinEntryFailed(const Failure& failure);
    void closeLine();

    enum class Phase { Idle, Opening, Sending, Waiting, Cancelling };

    QMap<int, QString> m_serialPorts;
    Scheduler& m_scheduler;
    QString m_ksn;
    QString m_cancelReason;
    qint32 m_errorCode = 0;
    QString m_errorDescription;
    // How messages name the open port.
    QString m_portLabel;
    // An OpenPad or GetPinBlock under way, and its callback.
    Phase m_phase = Phase::Idle;
    Opened m_opened;
    PinBlockTaken m_taken;
    // cancelEntry() came for the GetPinBlock under way.
    bool m_cancelWanted = false;
    int m_entryLimitSeconds = 0;
    qint64 m_waitStartedMs = 0;
    // The line went away while no PIN entry was under way.
    bool m_lostIdle = false;
    std::unique_ptr<ScheduledCall> m_step;
    // An outcome reported from the event loop rather than inside the call.
    std::unique_ptr<ScheduledCall> m_report;
    std::unique_ptr<ScheduledCall> m_refusal;
    std::unique_ptr<QSerialPort> m_line;
    std::unique_ptr<PinPadLink> m_link;
};
