#pragma once

// What the browser tests share: a loopback HTTP server that serves the till's test page and the
// JavaScript client, and takes the page's report; and headless Chromium opening that page.
#include <memory>
#include <optional>

#include <QByteArray>
#include <QHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>

class QTcpSocket;

class PageServer : public QObject
{
public:
    // `page` is served at "/", the client module at "/varnel.js"; the page POSTs its result
    // to "/report".
    explicit PageServer(QByteArray page);
    ~PageServer() override;

    void setPage(QByteArray page) { m_page = std::move(page); }
    // Serves HTTPS with `tls` under `host` (a name the browser maps to loopback) from now on.
    void setTls(QSslConfiguration tls, QString host);
    bool listen();
    quint16 port() const { return m_server->serverPort(); }
    QString origin() const;
    QString pageUrl() const { return origin() + QLatin1Char('/'); }
    // Runs the event loop until the page has reported (at most `timeoutMs`).
    std::optional<QByteArray> waitForReport(int timeoutMs);

private:
    void serve(QTcpSocket* socket);
    static void respond(QTcpSocket* socket, const QByteArray& status, const QByteArray& type,
                        const QByteArray& body);

    void takeConnections();

    std::unique_ptr<QTcpServer> m_server;
    QString m_host;
    QByteArray m_page;
    QHash<QTcpSocket*, QByteArray> m_received;
    std::optional<QByteArray> m_report;
};

// Chromium without a window, in a profile of its own, ended by its process id.
class HeadlessBrowser
{
public:
    ~HeadlessBrowser();
    // `arguments` come before the URL; `environment` replaces the browser's (e.g. its HOME, where
    // it finds its certificate database).
    bool open(const QString& url, const QStringList& arguments = {},
              const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

private:
    QTemporaryDir m_profile;
    QProcess m_process;
};
