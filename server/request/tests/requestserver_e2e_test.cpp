// End-to-end: the real varnelpayment binary on a loopback port, driven over TCP.
#include <unistd.h>

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include "serverprocess.h"

namespace {

const QByteArray kVersionReply("<VERSION>1.0.0</VERSION>");
const QString kSeparator(64, QLatin1Char('-'));
const QString kStart = QStringLiteral("Socket: Transaction Start ") + kSeparator;
const QString kEnd = QStringLiteral("Socket: Transaction End ") + kSeparator;

class RequestServerE2E : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.start()) << "server did not start"; }

    ServerProcess server;
};

QString connectionLine(const TestClient& client)
{
    return QStringLiteral("Socket: ConnectionRequest ip=[127.0.0.1] port=[%1]")
        .arg(const_cast<TestClient&>(client).socket().localPort());
}

} // namespace

TEST_F(RequestServerE2E, StartUpRunsInOrder)
{
    const QStringList log = server.logEntries();
    ASSERT_GE(log.size(), 5);
    EXPECT_EQ(log.at(0), QStringLiteral("Application: Form load"));
    const qsizetype listening =
        log.indexOf(QStringLiteral("Socket: Listening Port %1").arg(server.port()));
    ASSERT_GT(listening, 0);
    EXPECT_EQ(log.mid(listening + 1, 3), (QStringList{QStringLiteral("purge_log: started"),
                                                      QStringLiteral("purge_log: purgeCt=[ 0]"),
                                                      QStringLiteral("purge_log: finished")}));
}

TEST_F(RequestServerE2E, VersionTransactionIsLoggedLineByLine)
{
    TestClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    EXPECT_EQ(client.transact("TRANS=VERSION;", kVersionReply), kVersionReply);
    const QString connected = connectionLine(client);
    client.close();
    ASSERT_TRUE(server.waitForLogEntry(QStringLiteral("Socket: Close 127.0.0.1")));

    const QStringList expected{
        connected,
        kStart,
        QStringLiteral("Socket: DataArrival Parse tag=[TRANS] value=[VERSION]"),
        QStringLiteral("Socket: DataArrival Parse transType=[VERSION] action=[] doFtp=[False] "
                       "name=[] total=[] "),
        QStringLiteral("return_xml: <VERSION>1.0.0</VERSION>"),
        kEnd,
        QStringLiteral("Socket: Close 127.0.0.1")};
    EXPECT_EQ(server.logEntriesFrom(connected), expected);
}

TEST_F(RequestServerE2E, EachReceiptIsOneTransaction)
{
    TestClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    EXPECT_EQ(client.transact("trans=VERSION;", kVersionReply), kVersionReply);
    EXPECT_EQ(client.transact("TRANS=VERSION;", kVersionReply), kVersionReply);

    // A request split over two sends: the first part has no semicolon, the second a piece
    // without "=". Neither is answered and the connection stays usable.
    client.send("TRANS=VER");
    ASSERT_TRUE(server.waitForLogEntry(QStringLiteral("Socket: DataArrival No Semicolon")));
    client.send("SION;");
    ASSERT_TRUE(server.waitForLogEntry(QStringLiteral("Socket: DataArrival Error( 5)")));
    // A line end after the request makes a last piece without "=".
    client.send("TRANS=VERSION;\r\n");
    EXPECT_EQ(client.receive(500), QByteArray());
    EXPECT_EQ(client.transact("TRANS=VERSION;", kVersionReply), kVersionReply);

    const QStringList log = server.logEntries();
    const qsizetype failed = log.indexOf(QStringLiteral("Socket: DataArrival Error( 5)"));
    EXPECT_EQ(log.at(failed - 1), kStart) << "the failing piece is not logged";
    EXPECT_EQ(log.at(failed + 1), kStart) << "no end line after a failure";
}

TEST_F(RequestServerE2E, RequestsWithoutReply)
{
    TestClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    client.send("TRANS=version;");
    ASSERT_TRUE(server.waitForLogEntry(QStringLiteral("Socket: DataArrival No TransType")));
    client.send("TRANS=1000SE;ACTION=1;");
    ASSERT_TRUE(server.waitForLogEntry(QStringLiteral("Socket: DataArrival 1000SE No Action(1)")));
    client.send("TRANS=ABORT;");
    client.send("TIMER=40000;");
    ASSERT_TRUE(server.waitForLogEntry(QStringLiteral("Socket: DataArrival Error( 6)")));
    EXPECT_EQ(client.receive(300), QByteArray());
}

