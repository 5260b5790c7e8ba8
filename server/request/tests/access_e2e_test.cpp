// End-to-end: who may connect (`[Local] allowFrom`) and where the server listens
// (`[Local] bindAddress`), against the real varnelpayment binary on loopback.
#include <gtest/gtest.h>

#include <QFile>
#include <QHostAddress>

#include "serverprocess.h"

namespace {

const QByteArray kVersionReply("<VERSION>1.0.0</VERSION>");
const QHostAddress kListed(QStringLiteral("127.0.0.2"));

} // namespace

TEST(AccessE2E, OnlyListedAddressesAreServedTheOthersAreClosedUnread)
{
    ServerProcess server(QStringLiteral("allowFrom=127.0.0.2/32, 300.1.2.3\r\n"));
    ASSERT_TRUE(server.start());

    TestClient listed;
    ASSERT_TRUE(listed.socket().bind(kListed));
    ASSERT_TRUE(listed.connectTo(server.port()));
    EXPECT_EQ(listed.transact("TRANS=VERSION;", kVersionReply), kVersionReply);

    TestClient other; // from 127.0.0.1
    ASSERT_TRUE(other.connectTo(server.port()));
    other.send("TRANS=VERSION;");
    EXPECT_EQ(other.receive(3000), QByteArray());
    EXPECT_NE(other.socket().state(), QAbstractSocket::ConnectedState);

    // The listed client is still served after the refusal.
    EXPECT_EQ(listed.transact("TRANS=VERSION;", kVersionReply), kVersionReply);

    ASSERT_TRUE(server.waitForLogEntry(QStringLiteral("Socket: Refused 127.0.0.1")));
    const QStringList log = server.logEntries();
    EXPECT_TRUE(log.contains(QStringLiteral("Socket: allowFrom Ignored entry=[300.1.2.3] (not an "
                                            "address or address/prefix range)")));
    EXPECT_TRUE(log.contains(QStringLiteral("Socket: allowFrom=[127.0.0.2/32]")));
    // Nothing of the refused connection was read: the only transactions are the listed ones.
    EXPECT_EQ(log.filter(QStringLiteral("Socket: Transaction Start")).size(), 2);
    EXPECT_TRUE(log.filter(QStringLiteral("Socket: ConnectionRequest ip=[127.0.0.1]")).isEmpty());
}

TEST(AccessE2E, NoUsableEntryServesLoopbackOnly)
{
    ServerProcess server(QStringLiteral("allowFrom=everyone\r\n"));
    ASSERT_TRUE(server.start());
    TestClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    EXPECT_EQ(client.transact("TRANS=VERSION;", kVersionReply), kVersionReply);
    EXPECT_TRUE(server.logEntries().contains(QStringLiteral(
        "Socket: allowFrom has no valid entry; only loopback (127.0.0.0/8, ::1) is served")));
}

TEST(AccessE2E, BindAddressListensThereOnly)
{
    ServerProcess server(QStringLiteral("bindAddress=127.0.0.2\r\n"));
    ASSERT_TRUE(server.start());
    TestClient bound;
    ASSERT_TRUE(bound.connectTo(kListed, server.port()));
    EXPECT_EQ(bound.transact("TRANS=VERSION;", kVersionReply), kVersionReply);
    TestClient elsewhere;
    EXPECT_FALSE(elsewhere.connectTo(server.port()));
    EXPECT_TRUE(
        server.logEntries().contains(QStringLiteral("Socket: Listening Address 127.0.0.2")));

    // An address that is not one stops the service rather than listening everywhere.
    ServerProcess wrong;
    QFile ini(wrong.home() + QStringLiteral("/varnelpayment.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Local]\r\nlocalSockport=" + QByteArray::number(ServerProcess::freePort()) +
              "\r\nbindAddress=shop-till\r\n");
    ini.close();
    QProcess& process = wrong.process();
    process.start(ServerProcess::binDir() + QStringLiteral("/varnelpayment"),
                  {QStringLiteral("--headless"), QStringLiteral("--home"), wrong.home()});
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(process.readAllStandardError().contains(
        "the bind address [shop-till] is not an IP address"));
}
