// The serial 1000SE against a scripted pad on a real pseudo-terminal: what each answer of the
// pad, its silence or its going away makes of a PIN entry; and the packet link's reaction to
// every error a line can report.
#include "pinpad/serialpinpad.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMetaEnum>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include "core/failure.h"
#include "fakescheduler.h"
#include "pinpad/pinpadframe.h"
#include "pinpad/pinpadlink.h"
#include "pinpadtestsupport.h"
#include "settings/settingsfile.h"

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
        // The host opens the line by a link of its own, as by an adapter's device node: when
        // the pad goes away the name goes too. The pseudo-terminal's own name may meanwhile be
        // given to another program's terminal, which the host must never reach. The link's name
        // is unique, as the serial port's lock file is named after it.
        m_path = m_node.filePath(QStringLiteral("tty") + QFileInfo(m_node.path()).fileName());
        if (!QFile::link(QString::fromLocal8Bit(name), m_path))
            m_path.clear();
        m_notifier = std::make_unique<QSocketNotifier>(m_near, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readHost(); });
    }
    ~ScriptedPad() { hangUp(); }
    ScriptedPad(const ScriptedPad&) = delete;
    ScriptedPad& operator=(const ScriptedPad&) = delete;

    QString path() const { return m_path; }
    // The device goes away, as an unplugged adapter does: both of its ends of the line close
    // and its name is gone.
    void hangUp()
    {
        if (m_notifier)
            m_notifier->setEnabled(false);
        if (!m_path.isEmpty())
            QFile::remove(m_path);
        for (int* fd : {&m_near, &m_far}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }
    void send(const QByteArray& bytes)
    {
        if (m_near >= 0) {
            ++m_activity;
            EXPECT_EQ(::write(m_near, bytes.constData(), size_t(bytes.size())), bytes.size());
        }
    }
    // Grows with every read and write of the pad: the line is quiet while it stays put.
    int activity() const { return m_activity; }

    std::function<void(ScriptedPad&)> onPinRequest;
    // The pad goes away instead of acknowledging the amount.
    bool hangsUpOnTotal = false;
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
        ++m_activity;
        m_reader.feed(QByteArray(buffer, int(n)));
        while (const std::optional<PinPadFrameReader::Item> item = m_reader.next()) {
            if (item->kind != PinPadFrameReader::Item::Frame)
                continue;
            received << item->payload;
            if (item->payload == "72" && !acknowledgesCancel)
                continue;
            if (hangsUpOnTotal && item->payload.contains("TOTAL")) {
                hangUp();
                return;
            }
            send(QByteArray(1, PinPadFrame::kAck));
            if (item->payload.startsWith("Z60.") && onPinRequest)
                onPinRequest(*this);
        }
    }

    int m_near = -1;
    int m_far = -1;
    int m_activity = 0;
    QTemporaryDir m_node;
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

