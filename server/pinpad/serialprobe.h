#pragma once

#include <QString>

// The serial port that the port scan opens and closes, one port at a time.
class SerialProbe
{
public:
    virtual ~SerialProbe() = default;
    // True while the probe holds a port open.
    virtual bool PortOpen() const = 0;
    // Opens the device; throws Failure with a SerialError number when it cannot.
    virtual void openPort(const QString& devicePath) = 0;
    // Releases the port held, if any.
    virtual void closePort() = 0;
};
