#include <gtest/gtest.h>

#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include "pad/padcontrolprotocol.h"
#include "pad/padcontrolserver.h"
#include "pad/sigcomp.h"
#include "pad/simulatedpad.h"
#include "padtestsupport.h"

namespace {

// One control connection; the server runs in this thread, so every wait runs the event loop.
class ControlClient
{
public:
    bool connectTo(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return spinUntil([this] { return m_socket.state() == QAbstractSocket::ConnectedState; },
                         3000);
    }
    void send(const QStringList& words)
    {
        m_socket.write(PadControlProtocol::encodeRequest(words));
    }
    // The answer's lines up to its closing line; empty when none came in time.
    QStringList answer(int timeoutMs = 3000)
    {
        QStringList lines;
        spinUntil(
            [&] {
                while (m_socket.canReadLine()) {
                    lines.append(QString::fromUtf8(m_socket.readLine()).chopped(1));
                    if (PadControlProtocol::isClosingLine(lines.last()))
                        return true;
                }
                return false;
            },
            timeoutMs);
        return lines.isEmpty() || !PadControlProtocol::isClosingLine(lines.last()) ? QStringList()
                                                                                   : lines;
    }
    QStringList request(const QStringList& words)
    {
        send(words);
        return answer();
    }
    void close() { m_socket.abort(); }

    // Runs events until `done` or the time is up.
    template <typename Done> static bool spinUntil(Done done, int timeoutMs)
    {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.start(timeoutMs);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        while (!done()) {
            if (!timer.isActive())
                return false;
            loop.processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        return true;
    }

private:
    QTcpSocket m_socket;
};

const QStringList kOk{QStringLiteral("ok")};

class PadControlServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(control.listen(0));
        ASSERT_TRUE(client.connectTo(control.port()));
    }
    qint16 show(const QString& form)
    {
        qint16 status = 0;
        pad.ShowForm(form, status);
        return status;
    }
    void openPad()
    {
        qint16 status = 0;
        pad.OpenPort(0, 0, status);
    }

    TestLog log;
    SimulatedPad pad;
    PadControlServer control{pad, log.log()};
    ControlClient client;
};

TEST_F(PadControlServerTest, StateListsPortFormAndTheSixVariables)
{
    openPad();
    show(QStringLiteral("padWelcome"));
    pad.setVariableOnPad(QStringLiteral("TOTAL"), QStringLiteral("12.50"));
    pad.setVariableOnPad(QStringLiteral("FULLNAME"), QStringLiteral("A\\B\r\n\tC\x01"));
    EXPECT_EQ(client.request({QStringLiteral("state")}),
              (QStringList{QStringLiteral("port=open"), QStringLiteral("form=padWelcome"),
                           QStringLiteral("TOTAL=12.50"), QStringLiteral("TRACK1="),
                           QStringLiteral("TRACK2="), QStringLiteral("SIGCOMP="),
                           QStringLiteral("FULLNAME=A\\\\B\\r\\n\\tC\\x01"),
                           QStringLiteral("ACCOUNT="), QStringLiteral("ok")}));
    EXPECT_EQ(log.entries().value(0),
              QStringLiteral("Simulator: Control Port ") + QString::number(control.port()));
}

