#pragma once

#include <QMap>
#include <QString>

// Where a Comm Port text points. A COM number ("3" or "COM3", any case) names the device
// given for COM3 in the settings file's "SerialPorts" section (`serialPorts`), else /dev/ttyS2 (COM
// n is /dev/ttyS(n-1)); a text that starts with "/" is the device path itself.
namespace SerialPortName {

// The COM number of a text, 0 when the text is not one.
int comNumber(const QString& commPort);
// The device path; empty when the text names no port.
QString devicePath(const QString& commPort, const QMap<int, QString>& serialPorts);
// How messages name the port: "COM3 (/dev/ttyUSB0)", or the path alone.
QString describe(const QString& commPort, const QString& devicePath);

} // namespace SerialPortName
