#include "pinpadsimulator.h"

#include "dukpt.h"

namespace {

constexpr int kAckWaitMs = 1000;
constexpr int kMaxSendings = 3;
const QByteArray kDisplay = "Z2" + QByteArray(1, PinPadFrame::kSub);
const QByteArray kPinRequest = "Z60.";
const QByteArray kHostCancel = "72";
// The answer's status once the key serial number's counter has run out.
const QByteArray kKeysUsedUp = "00001";

// The KSN as the pad reports it: hex without its leading F's.
QByteArray reportedKsn(const QByteArray& ksn)
{
    QByteArray hex = ksn.toHex().toUpper();
    while (hex.startsWith('F'))
        hex.remove(0, 1);
    return hex;
}

} // namespace

PinPadSimulator::PinPadSimulator(Options options, std::function<void(const QByteArray&)> write,
                                 std::function<void(const QString&)> print, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_write(std::move(write)),
      m_print(std::move(print))
{
    m_delay.setSingleShot(true);
    m_ackWait.setSingleShot(true);
    connect(&m_delay, &QTimer::timeout, this, &PinPadSimulator::answerPinRequest);
    connect(&m_ackWait, &QTimer::timeout, this, &PinPadSimulator::answerNotAcknowledged);
}

void PinPadSimulator::receive(const QByteArray& bytes)
{
    using Item = PinPadFrameReader::Item;
    if (m_options.mute)
        return;
    m_reader.feed(bytes);
    while (const std::optional<Item> item = m_reader.next()) {
        switch (item->kind) {
        case Item::Frame:
            if (m_options.refusePackets > 0) {
                --m_options.refusePackets;
                m_print(QStringLiteral("refused a packet (NAK)"));
                m_write(QByteArray(1, PinPadFrame::kNak));
                break;
            }
            m_write(QByteArray(1, PinPadFrame::kAck));
            handlePacket(item->payload);
            break;
        case Item::BadFrame:
            m_print(QStringLiteral("damaged packet: asked again (NAK)"));
            m_write(QByteArray(1, PinPadFrame::kNak));
            break;
        case Item::Ack:
            if (m_ackWait.isActive()) {
                m_ackWait.stop();
                m_answer.clear();
            }
            break;
        case Item::Nak:
            if (m_ackWait.isActive()) {
                m_print(QStringLiteral("the host asked for the answer again"));
                sendAnswer();
            }
            break;
        case Item::Eot:
            m_print(QStringLiteral("exchange ended by the host"));
            m_ackWait.stop();
            break;
        }
    }
}

void PinPadSimulator::handlePacket(const QByteArray& payload)
{
    if (payload.startsWith(kDisplay)) {
        m_print(QStringLiteral("display: ") + QString::fromLatin1(payload.mid(kDisplay.size())));
    } else if (payload.startsWith(kPinRequest)) {
        const qsizetype separator = payload.indexOf(PinPadFrame::kFs);
        m_account =
            payload.mid(kPinRequest.size(), separator < 0 ? -1 : separator - kPinRequest.size());
        m_print(QStringLiteral("PIN requested for the card ending %1")
                    .arg(QString::fromLatin1(m_account.right(4))));
        if (m_options.answer != Answer::Silent)
            m_delay.start(m_options.delayMs);
    } else if (payload == kHostCancel) {
        m_delay.stop();
        m_print(QStringLiteral("PIN entry cancelled by the host"));
    } else {
        m_print(QStringLiteral("unknown packet: ") + QString::fromLatin1(payload));
    }
}

void PinPadSimulator::answerPinRequest()
{
    if (m_options.answer == Answer::Cancel) {
        m_print(QStringLiteral("answer: cancelled"));
        m_write(QByteArray(1, PinPadFrame::kEot));
        return;
    }
    if (m_options.ksn.isEmpty()) {
        // Every key of the counter is used: the pad answers with a status, never a PIN block.
        m_print(QStringLiteral("answer: no keys left (status %1)").arg(QLatin1String(kKeysUsedUp)));
        m_answer = "73." + kKeysUsedUp;
        m_answerSendings = 0;
        sendAnswer();
        return;
    }
    const QByteArray block =
        Dukpt::encryptedPinBlock(m_options.baseKey, m_options.ksn, m_options.pin, m_account);
    if (block.isEmpty()) {
        // An account the pad cannot use: it gives up like a customer who cancels.
        m_print(QStringLiteral("answer: no PIN block for this card; cancelled"));
        m_write(QByteArray(1, PinPadFrame::kEot));
        return;
    }
    const QByteArray pinBlock = block.toHex().toUpper();
    m_print(QStringLiteral("answer: ksn=%1 pinblock=%2")
                .arg(QString::fromLatin1(m_options.ksn.toHex().toUpper()),
                     QString::fromLatin1(pinBlock)));
    m_answer = "73.00000" + reportedKsn(m_options.ksn) + pinBlock;
    const std::optional<QByteArray> next = Dukpt::nextKsn(m_options.ksn);
    if (!next)
        m_print(QStringLiteral("the KSN counter has reached its end: this pad makes no more PIN "
                               "blocks (start it again with a fresh --ksn)"));
    m_options.ksn = next.value_or(QByteArray());
    m_answerSendings = 0;
    sendAnswer();
}

void PinPadSimulator::sendAnswer()
{
    if (m_answerSendings >= kMaxSendings) {
        answerNotAcknowledged();
        return;
    }
    ++m_answerSendings;
    QByteArray frame = PinPadFrame::encode(m_answer);
    if (m_options.damageAnswers > 0) {
        --m_options.damageAnswers;
        frame.back() = char(frame.back() ^ 0x01);
        m_print(QStringLiteral("sent the answer with a damaged check byte"));
    }
    m_write(frame);
    m_ackWait.start(kAckWaitMs);
}

void PinPadSimulator::answerNotAcknowledged()
{
    if (m_answerSendings < kMaxSendings) {
        sendAnswer();
        return;
    }
    m_ackWait.stop();
    m_answer.clear();
    m_print(QStringLiteral("the host did not acknowledge the answer"));
    m_write(QByteArray(1, PinPadFrame::kEot));
}
