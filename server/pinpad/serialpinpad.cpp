#include "pinpad/serialpinpad.h"

#include <utility>

#include <QSerialPort>

#include "core/failure.h"
#include "core/scheduler.h"
#include "pinpad/pinpadanswer.h"
#include "pinpad/pinpadlink.h"
#include "pinpad/serialerror.h"
#include "pinpad/serialportname.h"
#include "pinpad/serialsettings.h"

namespace {

constexpr int kKsnDigits = 20;
const QByteArray kDisplayPrefix = "Z2" + QByteArray(1, PinPadFrame::kSub);
const QByteArray kTotalText("TOTAL ");
const QByteArray kHostCancel("72");

// Text for a packet: a control code inside it would break the packet up, so it goes as "?".
QByteArray packetText(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar ch : text)
        bytes.append(ch.unicode() >= 0x20 && ch.unicode() < 0x7F ? char(ch.unicode()) : '?');
    return bytes;
}

static_assert(2 + 1 + 6 + PinPadDevice::kLongestAmount == PinPadFrameReader::kMaxPayload,
              "the longest amount fills one display packet");

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

SerialPinPad::SerialPinPad(QMap<int, QString> serialPorts, Scheduler& scheduler)
    : m_serialPorts(std::move(serialPorts)), m_scheduler(scheduler)
{
}

SerialPinPad::~SerialPinPad()
{
    closeLine();
}

void SerialPinPad::OpenPad(const LineSettings& line, Opened opened)
{
    if (m_phase != Phase::Idle) {
        // The line stays with the entry under way.
        m_errorCode = SerialError::PadBusy;
        m_errorDescription =
            QStringLiteral("The PIN pad on %1 is busy with another PIN entry.").arg(m_portLabel);
        m_refusal = m_scheduler.callAfter(0, [opened = std::move(opened)] { opened(false); });
        return;
    }
    m_phase = Phase::Opening;
    m_opened = std::move(opened);
    m_errorCode = 0;
    m_errorDescription.clear();
    m_lostIdle = false;
    closeLine(); // left open by an entry that failed half-way

    const QString device = SerialPortName::devicePath(line.port, m_serialPorts);
    if (device.isEmpty())
        return openFailed(SerialError::InvalidSetting,
                          QStringLiteral("The Comm Port [%1] names no serial port: give a COM "
                                         "number or a device path.")
                              .arg(line.port));
    m_portLabel = SerialPortName::describe(line.port, device);
    const std::optional<qint32> baudRate = SerialSettings::baudRate(line.baudRate);
    if (!baudRate)
        return openFailed(SerialError::InvalidSetting,
                          QStringLiteral("Cannot open %1: the baud rate [%2] is not a line speed.")
                              .arg(m_portLabel, line.baudRate));
    const std::optional<QSerialPort::DataBits> dataBits = SerialSettings::dataBits(line.dataBits);
    if (!dataBits)
        return openFailed(SerialError::InvalidSetting,
                          QStringLiteral("Cannot open %1: the data bits [%2] are not 5, 6, 7 or 8.")
                              .arg(m_portLabel, line.dataBits));
    const std::optional<QSerialPort::Parity> parity = SerialSettings::parity(line.parity);
    if (!parity)
        return openFailed(SerialError::InvalidSetting,
                          QStringLiteral("Cannot open %1: the parity [%2] is not E, O, N, M or S.")
                              .arg(m_portLabel, line.parity));

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
    m_link = std::make_unique<PinPadLink>(*m_line, m_scheduler);
    m_link->onChange([this] { lineChanged(); });
    // A pad whose end of the line closes (a hang-up, an unplugged adapter) keeps the port
    // readable forever: the link must hear of it to end its waits at once.
    QObject::connect(m_line.get(), &QSerialPort::errorOccurred, m_line.get(),
                     [this](QSerialPort::SerialPortError error) {
                         if (m_link)
                             m_link->noteLineError(error);
                     });

    // The pad is there when it acknowledges its idle text.
    m_link->send(kDisplayPrefix + kIdleText, [this](PinPadLink::Sent sent) {
        if (sent != PinPadLink::Sent::Acknowledged) {
            const Failure failure = sendFailure(sent);
            return openFailed(failure.code(), failure.description());
        }
        m_phase = Phase::Idle;
        const Opened opened = std::exchange(m_opened, {});
        opened(true);
    });
}