// Lets the real events (the pseudo-terminal's bytes) run for a few milliseconds.
void runEvents(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// The CPU time this process has used, in milliseconds.
qint64 cpuMs()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

// A serial 1000SE on a scripted pad. The line's bytes are real; the waits run in virtual time,
// which moves on only while the line is quiet, so an answer always arrives inside the second
// that waits for it and a two-minute limit takes a moment.
class PadOnLine
{
public:
    static constexpr int kVirtualStepMs = 250;

    PadOnLine(ScriptedPad& pad, const QString& settingsPath)
        : m_pad(pad), device(SettingsFile::read(settingsPath).serialPorts, scheduler),
          lineSettings{pad.path(), QStringLiteral("9600"), QStringLiteral("8"), QStringLiteral("N")}
    {
    }
    // The script runs when the PIN request arrives, which is noted in virtual time.
    void onPinRequest(std::function<void(ScriptedPad&)> script)
    {
        m_pad.onPinRequest = [this, script](ScriptedPad& pad) {
            pinRequestAtMs = scheduler.elapsedMs();
            if (script)
                script(pad);
        };
    }
    bool open()
    {
        ready.reset();
        device.OpenPad(lineSettings, [this](bool isReady) { ready = isReady; });
        return drive([this] { return ready.has_value(); }) && *ready;
    }
    // Starts PIN entry; `result` holds its outcome once it has ended.
    void getPin()
    {
        result.reset();
        device.GetPinBlock(prompt, [this](const PinPadDevice::PinBlockResult& r) {
            result = r;
            endedAtMs = scheduler.elapsedMs();
        });
    }
    bool drive(const std::function<bool()>& done, int maxRounds = 20000)
    {
        int quiet = 0;
        for (int round = 0; round < maxRounds && !done(); ++round) {
            const int before = m_pad.activity();
            runEvents(2);
            scheduler.advance(0);
            quiet = m_pad.activity() == before ? quiet + 1 : 0;
            if (quiet >= 3 && !done())
                scheduler.advance(kVirtualStepMs);
        }
        return done();
    }
    bool ended()
    {
        return drive([this] { return result.has_value(); });
    }
    int failure() const { return result && result->failure ? result->failure->code() : 0; }
    QString failureText() const
    {
        return result && result->failure ? result->failure->description() : QString();
    }

    FakeScheduler scheduler;

private:
    ScriptedPad& m_pad;

public:
    SerialPinPad device;
    PinPadDevice::LineSettings lineSettings;
    PinPadDevice::PinPrompt prompt{QStringLiteral("4012345678909"), QStringLiteral("1.00"), 120};
    std::optional<bool> ready;
    std::optional<PinPadDevice::PinBlockResult> result;
    qint64 pinRequestAtMs = -1;
    qint64 endedAtMs = -1;
};

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
    Case silent{"no answer within the limit", {}, {}, {}, QStringLiteral("no answer in 3 s")};
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
        pad.acknowledgesCancel = c.acknowledgesCancel;
        PadOnLine line(pad, home.filePath(QStringLiteral("varnelpayment.ini")));
        line.onPinRequest(c.onPinRequest);
        ASSERT_TRUE(line.open()) << line.device.ErrorDescription().toStdString();
        // An answer or a fault ends the wait, never the limit.
        line.prompt.timeoutSeconds = c.onPinRequest ? 60 : 3;
        line.prompt.amount = c.amount;

        line.getPin();
        ASSERT_TRUE(line.ended());
        EXPECT_EQ(line.failure(), c.failure);
        EXPECT_EQ(line.result->pinBlock, c.pinBlock);
        EXPECT_EQ(line.device.Ksn(), c.ksn);
        if (c.failure == 0 && c.pinBlock.isEmpty()) {
            EXPECT_EQ(line.device.CancelReason(), c.cancelReason);
        }
        if (c.failure != 5) {
            ASSERT_GE(line.pinRequestAtMs, 0);
            // Answers and faults end the wait at once; only silence waits for the limit, and
            // then for the cancel's acknowledgement (three seconds when it never comes).
            const qint64 waited = line.endedAtMs - line.pinRequestAtMs;
            if (c.onPinRequest) {
                EXPECT_LT(waited, 1000);
            } else {
                EXPECT_GE(waited, 3000);
                EXPECT_LE(waited, c.acknowledgesCancel ? 3500 : 6500);
            }
        }
        // A time-out cancels PIN entry on the pad; an overlong amount never reaches it.
        EXPECT_EQ(pad.received.contains("72"), !c.onPinRequest);
        EXPECT_EQ(pad.received.size() > 1, c.failure != 5);
        line.device.ClosePad();
    }
}

TEST(SerialPinPad, ASilentPadIsCancelledAfterItsOwnLimitWithoutSpinning)
{
    QTemporaryDir home;
    for (const int limit : {1, 10, 45, 120}) {
        SCOPED_TRACE(limit);
        ScriptedPad pad;
        PadOnLine line(pad, home.filePath(QStringLiteral("varnelpayment.ini")));
        line.onPinRequest({});
        ASSERT_TRUE(line.open());
        line.prompt.timeoutSeconds = limit;
        const int callsBefore = line.scheduler.callsRun();

        line.getPin();
        ASSERT_TRUE(line.ended());
        EXPECT_EQ(line.failure(), 0);
        EXPECT_EQ(line.result->pinBlock, QString());
        EXPECT_EQ(line.device.CancelReason(), QStringLiteral("no answer in %1 s").arg(limit));
        const qint64 waited = line.endedAtMs - line.pinRequestAtMs;
        EXPECT_GE(waited, limit * 1000);
        EXPECT_LE(waited, limit * 1000 + SerialPinPad::kStepMs);
        EXPECT_EQ(pad.received.count("72"), 1);
        // One call a step, and a few for the packets: the wait never spins.
        EXPECT_LE(line.scheduler.callsRun() - callsBefore,
                  limit * 1000 / SerialPinPad::kStepMs + 12);
    }
}

