#include "request/replytext.h"

#include "core/failure.h"

QString strRemoveNonPrintableChars(const QString& text)
{
    if (text.size() > 32767)
        throw Failure(FailureCode::Overflow);
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() >= 32 && c.unicode() <= 126)
            out.append(c);
    }
    return out;
}

QString versionReply()
{
    // Made once: every VERSION transaction sends it.
    static const QString reply = QStringLiteral("<VERSION>%1.%2.%3</VERSION>")
                                     .arg(VARNEL_VERSION_MAJOR)
                                     .arg(VARNEL_VERSION_MINOR)
                                     .arg(VARNEL_VERSION_PATCH);
    return reply;
}

QString padNotSetupReply()
{
    return QStringLiteral(
        "<QP6100><ERROR>QP6100 Not Setup in Varnel Payment Setup</ERROR></QP6100>");
}

QString padBusyReply()
{
    return QStringLiteral("<QP6100><ERROR>Pad Busy</ERROR></QP6100>");
}

QString pinPadBusyReply()
{
    return QStringLiteral("<1000SE><ERROR>PIN Pad Busy</ERROR></1000SE>");
}

QString statusReply(const char* padStatus, const char* pinPadStatus)
{
    return QStringLiteral("<STATUS><QP6100>") + QLatin1String(padStatus) +
           QStringLiteral("</QP6100><1000SE>") + QLatin1String(pinPadStatus) +
           QStringLiteral("</1000SE></STATUS>");
}