TEST_F(PadControlServerTest, ASwipeWaitsForTheSwipeFormAndNeverReachesTheLog)
{
    openPad();
    const QString track1 = QStringLiteral("%B5500 0000^ROE/RICHARD^2801?");
    client.send(
        {QStringLiteral("swipe"), QStringLiteral("5000"), track1, QStringLiteral(";55=28?")});
    EXPECT_TRUE(client.answer(300).isEmpty());
    show(QStringLiteral("padWelcome"));
    EXPECT_TRUE(client.answer(100).isEmpty());
    show(QStringLiteral("padStart"));
    EXPECT_EQ(client.answer(), kOk);
    EXPECT_EQ(pad.variable(QStringLiteral("TRACK1")), track1);
    EXPECT_EQ(pad.variable(QStringLiteral("TRACK2")), QStringLiteral(";55=28?"));
    EXPECT_TRUE(log.entries().contains(QStringLiteral("Simulator: Card Swiped")));
    EXPECT_FALSE(log.text().contains(QStringLiteral("5500")));
    EXPECT_FALSE(log.text().contains(QStringLiteral(";55")));

    // The form is showing but has taken its card: the next swipe waits for it to be shown again.
    client.send({QStringLiteral("swipe"), QStringLiteral("5000"), QStringLiteral("second")});
    EXPECT_TRUE(client.answer(200).isEmpty());
    show(QStringLiteral("padStart"));
    EXPECT_EQ(client.answer(), kOk);
    EXPECT_EQ(pad.variable(QStringLiteral("TRACK1")), QStringLiteral("second"));
    EXPECT_TRUE(pad.variable(QStringLiteral("TRACK2")).isEmpty());
}

TEST_F(PadControlServerTest, ASignatureWaitsForTheSigningFormAndEachFormTakesOne)
{
    openPad();
    const QString first = Sigcomp::encode({{{1, 2}, {3, 4}}});
    const QString second = Sigcomp::encode({{{5, 6}}});
    client.send({QStringLiteral("sign"), QStringLiteral("5000"), first});
    show(QStringLiteral("padStart"));
    EXPECT_TRUE(client.answer(200).isEmpty());
    show(QStringLiteral("padSig"));
    EXPECT_EQ(client.answer(), kOk);
    EXPECT_EQ(pad.variable(QStringLiteral("SIGCOMP")), first);
    EXPECT_FALSE(pad.awaitingSignature());
    EXPECT_TRUE(log.entries().contains(QStringLiteral("Simulator: Signed")));

    // The form has taken its signature: the next one waits for it to be shown again, and a
    // form already waiting takes it at once.
    client.send({QStringLiteral("sign"), QStringLiteral("5000"), second});
    EXPECT_TRUE(client.answer(200).isEmpty());
    show(QStringLiteral("padSig"));
    EXPECT_EQ(client.answer(), kOk);
    EXPECT_EQ(pad.variable(QStringLiteral("SIGCOMP")), second);
    show(QStringLiteral("padSig"));
    EXPECT_EQ(client.request({QStringLiteral("sign"), QStringLiteral("0"), first}), kOk);
    EXPECT_EQ(pad.variable(QStringLiteral("SIGCOMP")), first);
}

TEST_F(PadControlServerTest, AFormAwaitingACardTakesTheSwipeAtOnce)
{
    openPad();
    show(QStringLiteral("padStart"));
    EXPECT_EQ(client.request({QStringLiteral("swipe"), QStringLiteral("0"), QStringLiteral("t1"),
                              QStringLiteral("t2")}),
              kOk);
    EXPECT_EQ(pad.variable(QStringLiteral("TRACK1")), QStringLiteral("t1"));
}

TEST_F(PadControlServerTest, AnUnansweredSwipeTimesOutAndIsDropped)
{
    openPad();
    client.send({QStringLiteral("swipe"), QStringLiteral("150"), QStringLiteral("late")});
    EXPECT_EQ(client.answer(), QStringList{QStringLiteral("timeout")});
    show(QStringLiteral("padStart"));
    EXPECT_TRUE(pad.awaitingCard());
    EXPECT_TRUE(pad.variable(QStringLiteral("TRACK1")).isEmpty());

    // A client that leaves takes its swipe with it.
    show(QStringLiteral("padWelcome"));
    client.send({QStringLiteral("swipe"), QStringLiteral("5000"), QStringLiteral("gone")});
    EXPECT_TRUE(client.answer(100).isEmpty());
    client.close();
    ControlClient::spinUntil([] { return false; }, 100);
    show(QStringLiteral("padStart"));
    EXPECT_TRUE(pad.variable(QStringLiteral("TRACK1")).isEmpty());
}

