#include "request/replyoutcome.h"

#include "request/replytext.h"

std::optional<ReplyKind> replyKind(const QString& xml)
{
    ReplyKind kind{DeviceId::Pad, ReplyOutcome::Ok};
    QString body;
    if (xml.startsWith(QLatin1String("<QP6100>"))) {
        kind.device = DeviceId::Pad;
        body = xml.mid(8);
    } else if (xml.startsWith(QLatin1String("<1000SE>"))) {
        kind.device = DeviceId::PinPad;
        body = xml.mid(8);
    } else {
        return std::nullopt;
    }
    if (body.startsWith(QLatin1String("<TIMEOUT>")))
        kind.outcome = ReplyOutcome::Timeout;
    else if (body.startsWith(QLatin1String("<CANCEL>")))
        kind.outcome = ReplyOutcome::Cancelled;
    else if (xml == padBusyReply() || xml == pinPadBusyReply())
        kind.outcome = ReplyOutcome::Busy;
    else if (body.startsWith(QLatin1String("<ERROR>")))
        kind.outcome = ReplyOutcome::Error;
    return kind;
}
