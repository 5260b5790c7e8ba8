// The certificate commands of the real program: a shop CA and a box certificate that the
// openssl command verifies, for exactly the names asked for; the key owner-only; the settings
// file changed in its two keys only; the browsers' policy; the expiry line at start.
#include <gtest/gtest.h>

#include <functional>

#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "serverprocess.h"
#include "testfiles.h"

namespace {

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

Outcome run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    Outcome result;
    if (!process.waitForFinished(60000))
        return result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

Outcome varnelpayment(const QStringList& arguments)
{
    return run(ServerProcess::binDir() + QStringLiteral("/varnelpayment"), arguments);
}

Outcome openssl(const QStringList& arguments)
{
    return run(QStringLiteral("/usr/bin/openssl"), arguments);
}

// The certificate's subject alternative names as openssl prints them.
QString alternativeNames(const QString& pem)
{
    const Outcome shown =
        openssl({QStringLiteral("x509"), QStringLiteral("-in"), pem, QStringLiteral("-noout"),
                 QStringLiteral("-ext"), QStringLiteral("subjectAltName")});
    return shown.out.section(QLatin1Char('\n'), 1).trimmed();
}

// Days from today (UTC) to the certificate's end, by openssl.
qint64 daysLeft(const QString& pem)
{
    const Outcome shown = openssl({QStringLiteral("x509"), QStringLiteral("-in"), pem,
                                   QStringLiteral("-noout"), QStringLiteral("-enddate"),
                                   QStringLiteral("-dateopt"), QStringLiteral("iso_8601")});
    const QDate end =
        QDate::fromString(shown.out.section(QLatin1Char('='), 1).left(10), Qt::ISODate);
    return QDateTime::currentDateTimeUtc().date().daysTo(end);
}

class CertificateCommands : public ::testing::Test
{
protected:
    QString ca(const QString& file) const { return QDir(m_caDir.path()).filePath(file); }
    QString box(const QString& file) const { return QDir(m_box.path()).filePath(file); }

    QTemporaryDir m_caDir;
    QTemporaryDir m_box;
};

} // namespace

