#pragma once

// What the metrics tests share: the metrics port in this process on a free loopback port, over
// a device board whose boxes, ports and holds the test sets, and an HTTP client that lets the
// port answer while it waits.
#include <gtest/gtest.h>

#include <memory>

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include "core/deviceboard.h"
#include "doors/accesspolicy.h"
#include "doors/admission.h"
#include "doors/connectionlimit.h"
#include "doors/metricsport.h"
#include "fakeclock.h"
#include "log/activitylog.h"
#include "metrics/healthanswer.h"
#include "metrics/prometheustelemetry.h"
#include "serverprocess.h"

// What came back over one connection: the bytes, and whether the server closed it.
struct HttpExchange
{
    QByteArray bytes;
    bool closedByServer = false;

    int status() const { return bytes.mid(9, 3).toInt(); }
    QByteArray body() const { return bytes.mid(bytes.indexOf("\r\n\r\n") + 4); }
    QByteArray header(const QByteArray& name) const
    {
        for (const QByteArray& line : bytes.left(bytes.indexOf("\r\n\r\n")).split('\n'))
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        return {};
    }
};

// Sends `request` (in `parts` sent `gapMs` apart, when given) and reads until the server closes
// the connection or `timeoutMs` passes, running the event loop meanwhile.
inline HttpExchange exchange(quint16 port, const QList<QByteArray>& parts, int timeoutMs = 5000,
                             int gapMs = 0)
{
    HttpExchange result;
    QTcpSocket socket;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop,
                     [&] { result.bytes += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, [&] {
        result.bytes += socket.readAll();
        result.closedByServer = true;
        loop.quit();
    });
    int next = 0;
    QTimer sender;
    QObject::connect(&sender, &QTimer::timeout, &loop, [&] {
        if (next < parts.size() && socket.state() == QAbstractSocket::ConnectedState)
            socket.write(parts.at(next++));
        if (next >= parts.size())
            sender.stop();
    });
    QObject::connect(&socket, &QTcpSocket::connected, &loop, [&] { sender.start(gapMs); });
    socket.connectToHost(QHostAddress::LocalHost, port);
    limit.start(timeoutMs);
    loop.exec();
    return result;
}

inline HttpExchange get(quint16 port, const QByteArray& path, const QByteArray& method = "GET")
{
    return exchange(port, {method + ' ' + path + " HTTP/1.1\r\nHost: box\r\n\r\n"});
}

// The value of one sample line of the metrics text ("name{labels} value"); NaN when missing.
inline double sample(const QByteArray& text, const QByteArray& series)
{
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(series + ' '))
            return line.mid(series.size() + 1).toDouble();
    return qQNaN();
}

class MetricsPortTest : public ::testing::Test
{
protected:
    MetricsPortTest()
        : m_clock(QDateTime(QDate(2026, 12, 10), QTime(4, 0))),
          m_log(m_home.filePath(QStringLiteral("varnelpayment.log")), m_clock),
          m_board(probes(m_pad), probes(m_pinPad)),
          m_telemetry(m_board, m_log, QStringLiteral("1.0.0"))
    {
    }

    // Opens the port with the allow-list `allowFrom` and the ports the health answer lists.
    void open(const QString& allowFrom = {}, QList<PortCheck> ports = {})
    {
        m_ports = std::move(ports);
        m_port.reset();
        m_admission = std::make_unique<Admission>(m_log, AccessPolicy::fromAllowFrom(allowFrom),
                                                  m_limit, m_telemetry);
        m_port = std::make_unique<MetricsPort>(
            m_log, *m_admission,
            MetricsPort::Pages{
                [this] {
                    return HttpResponse{
                        200, "text/plain; version=0.0.4; charset=utf-8", m_telemetry.text(), {}};
                },
                [this] {
                    const HealthAnswer answer =
                        HealthAnswer::of(m_board, m_ports, m_outbox, QStringLiteral("1.0.0"));
                    return HttpResponse{
                        answer.httpStatus, "application/health+json", answer.json, {}};
                }},
            MetricsSettings{QString::number(ServerProcess::freePort())},
            QStringLiteral("127.0.0.1"));
        QString reason;
        ASSERT_TRUE(m_port->start(&reason)) << qPrintable(reason);
    }
    quint16 port() const { return m_port->listeningPort(); }

    struct DeviceSwitches
    {
        bool ticked = false;
        bool reachable = false;
        bool busy = false;
    };
    static DeviceBoard::Probes probes(DeviceSwitches& device)
    {
        return {[&device] { return device.ticked; }, [&device] { return device.reachable; },
                [&device] { return device.busy; }};
    }

    QTemporaryDir m_home;
    FakeClock m_clock;
    ActivityLog m_log;
    DeviceSwitches m_pad;
    DeviceSwitches m_pinPad;
    DeviceBoard m_board;
    PrometheusTelemetry m_telemetry;
    ConnectionLimit m_limit;
    QList<PortCheck> m_ports;
    // What the health answer reads of the signature outbox.
    OutboxFigures m_outbox;
    std::unique_ptr<Admission> m_admission;
    std::unique_ptr<MetricsPort> m_port;
};
