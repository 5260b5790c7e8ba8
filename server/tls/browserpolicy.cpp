#include "tls/browserpolicy.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "request/originlist.h"

QByteArray browserPolicy(const QString& originsSetting)
{
    QJsonArray origins;
    for (const QString& origin : OriginList(originsSetting).origins())
        origins.append(origin);
    const QJsonObject policy{{QStringLiteral("LocalNetworkAccessAllowedForUrls"), origins}};
    return QJsonDocument(policy).toJson(QJsonDocument::Indented);
}
