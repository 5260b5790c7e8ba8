#pragma once

#include <QSerialPort>

// The numbers with which the PIN pad and the serial port scan report why a port or the pad
// failed; the operators' guide lists them.
namespace SerialError {

// The device does not exist.
constexpr int NoSuchDevice = 53;
// A PIN entry under way on this server holds the pad.
constexpr int PadBusy = 55;
// Reading or writing failed, the pad refused a packet three times, or its answer was unusable.
constexpr int LineFailed = 57;
// The pad did not acknowledge a packet within a second, three times, or ended the exchange.
constexpr int NoAnswer = 68;
// Permission denied, or another program holds the port.
constexpr int PortInUse = 70;
// A Comm Port, Baud Rate, Data Bits or Parity text that names no usable setting.
constexpr int InvalidSetting = 380;

// The number for a port that QSerialPort could not open.
int fromOpenError(QSerialPort::SerialPortError error);
// Whether an error that an open port reports means the line is gone for good (the device
// closed its end or was unplugged, reading or writing failed): only the time-out of a
// blocking wait, which this program never uses, and no error at all leave it usable.
bool endsLine(QSerialPort::SerialPortError error);

} // namespace SerialError
