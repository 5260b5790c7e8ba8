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

// The PIN entry's replies.
// "<1000SE><ERROR>" + `message` + "</ERROR></1000SE>".
QString pinErrorReply(const QString& message);
// The reply while the 1000SE box is not ticked.
QString pinNotEnabledReply();
// The reply to a PIN request without a card number or a total.
QString pinValuesMissingReply();
// The reply when the PIN pad could not be opened.
QString pinPadFailedReply();
// The reply when the customer cancelled or nobody keyed a PIN in time.
QString pinCancelledReply();
// The PIN block and its key serial number, as the pad gave them.
QString pinEnteredReply(const QString& pinBlock, const QString& ksn);
// The reply when PIN entry failed with the error `code`: "... Error Getting PIN: Error( 57)".
QString pinFailedReply(int code);

// The signature pad's operation replies.
// The pad did not get what it waited for within the limit.
QString padTimeoutReply();
// A signature request while the pad is not enabled.
QString padNotEnabledReply();
// The card's two tracks, as read (card data: logged only as sent).
QString swipeReply(const QString& track1, const QString& track2);
// A swipe that ended on a caught failure numbered `code`.
QString swipeErrorReply(int code);
// The signature picture saved (and uploaded, when asked) at `sigFile`.
QString signatureOkReply(const QString& sigFile);
// The picture could not be saved or uploaded.
QString signatureFailedReply();
// A signature that ended on a caught failure numbered `code`.
QString signatureErrorReply(int code);

// "<STATUS><QP6100>ready</QP6100><1000SE>off</1000SE></STATUS>": each device's state for a till.
QString statusReply(const char* padStatus, const char* pinPadStatus);