TEST_F(PadControlServerTest, WaitFormAnswersWhenTheFormIsShown)
{
    EXPECT_EQ(client.request({QStringLiteral("wait-form"), QStringLiteral("padWelcome"),
                              QStringLiteral("100")}),
              QStringList{QStringLiteral("timeout")});
    openPad();
    client.send(
        {QStringLiteral("wait-form"), QStringLiteral("padWelcome"), QStringLiteral("5000")});
    EXPECT_TRUE(client.answer(100).isEmpty());
    show(QStringLiteral("padWelcome"));
    EXPECT_EQ(client.answer(), kOk);
    // Already showing: at once.
    EXPECT_EQ(client.request(
                  {QStringLiteral("wait-form"), QStringLiteral("padWelcome"), QStringLiteral("0")}),
              kOk);
}

TEST_F(PadControlServerTest, FaultsAndVariablesSetFromOutside)
{
    openPad();
    EXPECT_EQ(client.request({QStringLiteral("fail"), QStringLiteral("ShowForm"),
                              QStringLiteral("7"), QStringLiteral("2")}),
              kOk);
    EXPECT_EQ(show(QStringLiteral("padWelcome")), 7);
    EXPECT_EQ(show(QStringLiteral("padWelcome")), 7);
    EXPECT_EQ(show(QStringLiteral("padWelcome")), 1);

    EXPECT_EQ(client.request(
                  {QStringLiteral("throw"), QStringLiteral("IsPortOpen"), QStringLiteral("424")}),
              kOk);
    qint16 flag = 0;
    EXPECT_THROW(pad.IsPortOpen(flag), Failure);
    pad.IsPortOpen(flag);
    EXPECT_EQ(flag, -1);

    EXPECT_EQ(
        client.request({QStringLiteral("fail"), QStringLiteral("OpenPort"), QStringLiteral("3")}),
        kOk);
    EXPECT_EQ(client.request({QStringLiteral("clear-faults")}), kOk);
    qint16 status = 0;
    pad.OpenPort(0, 0, status);
    EXPECT_EQ(status, 1);

    EXPECT_EQ(client.request(
                  {QStringLiteral("set"), QStringLiteral("SIGCOMP"), QStringLiteral("pen data")}),
              kOk);
    EXPECT_EQ(pad.variable(QStringLiteral("SIGCOMP")), QStringLiteral("pen data"));
}

TEST_F(PadControlServerTest, BadRequestsAreAnsweredWithAnError)
{
    const QList<QStringList> bad = {
        {QStringLiteral("dance")},
        {QStringLiteral("swipe")},
        {QStringLiteral("swipe"), QStringLiteral("soon"), QStringLiteral("t1")},
        {QStringLiteral("fail"), QStringLiteral("Nothing"), QStringLiteral("0")},
        {QStringLiteral("fail"), QStringLiteral("ShowForm"), QStringLiteral("40000")},
        {QStringLiteral("throw"), QStringLiteral("ShowForm"), QStringLiteral("5"),
         QStringLiteral("0")},
        {QStringLiteral("set"), QStringLiteral("AMOUNT"), QStringLiteral("1")},
        {QStringLiteral("wait-form"), QStringLiteral("padStart")},
        {QStringLiteral("sign"), QStringLiteral("100")},
        {QStringLiteral("sign"), QStringLiteral("100"), QStringLiteral("1,2 3,4")},
    };
    for (const QStringList& words : bad) {
        const QStringList answer = client.request(words);
        ASSERT_EQ(answer.size(), 1) << qPrintable(words.join(QLatin1Char(' ')));
        EXPECT_TRUE(answer.first().startsWith(QStringLiteral("error ")))
            << qPrintable(answer.first());
    }
    // The connection still serves.
    EXPECT_EQ(client.request({QStringLiteral("clear-faults")}), kOk);
}

} // namespace
