// The serial 1000SE against a scripted pad on a real pseudo-terminal: what each answer of the
// pad, its silence or its going away makes of a PIN entry; and the packet link's reaction to
// every error a line can report.
#include "pinpad/serialpinpad.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QMetaEnum>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include "core/eventpump.h"
#include "core/failure.h"
#include "core/padtimeout.h"
#include "fakeeventpump.h"
#include "pinpad/pinpadframe.h"
#include "pinpad/pinpadlink.h"
#include "pinpadtestsupport.h"

namespace {

// The pad's end of a pseudo-terminal: acknowledges the host's packets and plays a script when
// the PIN request arrives. Its own copy of the host's end stays open, as a device's would.
class ScriptedPad
{
public:
    ScriptedPad()
    {
        termios raw{};
        cfmakeraw(&raw);
        char name[256] = {};
        if (::openpty(&m_near, &m_far, name, &raw, nullptr) != 0)
            return;
        ::fcntl(m_near, F_SETFL, ::fcntl(m_near, F_GETFL) | O_NONBLOCK);
        m_path = QString::fromLocal8Bit(name);
        m_notifier = std::make_unique<QSocketNotifier>(m_near, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readHost(); });
    }
    ~ScriptedPad() { hangUp(); }
    ScriptedPad(const ScriptedPad&) = delete;
    ScriptedPad& operator=(const ScriptedPad&) = delete;

    QString path() const { return m_path; }
    // The device goes away, as an unplugged adapter does: both of its ends of the line close.
    void hangUp()
    {
        if (m_notifier)
            m_notifier->setEnabled(false);
        for (int* fd : {&m_near, &m_far}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }
    void send(const QByteArray& bytes)
    {
        if (m_near >= 0) {
            EXPECT_EQ(::write(m_near, bytes.constData(), size_t(bytes.size())), bytes.size());
        }
    }

    std::function<void(ScriptedPad&)> onPinRequest;
    // The host's cancel is acknowledged; a pad that no longer listens leaves it unanswered.
    bool acknowledgesCancel = true;
    // Every good packet the host sent.
    QList<QByteArray> received;

private:
    void readHost()
    {
        char buffer[512];
        const ssize_t n = ::read(m_near, buffer, sizeof buffer);
        if (n <= 0)
            return;
        m_reader.feed(QByteArray(buffer, int(n)));
        while (const std::optional<PinPadFrameReader::Item> item = m_reader.next()) {
            if (item->kind != PinPadFrameReader::Item::Frame)
                continue;
            received << item->payload;
            if (item->payload == "72" && !acknowledgesCancel)
                continue;
            send(QByteArray(1, PinPadFrame::kAck));
            if (item->payload.startsWith("Z60.") && onPinRequest)
                onPinRequest(*this);
        }
    }

    int m_near = -1;
    int m_far = -1;
    QString m_path;
    std::unique_ptr<QSocketNotifier> m_notifier;
    PinPadFrameReader m_reader;
};

QByteArray answer(const QByteArray& payload)
{
    return PinPadFrame::encode(payload);
}

QByteArray damaged(const QByteArray& payload)
{
    QByteArray frame = PinPadFrame::encode(payload);
    frame.back() = char(frame.back() ^ 0x01);
    return frame;
}

const QByteArray kGoodAnswer = "73.000009876543210E000011B9C1845EB993A7A";
const QByteArray kEot(1, PinPadFrame::kEot);

// The pad writes `bytes` when the PIN request comes.
std::function<void(ScriptedPad&)> replies(const QByteArray& bytes)
{
    return [bytes](ScriptedPad& pad) { pad.send(bytes); };
}

} // namespace

