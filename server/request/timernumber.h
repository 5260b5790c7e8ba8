#pragma once

#include <optional>

#include <QString>

// The text-to-number reading used for TIMER values and the port field: blanks, tabs and line
// feeds are skipped wherever they stand, then the longest leading number is read (sign,
// digits, decimal point, exponent E or D, or an &H / &O integer) and the rest ignored.
// Returns nothing when no number starts the text (which callers read as 0).
// Throws Failure(6) when the number is beyond the range of a double, or an &H / &O literal
// has more than 32 bits.
std::optional<double> readLeadingNumber(const QString& text);

// Rounds to the nearest integer, a half going to the even neighbour; throws Failure(6) when
// the result does not fit a signed 16-bit integer.
qint16 roundToInt16(double number);

// The padTimeout that a TIMER value sets: the rounded number, or 60 when it is below 1.
qint16 timerSeconds(const QString& value);
