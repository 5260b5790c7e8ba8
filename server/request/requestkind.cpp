#include "request/requestkind.h"

RequestKind classify(const RequestValues& request)
{
    const QString& trans = request.transType;
    const QString& action = request.action;
    if (trans == QLatin1String("QP6100")) {
        if (action == QLatin1String("1"))
            return RequestKind::Swipe;
        if (action == QLatin1String("2"))
            return RequestKind::Signature;
        return RequestKind::PadCommand;
    }
    if (trans == QLatin1String("1000SE"))
        return action == QLatin1String("3") ? RequestKind::PinEntry : RequestKind::PinCommand;
    if (trans == QLatin1String("ABORT"))
        return RequestKind::Abort;
    if (trans == QLatin1String("VERSION"))
        return RequestKind::Version;
    if (trans == QLatin1String("STATUS"))
        return RequestKind::Status;
    if (trans == QLatin1String("PAIR"))
        return RequestKind::Pair;
    return RequestKind::Unknown;
}
