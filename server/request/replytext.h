#pragma once

#include <QString>

// The reply text without the characters outside printable ASCII (codes 32 to 126).
// Throws Failure(6) for a text longer than 32,767 characters.
QString strRemoveNonPrintableChars(const QString& text);

// "<VERSION>1.0.0</VERSION>".
QString versionReply();

// The reply to a QP6100 request while the pad is not enabled.
QString padNotSetupReply();

// The reply to a swipe or signature request while another one holds the pad.
QString padBusyReply();

// The reply to a PIN request while another PIN entry holds the PIN pad.
QString pinPadBusyReply();

// "<STATUS><QP6100>ready</QP6100><1000SE>off</1000SE></STATUS>": each device's state for a till.
QString statusReply(const char* padStatus, const char* pinPadStatus);
