#include "request/replyformatter.h"

#include "core/failure.h"

namespace {

template <class... Handlers> struct Overloaded : Handlers...
{
    using Handlers::operator()...;
};
template <class... Handlers> Overloaded(Handlers...) -> Overloaded<Handlers...>;

QString element(const char* name, const QString& text)
{
    return QLatin1Char('<') + QLatin1String(name) + QLatin1Char('>') + text + QStringLiteral("</") +
           QLatin1String(name) + QLatin1Char('>');
}

// A reply of the device's own root element.
QString deviceReply(DeviceId device, const QString& body)
{
    return element(device == DeviceId::Pad ? "QP6100" : "1000SE", body);
}

QString errorReply(DeviceId device, const QString& text)
{
    return deviceReply(device, element("ERROR", text));
}

QString versionText()
{
    // Made once: every VERSION transaction sends it.
    static const QString reply = element("VERSION", QStringLiteral("%1.%2.%3")
                                                        .arg(VARNEL_VERSION_MAJOR)
                                                        .arg(VARNEL_VERSION_MINOR)
                                                        .arg(VARNEL_VERSION_PATCH));
    return reply;
}

QString failureText(OperationKind operation, int code)
{
    const char* what = operation == OperationKind::Swipe ? "Swipe"
                       : operation == OperationKind::Pin ? "PIN"
                                                         : "Signature";
    return QStringLiteral("Error Getting ") + QLatin1String(what) + QStringLiteral(": ") +
           errorNumberText(code);
}

} // namespace

std::optional<Reply> replyFor(const Outcome& outcome)
{
    const auto plain = [](QString xml) {
        return std::optional<Reply>(Reply{std::move(xml), false});
    };
    // Card and PIN data: the log shows only that the reply went out.
    const auto secret = [](QString xml) {
        return std::optional<Reply>(Reply{std::move(xml), true});
    };
    return std::visit(
        Overloaded{
            [&](const outcome::Version&) { return plain(versionText()); },
            [&](const outcome::Status& o) {
                return plain(element("STATUS", element("QP6100", QLatin1String(o.pad)) +
                                                   element("1000SE", QLatin1String(o.pinPad))));
            },
            [&](const outcome::CardRead& o) {
                return secret(deviceReply(
                    DeviceId::Pad,
                    element("SWIPE", element("TRACK1", o.track1) + element("TRACK2", o.track2))));
            },
            [&](const outcome::SignatureStored& o) {
                return plain(deviceReply(
                    DeviceId::Pad, element("SIGNATURE", QStringLiteral("OK")) +
                                       element("SIGPATH", o.sigFile) +
                                       (o.uploadQueued ? element("UPLOAD", QStringLiteral("QUEUED"))
                                                       : QString())));
            },
            [&](const outcome::PinTaken& o) {
                return secret(deviceReply(DeviceId::PinPad,
                                          element("PINBLOCK", o.pinBlock) + element("KSN", o.ksn)));
            },
            [&](const outcome::TimedOut&) {
                return plain(deviceReply(DeviceId::Pad, element("TIMEOUT", QStringLiteral("1"))));
            },
            [&](const outcome::Cancelled&) {
                return secret(
                    deviceReply(DeviceId::PinPad, element("CANCEL", QStringLiteral("1"))));
            },
            [&](const outcome::Busy& o) {
                return plain(errorReply(o.device, o.device == DeviceId::Pad
                                                      ? QStringLiteral("Pad Busy")
                                                      : QStringLiteral("PIN Pad Busy")));
            },
            [&](const outcome::PadNotSetUp&) {
                return plain(errorReply(
                    DeviceId::Pad, QStringLiteral("QP6100 Not Setup in Varnel Payment Setup")));
            },
            [&](const outcome::NotEnabled& o) {
                return plain(errorReply(
                    o.device,
                    o.device == DeviceId::Pad
                        ? QStringLiteral("QP6100 Not Enabled in Varnel Payment Setup")
                        : QStringLiteral("PinPAD 1000 SE not Enabled in Varnel Payment Setup")));
            },
            [&](const outcome::DeviceError& o) { return plain(errorReply(o.device, o.text)); },
            [&](const outcome::PinValuesMissing&) {
                return plain(errorReply(
                    DeviceId::PinPad,
                    QStringLiteral("PinPAD Requires Credit Card # and Transaction Total")));
            },
            [&](const outcome::PinPadNotOpened&) {
                return plain(
                    errorReply(DeviceId::PinPad, QStringLiteral("Error Initializing Pad")));
            },
            [&](const outcome::SignatureNotStored&) {
                return plain(errorReply(DeviceId::Pad, QStringLiteral("Error Getting Signature")));
            },
            [&](const outcome::Failed& o) {
                return plain(errorReply(o.device(), failureText(o.operation, o.code)));
            },
            [&](const outcome::NotAuthorised& o) {
                return plain(errorReply(o.root, QStringLiteral("Not Authorised")));
            },
            [&](const outcome::Paired& o) {
                // The key: the log shows only that the reply went out.
                return secret(element("PAIR", element("TILL", o.till) + element("KEY", o.key)));
            },
            [&](const outcome::PairingRefused& o) {
                using Reason = outcome::PairingRefused::Reason;
                const char* text = o.reason == Reason::WrongCode  ? "Wrong Code"
                                   : o.reason == Reason::Locked   ? "Pairing Locked"
                                   : o.reason == Reason::NeedsTls ? "Needs TLS"
                                                                  : "Try Again";
                return plain(element("PAIR", element("ERROR", QLatin1String(text))));
            },
            [](const outcome::ClientGone&) { return std::optional<Reply>(); },
        },
        outcome);
}

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
