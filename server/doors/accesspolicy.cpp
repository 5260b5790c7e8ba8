#include "doors/accesspolicy.h"

#include <QRegularExpression>

#include "doors/peeraddress.h"

namespace {

// Four dotted decimal parts: Qt alone would also read "10" as 0.0.0.10 and "10.1" as 10.0.0.1,
// which is never what someone typing a shop's address list means.
bool isDottedQuad(const QString& text)
{
    static const QRegularExpression quad(
        QStringLiteral("^(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])"
                       "(\\.(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])){3}$"));
    return quad.match(text).hasMatch();
}

} // namespace

bool AccessPolicy::parseEntry(const QString& entry, Range* range)
{
    const qsizetype slash = entry.indexOf(QLatin1Char('/'));
    const QString addressPart = slash < 0 ? entry : entry.left(slash);
    const bool isV6 = addressPart.contains(QLatin1Char(':'));
    if (!isV6 && !isDottedQuad(addressPart))
        return false;
    QHostAddress address;
    if (!address.setAddress(addressPart) || !address.scopeId().isEmpty())
        return false;
    const int maxPrefix = isV6 ? 128 : 32;
    int prefix = maxPrefix;
    if (slash >= 0) {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,3}$"));
        const QString prefixPart = entry.mid(slash + 1);
        if (!digits.match(prefixPart).hasMatch())
            return false;
        prefix = prefixPart.toInt();
        if (prefix > maxPrefix)
            return false;
    }
    // An IPv4-mapped entry means the IPv4 peer it maps.
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (isV6 && mapped) {
        if (prefix < 96)
            return false;
        address = QHostAddress(v4);
        prefix -= 96;
    }
    *range = Range{address, prefix};
    return true;
}

AccessPolicy AccessPolicy::fromAllowFrom(const QString& text, QStringList* logLines)
{
    AccessPolicy policy;
    if (logLines)
        logLines->clear();
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    const QStringList entries = text.split(separators, Qt::SkipEmptyParts);
    if (entries.isEmpty())
        return policy;

    policy.m_everyone = false;
    QStringList lines;
    QStringList accepted;
    for (const QString& entry : entries) {
        Range range;
        if (parseEntry(entry, &range)) {
            policy.m_ranges.append(range);
            accepted.append(entry);
        } else {
            lines.append(QStringLiteral("Socket: allowFrom Ignored entry=[") + entry +
                         QStringLiteral("] (not an address or address/prefix range)"));
        }
    }
    if (policy.m_ranges.isEmpty()) {
        policy.m_loopbackOnly = true;
        lines.append(QStringLiteral(
            "Socket: allowFrom has no valid entry; only loopback (127.0.0.0/8, ::1) is served"));
    } else {
        lines.append(QStringLiteral("Socket: allowFrom=[") + accepted.join(QLatin1Char(' ')) +
                     QLatin1Char(']'));
    }
    if (logLines)
        *logLines = lines;
    return policy;
}

bool AccessPolicy::allows(const QHostAddress& peer) const
{
    if (m_everyone)
        return true;
    const QHostAddress address = plainAddress(peer);
    if (m_loopbackOnly)
        return address.isLoopback();
    for (const Range& range : m_ranges) {
        if (address.isInSubnet(range.network, range.prefixLength))
            return true;
    }
    return false;
}