TEST_F(RequestServerE2E, DisabledPadAndPinPadAnswerNotSetUp)
{
    TestClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    const QByteArray padReply(
        "<QP6100><ERROR>QP6100 Not Setup in Varnel Payment Setup</ERROR></QP6100>");
    EXPECT_EQ(client.transact("TRANS=QP6100;ACTION=9;", padReply), padReply);
    EXPECT_EQ(client.transact("TRANS=QP6100;ACTION=1;", padReply), padReply);
    const QByteArray pinReply(
        "<1000SE><ERROR>PinPAD 1000 SE not Enabled in Varnel Payment Setup</ERROR></1000SE>");
    EXPECT_EQ(
        client.transact("TRANS=1000SE;ACTION=3;CREDITCARD=4111111111111111;TOTAL=5;", pinReply),
        pinReply);
    // Card numbers under tags other than CREDITCARD, or written in groups, are masked too;
    // an order number that fails the Luhn check stays.
    EXPECT_EQ(client.transact("TRANS=1000SE;ACTION=3; CREDITCARD=4111 1111 1111 1111;"
                              "CreditCard =4111-1111-1111-1111;ACCOUNT=5500005555555559;"
                              "NAME=JANE 3782 822463 10005;ORDER=1234567890123456;TOTAL=5;",
                              pinReply),
              pinReply);
    const QStringList log = server.logEntries();
    for (const QString& entry : log) {
        for (const char* digits : {"41111111", "4111 1111", "4111-1111", "55000055", "3782 822"})
            EXPECT_FALSE(entry.contains(QLatin1String(digits))) << qPrintable(entry);
    }
    EXPECT_TRUE(log.contains(
        QStringLiteral("Socket: DataArrival Parse tag=[ CREDITCARD] value=[**** **** **** 1111]")));
    EXPECT_TRUE(log.contains(
        QStringLiteral("Socket: DataArrival Parse tag=[ACCOUNT] value=[************5559]")));
    EXPECT_TRUE(log.contains(
        QStringLiteral("Socket: DataArrival Parse tag=[ORDER] value=[1234567890123456]")));
}

TEST_F(RequestServerE2E, RepliesGoToTheRequestingConnectionWhateverTheCloseOrder)
{
    // Open three, close the oldest first, open a fourth: every reply must still reach the
    // connection that asked, and requests interleave across them.
    TestClient a, b, c, d;
    ASSERT_TRUE(a.connectTo(server.port()));
    ASSERT_TRUE(b.connectTo(server.port()));
    ASSERT_TRUE(c.connectTo(server.port()));
    EXPECT_EQ(a.transact("TRANS=VERSION;", kVersionReply), kVersionReply);
    a.close();
    ASSERT_TRUE(server.waitForLogEntry(QStringLiteral("Socket: Close 127.0.0.1")));
    ASSERT_TRUE(d.connectTo(server.port()));
    EXPECT_EQ(b.transact("TRANS=VERSION;", kVersionReply), kVersionReply);
    EXPECT_EQ(d.transact("TRANS=VERSION;", kVersionReply), kVersionReply);
    c.close();
    EXPECT_EQ(b.transact("TRANS=VERSION;", kVersionReply), kVersionReply);
    b.close();
    EXPECT_EQ(d.transact("TRANS=VERSION;", kVersionReply), kVersionReply);
    d.close();
    for (int i = 0;
         i < 50 && server.logEntries().count(QStringLiteral("Socket: Close 127.0.0.1")) < 4; ++i)
        QThread::msleep(20);
    EXPECT_EQ(server.logEntries().count(QStringLiteral("Socket: Close 127.0.0.1")), 4);
}

TEST_F(RequestServerE2E, ManyClientsAtOnce)
{
    constexpr int kClients = 16;
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<TestClient>());
        ASSERT_TRUE(clients.back()->connectTo(server.port()));
    }
    for (auto& client : clients)
        client->send("TRANS=VERSION;");
    for (auto& client : clients)
        EXPECT_EQ(client->receive(5000, kVersionReply.size()), kVersionReply);
}

