#pragma once

#include <QSet>
#include <QStringList>

#include "core/failure.h"
#include "pinpad/serialerror.h"
#include "pinpad/serialprobe.h"

// The serial ports of an imagined machine: the present devices open unless in use.
class FakeSerialProbe final : public SerialProbe
{
public:
    QSet<QString> present;
    QSet<QString> inUse;
    QStringList calls;

    bool PortOpen() const override { return !m_held.isEmpty(); }
    void openPort(const QString& devicePath) override
    {
        calls << QStringLiteral("open ") + devicePath;
        if (!m_held.isEmpty())
            calls << QStringLiteral("still held ") + m_held;
        if (!present.contains(devicePath))
            throw Failure(SerialError::NoSuchDevice);
        if (inUse.contains(devicePath))
            throw Failure(SerialError::PortInUse);
        m_held = devicePath;
    }
    void closePort() override
    {
        if (!m_held.isEmpty())
            calls << QStringLiteral("close ") + m_held;
        m_held.clear();
    }

private:
    QString m_held;
};
