#pragma once

#include <QString>

// Hides card numbers in a log entry, whatever tag or text carries them.
//
// A card number is a run of 13 to 19 digits that passes the Luhn check. Its digits may be
// grouped by runs of up to three blanks, dashes, dots, slashes or underscores ("4111 1111 1111
// 1111", "4111--1111--1111--1111", "4111.1111/1111_1111"), and it is made of whole digit
// groups: it starts and ends where a group does. So a card number
// followed or preceded by another group ("4111111111111111 1229") is still found, while an
// unbroken run of more than 19 digits is not a card number and stays as it is, like amounts,
// dates and order numbers that fail the check.
//
// Every digit of a card number but its last four becomes "*"; separators and everything else
// stay, so the entry keeps its length and the number its grouping ("****-****-****-1111").
// Where card numbers overlap, each one keeps only its own last four digits visible.
QString scrubCardNumbers(const QString& entry);

// Whether the digits (characters '0' to '9' only) pass the Luhn check.
bool passesLuhnCheck(QStringView digits);
