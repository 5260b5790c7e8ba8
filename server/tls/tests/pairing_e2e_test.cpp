// End-to-end: a till pairs itself with the code that --pair-till printed, on the real server,
// through varnel-client; only over TLS from another machine (a network namespace joined to this
// one by a veth pair); and, where every request needs a key, a connection that brings none is
// closed within ten seconds.
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QWebSocket>

#include "tillse2e.h"

namespace {

const QRegularExpression kCodeShape(QStringLiteral("^[A-HJKMNP-Z2-9]{8}$"));
const QByteArray kWrongCode = "<PAIR><ERROR>Wrong Code</ERROR></PAIR>";
const QByteArray kLocked = "<PAIR><ERROR>Pairing Locked</ERROR></PAIR>";
const QByteArray kNeedsTls = "<PAIR><ERROR>Needs TLS</ERROR></PAIR>";

// The code that --pair-till printed for `name` on its last line.
QString offerCode(const QString& home, const QString& name)
{
    const CommandRun run = varnelpayment(home, {QStringLiteral("--pair-till"), name});
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.last();
}

// varnel-client's output lines and exit status, run with `arguments`, under `prefix` (a
// command that runs it elsewhere) when given.
CommandRun varnelClient(const QStringList& arguments, const QStringList& prefix = {})
{
    QProcess process;
    const QString client = ServerProcess::binDir() + QStringLiteral("/varnel-client");
    if (prefix.isEmpty())
        process.start(client, arguments);
    else
        process.start(prefix.first(), prefix.mid(1) + QStringList{client} + arguments);
    CommandRun run;
    if (!process.waitForFinished(30000))
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromLatin1(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

QByteArray pairOnce(quint16 port, const QString& code)
{
    TestClient client;
    if (!client.connectTo(port))
        return {};
    client.send("TRANS=PAIR;CODE=" + code.toLatin1() + ';');
    // Every PAIR reply is at least as long as this one.
    return client.receive(3000, kNeedsTls.size());
}

// Runs a command as it stands; whether it succeeded.
bool run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(15000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

TEST(PairingE2E, ACodeTypedAnyWayPairsItsTillOnceAndTheKeyWorksAtOnce)
{
    const quint16 metricsPort = ServerProcess::freePort();
    ServerProcess server(
        QStringLiteral("[Tills]\r\nRequireKey=Y\r\n[Metrics]\r\nPort=%1\r\n").arg(metricsPort),
        QStringList{QStringLiteral("--simulate")});
    ASSERT_TRUE(server.start());
    const QString code = offerCode(server.home(), QStringLiteral("Front Till"));
    ASSERT_TRUE(kCodeShape.match(code).hasMatch()) << qPrintable(code);
    EXPECT_TRUE(varnelpayment(server.home(), {QStringLiteral("--list-tills")})
                    .out.contains(QStringLiteral("Front Till\twaiting to pair")));

    // The till types it in lower case, with a blank and a dash, and sells at once with its key.
    const QString typed = code.left(4).toLower() + QStringLiteral(" -") + code.mid(4).toLower();
    const CommandRun paired = varnelClient(
        {QStringLiteral("--port"), QString::number(server.port()), QStringLiteral("--pair"), typed,
         QStringLiteral("TRANS=QP6100;ACTION=1;TIMER=1;")});
    ASSERT_EQ(paired.exitCode, 0) << qPrintable(paired.out + paired.err);
    const QStringList lines = paired.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << qPrintable(paired.out);
    const QString key = lines.at(1);
    EXPECT_EQ(key.size(), 32);
    EXPECT_EQ(lines.at(0),
              QStringLiteral("<PAIR><TILL>Front Till</TILL><KEY>%1</KEY></PAIR>").arg(key));
    EXPECT_FALSE(lines.at(2).contains(QStringLiteral("Not Authorised"))) << qPrintable(lines.at(2));

    // The code is spent: sent again, in any form, it is wrong, and the till stays registered.
    EXPECT_EQ(pairOnce(server.port(), code), kWrongCode);
    const QString listed = varnelpayment(server.home(), {QStringLiteral("--list-tills")}).out;
    EXPECT_TRUE(listed.startsWith(QStringLiteral("Front Till\tadded "))) << qPrintable(listed);
    EXPECT_FALSE(listed.contains(QStringLiteral("waiting")));

    const QStringList log = server.logEntries();
    EXPECT_TRUE(log.contains(QStringLiteral("Tills: Paired name=[Front Till] ip=[127.0.0.1]")));
    EXPECT_TRUE(log.contains(QStringLiteral("return_xml: skipDebug=true")));
    EXPECT_TRUE(log.contains(QStringLiteral("Socket: Till name=[Front Till]")));
    EXPECT_TRUE(
        log.contains(QStringLiteral("Socket: DataArrival Parse tag=[CODE] value=[********]")));
    for (const QString& entry : log) {
        EXPECT_FALSE(entry.contains(key)) << qPrintable(entry);
        EXPECT_FALSE(entry.contains(code, Qt::CaseInsensitive)) << qPrintable(entry);
    }
    for (const QByteArray path : {QByteArray("/metrics"), QByteArray("/health")}) {
        TestClient scraper;
        ASSERT_TRUE(scraper.connectTo(metricsPort));
        scraper.send("GET " + path + " HTTP/1.1\r\nHost: box\r\nConnection: close\r\n\r\n");
        const QByteArray page = scraper.receive(3000);
        EXPECT_TRUE(page.startsWith("HTTP/1.1 ")) << path.constData();
        EXPECT_FALSE(page.contains(key.toLatin1()) || page.contains(code.toLatin1()))
            << path.constData();
    }
    // What the box keeps of them is their hashes.
    for (const QString& file :
         {QStringLiteral("varnelpayment.tills"), QStringLiteral("varnelpayment.pairings")})
        EXPECT_FALSE(fileBytes(server.home() + QLatin1Char('/') + file).contains(key.toLatin1()));
}

TEST(PairingE2E, FiveWrongCodesInARowLockPairingForEveryoneAndTheLockIsLoggedOnce)
{
    ServerProcess server;
    ASSERT_TRUE(server.start());
    // Four wrong codes, then the right one: it pairs, and the count starts again.
    const QString first = offerCode(server.home(), QStringLiteral("Back"));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(pairOnce(server.port(), QStringLiteral("ABCDEFGH")), kWrongCode) << i;
    EXPECT_TRUE(pairOnce(server.port(), first).startsWith("<PAIR><TILL>Back</TILL><KEY>"));

    const QString second = offerCode(server.home(), QStringLiteral("Side"));
    for (const QString& wrong : {QStringLiteral("ABCDEFGH"), QString(), QStringLiteral("abcd efgh"),
                                 second.left(7), second + QLatin1Char('2')})
        EXPECT_EQ(pairOnce(server.port(), wrong), kWrongCode) << qPrintable(wrong);
    // Locked: the right code too.
    EXPECT_EQ(pairOnce(server.port(), second), kLocked);
    EXPECT_EQ(pairOnce(server.port(), QStringLiteral("ABCDEFGH")), kLocked);
    const QStringList log = server.logEntries();
    EXPECT_EQ(log.filter(QStringLiteral("Socket: Pairing Locked seconds=[60] after 5 wrong codes"))
                  .size(),
              1);
    EXPECT_FALSE(varnelpayment(server.home(), {QStringLiteral("--list-tills")})
                     .out.contains(QStringLiteral("Side\tadded")));
}

// Only root may make network namespaces: the till on the far side reaches the box by the
// address of a veth pair, as a till on the shop's network would.
TEST(PairingE2E, FromAnotherMachineAPairingCodeCrossesOnlyOverTls)
{
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
        GTEST_SKIP() << "needs root and ip(8) for a network namespace";
    const int id = int(::getpid() % 200) + 20;
    const QString space = QStringLiteral("varnelpair%1").arg(::getpid());
    const QString near = QStringLiteral("vpb%1").arg(id);
    const QString far = QStringLiteral("vpt%1").arg(id);
    const QString boxAddress = QStringLiteral("10.231.%1.1").arg(id);
    const QString tillAddress = QStringLiteral("10.231.%1.2").arg(id);
    const QString ip = QStandardPaths::findExecutable(QStringLiteral("ip"));
    ASSERT_TRUE(run(ip, {QStringLiteral("netns"), QStringLiteral("add"), space}));
    const auto removeSpace = qScopeGuard([&] {
        run(ip, {QStringLiteral("netns"), QStringLiteral("delete"), space});
    });
    for (const QString& step :
         {QStringLiteral("link add %1 type veth peer name %2").arg(near, far),
          QStringLiteral("link set %1 netns %2").arg(far, space),
          QStringLiteral("addr add %1/30 dev %2").arg(boxAddress, near),
          QStringLiteral("link set %1 up").arg(near),
          QStringLiteral("netns exec %1 ip addr add %2/30 dev %3").arg(space, tillAddress, far),
          QStringLiteral("netns exec %1 ip link set %2 up").arg(space, far),
          QStringLiteral("netns exec %1 ip link set lo up").arg(space)})
        ASSERT_TRUE(run(ip, step.split(QLatin1Char(' ')))) << qPrintable(step);

    const quint16 tlsPort = ServerProcess::freePort();
    ServerProcess server(QStringLiteral("[WebSocket]\r\nCertFile=varnelpayment.pem\r\n"
                                        "KeyFile=varnelpayment.key\r\n[TLS]\r\nPort=%1\r\n")
                             .arg(tlsPort));
    // The box's certificate names the address the till reaches it by.
    ASSERT_EQ(
        varnelpayment(server.home(), {QStringLiteral("--make-certificate"), boxAddress}).exitCode,
        0);
    ASSERT_TRUE(server.start());
    const QString code = offerCode(server.home(), QStringLiteral("Far"));
    const QStringList inSpace{ip, QStringLiteral("netns"), QStringLiteral("exec"), space};

    // In clear the key would cross the network: refused, and the code is not spent.
    const CommandRun clear =
        varnelClient({QStringLiteral("--host"), boxAddress, QStringLiteral("--port"),
                      QString::number(server.port()), QStringLiteral("--pair"), code},
                     inSpace);
    EXPECT_EQ(clear.exitCode, 1) << qPrintable(clear.err);
    EXPECT_EQ(clear.out.trimmed().toLatin1(), kNeedsTls);
    const CommandRun encrypted = varnelClient(
        {QStringLiteral("--tls"), QStringLiteral("--cafile"),
         server.home() + QStringLiteral("/ca/ca.pem"), QStringLiteral("--host"), boxAddress,
         QStringLiteral("--port"), QString::number(tlsPort), QStringLiteral("--pair"), code},
        inSpace);
    EXPECT_EQ(encrypted.exitCode, 0) << qPrintable(encrypted.out + encrypted.err);
    EXPECT_TRUE(encrypted.out.startsWith(QStringLiteral("<PAIR><TILL>Far</TILL><KEY>")))
        << qPrintable(encrypted.out);
    EXPECT_TRUE(server.logEntries().contains(
        QStringLiteral("Tills: Paired name=[Far] ip=[%1]").arg(tillAddress)));
}

TEST(PairingE2E, WhereEveryRequestNeedsAKeyAConnectionThatBringsNoneIsClosedWithinTenSeconds)
{
    const quint16 webSocketPort = ServerProcess::freePort();
    ServerProcess server(
        QStringLiteral("[WebSocket]\r\nPort=%1\r\n[Tills]\r\nRequireKey=Y\r\n").arg(webSocketPort));
    const QString key = addTill(server.home(), QStringLiteral("Front"));
    ASSERT_TRUE(server.start());

    TestClient silent;
    TestClient versionOnly;
    TestClient keyed;
    for (TestClient* client : {&silent, &versionOnly, &keyed})
        ASSERT_TRUE(client->connectTo(server.port()));
    versionOnly.transact("TRANS=VERSION;", "<VERSION>1.0.0</VERSION>");
    keyed.transact("KEY=" + key.toLatin1() + ";TRANS=VERSION;", "<VERSION>1.0.0</VERSION>");
    QWebSocket browser;
    browser.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(webSocketPort)));
    QElapsedTimer sinceOpen;
    sinceOpen.start();
    while (browser.state() != QAbstractSocket::ConnectedState && !sinceOpen.hasExpired(5000))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_EQ(browser.state(), QAbstractSocket::ConnectedState);

    EXPECT_TRUE(server.waitForLogEntry(
        QStringLiteral("Socket: Close No Key ip=[127.0.0.1] seconds=[10]"), 13000));
    EXPECT_TRUE(server.waitForLogEntry(
        QStringLiteral("WebSocket: Close No Key ip=[127.0.0.1] seconds=[10]"), 3000));
    while (browser.state() != QAbstractSocket::UnconnectedState && !sinceOpen.hasExpired(15000))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(browser.state(), QAbstractSocket::UnconnectedState);
    // The till that showed its key is still served on its connection; the others are gone.
    keyed.transact("KEY=" + key.toLatin1() + ";TRANS=VERSION;", "<VERSION>1.0.0</VERSION>");
    for (TestClient* client : {&silent, &versionOnly}) {
        client->send("TRANS=VERSION;");
        EXPECT_TRUE(client->receive(1000).isEmpty());
    }
}