TEST_F(RequestServerE2E, OversizedReceiptClosesOnlyThatConnection)
{
    TestClient bystander;
    ASSERT_TRUE(bystander.connectTo(server.port()));
    TestClient flooder;
    ASSERT_TRUE(flooder.connectTo(server.port()));
    QByteArray flood(200 * 1024, 'A');
    flood.prepend("TRANS=VERSION;NAME=");
    flooder.socket().write(flood);
    flooder.socket().waitForBytesWritten(2000);
    ASSERT_TRUE(server.waitForLogEntry(
        QStringLiteral("Socket: DataArrival Request Too Large bytes=[more than 65536] "
                       "ip=[127.0.0.1] connection closed")));
    flooder.receive(2000);
    EXPECT_NE(flooder.socket().state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(bystander.transact("TRANS=VERSION;", kVersionReply), kVersionReply);
}

TEST_F(RequestServerE2E, BinaryInputCannotForgeLogLines)
{
    TestClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    QByteArray binary;
    for (int i = 0; i < 256; ++i)
        binary.append(static_cast<char>(i));
    client.send("NAME=x\r\n12/7/2026 7:54:28 PM: forged=" + binary + ";");
    ASSERT_TRUE(server.waitForLogEntry(kEnd));
    EXPECT_EQ(client.transact("TRANS=VERSION;", kVersionReply), kVersionReply);

    QFile file(server.home() + QStringLiteral("/varnelpayment.log"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QRegularExpression linePattern(
        QStringLiteral("^\\d{1,2}/\\d{1,2}/\\d{4} \\d{1,2}:\\d{2}:\\d{2} [AP]M: "));
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_TRUE(lines.at(i).endsWith('\r'));
        EXPECT_TRUE(linePattern.match(QString::fromLatin1(lines.at(i))).hasMatch())
            << lines.at(i).left(80).toStdString();
    }
    EXPECT_TRUE(lines.last().isEmpty());
}

TEST_F(RequestServerE2E, FilesAreOwnerOnlyAndShutDownIsLogged)
{
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    for (const char* name : {"/varnelpayment.log"}) {
        const QFileInfo info(server.home() + QLatin1String(name));
        EXPECT_EQ(info.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser), ownerOnly)
            << name;
    }
    EXPECT_EQ(server.stop(), 0);
    EXPECT_EQ(server.logEntries().last(), QStringLiteral("Application Closed"));
}

TEST(RequestServerStartUp, UnusablePortsStopTheServerWithAReason)
{
    for (const QByteArray& port : {QByteArray("abc"), QByteArray("0"), QByteArray("-4"),
                                   QByteArray("65536"), QByteArray("")}) {
        ServerProcess server;
        QFile ini(server.home() + QStringLiteral("/varnelpayment.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[Local]\r\nlocalSockport=" + port + "\r\n");
        ini.close();
        QProcess& process = server.process();
        process.start(ServerProcess::binDir() + QStringLiteral("/varnelpayment"),
                      {QStringLiteral("--headless"), QStringLiteral("--home"), server.home()});
        ASSERT_TRUE(process.waitForFinished(10000)) << port.constData();
        EXPECT_NE(process.exitCode(), 0) << port.constData();
        EXPECT_TRUE(process.readAllStandardError().contains("cannot listen on port"))
            << port.constData();
        const QStringList log = server.logEntries();
        ASSERT_FALSE(log.isEmpty());
        EXPECT_TRUE(log.contains(QStringLiteral("Socket: Listening Error port=[%1] the port is "
                                                "not a number from 1 to 65535")
                                     .arg(QString::fromLatin1(port))) ||
                    log.contains(QStringLiteral("Socket: Listening Error port=[%1] the port is "
                                                "not a number")
                                     .arg(QString::fromLatin1(port))))
            << port.constData();
    }
}

TEST(RequestServerStartUp, PortInUseStopsTheSecondServer)
{
    ServerProcess first;
    ASSERT_TRUE(first.start());
    ServerProcess second;
    QFile ini(second.home() + QStringLiteral("/varnelpayment.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Local]\r\nlocalSockport=" + QByteArray::number(first.port()) + "\r\n");
    ini.close();
    QProcess& process = second.process();
    process.start(ServerProcess::binDir() + QStringLiteral("/varnelpayment"),
                  {QStringLiteral("--headless"), QStringLiteral("--home"), second.home()});
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_NE(process.exitCode(), 0);
    EXPECT_TRUE(process.readAllStandardError().contains("cannot listen on port"));
}

TEST(RequestServerCommandLine, VersionAndHelp)
{
    QProcess process;
    process.start(ServerProcess::binDir() + QStringLiteral("/varnelpayment"),
                  {QStringLiteral("--version")});
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.readAllStandardOutput().trimmed(), QByteArray("varnelpayment 1.0.0"));
    process.start(ServerProcess::binDir() + QStringLiteral("/varnelpayment"),
                  {QStringLiteral("--help")});
    ASSERT_TRUE(process.waitForFinished(5000));
    const QByteArray help = process.readAllStandardOutput();
    for (const char* option : {"--headless", "--home", "--simulate", "--version"})
        EXPECT_TRUE(help.contains(option)) << option;
    process.start(ServerProcess::binDir() + QStringLiteral("/varnelpayment"),
                  {QStringLiteral("--bogus")});
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_NE(process.exitCode(), 0);
}

TEST(RequestServerAtTheFileLimit, ClientsBeyondItAreTurnedAwayWithoutSpinningAndTheLogGoesOn)
{
    // A hard limit of 64 descriptors that the server cannot raise, and more clients than that.
    ServerProcess server;
    server.setLauncher(
        {QStringLiteral("prlimit"), QStringLiteral("--nofile=64:64"), QStringLiteral("--")});
    ASSERT_TRUE(server.start()) << "server did not start";
    // The cap leaves room below the limit for the log and the devices.
    EXPECT_TRUE(server.logEntries().contains(
        QStringLiteral("Socket: MaxConnections=[200] lowered to [32] by the file limit [64]")));

    constexpr int kClients = 100;
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<TestClient>());
        // A client turned away at once may see its close before its connect completes.
        clients.back()->connectTo(server.port());
    }
    const QRegularExpression refusal(
        QStringLiteral(R"(^Socket: ConnectionRequest Refused count=\[(\d+)\] )"
                       R"(reason=\[MaxConnections 32 reached\]$)"));
    const auto refused = [&server, &refusal] {
        int count = 0;
        for (const QString& entry : server.logEntries().filter(refusal))
            count += refusal.match(entry).captured(1).toInt();
        return count;
    };
    // The refusals after the first one are counted into one line a second later.
    for (int i = 0; i < 150 && refused() < kClients - 32; ++i)
        QThread::msleep(20);
    EXPECT_EQ(refused(), kClients - 32);
    EXPECT_LE(server.logEntries().filter(refusal).size(), 3) << "at most one line a second";

    // The clients beyond the cap are closed, not left waiting; those within it are served and
    // logged; the server does not spin.
    std::vector<TestClient*> admitted;
    for (auto& client : clients) {
        client->receive(20);
        if (client->socket().state() == QAbstractSocket::ConnectedState)
            admitted.push_back(client.get());
    }
    ASSERT_EQ(admitted.size(), 32u);
    EXPECT_EQ(admitted.back()->transact("TRANS=VERSION;", kVersionReply), kVersionReply);
    EXPECT_TRUE(server.waitForLogEntry(QStringLiteral("return_xml: <VERSION>1.0.0</VERSION>")));
    const qint64 before = server.cpuTicks();
    QThread::sleep(1);
    const qint64 used = server.cpuTicks() - before;
    EXPECT_LT(used, sysconf(_SC_CLK_TCK) / 5) << "ticks of processor time in one second";

    // Once the clients have gone, a new one is served; every close was logged.
    clients.clear();
    for (int i = 0;
         i < 150 && server.logEntries().count(QStringLiteral("Socket: Close 127.0.0.1")) < 32; ++i)
        QThread::msleep(20);
    EXPECT_EQ(server.logEntries().count(QStringLiteral("Socket: Close 127.0.0.1")), 32);
    TestClient next;
    ASSERT_TRUE(next.connectTo(server.port()));
    EXPECT_EQ(next.transact("TRANS=VERSION;", kVersionReply), kVersionReply);
    next.close();
    EXPECT_EQ(server.stop(), 0);
    EXPECT_EQ(server.logEntries().last(), QStringLiteral("Application Closed"));
}