TEST(SerialPinPad, AClientThatGoesAwayEndsTheWaitAndThePadIsToldToStop)
{
    struct Case
    {
        const char* name;
        // When the client goes, in ms after the PIN request reached the pad.
        int goneAfterMs;
        bool acknowledgesCancel;
    };
    const std::vector<Case> cases{
        {"gone when the PIN request arrives", 0, true},
        {"gone in the middle of a step", 1200, true},
        {"gone after half a minute", 30000, true},
        {"gone, and the pad does not take the cancel: still no error", 1200, false},
    };
    QTemporaryDir home;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPad pad;
        pad.acknowledgesCancel = c.acknowledgesCancel;
        PadOnLine line(pad, home.filePath(QStringLiteral("varnelpayment.ini")));
        qint64 goneAtMs = -1;
        std::unique_ptr<ScheduledCall> leaving;
        line.onPinRequest([&](ScriptedPad&) {
            // The client leaves during the first entry only.
            if (leaving)
                return;
            leaving = line.scheduler.callAfter(c.goneAfterMs, [&] {
                goneAtMs = line.scheduler.elapsedMs();
                line.device.cancelEntry();
            });
        });
        ASSERT_TRUE(line.open());
        line.prompt.timeoutSeconds = 120;

        line.getPin();
        ASSERT_TRUE(line.ended());
        EXPECT_EQ(line.failure(), 0);
        EXPECT_EQ(line.result->pinBlock, QString());
        EXPECT_EQ(line.device.CancelReason(), QStringLiteral("client gone"));
        EXPECT_EQ(pad.received.count("72"), c.acknowledgesCancel ? 1 : 3);
        // At once, or once the request is acknowledged; then the cancel's own exchange.
        ASSERT_GE(goneAtMs, 0);
        EXPECT_LE(line.endedAtMs - goneAtMs,
                  SerialPinPad::kStepMs + (c.acknowledgesCancel
                                               ? PadOnLine::kVirtualStepMs
                                               : PinPadLink::kMaxSends * PinPadLink::kAckWaitMs));
        // The cancel was this entry's only: the next one waits for its limit.
        line.prompt.timeoutSeconds = 1;
        line.getPin();
        ASSERT_TRUE(line.ended());
        EXPECT_GE(line.endedAtMs - line.pinRequestAtMs, 1000);
        EXPECT_EQ(pad.received.count("72"), c.acknowledgesCancel ? 2 : 6);
    }
}

TEST(SerialPinPad, ALineThatGoesAwayEndsEveryWaitAtOnceWithError57AndIsNotReadAgain)
{
    struct Case
    {
        const char* name;
        bool hangsUpOnTotal;   // instead of acknowledging the amount
        bool hangsUpWhenIdle;  // after it opened, before PIN entry
        bool hangsUpInTheWait; // when the PIN request arrives
        QString words;
    };
    const std::vector<Case> cases{
        {"while the amount waits for its acknowledgement", true, false, false,
         QStringLiteral("cannot be written to.")},
        {"while the pad is open but idle", false, true, false, QStringLiteral("was lost.")},
        {"while the customer keys the PIN", false, false, true, QStringLiteral("was lost.")},
    };
    QTemporaryDir home;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPad pad;
        pad.hangsUpOnTotal = c.hangsUpOnTotal;
        PadOnLine line(pad, home.filePath(QStringLiteral("varnelpayment.ini")));
        // In the wait: once the host has taken the PIN request's acknowledgement.
        std::unique_ptr<ScheduledCall> hangingUp;
        qint64 hungUpAtMs = -1;
        line.onPinRequest([&](ScriptedPad& p) {
            if (c.hangsUpInTheWait)
                hangingUp = line.scheduler.callAfter(1500, [&] {
                    p.hangUp();
                    hungUpAtMs = line.scheduler.elapsedMs();
                });
        });
        ASSERT_TRUE(line.open());
        line.prompt.timeoutSeconds = 120;
        const qint64 startedAtMs = line.scheduler.elapsedMs();
        if (c.hangsUpWhenIdle) {
            pad.hangUp();
            runEvents(50);
            line.scheduler.advance(0);
        }

        line.getPin();
        ASSERT_TRUE(line.ended());
        EXPECT_EQ(line.failure(), 57);
        EXPECT_TRUE(line.failureText().startsWith(QStringLiteral("The PIN pad on ")));
        EXPECT_TRUE(line.failureText().endsWith(c.words)) << line.failureText().toStdString();
        EXPECT_TRUE(line.result->pinBlock.isEmpty());
        // At once: neither the acknowledgement's seconds nor the limit ran out.
        EXPECT_LT(line.endedAtMs - std::max(startedAtMs, hungUpAtMs), PinPadLink::kAckWaitMs);

        // The dead line is closed: events go on without eating the CPU.
        const qint64 cpuBefore = cpuMs();
        QElapsedTimer wall;
        wall.start();
        runEvents(300);
        EXPECT_LT(cpuMs() - cpuBefore, wall.elapsed() / 2);
        // The pad is free for the next request, which finds the line gone.
        EXPECT_FALSE(line.open());
        EXPECT_NE(line.device.ErrorCode(), 55);
    }
}

