#pragma once

#include <optional>

#include <QSerialPort>
#include <QString>

// The PIN pad's line settings read from the settings texts. An empty text takes the pad's
// factory setting (1200 baud, 7 data bits, even parity); a text that names no usable value
// reads as none.
namespace SerialSettings {

std::optional<qint32> baudRate(const QString& text);
std::optional<QSerialPort::DataBits> dataBits(const QString& text);
// One letter in either case: E even, O odd, N none, M mark, S space.
std::optional<QSerialPort::Parity> parity(const QString& text);

} // namespace SerialSettings
