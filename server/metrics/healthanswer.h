#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class DeviceBoard;

// One listening port of the server, for the health answer.
struct PortCheck
{
    QString name;
    // Whether the settings ask for the port.
    bool asked = false;
    // The port listened on; 0 when closed.
    quint16 port = 0;
};

// The answer to GET /health (application/health+json): "fail" (HTTP 503) when a ticked device
// cannot be reached or failed its last operation; "warn" when no device is ticked or a port
// that the settings ask for is closed; else "pass". Both others are HTTP 200.
struct HealthAnswer
{
    int httpStatus = 200;
    QByteArray json;

    static HealthAnswer of(const DeviceBoard& devices, const QList<PortCheck>& ports,
                           const QString& version);
};
