#include "pinpad/serialpinpad.h"

#include <utility>

#include <QSerialPort>

#include "core/eventpump.h"
#include "core/failure.h"
#include "pinpad/pinpadlink.h"
#include "pinpad/serialerror.h"
#include "pinpad/serialportname.h"
#include "pinpad/serialsettings.h"

namespace {

constexpr int kPinBlockDigits = 16;
constexpr int kShortestKsn = 10;
constexpr int kKsnDigits = 20;
const QByteArray kAnswerPrefix("73.");
const QByteArray kAnswerDone("00000");

// Marks the pad as held while an exchange is under way, also when it fails.
class HoldPad
{
public:
    explicit HoldPad(bool& busy) : m_busy(busy) { m_busy = true; }
    ~HoldPad() { m_busy = false; }
    HoldPad(const HoldPad&) = delete;
    HoldPad& operator=(const HoldPad&) = delete;

private:
    bool& m_busy;
};

// Text for a packet: a control code inside it would break the packet up, so it goes as "?".
QByteArray packetText(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar ch : text)
        bytes.append(ch.unicode() >= 0x20 && ch.unicode() < 0x7F ? char(ch.unicode()) : '?');
    return bytes;
}

bool isHex(const QByteArray& digits)
{
    for (const char ch : digits)
        if (!((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f')))
            return false;
    return true;
}

int sendFailureCode(PinPadLink::Sent sent)
{
    return sent == PinPadLink::Sent::NoAnswer || sent == PinPadLink::Sent::Ended
               ? SerialError::NoAnswer
               : SerialError::LineFailed;
}

QString sendFailureText(PinPadLink::Sent sent)
{
    switch (sent) {
    case PinPadLink::Sent::NoAnswer:
        return QStringLiteral("does not answer");
    case PinPadLink::Sent::Ended:
        return QStringLiteral("ended the exchange instead of answering");
    case PinPadLink::Sent::Refused:
        return QStringLiteral("refused a packet three times");
    default:
        return QStringLiteral("cannot be written to");
    }
}

QString openFailureText(int code, const QString& qtReason)
{
    switch (code) {
    case SerialError::NoSuchDevice:
        return QStringLiteral("no such device");
    case SerialError::PortInUse:
        return QStringLiteral("permission denied, or another program holds the port");
    case SerialError::InvalidSetting:
        return QStringLiteral("the line settings are not supported");
    default:
        return qtReason;
    }
}

} // namespace

SerialPinPad::SerialPinPad(QString settingsPath, EventPump& pump)
    : m_settingsPath(std::move(settingsPath)), m_pump(pump)
{
}

SerialPinPad::~SerialPinPad()
{
    closeLine();
}

bool SerialPinPad::OpenPad()
{
    if (m_busy) {
        // The line stays with the entry under way.
        m_errorCode = SerialError::PadBusy;
        m_errorDescription =
            QStringLiteral("The PIN pad on %1 is busy with another PIN entry.").arg(m_portLabel);
        return false;
    }
    HoldPad hold(m_busy);
    m_errorCode = 0;
    m_errorDescription.clear();
    closeLine(); // left open by an entry that failed half-way

    const QString device = SerialPortName::devicePath(m_port, m_settingsPath);
    if (device.isEmpty())
        return openFailed(SerialError::InvalidSetting,
                          QStringLiteral("The Comm Port [%1] names no serial port: give a COM "
                                         "number or a device path.")
                              .arg(m_port));
    m_portLabel = SerialPortName::describe(m_port, device);
    const std::optional<qint32> baudRate = SerialSettings::baudRate(m_baudRate);
    if (!baudRate)
        return openFailed(SerialError::InvalidSetting,
                          QStringLiteral("Cannot open %1: the baud rate [%2] is not a line speed.")
                              .arg(m_portLabel, m_baudRate));
    const std::optional<QSerialPort::DataBits> dataBits = SerialSettings::dataBits(m_dataBits);
    if (!dataBits)
        return openFailed(SerialError::InvalidSetting,
                          QStringLiteral("Cannot open %1: the data bits [%2] are not 5, 6, 7 or 8.")
                              .arg(m_portLabel, m_dataBits));
    const std::optional<QSerialPort::Parity> parity = SerialSettings::parity(m_parity);
    if (!parity)
        return openFailed(SerialError::InvalidSetting,
                          QStringLiteral("Cannot open %1: the parity [%2] is not E, O, N, M or S.")
                              .arg(m_portLabel, m_parity));

    m_line = std::make_unique<QSerialPort>();
    m_line->setPortName(device);
    m_line->setBaudRate(*baudRate);
    m_line->setDataBits(*dataBits);
    m_line->setParity(*parity);
    m_line->setStopBits(QSerialPort::OneStop);
    m_line->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_line->open(QIODevice::ReadWrite)) {
        const int code = SerialError::fromOpenError(m_line->error());
        return openFailed(code,
                          QStringLiteral("Cannot open %1: %2.")
                              .arg(m_portLabel, openFailureText(code, m_line->errorString())));
    }
    m_line->clear();
    m_link = std::make_unique<PinPadLink>(*m_line, m_pump);

    // The pad is there when it acknowledges its idle text.
    PinPadLink::Sent sent;
    try {
        sent = m_link->send("Z2" + QByteArray(1, PinPadFrame::kSub) + kIdleText);
    } catch (const Failure&) {
        closeLine();
        throw;
    }
    if (sent != PinPadLink::Sent::Acknowledged)
        return openFailed(
            sendFailureCode(sent),
            QStringLiteral("The PIN pad on %1 %2.").arg(m_portLabel, sendFailureText(sent)));
    return true;
}

QString SerialPinPad::GetPinBlock()
{
    // The condition belongs to this call only, however it ends.
    const StopWhen given = std::exchange(m_stop, {});
    const StopWhen stop = given ? given : StopWhen([] { return false; });
    if (m_busy || !m_link)
        throw Failure(SerialError::LineFailed, QStringLiteral("the PIN pad is not open"));
    HoldPad hold(m_busy);
    m_ksn.clear();
    try {
        m_link->discardIncoming();
        sendOrThrow("Z2" + QByteArray(1, PinPadFrame::kSub) + "TOTAL " + packetText(m_amount));
        sendOrThrow("Z60." + packetText(m_cardNumber) + PinPadFrame::kFs + "DUKPT ENCRYPTION");

        const qint64 started = m_pump.elapsedMs();
        for (;;) {
            m_pump.waitUntil(kStepMs, [this, &stop] {
                return m_link->hasIncoming() || m_link->lineLost() || stop();
            });
            if (m_link->lineLost())
                throw Failure(SerialError::LineFailed,
                              QStringLiteral("The PIN pad on %1 was lost.").arg(m_portLabel));
            while (m_link->hasIncoming()) {
                const PinPadLink::Incoming incoming = m_link->takeIncoming();
                if (incoming.endOfExchange)
                    return {}; // the customer cancelled
                if (!incoming.payload.startsWith(kAnswerPrefix))
                    continue;
                const QByteArray status = incoming.payload.mid(kAnswerPrefix.size(), 5);
                const QByteArray digits = incoming.payload.mid(kAnswerPrefix.size() + 5);
                const qsizetype ksnDigits = digits.size() - kPinBlockDigits;
                if (status != kAnswerDone || ksnDigits < kShortestKsn || ksnDigits > kKsnDigits ||
                    !isHex(digits))
                    throw Failure(SerialError::LineFailed,
                                  QStringLiteral("the PIN pad's answer cannot be read"));
                m_ksn = QString::fromLatin1(digits.left(ksnDigits)).toUpper();
                return QString::fromLatin1(digits.right(kPinBlockDigits)).toUpper();
            }
            m_pump.processPending();
            // Read the shared limit afresh: a request served during the step may have set it.
            const qint16 setting = m_padTimeout->seconds();
            const qint16 limit = setting == 0 ? PadTimeout::kDefaultSeconds : setting;
            if (stop() || m_pump.elapsedMs() - started >= qint64(limit) * 1000) {
                // The pad goes back to idle even when it does not acknowledge the cancel.
                m_link->send(QByteArrayLiteral("72"));
                return {};
            }
        }
    } catch (const Failure&) {
        closeLine();
        throw;
    }
}

QString SerialPinPad::Ksn() const
{
    if (m_ksn.isEmpty())
        return {};
    return QString(kKsnDigits - m_ksn.size(), QLatin1Char('F')) + m_ksn;
}

void SerialPinPad::ClosePad()
{
    if (!m_busy)
        closeLine();
}

bool SerialPinPad::openFailed(int code, const QString& description)
{
    m_errorCode = code;
    m_errorDescription = description;
    closeLine();
    return false;
}

void SerialPinPad::sendOrThrow(const QByteArray& payload)
{
    const PinPadLink::Sent sent = m_link->send(payload);
    if (sent != PinPadLink::Sent::Acknowledged)
        throw Failure(
            sendFailureCode(sent),
            QStringLiteral("The PIN pad on %1 %2.").arg(m_portLabel, sendFailureText(sent)));
}

void SerialPinPad::closeLine()
{
    m_link.reset();
    if (m_line && m_line->isOpen()) {
        m_line->flush();
        m_line->close();
    }
    m_line.reset();
}
