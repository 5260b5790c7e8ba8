#pragma once

#include <optional>

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

// The web pages that may open the WebSocket port, from `[WebSocket] Origins`: exact origins
// (`scheme://host:port`) separated by commas or blanks.
class OriginList
{
public:
    explicit OriginList(const QString& setting = {});

    // A handshake without an Origin header comes from a program, not a page, and is allowed;
    // a page's origin must be listed.
    bool allows(const QString& origin) const;
    // The listed origins, normalised (lower case, no trailing "/"), sorted.
    QStringList origins() const;

private:
    static QString normalised(const QString& origin);

    QSet<QString> m_origins;
};

// The Origin header of an HTTP request head (the bytes up to the blank line), empty when it has
// none. Nothing when `head` does not yet hold the whole head.
std::optional<QString> handshakeOrigin(const QByteArray& head);