TEST(SerialPinPad, EachAnswerOfThePadEndsThePinEntryAsItShould)
{
    struct Case
    {
        const char* name;
        std::function<void(ScriptedPad&)> onPinRequest;
        // Expected: a PIN block with its KSN, or a cancel with its reason, or a failure.
        QString pinBlock;
        QString ksn;
        QString cancelReason;
        int failure = 0;
        QString amount = QStringLiteral("12.34");
        bool acknowledgesCancel = true;
    };
    const QString block = QStringLiteral("1B9C1845EB993A7A");
    const QString ksn = QStringLiteral("FFFF9876543210E00001");
    const QString cancelled = QStringLiteral("customer cancelled");
    // A case that ends in a failure with its number.
    auto fault = [](const char* name, std::function<void(ScriptedPad&)> script, int code) {
        Case c{name, std::move(script), {}, {}, {}};
        c.failure = code;
        return c;
    };
    Case silent{"no answer within the limit", {}, {}, {}, QStringLiteral("no answer in 1 s")};
    Case deaf = fault("no answer, and the cancel is not acknowledged", {}, 68);
    deaf.acknowledgesCancel = false;
    Case overlong = fault("an amount longer than a packet", replies(answer(kGoodAnswer)), 5);
    overlong.amount = QString(PinPadDevice::kLongestAmount + 1, QLatin1Char('9'));
    const std::vector<Case> cases{
        {"PIN entered", replies(answer(kGoodAnswer)), block, ksn, {}},
        {"a damaged answer is asked for again",
         replies(damaged(kGoodAnswer) + answer(kGoodAnswer)),
         block,
         ksn,
         {}},
        {"lower-case hex is read",
         replies(answer("73.000009876543210e000011b9c1845eb993a7a")),
         block,
         ksn,
         {}},
        {"the customer cancels", replies(kEot), {}, {}, cancelled},
        fault("the pad gives up after three damaged answers",
              replies(damaged(kGoodAnswer) + damaged(kGoodAnswer) + damaged(kGoodAnswer) + kEot),
              57),
        fault("status other than 00000",
              replies(answer("73.000019876543210E000011B9C1845EB993A7A")), 57),
        fault("status cut short", replies(answer("73.0000")), 57),
        fault("KSN of nine digits", replies(answer("73.0000076543210E1B9C1845EB993A7A")), 57),
        fault("KSN of 21 digits", replies(answer("73.00000FFFFF9876543210E000011B9C1845EB993A7A")),
              57),
        fault("KSN not hex", replies(answer("73.000009876543210G000011B9C1845EB993A7A")), 57),
        fault("PIN block not hex", replies(answer("73.000009876543210E000011B9C1845EB993A7Z")), 57),
        fault(
            "the line goes away during the wait", [](ScriptedPad& pad) { pad.hangUp(); }, 57),
        silent,
        deaf,
        overlong,
    };

    QTemporaryDir home;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPad pad;
        ASSERT_FALSE(pad.path().isEmpty());
        pad.onPinRequest = c.onPinRequest;
        pad.acknowledgesCancel = c.acknowledgesCancel;
        QtEventPump pump;
        PadTimeout limit;
        limit.setSeconds(1);
        SerialPinPad device(home.filePath(QStringLiteral("varnelpayment.ini")), pump);
        device.followPadTimeout(limit);
        device.setPort(pad.path());
        device.setBaudRate(QStringLiteral("9600"));
        device.setDataBits(QStringLiteral("8"));
        device.setParity(QStringLiteral("N"));
        ASSERT_TRUE(device.OpenPad()) << device.ErrorDescription().toStdString();
        if (c.onPinRequest)
            limit.setSeconds(60); // an answer or a fault ends the wait, never the limit
        device.setCardNumber(QStringLiteral("4012345678909"));
        device.setAmount(c.amount);

        QElapsedTimer waited;
        waited.start();
        int failure = 0;
        QString pinBlock;
        try {
            pinBlock = device.GetPinBlock();
        } catch (const Failure& caught) {
            failure = caught.code();
        }
        EXPECT_EQ(failure, c.failure);
        EXPECT_EQ(pinBlock, c.pinBlock);
        EXPECT_EQ(device.Ksn(), c.ksn);
        if (failure == 0 && pinBlock.isEmpty()) {
            EXPECT_EQ(device.CancelReason(), c.cancelReason);
        }
        // Answers and faults end the wait at once; only silence waits for the limit.
        EXPECT_LT(waited.elapsed(), c.onPinRequest ? 2000 : 6000);
        // A time-out cancels PIN entry on the pad; an overlong amount never reaches it.
        EXPECT_EQ(pad.received.contains("72"), !c.onPinRequest);
        EXPECT_EQ(pad.received.size() > 1, c.failure != 5);
        device.ClosePad();
    }
}

TEST(PinPadLink, EveryErrorOfTheLineButATimeOutEndsItsWaits)
{
    const QMetaEnum kinds = QMetaEnum::fromType<QSerialPort::SerialPortError>();
    ASSERT_GT(kinds.keyCount(), 2);
    for (int i = 0; i < kinds.keyCount(); ++i) {
        const auto kind = QSerialPort::SerialPortError(kinds.value(i));
        SCOPED_TRACE(kinds.key(i));
        const bool usable = kind == QSerialPort::NoError || kind == QSerialPort::TimeoutError;
        QByteArray written;
        QBuffer line(&written);
        line.open(QIODevice::WriteOnly);
        FakeEventPump pump;
        PinPadLink link(line, pump);

        link.noteLineError(kind);

        EXPECT_EQ(link.lineLost(), !usable);
        // A lost line fails a packet at once: nothing written, no wait for an answer that
        // cannot come. A usable one tries three times.
        EXPECT_EQ(link.send("72"),
                  usable ? PinPadLink::Sent::NoAnswer : PinPadLink::Sent::LineFailed);
        EXPECT_EQ(pump.steps(), usable ? PinPadLink::kMaxSends : 0);
        EXPECT_EQ(written.isEmpty(), !usable);
    }
}