TEST_F(CertificateCommands, AShopCaSignsABoxCertificateForExactlyItsNames)
{
    QDir(m_caDir.path()).removeRecursively();
    const Outcome made =
        varnelpayment({QStringLiteral("--make-ca"), m_caDir.path(), QStringLiteral("--name"),
                       QStringLiteral("Corner Shop CA")});
    ASSERT_EQ(made.exitCode, 0) << qPrintable(made.err);
    EXPECT_EQ(TestFiles::unixMode(ca(QStringLiteral("ca.key"))), 0600);
    const Outcome caText =
        openssl({QStringLiteral("x509"), QStringLiteral("-in"), ca(QStringLiteral("ca.pem")),
                 QStringLiteral("-noout"), QStringLiteral("-text")});
    EXPECT_TRUE(caText.out.contains(QStringLiteral("CN = Corner Shop CA")));
    EXPECT_TRUE(caText.out.contains(QStringLiteral("CA:TRUE")));
    EXPECT_TRUE(caText.out.contains(QStringLiteral("prime256v1")));
    EXPECT_NEAR(daysLeft(ca(QStringLiteral("ca.pem"))), 3650, 1);
    // A shop CA is never replaced: every till trusts it.
    const QByteArray caKey = TestFiles::readAll(ca(QStringLiteral("ca.key")));
    EXPECT_EQ(varnelpayment({QStringLiteral("--make-ca"), m_caDir.path()}).exitCode, 1);
    EXPECT_EQ(TestFiles::readAll(ca(QStringLiteral("ca.key"))), caKey);

    // The settings file's other lines stay as they are, an old CertFile is replaced.
    const QByteArray settings = "; the shop's box\r\n[Local]\r\nlocalSockport=31420\r\n"
                                "allowFrom=192.168.1.0/24\r\n\r\n[WebSocket]\r\nPort=31421\r\n"
                                "CertFile=/old/cert.pem\r\nOrigins=https://till.example.shop\r\n"
                                "[FTP]\r\nftpUrl=ftp://x\r\n";
    TestFiles::writeAll(box(QStringLiteral("varnelpayment.ini")), settings);
    QFile::setPermissions(box(QStringLiteral("varnelpayment.ini")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    const Outcome certified = varnelpayment(
        {QStringLiteral("--home"), m_box.path(), QStringLiteral("--make-certificate"),
         QStringLiteral("--ca"), m_caDir.path(), QStringLiteral("--days"), QStringLiteral("10"),
         QStringLiteral("box1.shop.example"), QStringLiteral("192.0.2.7"), QStringLiteral("::1")});
    ASSERT_EQ(certified.exitCode, 0) << qPrintable(certified.err);
    const QString certificate = box(QStringLiteral("varnelpayment.pem"));
    const QString key = box(QStringLiteral("varnelpayment.key"));
    EXPECT_TRUE(certified.out.contains(QStringLiteral("  box1.shop.example\n")));
    EXPECT_TRUE(certified.out.contains(QStringLiteral("  192.0.2.7\n")));

    const Outcome verified = openssl(
        {QStringLiteral("verify"), QStringLiteral("-CAfile"), ca(QStringLiteral("ca.pem")),
         QStringLiteral("-purpose"), QStringLiteral("sslserver"),
         QStringLiteral("-verify_hostname"), QStringLiteral("box1.shop.example"), certificate});
    EXPECT_EQ(verified.exitCode, 0) << qPrintable(verified.out + verified.err);
    const Outcome otherName = openssl(
        {QStringLiteral("verify"), QStringLiteral("-CAfile"), ca(QStringLiteral("ca.pem")),
         QStringLiteral("-verify_hostname"), QStringLiteral("box2.shop.example"), certificate});
    EXPECT_NE(otherName.exitCode, 0);
    EXPECT_EQ(alternativeNames(certificate),
              QStringLiteral("DNS:box1.shop.example, IP Address:192.0.2.7, "
                             "IP Address:0:0:0:0:0:0:0:1"));
    EXPECT_EQ(daysLeft(certificate), 10);
    const Outcome keyText = openssl({QStringLiteral("pkey"), QStringLiteral("-in"), key,
                                     QStringLiteral("-noout"), QStringLiteral("-text")});
    EXPECT_TRUE(keyText.out.contains(QStringLiteral("prime256v1")));
    EXPECT_EQ(TestFiles::unixMode(key), 0600);
    EXPECT_EQ(TestFiles::unixMode(box(QStringLiteral("varnelpayment.ini"))), 0600);
    // The certificate file ends with the CA's, so that tills get the chain.
    EXPECT_TRUE(
        TestFiles::readAll(certificate).endsWith(TestFiles::readAll(ca(QStringLiteral("ca.pem")))));

    const QList<QByteArray> written = TestFiles::lines(box(QStringLiteral("varnelpayment.ini")));
    const auto otherLines = [](const QList<QByteArray>& lines) {
        QList<QByteArray> others;
        for (const QByteArray& line : lines)
            if (!line.startsWith("CertFile=") && !line.startsWith("KeyFile="))
                others << line;
        return others;
    };
    QList<QByteArray> original = QByteArray(settings).replace("\r", "").split('\n');
    original.removeLast();
    EXPECT_EQ(otherLines(written), otherLines(original));
    EXPECT_EQ(written.size(), original.size() + 1);
    EXPECT_TRUE(written.contains("CertFile=" + QFile::encodeName(certificate)));
    EXPECT_TRUE(written.contains("KeyFile=" + QFile::encodeName(key)));
}

TEST_F(CertificateCommands, WithoutNamesOrCaTheBoxCoversItsOwnNamesWithACaOfItsOwn)
{
    const Outcome certified = varnelpayment(
        {QStringLiteral("--home"), m_box.path(), QStringLiteral("--make-certificate")});
    ASSERT_EQ(certified.exitCode, 0) << qPrintable(certified.err);
    const QString certificate = box(QStringLiteral("varnelpayment.pem"));
    const QString names = alternativeNames(certificate);
    for (const QString& name :
         {QStringLiteral("DNS:localhost"), QStringLiteral("IP Address:127.0.0.1"),
          QStringLiteral("IP Address:0:0:0:0:0:0:0:1"),
          QStringLiteral("DNS:") + QSysInfo::machineHostName().toLower()})
        EXPECT_TRUE(names.contains(name)) << qPrintable(name + QStringLiteral(" not in ") + names);
    EXPECT_EQ(daysLeft(certificate), 397);
    EXPECT_EQ(TestFiles::unixMode(box(QStringLiteral("ca/ca.key"))), 0600);
    EXPECT_EQ(openssl({QStringLiteral("verify"), QStringLiteral("-CAfile"),
                       box(QStringLiteral("ca/ca.pem")), certificate})
                  .exitCode,
              0);
    // A missing settings file is made, owner-only, with the two keys.
    EXPECT_EQ(TestFiles::unixMode(box(QStringLiteral("varnelpayment.ini"))), 0600);
    EXPECT_EQ(TestFiles::lines(box(QStringLiteral("varnelpayment.ini"))),
              (QList<QByteArray>{"[WebSocket]", "CertFile=" + QFile::encodeName(certificate),
                                 "KeyFile=" +
                                     QFile::encodeName(box(QStringLiteral("varnelpayment.key")))}));
}

TEST_F(CertificateCommands, WrongUsesChangeNothing)
{
    const QString home = m_box.path();
    const QList<QStringList> wrong = {
        {QStringLiteral("--make-certificate"), QStringLiteral("--days"), QStringLiteral("0")},
        {QStringLiteral("--make-certificate"), QStringLiteral("--days"), QStringLiteral("826")},
        {QStringLiteral("--make-certificate"), QStringLiteral("a;b.example")},
        {QStringLiteral("--make-certificate"), QStringLiteral("--name"), QStringLiteral("x")},
        {QStringLiteral("box1.shop.example")},
        {QStringLiteral("--browser-policy"), QStringLiteral("box1.shop.example")},
        {QStringLiteral("--days"), QStringLiteral("10")},
        {QStringLiteral("--make-ca"), m_caDir.path(), QStringLiteral("--make-certificate")},
    };
    for (const QStringList& arguments : wrong) {
        const Outcome refused =
            varnelpayment(QStringList{QStringLiteral("--home"), home} + arguments);
        EXPECT_EQ(refused.exitCode, 2) << qPrintable(arguments.join(QLatin1Char(' ')));
        EXPECT_TRUE(refused.out.isEmpty());
        // The reason is the last line (Qt may warn about the environment first).
        EXPECT_TRUE(refused.err.trimmed()
                        .section(QLatin1Char('\n'), -1)
                        .startsWith(QStringLiteral("varnelpayment: ")))
            << qPrintable(refused.err);
    }
    EXPECT_EQ(QDir(home).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    // A --ca folder without a CA is not made up.
    EXPECT_EQ(varnelpayment({QStringLiteral("--home"), home, QStringLiteral("--make-certificate"),
                             QStringLiteral("--ca"), m_caDir.path()})
                  .exitCode,
              1);
    EXPECT_FALSE(QFile::exists(box(QStringLiteral("varnelpayment.key"))));
}

TEST_F(CertificateCommands, TheBrowserPolicyAllowsExactlyTheListedOrigins)
{
    TestFiles::writeAll(box(QStringLiteral("varnelpayment.ini")),
                        "[WebSocket]\r\nOrigins=https://Till.Example.Shop/, "
                        "http://127.0.0.1:8080  https://pos.example.com:8443\r\n");
    const Outcome policy =
        varnelpayment({QStringLiteral("--home"), m_box.path(), QStringLiteral("--browser-policy")});
    ASSERT_EQ(policy.exitCode, 0);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(policy.out.toUtf8(), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << qPrintable(policy.out);
    EXPECT_EQ(document.object(),
              (QJsonObject{{QStringLiteral("LocalNetworkAccessAllowedForUrls"),
                            QJsonArray{QStringLiteral("http://127.0.0.1:8080"),
                                       QStringLiteral("https://pos.example.com:8443"),
                                       QStringLiteral("https://till.example.shop")}}}));
    EXPECT_TRUE(policy.err.contains(QStringLiteral("/etc/chromium/policies/managed/")));
    EXPECT_TRUE(policy.err.contains(QStringLiteral("/etc/opt/chrome/policies/managed/")));
}

TEST_F(CertificateCommands, ACertificateNearItsEndIsLoggedAtStartAndStillServed)
{
    ASSERT_EQ(
        varnelpayment({QStringLiteral("--home"), m_box.path(), QStringLiteral("--make-certificate"),
                       QStringLiteral("--days"), QStringLiteral("10"), QStringLiteral("localhost")})
            .exitCode,
        0);
    const quint16 wsPort = ServerProcess::freePort();
    const quint16 padPort = ServerProcess::freePort();
    // The WebSocket port is also given to the pad's control port: said at start.
    ServerProcess server(
        QStringLiteral("[WebSocket]\r\nPort=%1\r\nCertFile=%2\r\nKeyFile=%3\r\n"
                       "[Simulator]\r\npadControlPort=%4\r\n")
            .arg(wsPort)
            .arg(box(QStringLiteral("varnelpayment.pem")), box(QStringLiteral("varnelpayment.key")))
            .arg(padPort));
    ASSERT_TRUE(server.start());
    const QString expires =
        QDateTime::currentDateTimeUtc().date().addDays(10).toString(Qt::ISODate);
    EXPECT_TRUE(server.logEntries().contains(
        QStringLiteral("WebSocket: CertFile expires=[%1] days=[10]").arg(expires)));
    EXPECT_TRUE(server.logEntries().contains(
        QStringLiteral("WebSocket: Listening Port %1 (wss)").arg(wsPort)));
    EXPECT_TRUE(server.logEntries().filter(QStringLiteral("Settings:")).isEmpty());

    // A certificate far from its end says nothing; two settings on one port are named.
    QTemporaryDir far;
    ASSERT_EQ(varnelpayment({QStringLiteral("--home"), far.path(),
                             QStringLiteral("--make-certificate"), QStringLiteral("localhost")})
                  .exitCode,
              0);
    ServerProcess second(QStringLiteral("[WebSocket]\r\nPort=%1\r\nCertFile=%2\r\nKeyFile=%3\r\n"
                                        "[Simulator]\r\npadControlPort=%1\r\n")
                             .arg(padPort)
                             .arg(QDir(far.path()).filePath(QStringLiteral("varnelpayment.pem")),
                                  QDir(far.path()).filePath(QStringLiteral("varnelpayment.key"))));
    ASSERT_TRUE(second.start());
    EXPECT_TRUE(second.logEntries().filter(QStringLiteral("CertFile expires")).isEmpty());
    const QString clash =
        QStringLiteral("Settings: [WebSocket] Port and [Simulator] padControlPort "
                       "are both port %1; only one of them can listen")
            .arg(padPort);
    EXPECT_TRUE(second.logEntries().contains(clash));
    EXPECT_TRUE(QString::fromLocal8Bit(second.process().readAllStandardError())
                    .contains(QStringLiteral("varnelpayment: ") + clash));
}

namespace {

// Everything under `root` as it stands: each entry's kind, mode and bytes, or a link's target
// (links are never followed).
QStringList diskState(const QString& root)
{
    QStringList state;
    QDirIterator entries(root,
                         QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QFileInfo entry(entries.next());
        const QString name = QDir(root).relativeFilePath(entry.filePath());
        if (entry.isSymLink())
            state << name + QStringLiteral(" -> ") + entry.symLinkTarget();
        else if (entry.isDir())
            state << name + QStringLiteral("/ ") +
                         QString::number(TestFiles::unixMode(entry.filePath()), 8);
        else
            state << name + QLatin1Char(' ') +
                         QString::number(TestFiles::unixMode(entry.filePath()), 8) +
                         QLatin1Char(' ') +
                         QString::fromLatin1(TestFiles::readAll(entry.filePath()).toBase64());
    }
    state.sort();
    return state;
}

} // namespace

TEST(CertificateCommandRefusals, RefusedCommandsChangeNothingOnDisk)
{
    const auto made = [](const QString& root) {
        EXPECT_EQ(varnelpayment({QStringLiteral("--home"), root + QStringLiteral("/box"),
                                 QStringLiteral("--make-certificate"), QStringLiteral("localhost")})
                      .exitCode,
                  0);
    };
    const struct
    {
        const char* what;
        std::function<QStringList(const QString& root)> setUp; // returns the arguments
        int exitCode;
        QString message;
    } cases[] = {
        {"a CA name with a line end",
         [](const QString& root) {
             return QStringList{QStringLiteral("--make-ca"), root + QStringLiteral("/ca"),
                                QStringLiteral("--name"), QStringLiteral("Corner Shop\n")};
         },
         2, QStringLiteral("--name takes printable characters only, not 'Corner Shop\\n'")},
        {"a CA name with a control character",
         [](const QString& root) {
             return QStringList{QStringLiteral("--make-ca"), root + QStringLiteral("/ca"),
                                QStringLiteral("--name"), QStringLiteral("Corner\aShop")};
         },
         2, QStringLiteral("--name takes printable characters only")},
        {"a CA name one character too long",
         [](const QString& root) {
             return QStringList{QStringLiteral("--make-ca"), root + QStringLiteral("/ca"),
                                QStringLiteral("--name"), QString(65, QChar(0x00e9))};
         },
         2, QStringLiteral("--name takes at most 64 characters, not 65")},
        {"a CA folder with a line end",
         [](const QString& root) {
             return QStringList{QStringLiteral("--make-ca"), root + QStringLiteral("/ca\n")};
         },
         2, QStringLiteral("--make-ca takes a folder whose name is printable")},
        {"a host name with a line end",
         [](const QString& root) {
             return QStringList{QStringLiteral("--home"), root + QStringLiteral("/box"),
                                QStringLiteral("--make-certificate"),
                                QStringLiteral("box1.shop.example\n")};
         },
         2, QStringLiteral("'box1.shop.example\\n' is neither a host name nor an IP address")},
        {"an address with a line end",
         [](const QString& root) {
             return QStringList{QStringLiteral("--home"), root + QStringLiteral("/box"),
                                QStringLiteral("--make-certificate"), QStringLiteral("localhost"),
                                QStringLiteral("192.0.2.7\n")};
         },
         2, QStringLiteral("'192.0.2.7\\n' is neither")},
        {"a --ca folder with a tab",
         [](const QString& root) {
             return QStringList{QStringLiteral("--home"), root + QStringLiteral("/box"),
                                QStringLiteral("--make-certificate"), QStringLiteral("--ca"),
                                root + QStringLiteral("/c\ta")};
         },
         2, QStringLiteral("--ca takes a folder whose name is printable, not '")},
        {"a ca.pem link to nothing where the CA goes",
         [](const QString& root) {
             QDir(root).mkpath(QStringLiteral("ca"));
             QDir(root).mkpath(QStringLiteral("elsewhere"));
             QFile::link(root + QStringLiteral("/elsewhere/ca.pem"),
                         root + QStringLiteral("/ca/ca.pem"));
             return QStringList{QStringLiteral("--make-ca"), root + QStringLiteral("/ca")};
         },
         1, QStringLiteral("/ca/ca.pem is a link")},
        {"a ca.key link to nothing in the box's own CA folder",
         [](const QString& root) {
             QDir(root).mkpath(QStringLiteral("box/ca"));
             QFile::link(root + QStringLiteral("/stolen.key"),
                         root + QStringLiteral("/box/ca/ca.key"));
             return QStringList{QStringLiteral("--home"), root + QStringLiteral("/box"),
                                QStringLiteral("--make-certificate"), QStringLiteral("localhost")};
         },
         1, QStringLiteral("/box/ca/ca.key is a link")},
        {"a folder where the certificate goes, beside a key",
         [&](const QString& root) {
             made(root);
             QFile::remove(root + QStringLiteral("/box/varnelpayment.pem"));
             QDir(root).mkpath(QStringLiteral("box/varnelpayment.pem"));
             return QStringList{QStringLiteral("--home"), root + QStringLiteral("/box"),
                                QStringLiteral("--make-certificate"), QStringLiteral("localhost")};
         },
         1, QStringLiteral("varnelpayment.pem: it is a folder")},
        {"a settings file that cannot be written, after key and certificate",
         [&](const QString& root) {
             made(root);
             QFile::remove(root + QStringLiteral("/box/varnelpayment.ini"));
             QDir(root).mkpath(QStringLiteral("box/varnelpayment.ini"));
             return QStringList{QStringLiteral("--home"), root + QStringLiteral("/box"),
                                QStringLiteral("--make-certificate"), QStringLiteral("localhost")};
         },
         1, QStringLiteral("cannot write [WebSocket] CertFile and KeyFile into")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir root;
        const QStringList arguments = c.setUp(root.path());
        const QStringList before = diskState(root.path());
        const Outcome refused = varnelpayment(arguments);
        EXPECT_EQ(refused.exitCode, c.exitCode);
        EXPECT_EQ(refused.out, QString());
        // One line, the reason: no warning from Qt before it.
        EXPECT_EQ(refused.err.count(QLatin1Char('\n')), 1) << qPrintable(refused.err);
        EXPECT_TRUE(refused.err.startsWith(QStringLiteral("varnelpayment: ")));
        EXPECT_TRUE(refused.err.contains(c.message)) << qPrintable(refused.err);
        EXPECT_EQ(diskState(root.path()), before);
    }
}

TEST(CertificateCommandFolders, AProgramFolderTheSettingsFileCannotNameGetsTheFilesByName)
{
    const struct
    {
        QString folder;
        bool byName; // CertFile and KeyFile without the folder
    } cases[] = {
        {QStringLiteral("box"), false},
        {QStringLiteral("Касса 1"), true},
        {QString(250, QLatin1Char('d')), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qPrintable(c.folder.left(20)));
        QTemporaryDir root;
        const QString home = QDir(root.path()).filePath(c.folder);
        const Outcome certified =
            varnelpayment({QStringLiteral("--home"), home, QStringLiteral("--make-certificate"),
                           QStringLiteral("localhost")});
        ASSERT_EQ(certified.exitCode, 0) << qPrintable(certified.err);
        EXPECT_EQ(certified.err, QString());
        const QList<QByteArray> settings =
            TestFiles::lines(QDir(home).filePath(QStringLiteral("varnelpayment.ini")));
        const QByteArray folder = c.byName ? QByteArray() : QFile::encodeName(home) + '/';
        EXPECT_EQ(settings,
                  (QList<QByteArray>{"[WebSocket]", "CertFile=" + folder + "varnelpayment.pem",
                                     "KeyFile=" + folder + "varnelpayment.key"}));

        // The server, run from another folder, finds them in its program folder.
        const quint16 wsPort = ServerProcess::freePort();
        ServerProcess server(QStringLiteral("[WebSocket]\r\nPort=%1\r\n%2\r\n%3\r\n")
                                 .arg(wsPort)
                                 .arg(QString::fromLatin1(settings.value(1)),
                                      QString::fromLatin1(settings.value(2))));
        server.setHome(home);
        ASSERT_TRUE(server.start());
        EXPECT_TRUE(server.logEntries().contains(
            QStringLiteral("WebSocket: Listening Port %1 (wss)").arg(wsPort)));
    }
}
