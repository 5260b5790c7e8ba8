#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// Which peer addresses may send requests, from the `[Local] allowFrom` setting: addresses and
// CIDR ranges, IPv4 and IPv6, separated by commas or blanks. Shared by every door of the
// request service.
class AccessPolicy
{
public:
    // Everyone may ask.
    AccessPolicy() = default;

    // Reads an allowFrom text. Empty: everyone. A malformed entry is left out, with a log line
    // in `logLines`; when no entry is usable only loopback peers are served, never everyone.
    static AccessPolicy fromAllowFrom(const QString& text, QStringList* logLines = nullptr);

    bool allows(const QHostAddress& peer) const;
    bool allowsEveryone() const { return m_everyone; }

private:
    struct Range
    {
        QHostAddress network;
        int prefixLength;
    };
    static bool parseEntry(const QString& entry, Range* range);

    bool m_everyone = true;
    bool m_loopbackOnly = false;
    QList<Range> m_ranges;
};
