#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Helpers for the tests' own servers from Debian.
namespace DaemonProcess {

// Runs a program to its end; false (with `why` set to its output) when it failed.
bool run(const QString& program, const QStringList& arguments, QString* why,
         const QByteArray& input = {});
// Waits up to 10 s until `process` accepts connections on loopback `port` and, when `banner`
// is not empty, greets with it.
bool waitUntilListening(QProcess& process, quint16 port, const QByteArray& banner);
// Stops `process`, killing it when it does not end within 3 s.
void stop(QProcess& process);

} // namespace DaemonProcess
