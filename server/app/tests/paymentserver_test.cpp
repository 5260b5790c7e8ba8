// The composition root in-process, over the simulated pad and recording fakes.
#include "app/paymentserver.h"

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTemporaryDir>

#include "borrowedpad.h"
#include "core/scheduler.h"
#include "fakeclock.h"
#include "fakepinpad.h"
#include "fakeserialprobe.h"
#include "log/textviewer.h"
#include "pad/filechooser.h"
#include "pad/simulatedpad.h"
#include "serverprocess.h"
#include "settings/settingsfile.h"
#include "testfiles.h"

namespace {

class RecordingViewer final : public TextViewer
{
public:
    QString name() const override { return QStringLiteral("test-viewer"); }
    bool open(const QString& path) override
    {
        // The View Log line is written before the viewer starts.
        linesWhenOpened = TestFiles::logEntries(path);
        opened << path;
        return starts;
    }

    bool starts = true;
    QStringList opened;
    QStringList linesWhenOpened;
};

class PaymentServerTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(home.isValid()); }

    void writeSettings(const QString& port, bool padBox)
    {
        TestFiles::writeAll(home.filePath(QStringLiteral("varnelpayment.ini")),
                            QStringLiteral("[Local]\r\nlocalSockport=%1\r\n[QP6100]\r\n"
                                           "qp6100Device=%2\r\n")
                                .arg(port, padBox ? QStringLiteral("1") : QStringLiteral("0"))
                                .toLatin1());
    }
    QStringList logEntries() const
    {
        return TestFiles::logEntries(home.filePath(QStringLiteral("varnelpayment.log")));
    }

    QTemporaryDir home;
    FakeClock clock{QDateTime(QDate(2026, 12, 7), QTime(19, 54, 28))};
    QtScheduler scheduler;
    NoFileChooser fileChooser;
    RecordingViewer viewer;
    FakePinPad pinPad{scheduler};
    FakeSerialProbe serialProbe; // a machine without serial ports
    std::unique_ptr<PaymentServer> server;
    SimulatedPad pad;

    PaymentServer& make()
    {
        const ProgramFolder folder(home.path());
        Devices devices{[this](const Qp6100Settings&, ActivityLog&) {
                            return std::make_unique<BorrowedPad>(pad);
                        },
                        fileChooser, viewer};
        devices.pinPad = &pinPad;
        devices.serialProbe = &serialProbe;
        server.reset();
        server = std::make_unique<PaymentServer>(folder, SettingsFile::read(folder.settingsPath()),
                                                 clock, scheduler, devices);
        return *server;
    }
};

} // namespace

TEST_F(PaymentServerTest, StartsInOrderAndShutsDownOnce)
{
    const quint16 port = ServerProcess::freePort();
    writeSettings(QString::number(port), true);
    PaymentServer& s = make();
    s.shutdown(); // before a start there is nothing to shut down
    EXPECT_TRUE(logEntries().isEmpty());

    const StartupReport report = s.start();
    ASSERT_TRUE(report.listening()) << qPrintable(report.listenError);
    // A ticked pad that every machine may reach is the one thing said.
    EXPECT_EQ(report.errorLines(),
              QStringList{QStringLiteral("varnelpayment: ") + report.openToNetwork});
    EXPECT_EQ(s.listeningPort(), port);
    EXPECT_TRUE(pad.portOpen()) << "the ticked box connects the pad during the settings load";
    EXPECT_EQ(pad.form(), QStringLiteral("padWelcome"));
    const QStringList started = logEntries();
    const QStringList order{QStringLiteral("Application: Form load"),
                            QStringLiteral("QP6100: Port Opened"),
                            QStringLiteral("commPort_get_info: COM1"),
                            QStringLiteral("commPort_get_info: COM8"),
                            QStringLiteral("Socket: Listening Port %1").arg(port),
                            QStringLiteral("purge_log: finished")};
    qsizetype at = -1;
    for (const QString& entry : order) {
        const qsizetype next = started.indexOf(entry, at + 1);
        EXPECT_GT(next, at) << qPrintable(entry) << " out of order in\n"
                            << qPrintable(started.join(QLatin1Char('\n')));
        at = next;
    }
    EXPECT_EQ(started.first(), order.first());

    s.shutdown();
    s.shutdown();
    EXPECT_FALSE(pad.portOpen());
    const QStringList ended = logEntries();
    EXPECT_EQ(ended.last(), QStringLiteral("Application Closed"));
    EXPECT_EQ(ended.count(QStringLiteral("Application Closed")), 1);
    EXPECT_EQ(ended.count(QStringLiteral("QP6100: Port Closed")), 1);
}

TEST_F(PaymentServerTest, ABoxThatAnyMachineMayAskForCardDataSaysSoOnce)
{
    const struct
    {
        const char* extra;
        bool padBox;
        bool warned;
    } cases[] = {
        {"", true, true},
        {"", false, false},
        {"allowFrom=10.0.0.0/8\r\n", true, false},
        {"[Tills]\r\nRequireKey=Y\r\n", true, false},
        {"[Tills]\r\nRequireKey=N\r\n", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extra);
        const quint16 port = ServerProcess::freePort();
        TestFiles::writeAll(home.filePath(QStringLiteral("varnelpayment.ini")),
                            "[Local]\r\nlocalSockport=" + QByteArray::number(port) + "\r\n" +
                                c.extra + "[QP6100]\r\nqp6100Device=" + (c.padBox ? "1" : "0") +
                                "\r\n");
        QFile::remove(home.filePath(QStringLiteral("varnelpayment.log")));
        PaymentServer& s = make();
        const StartupReport report = s.start();
        const QStringList said = logEntries().filter(QStringLiteral("any machine on the network"));
        EXPECT_EQ(said.size(), c.warned ? 1 : 0);
        EXPECT_EQ(report.openToNetwork.isEmpty(), !c.warned);
        if (c.warned) {
            EXPECT_EQ(said.first(), report.openToNetwork);
            EXPECT_TRUE(report.openToNetwork.contains(QStringLiteral("[Local] allowFrom")));
            EXPECT_TRUE(report.openToNetwork.contains(QStringLiteral("[Tills] RequireKey=Y")));
            EXPECT_TRUE(report.errorLines().contains(QStringLiteral("varnelpayment: ") +
                                                     report.openToNetwork));
        }
        s.shutdown();
    }
}

