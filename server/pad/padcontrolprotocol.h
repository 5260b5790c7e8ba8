#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The line protocol between the simulated pad's control port and the varnel-pad tool. A
// request is one line of words separated by single blanks, each word percent-encoded UTF-8:
//   swipe WAIT_MS TRACK1 TRACK2     a card, held until the pad shows its swipe form
//   sign WAIT_MS SIGCOMP            a signature (the pen data as sigcomp.h writes it), held
//                                   until the pad shows its signing form
//   wait-form NAME WAIT_MS          waits until the pad shows the form
//   state                           port, form and the six variables
//   set NAME VALUE                  sets a variable as the pad's script would
//   fail OPERATION STATUS COUNT     the next COUNT calls of an operation answer STATUS
//   throw OPERATION CODE COUNT      the next COUNT calls of an operation raise failure CODE
//   clear-faults                    drops the faults not yet used
// The answer is zero or more "name=value" lines, then one closing line: "ok", "timeout" or
// "error " and a message.
namespace PadControlProtocol {

constexpr quint16 kDefaultPort = 31429;
// Longest request line the pad accepts.
constexpr qsizetype kMaxLineLength = 64 * 1024;

QByteArray encodeRequest(const QStringList& words);
QStringList decodeRequest(const QByteArray& line);
// A value shown on one line: backslash, line breaks, tabs and other control characters are
// written as \\, \r, \n, \t and \xNN.
QString escapeValue(const QString& value);
// True for the closing line of an answer.
bool isClosingLine(const QString& line);

} // namespace PadControlProtocol