void SerialPinPad::openFailed(int code, const QString& description)
{
    m_errorCode = code;
    m_errorDescription = description;
    closeLine();
    m_phase = Phase::Idle;
    // Reported from the event loop, as every outcome of OpenPad is.
    m_report = m_scheduler.callAfter(0, [this] {
        const Opened opened = std::exchange(m_opened, {});
        opened(false);
    });
}

void SerialPinPad::GetPinBlock(const PinPrompt& prompt, PinBlockTaken taken)
{
    if (m_phase != Phase::Idle) {
        m_refusal = m_scheduler.callAfter(0, [taken = std::move(taken)] {
            taken({{}, Failure(SerialError::LineFailed, QStringLiteral("the PIN pad is busy"))});
        });
        return;
    }
    m_taken = std::move(taken);
    m_cancelWanted = false;
    m_entryLimitSeconds = prompt.timeoutSeconds;
    m_ksn.clear();
    m_cancelReason.clear();
    m_phase = Phase::Sending;
    if (!m_link) {
        pinEntryFailed(
            m_lostIdle
                ? Failure(SerialError::LineFailed,
                          QStringLiteral("The PIN pad on %1 was lost.").arg(m_portLabel))
                : Failure(SerialError::LineFailed, QStringLiteral("the PIN pad is not open")));
        return;
    }
    const QByteArray display = kDisplayPrefix + kTotalText + packetText(prompt.amount);
    const QByteArray request =
        "Z60." + packetText(prompt.cardNumber) + PinPadFrame::kFs + "DUKPT ENCRYPTION";
    for (const QByteArray& payload : {display, request}) {
        // The pad would drop a longer packet as noise and leave the exchange to time out.
        if (payload.size() > PinPadFrameReader::kMaxPayload) {
            pinEntryFailed(
                Failure(FailureCode::InvalidArgument,
                        QStringLiteral("A packet of %1 bytes is longer than the PIN pad takes.")
                            .arg(payload.size())));
            return;
        }
    }
    m_link->discardIncoming();
    sendStep(display, [this, request] { sendStep(request, [this] { startWaiting(); }); });
}

void SerialPinPad::sendStep(const QByteArray& payload, std::function<void()> acknowledged)
{
    m_link->send(payload, [this, acknowledged = std::move(acknowledged)](PinPadLink::Sent sent) {
        if (sent != PinPadLink::Sent::Acknowledged)
            return pinEntryFailed(sendFailure(sent));
        acknowledged();
    });
}

void SerialPinPad::startWaiting()
{
    m_phase = Phase::Waiting;
    m_waitStartedMs = m_scheduler.elapsedMs();
    waitStep();
}

void SerialPinPad::waitStep()
{
    if (takeIncoming())
        return;
    if (m_cancelWanted) {
        // Nobody waits for the answer: the pad goes back to idle, acknowledged or not.
        return cancelOnPad(true);
    }
    if (m_scheduler.elapsedMs() - m_waitStartedMs >= qint64(m_entryLimitSeconds) * 1000)
        return cancelOnPad(false);
    m_step = m_scheduler.callAfter(kStepMs, [this] { waitStep(); });
}

void SerialPinPad::cancelEntry()
{
    if (m_phase == Phase::Waiting)
        return cancelOnPad(true);
    // While the prompt is still being sent, the wait cancels as soon as it starts.
    if (m_phase == Phase::Sending)
        m_cancelWanted = true;
}