TEST(SerialPinPad, ClosingTheProgramDropsTheEntryAndFreesThePadAtOnce)
{
    QTemporaryDir home;
    ScriptedPad pad;
    PadOnLine line(pad, home.filePath(QStringLiteral("varnelpayment.ini")));
    bool asked = false;
    line.onPinRequest([&asked](ScriptedPad&) { asked = true; });
    ASSERT_TRUE(line.open());
    line.getPin();
    ASSERT_TRUE(line.drive([&asked] { return asked; }));
    line.scheduler.advance(2000);

    line.device.Abandon();
    EXPECT_EQ(line.scheduler.pending(), 0u);
    // The pad's answer finds nobody listening, and nothing ever reports.
    pad.send(answer(kGoodAnswer));
    runEvents(50);
    line.scheduler.runUntilIdle();
    EXPECT_FALSE(line.result.has_value());
    // Not held: the next request opens it again.
    EXPECT_TRUE(line.open());
}

TEST(PinPadLink, EveryErrorOfTheLineButATimeOutEndsItsWaits)
{
    const QMetaEnum kinds = QMetaEnum::fromType<QSerialPort::SerialPortError>();
    ASSERT_GT(kinds.keyCount(), 2);
    for (int i = 0; i < kinds.keyCount(); ++i) {
        const auto kind = QSerialPort::SerialPortError(kinds.value(i));
        SCOPED_TRACE(kinds.key(i));
        const bool usable = kind == QSerialPort::NoError || kind == QSerialPort::TimeoutError;
        // Before a packet, and in the middle of the second that waits for its answer.
        for (const bool midWait : {false, true}) {
            SCOPED_TRACE(midWait ? "in the wait" : "before the packet");
            QByteArray written;
            QBuffer line(&written);
            line.open(QIODevice::WriteOnly);
            FakeScheduler scheduler;
            PinPadLink link(line, scheduler);
            int changes = 0;
            link.onChange([&changes] { ++changes; });
            std::optional<PinPadLink::Sent> sent;
            qint64 sentAtMs = -1;

            if (!midWait)
                link.noteLineError(kind);
            link.send("72", [&](PinPadLink::Sent outcome) {
                sent = outcome;
                sentAtMs = scheduler.elapsedMs();
            });
            EXPECT_FALSE(sent.has_value()); // never inside the call
            if (midWait) {
                scheduler.advance(300);
                link.noteLineError(kind);
            }
            scheduler.runUntilIdle();

            EXPECT_EQ(link.lineLost(), !usable);
            EXPECT_EQ(changes, usable ? 0 : 1);
            // A lost line fails a packet at once: no wait for an answer that cannot come. A
            // usable one tries three times, a second each, then ends the exchange.
            ASSERT_TRUE(sent.has_value());
            EXPECT_EQ(*sent, usable ? PinPadLink::Sent::NoAnswer : PinPadLink::Sent::LineFailed);
            EXPECT_EQ(sentAtMs, usable ? PinPadLink::kMaxSends * PinPadLink::kAckWaitMs
                                       : (midWait ? 300 : 0));
            const QByteArray frame = PinPadFrame::encode("72");
            EXPECT_EQ(written,
                      usable ? frame + frame + frame + kEot : (midWait ? frame : QByteArray()));
        }
    }
}
