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

QString pinErrorReply(const QString& message)
{
    return QStringLiteral("<1000SE><ERROR>") + message + QStringLiteral("</ERROR></1000SE>");
}

QString pinNotEnabledReply()
{
    return pinErrorReply(QStringLiteral("PinPAD 1000 SE not Enabled in Varnel Payment Setup"));
}

QString pinValuesMissingReply()
{
    return pinErrorReply(QStringLiteral("PinPAD Requires Credit Card # and Transaction Total"));
}

QString pinPadFailedReply()
{
    return pinErrorReply(QStringLiteral("Error Initializing Pad"));
}

QString pinCancelledReply()
{
    return QStringLiteral("<1000SE><CANCEL>1</CANCEL></1000SE>");
}

QString pinEnteredReply(const QString& pinBlock, const QString& ksn)
{
    return QStringLiteral("<1000SE><PINBLOCK>") + pinBlock + QStringLiteral("</PINBLOCK><KSN>") +
           ksn + QStringLiteral("</KSN></1000SE>");
}

QString pinFailedReply(int code)
{
    return pinErrorReply(QStringLiteral("Error Getting PIN: ") + errorNumberText(code));
}

QString padTimeoutReply()
{
    return QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>");
}

QString padNotEnabledReply()
{
    return QStringLiteral(
        "<QP6100><ERROR>QP6100 Not Enabled in Varnel Payment Setup</ERROR></QP6100>");
}

QString swipeReply(const QString& track1, const QString& track2)
{
    return QStringLiteral("<QP6100><SWIPE><TRACK1>") + track1 +
           QStringLiteral("</TRACK1><TRACK2>") + track2 +
           QStringLiteral("</TRACK2></SWIPE></QP6100>");
}

QString swipeErrorReply(int code)
{
    return QStringLiteral("<QP6100><ERROR>Error Getting Swipe: ") + errorNumberText(code) +
           QStringLiteral("</ERROR></QP6100>");
}

QString signatureOkReply(const QString& sigFile)
{
    return QStringLiteral("<QP6100><SIGNATURE>OK</SIGNATURE><SIGPATH>") + sigFile +
           QStringLiteral("</SIGPATH></QP6100>");
}

QString signatureFailedReply()
{
    return QStringLiteral("<QP6100><ERROR>Error Getting Signature</ERROR></QP6100>");
}

QString signatureErrorReply(int code)
{
    return QStringLiteral("<QP6100><ERROR>Error Getting Signature: ") + errorNumberText(code) +
           QStringLiteral("</ERROR></QP6100>");
}

QString statusReply(const char* padStatus, const char* pinPadStatus)
{
    return QStringLiteral("<STATUS><QP6100>") + QLatin1String(padStatus) +
           QStringLiteral("</QP6100><1000SE>") + QLatin1String(pinPadStatus) +
           QStringLiteral("</1000SE></STATUS>");
}
