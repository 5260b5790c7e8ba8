#pragma once

#include <QSerialPort>

#include "pinpad/serialprobe.h"

// The scan's probe over QSerialPort.
class QtSerialProbe final : public SerialProbe
{
public:
    bool PortOpen() const override { return m_port.isOpen(); }
    void openPort(const QString& devicePath) override;
    void closePort() override;

private:
    QSerialPort m_port;
};
