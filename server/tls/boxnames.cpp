#include "tls/boxnames.h"

#include <netdb.h>
#include <sys/socket.h>

#include <QHostInfo>
#include <QNetworkInterface>

namespace {

// The resolver's canonical name for `host`, empty when it has none.
QString canonicalName(const QString& host)
{
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.toLocal8Bit().constData(), nullptr, &hints, &found) != 0)
        return {};
    const QString name =
        found && found->ai_canonname ? QString::fromLocal8Bit(found->ai_canonname) : QString();
    ::freeaddrinfo(found);
    return name;
}

} // namespace

QStringList boxNames()
{
    QStringList names;
    auto add = [&names](const QString& name) {
        if (!name.isEmpty() && !names.contains(name, Qt::CaseInsensitive))
            names << name;
    };
    const QString host = QHostInfo::localHostName();
    add(host);
    const QString domain = QHostInfo::localDomainName();
    if (!host.contains(QLatin1Char('.')) && !domain.isEmpty())
        add(host + QLatin1Char('.') + domain);
    add(canonicalName(host));
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv6Protocol && address.isLinkLocal())
            continue;
        add(address.toString());
    }
    add(QStringLiteral("localhost"));
    add(QStringLiteral("127.0.0.1"));
    add(QStringLiteral("::1"));
    return names;
}
