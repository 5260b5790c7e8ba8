// A web till as it really runs: the till's page comes over HTTPS from its vendor's site (a
// name mapped to loopback and marked public), in headless Chromium that trusts the shop CA made
// by --make-ca through its NSS database; the box serves wss:// with a certificate made by
// --make-certificate. With the policy printed by --browser-policy the page reaches the box;
// without it, by ws://, or by a name the certificate does not cover, connect() says
// "unreachable" in time.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "doors/tlsidentity.h"
#include "pageserver.h"
#include "serverprocess.h"
#include "simulatedanswers.h"

namespace {

const QString kPolicyFolder = QStringLiteral("/etc/chromium/policies/managed");

QByteArray
runProgram(const QString& program, const QStringList& arguments,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        ADD_FAILURE() << qPrintable(program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')))
                      << " failed: " << process.readAllStandardError().constData();
        return {};
    }
    return process.readAllStandardOutput();
}

QByteArray varnelpayment(const QStringList& arguments)
{
    return runProgram(ServerProcess::binDir() + QStringLiteral("/varnelpayment"), arguments);
}

// A file in Chromium's managed policy folder, removed when the test ends however it ends,
// with the folders the test made for it.
class PolicyFile
{
public:
    explicit PolicyFile(const QByteArray& policy)
        : m_path(kPolicyFolder + QStringLiteral("/varnel-webtill-test-%1.json")
                                     .arg(QCoreApplication::applicationPid()))
    {
        for (QString folder = kPolicyFolder; !QFileInfo::exists(folder);
             folder = QFileInfo(folder).path())
            m_madeFolders.prepend(folder);
        QDir().mkpath(kPolicyFolder);
        QFile file(m_path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(policy);
    }
    ~PolicyFile()
    {
        QFile::remove(m_path);
        for (auto folder = m_madeFolders.crbegin(); folder != m_madeFolders.crend(); ++folder)
            QDir().rmdir(*folder);
    }
    PolicyFile(const PolicyFile&) = delete;
    PolicyFile& operator=(const PolicyFile&) = delete;

private:
    QString m_path;
    QStringList m_madeFolders;
};

class WebTill : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The shop CA, the till site's certificate and the box's, all from the program.
        varnelpayment({QStringLiteral("--make-ca"), ca(), QStringLiteral("--name"),
                       QStringLiteral("Test shop CA")});
        varnelpayment({QStringLiteral("--home"), m_site.path(),
                       QStringLiteral("--make-certificate"), QStringLiteral("--ca"), ca(),
                       QStringLiteral("till.example.shop")});
        varnelpayment({QStringLiteral("--home"), m_box.path(), QStringLiteral("--make-certificate"),
                       QStringLiteral("--ca"), ca(), QStringLiteral("box1.shop.example")});
        // The till machine trusts the shop CA.
        const QString nssdb =
            QStringLiteral("sql:") + m_tillHome.path() + QStringLiteral("/.pki/nssdb");
        QDir().mkpath(m_tillHome.path() + QStringLiteral("/.pki/nssdb"));
        runProgram(QStringLiteral("/usr/bin/certutil"),
                   {QStringLiteral("-d"), nssdb, QStringLiteral("-N"),
                    QStringLiteral("--empty-password")});
        runProgram(QStringLiteral("/usr/bin/certutil"),
                   {QStringLiteral("-d"), nssdb, QStringLiteral("-A"), QStringLiteral("-t"),
                    QStringLiteral("C,,"), QStringLiteral("-n"), QStringLiteral("Test shop CA"),
                    QStringLiteral("-i"), ca() + QStringLiteral("/ca.pem")});

        QString reason;
        const std::optional<QSslConfiguration> siteTls =
            loadTlsIdentity(m_site.filePath(QStringLiteral("varnelpayment.pem")),
                            m_site.filePath(QStringLiteral("varnelpayment.key")), &reason);
        ASSERT_TRUE(siteTls) << qPrintable(reason);
        m_pages.setTls(*siteTls, QStringLiteral("till.example.shop"));
        ASSERT_TRUE(m_pages.listen());

        m_controlPort = ServerProcess::freePort();
        m_wsPort = ServerProcess::freePort();
        m_server = std::make_unique<ServerProcess>(
            QStringLiteral("[Simulator]\r\npadControlPort=%1\r\n[WebSocket]\r\nPort=%2\r\n"
                           "Origins=%3\r\nCertFile=%4\r\nKeyFile=%5\r\n")
                .arg(m_controlPort)
                .arg(m_wsPort)
                .arg(m_pages.origin(), m_box.filePath(QStringLiteral("varnelpayment.pem")),
                     m_box.filePath(QStringLiteral("varnelpayment.key"))),
            QStringList{QStringLiteral("--simulate")});
        ASSERT_TRUE(m_server->start());
    }

    QString ca() const { return m_ca.filePath(QStringLiteral("shop-ca")); }

