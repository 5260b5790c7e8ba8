// How a reply's text tells its device and its ending, for every reply the devices send; and
// the STATUS reply over the device board's reading of boxes, ports and holds.
#include <gtest/gtest.h>

#include "core/deviceboard.h"
#include "request/replyoutcome.h"
#include "request/replytext.h"

TEST(ReplyOutcomeTest, EveryDeviceReplyIsReadForItsDeviceAndEnding)
{
    struct Case
    {
        QString xml;
        std::optional<ReplyKind> kind;
    };
    const ReplyKind padOk{DeviceId::Pad, ReplyOutcome::Ok};
    const ReplyKind padError{DeviceId::Pad, ReplyOutcome::Error};
    const Case cases[] = {
        {QStringLiteral("<QP6100><SWIPE><TRACK1>%B4111^A/B^29?</TRACK1><TRACK2>;4111=29?</TRACK2>"
                        "</SWIPE></QP6100>"),
         padOk},
        {QStringLiteral("<QP6100><SIGNATURE>OK</SIGNATURE><SIGPATH>/s/a.pcx</SIGPATH></QP6100>"),
         padOk},
        {QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>"),
         ReplyKind{DeviceId::Pad, ReplyOutcome::Timeout}},
        {padBusyReply(), ReplyKind{DeviceId::Pad, ReplyOutcome::Busy}},
        {padNotSetupReply(), padError},
        {QStringLiteral("<QP6100><ERROR>Error Getting Signature</ERROR></QP6100>"), padError},
        // An error text that merely mentions being busy is an error.
        {QStringLiteral("<QP6100><ERROR>Error Getting Swipe: Error( 18) Pad Busy</ERROR></QP6100>"),
         padError},
        {QStringLiteral("<1000SE><PINBLOCK>0123456789ABCDEF</PINBLOCK><KSN>FFFF</KSN></1000SE>"),
         ReplyKind{DeviceId::PinPad, ReplyOutcome::Ok}},
        {QStringLiteral("<1000SE><CANCEL>1</CANCEL></1000SE>"),
         ReplyKind{DeviceId::PinPad, ReplyOutcome::Cancelled}},
        {pinPadBusyReply(), ReplyKind{DeviceId::PinPad, ReplyOutcome::Busy}},
        {QStringLiteral("<1000SE><ERROR>Error Initializing Pad</ERROR></1000SE>"),
         ReplyKind{DeviceId::PinPad, ReplyOutcome::Error}},
        {versionReply(), std::nullopt},
        {statusReply("ready", "off"), std::nullopt},
        {QString(), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(qPrintable(c.xml));
        EXPECT_EQ(replyKind(c.xml), c.kind);
    }
}

TEST(ReplyOutcomeTest, StatusShowsOffDisconnectedBusyOrReadyForEachDevice)
{
    struct Switches
    {
        bool ticked;
        bool reachable;
        bool busy;
    };
    struct Case
    {
        Switches pad;
        Switches pinPad;
        const char* reply;
    };
    const Case cases[] = {
        {{false, false, false},
         {false, false, false},
         "<STATUS><QP6100>off</QP6100><1000SE>off</1000SE></STATUS>"},
        // A device whose box is not ticked is off, whatever else holds.
        {{false, true, true},
         {true, true, false},
         "<STATUS><QP6100>off</QP6100><1000SE>ready</1000SE></STATUS>"},
        {{true, false, false},
         {true, false, true},
         "<STATUS><QP6100>disconnected</QP6100><1000SE>busy</1000SE></STATUS>"},
        {{true, true, true},
         {true, false, false},
         "<STATUS><QP6100>busy</QP6100><1000SE>disconnected</1000SE></STATUS>"},
    };
    for (const Case& c : cases) {
        Switches pad = c.pad;
        Switches pinPad = c.pinPad;
        auto probes = [](Switches& s) {
            return DeviceBoard::Probes{[&s] { return s.ticked; }, [&s] { return s.reachable; },
                                       [&s] { return s.busy; }};
        };
        const DeviceBoard board(probes(pad), probes(pinPad));
        EXPECT_EQ(statusReply(DeviceBoard::statusName(board.status(DeviceId::Pad)),
                              DeviceBoard::statusName(board.status(DeviceId::PinPad))),
                  QLatin1String(c.reply));
    }
}
