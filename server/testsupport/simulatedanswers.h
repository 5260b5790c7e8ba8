#pragma once

// What the simulated pad and varnel-pinpad answer in the end-to-end tests: the simulator's test
// card as a swipe reads it, and the PIN pad's first PIN block for a PIN entry.
#include <QByteArray>

inline const QByteArray kTrack1("%B4111111111111111^DOE/JANE^29121010000000000000?");
inline const QByteArray kTrack2(";4111111111111111=29121010000000000000?");
inline const QByteArray kSwipeReply("<QP6100><SWIPE><TRACK1>" + kTrack1 + "</TRACK1><TRACK2>" +
                                    kTrack2 + "</TRACK2></SWIPE></QP6100>");
inline const QByteArray kPinRequest = "TRANS=1000SE;ACTION=3;CREDITCARD=4012345678909;TOTAL=12.34;";
inline const QByteArray kPinReply = "<1000SE><PINBLOCK>1B9C1845EB993A7A</PINBLOCK>"
                                    "<KSN>FFFF9876543210E00001</KSN></1000SE>";
