#pragma once

#include <QString>
#include <QStringList>

// What start-up could not do, for the tray program and the headless server to print alike.
struct StartupReport
{
    // The port field and why it cannot be listened on; empty when listening.
    QString port;
    QString listenError;
    // The WebSocket port setting and why it cannot be opened; empty when open or not asked for.
    QString webSocketPort;
    QString webSocketError;
    // The TLS port setting and why it cannot be opened; empty when open or not asked for.
    QString tlsPort;
    QString tlsError;
    // The metrics port setting and why it cannot be opened; empty when open or not asked for.
    QString metricsPort;
    QString metricsError;
    // Other things the shop should know at once (ports set equal, a certificate near its end).
    QStringList warnings;
    // Among them, the one that says any machine on the network may use the devices; empty
    // when the box is closed to strangers.
    QString openToNetwork;

    bool listening() const { return listenError.isEmpty(); }
    // The lines for standard error, in order; none when all went well.
    QStringList errorLines() const
    {
        QStringList lines;
        if (!listenError.isEmpty())
            lines << QStringLiteral("varnelpayment: cannot listen on port [%1]: %2")
                         .arg(port, listenError);
        if (!webSocketError.isEmpty())
            lines << QStringLiteral("varnelpayment: cannot open the WebSocket port [%1]: %2")
                         .arg(webSocketPort, webSocketError);
        if (!tlsError.isEmpty())
            lines << QStringLiteral("varnelpayment: cannot open the TLS port [%1]: %2")
                         .arg(tlsPort, tlsError);
        if (!metricsError.isEmpty())
            lines << QStringLiteral("varnelpayment: cannot open the metrics port [%1]: %2")
                         .arg(metricsPort, metricsError);
        for (const QString& warning : warnings)
            lines << QStringLiteral("varnelpayment: ") + warning;
        return lines;
    }
};
