#pragma once

#include <memory>

#include <QString>
#include <QtGlobal>

#include "core/padtimeout.h"
#include "pinpad/pinpaddevice.h"

class EventPump;
class PinPadLink;
class QSerialPort;

// The 1000SE on a serial port, spoken to with its packet protocol over QSerialPort. Every
// wait runs in the event pump, so other clients are served while the customer keys the PIN.
class SerialPinPad final : public PinPadDevice
{
public:
    // Length of one step while the customer keys the PIN.
    static constexpr int kStepMs = 500;
    // What the pad shows while it is idle.
    static constexpr char kIdleText[] = "WELCOME";

    // `settingsPath` holds the COM port mapping.
    SerialPinPad(QString settingsPath, EventPump& pump);
    ~SerialPinPad() override;
    SerialPinPad(const SerialPinPad&) = delete;
    SerialPinPad& operator=(const SerialPinPad&) = delete;

    // The server's shared waiting limit, read again at every step of PIN entry; until it is
    // given, PIN entry waits 60 seconds at most.
    void followPadTimeout(const PadTimeout& padTimeout) { m_padTimeout = &padTimeout; }

    void setPort(const QString& port) override { m_port = port; }
    QString Port() const override { return m_port; }
    void setBaudRate(const QString& baudRate) override { m_baudRate = baudRate; }
    QString BaudRate() const override { return m_baudRate; }
    void setDataBits(const QString& dataBits) override { m_dataBits = dataBits; }
    QString DataBits() const override { return m_dataBits; }
    void setParity(const QString& parity) override { m_parity = parity; }

    // Fails without touching the line while another PIN entry holds the pad.
    bool OpenPad() override;
    qint32 ErrorCode() const override { return m_errorCode; }
    QString ErrorDescription() const override { return m_errorDescription; }

    void setCardNumber(const QString& cardNumber) override { m_cardNumber = cardNumber; }
    void setAmount(const QString& amount) override { m_amount = amount; }
    // Shows the amount, asks for the PIN and waits for the pad's answer, at most `padTimeout`
    // seconds; then cancels PIN entry on the pad and returns empty. A failure closes the port.
    QString GetPinBlock() override;
    void setStopWhen(StopWhen stop) override { m_stop = std::move(stop); }
    // Twenty hex digits, the leading F's the pad leaves out put back.
    QString Ksn() const override;
    // Does nothing while another PIN entry holds the pad: the port is that entry's.
    void ClosePad() override;

private:
    bool openFailed(int code, const QString& description);
    void sendOrThrow(const QByteArray& payload);
    void closeLine();

    QString m_settingsPath;
    EventPump& m_pump;
    PadTimeout m_defaultTimeout;
    const PadTimeout* m_padTimeout = &m_defaultTimeout;
    QString m_port;
    QString m_baudRate;
    QString m_dataBits;
    QString m_parity;
    QString m_cardNumber;
    QString m_amount;
    QString m_ksn;
    qint32 m_errorCode = 0;
    QString m_errorDescription;
    // How messages name the open port.
    QString m_portLabel;
    StopWhen m_stop;
    // An OpenPad or GetPinBlock is under way (other requests run during its waits).
    bool m_busy = false;
    std::unique_ptr<QSerialPort> m_line;
    std::unique_ptr<PinPadLink> m_link;
};