void SerialPinPad::lineChanged()
{
    if (!m_link)
        return;
    if (m_phase == Phase::Idle && m_link->lineLost()) {
        // Nothing waits on the line; closed now, so that a dead port is not read again and
        // again until the next PIN entry.
        m_lostIdle = true;
        closeLine();
        return;
    }
    if (m_phase != Phase::Waiting)
        return; // the send under way hears of a lost line itself
    takeIncoming();
}

bool SerialPinPad::takeIncoming()
{
    if (m_link->lineLost()) {
        pinEntryFailed(Failure(SerialError::LineFailed,
                               QStringLiteral("The PIN pad on %1 was lost.").arg(m_portLabel)));
        return true;
    }
    while (m_link->hasIncoming()) {
        const PinPadLink::Incoming incoming = m_link->takeIncoming();
        if (incoming.endOfExchange && incoming.gaveUp) {
            pinEntryFailed(
                Failure(SerialError::LineFailed,
                        QStringLiteral("The PIN pad on %1 gave up resending a damaged answer.")
                            .arg(m_portLabel)));
            return true;
        }
        if (incoming.endOfExchange) {
            m_cancelReason = QStringLiteral("customer cancelled");
            pinEntryEnded({});
            return true;
        }
        if (PinPadAnswer::isAnswer(incoming.payload)) {
            const std::optional<PinPadAnswer> answer = PinPadAnswer::read(incoming.payload);
            if (!answer) {
                pinEntryFailed(
                    Failure(SerialError::LineFailed,
                            QStringLiteral("The PIN pad on %1 sent an answer that cannot be read.")
                                .arg(m_portLabel)));
                return true;
            }
            m_ksn = answer->reportedKsn;
            pinEntryEnded(answer->pinBlock);
            return true;
        }
    }
    return false;
}

void SerialPinPad::cancelOnPad(bool clientGone)
{
    m_phase = Phase::Cancelling;
    m_step.reset();
    m_link->send(kHostCancel, [this, clientGone](PinPadLink::Sent sent) {
        if (clientGone) {
            m_cancelReason = QStringLiteral("client gone");
            return pinEntryEnded({});
        }
        // A pad that ends the exchange instead of acknowledging is back at idle too.
        if (sent != PinPadLink::Sent::Acknowledged && sent != PinPadLink::Sent::Ended)
            return pinEntryFailed(sendFailure(sent));
        m_cancelReason = QStringLiteral("no answer in %1 s").arg(m_entryLimitSeconds);
        pinEntryEnded({});
    });
}

void SerialPinPad::pinEntryEnded(const QString& pinBlock)
{
    m_step.reset();
    m_phase = Phase::Idle;
    const PinBlockTaken taken = std::exchange(m_taken, {});
    m_cancelWanted = false;
    taken({pinBlock, std::nullopt});
}

void SerialPinPad::pinEntryFailed(const Failure& failure)
{
    closeLine();
    m_step.reset();
    m_phase = Phase::Idle;
    const PinBlockTaken taken = std::exchange(m_taken, {});
    m_cancelWanted = false;
    // Reported from the event loop, as every outcome of GetPinBlock is.
    m_report = m_scheduler.callAfter(0, [taken, failure] { taken({{}, failure}); });
}

QString SerialPinPad::Ksn() const
{
    if (m_ksn.isEmpty())
        return {};
    return QString(kKsnDigits - m_ksn.size(), QLatin1Char('F')) + m_ksn;
}

void SerialPinPad::ClosePad()
{
    if (m_phase == Phase::Idle)
        closeLine();
}

void SerialPinPad::Abandon()
{
    m_opened = {};
    m_taken = {};
    m_cancelWanted = false;
    m_step.reset();
    m_report.reset();
    m_refusal.reset();
    m_phase = Phase::Idle;
    closeLine();
}

Failure SerialPinPad::sendFailure(PinPadLink::Sent sent) const
{
    return Failure(sendFailureCode(sent),
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
