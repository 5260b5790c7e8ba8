#pragma once

#include <QByteArray>
#include <QString>

// The program's files are single-byte text: one byte per character, and a character that one
// byte cannot hold becomes "?" (a surrogate pair counts as one character).
QByteArray toSingleByte(const QString& text);
