#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "core/outboxfigures.h"

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
// cannot be reached or failed its last operation; "warn" when no device is ticked, a port
// that the settings ask for is closed, a picture has waited for its upload longer than an hour
// or one was given up in the last day; else "pass". Both others are HTTP 200.
struct HealthAnswer
{
    int httpStatus = 200;
    QByteArray json;

    static HealthAnswer of(const DeviceBoard& devices, const QList<PortCheck>& ports,
                           const OutboxFigures& outbox, const QString& version);
};