    // Opens the till's page in the till machine's browser; returns what the page reported.
    QJsonObject run(const QByteArray& script)
    {
        m_pages.setPage("<!doctype html><meta charset=utf-8><title>till</title>"
                        "<script type=module>\n"
                        "import { connect } from './varnel.js';\n"
                        "const box = 'box1.shop.example:" +
                        QByteArray::number(m_wsPort) +
                        "';\n"
                        "const failure = (e) => ({ code: e.code, message: e.message });\n"
                        "const r = {};\n"
                        "try {" +
                        script +
                        "} catch (e) { r.unexpected = String(e); }\n"
                        "await fetch('/report', { method: 'POST', body: JSON.stringify(r) });\n"
                        "</script>\n");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_tillHome.path());
        HeadlessBrowser browser;
        EXPECT_TRUE(browser.open(
            m_pages.pageUrl(),
            {QStringLiteral("--host-resolver-rules=MAP till.example.shop 127.0.0.1, MAP "
                            "box1.shop.example 127.0.0.1, MAP other.shop.example 127.0.0.1"),
             QStringLiteral("--ip-address-space-overrides=127.0.0.1:%1=public")
                 .arg(m_pages.port())},
            environment));
        const std::optional<QByteArray> report = m_pages.waitForReport(90000);
        EXPECT_TRUE(report.has_value()) << "the page reported nothing";
        return report ? QJsonDocument::fromJson(*report).object() : QJsonObject();
    }

    QTemporaryDir m_ca;
    QTemporaryDir m_site;
    QTemporaryDir m_box;
    QTemporaryDir m_tillHome;
    PageServer m_pages{QByteArray{}};
    quint16 m_controlPort = 0;
    quint16 m_wsPort = 0;
    std::unique_ptr<ServerProcess> m_server;
};

} // namespace

TEST_F(WebTill, WithThePolicyTheSitesPageSwipesOverWssAndOnlyThere)
{
    const PolicyFile policy(varnelpayment(
        {QStringLiteral("--home"), m_server->home(), QStringLiteral("--browser-policy")}));
    QProcess customer;
    customer.start(ServerProcess::binDir() + QStringLiteral("/varnel-pad"),
                   {QStringLiteral("--port"), QString::number(m_controlPort),
                    QStringLiteral("swipe"), QString::fromLatin1(kTrack1),
                    QString::fromLatin1(kTrack2)});
    ASSERT_TRUE(customer.waitForStarted(5000));

    const QJsonObject result = run(R"(
        try {
          const till = await connect(`wss://${box}`, { timeout: 8000 });
          r.version = await till.version();
          r.swipe = await till.swipe({ timeout: 30 });
          till.close();
        } catch (e) { r.secure = failure(e); }
        let started = performance.now();
        await connect(`ws://${box}`, { timeout: 8000 }).then(() => { r.plain = 'open'; },
                                                             (e) => { r.plain = failure(e); });
        r.plainMs = performance.now() - started;
        const port = box.split(':')[1];
        await connect(`wss://other.shop.example:${port}`, { timeout: 8000 }).then(
            () => { r.otherName = 'open'; }, (e) => { r.otherName = failure(e); });)");

    EXPECT_FALSE(result.contains(QStringLiteral("secure")))
        << QJsonDocument(result).toJson().constData();
    EXPECT_EQ(result.value(QStringLiteral("version")), QStringLiteral("1.0.0"));
    const QJsonObject swipe = result.value(QStringLiteral("swipe")).toObject();
    EXPECT_EQ(swipe.value(QStringLiteral("track1")), QString::fromLatin1(kTrack1));
    EXPECT_EQ(swipe.value(QStringLiteral("track2")), QString::fromLatin1(kTrack2));
    const QStringList requests = m_server->logEntries().filter(
        QStringLiteral("WebSocket: ConnectionRequest ip=[127.0.0.1]"));
    EXPECT_FALSE(requests.filter(QStringLiteral("origin=[%1]").arg(m_pages.origin())).isEmpty());
    // An https page cannot use ws:// at all: refused at once.
    EXPECT_EQ(result.value(QStringLiteral("plain")).toObject().value(QStringLiteral("code")),
              QStringLiteral("unreachable"));
    EXPECT_LT(result.value(QStringLiteral("plainMs")).toDouble(), 1000);
    // A name the box's certificate does not cover.
    EXPECT_EQ(result.value(QStringLiteral("otherName")).toObject().value(QStringLiteral("code")),
              QStringLiteral("unreachable"));
    EXPECT_FALSE(result.contains(QStringLiteral("unexpected")));
    ASSERT_TRUE(customer.state() == QProcess::NotRunning || customer.waitForFinished(10000));
    EXPECT_EQ(customer.exitCode(), 0);
}

TEST_F(WebTill, WithoutThePolicyConnectSaysUnreachableWithinItsTimeOut)
{
    const QJsonObject result = run(R"(
        const started = performance.now();
        await connect(`wss://${box}`, { timeout: 3000 }).then(() => { r.secure = 'open'; },
                                                              (e) => { r.secure = failure(e); });
        r.ms = performance.now() - started;)");
    EXPECT_EQ(result.value(QStringLiteral("secure")).toObject().value(QStringLiteral("code")),
              QStringLiteral("unreachable"))
        << QJsonDocument(result).toJson().constData();
    EXPECT_TRUE(result.value(QStringLiteral("secure"))
                    .toObject()
                    .value(QStringLiteral("message"))
                    .toString()
                    .contains(QStringLiteral("local network access")));
    EXPECT_LT(result.value(QStringLiteral("ms")).toDouble(), 3500);
    EXPECT_TRUE(
        m_server->logEntries().filter(QStringLiteral("Socket: Transaction Start")).isEmpty());
}