TEST_F(PaymentServerTest, AnUnusablePortIsReportedAndStartUpRunsToItsEnd)
{
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::Any, 0));
    const QString taken = QString::number(occupant.serverPort());
    for (const QString& port : {taken, QStringLiteral("70000"), QStringLiteral("abc")}) {
        SCOPED_TRACE(qPrintable(port));
        QFile::remove(home.filePath(QStringLiteral("varnelpayment.log")));
        writeSettings(port, false);
        PaymentServer& s = make();
        const StartupReport report = s.start();
        const QString reason = report.listenError;
        EXPECT_FALSE(report.listening());
        EXPECT_EQ(
            report.errorLines(),
            QStringList{
                QStringLiteral("varnelpayment: cannot listen on port [%1]: %2").arg(port, reason)});
        EXPECT_EQ(s.listeningPort(), 0);
        const QStringList entries = logEntries();
        EXPECT_TRUE(entries.contains(
            QStringLiteral("Socket: Listening Error port=[%1] %2").arg(port, reason)));
        // The rest of start-up still ran, so a window can stay up and take a new port.
        EXPECT_EQ(entries.last(), QStringLiteral("purge_log: finished"));
        s.shutdown();
        EXPECT_EQ(logEntries().last(), QStringLiteral("Application Closed"));
    }
}

TEST_F(PaymentServerTest, WindowCommandsReachTheirSubsystems)
{
    writeSettings(QString::number(ServerProcess::freePort()), true);
    PaymentServer& s = make();
    ASSERT_TRUE(s.start().listening());
    WindowCommands& commands = s.windowCommands();

    commands.mnuQP6100Disconnect_Click();
    EXPECT_FALSE(pad.portOpen());
    EXPECT_TRUE(s.settings().mnuQP6100Connect());
    commands.mnuQP6100Connect_Click();
    EXPECT_TRUE(pad.portOpen());
    EXPECT_TRUE(s.settings().mnuQP6100Disconnect());
    commands.mnuQP6100LoadScript_Click(); // no file dialog here: a cancel, nothing loaded
    EXPECT_TRUE(pad.portOpen());

    const QString logPath = home.filePath(QStringLiteral("varnelpayment.log"));
    commands.mnuToolsLogFileViewLog();
    EXPECT_EQ(viewer.opened, QStringList{logPath});
    EXPECT_EQ(viewer.linesWhenOpened.last(),
              QStringLiteral("View Log: path=[test-viewer] file=[%1] ").arg(logPath));
    viewer.starts = false;
    commands.mnuToolsLogFileViewLog();
    EXPECT_EQ(logEntries().last(),
              QStringLiteral("View Log: the viewer [test-viewer] could not be started"));

    commands.mnuToolsLogFilePurgeLog();
    EXPECT_EQ(logEntries().last(), QStringLiteral("purge_log: finished"));

    s.settings().setTxtSockport(QStringLiteral("4242"));
    commands.mnuFileSave();
    EXPECT_TRUE(TestFiles::readAll(home.filePath(QStringLiteral("varnelpayment.ini")))
                    .contains("localSockport=4242"));
    s.shutdown();
}

TEST_F(PaymentServerTest, ATlsPortThatCannotOpenIsReportedAndTheTcpPortServesOn)
{
    const QString missing = home.filePath(QStringLiteral("missing.pem"));
    const struct
    {
        QString port;
        QString certificate;
        QString reason;
    } cases[] = {
        {QStringLiteral("31999"),
         {},
         QStringLiteral("the TLS port needs [WebSocket] CertFile and KeyFile")},
        // A relative name is a file of the program folder.
        {QStringLiteral("31999"),
         QStringLiteral("[WebSocket]\r\nCertFile=missing.pem\r\nKeyFile=missing.pem\r\n"),
         QStringLiteral("cannot read the certificate file [%1]: No such file or directory")
             .arg(missing)},
        {QStringLiteral("abc"), {}, QStringLiteral("the port is not a number")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qPrintable(c.port + c.certificate));
        const quint16 port = ServerProcess::freePort();
        TestFiles::writeAll(home.filePath(QStringLiteral("varnelpayment.ini")),
                            QStringLiteral("[Local]\r\nlocalSockport=%1\r\n[TLS]\r\nPort=%2\r\n%3")
                                .arg(QString::number(port), c.port, c.certificate)
                                .toLatin1());
        PaymentServer& s = make();
        const StartupReport report = s.start();
        EXPECT_EQ(report.errorLines(),
                  QStringList{QStringLiteral("varnelpayment: cannot open the TLS port [%1]: %2")
                                  .arg(c.port, c.reason)});
        EXPECT_TRUE(logEntries().contains(
            QStringLiteral("TLS: Listening Error port=[%1] %2").arg(c.port, c.reason)));
        EXPECT_EQ(s.tlsPort(), 0);
        EXPECT_EQ(s.listeningPort(), port);
        s.shutdown();
    }
}
