#pragma once

#include <optional>

#include <QString>

// The values of one request, filled by its pieces; each request starts from these.
struct RequestValues
{
    QString transType;
    QString action;
    QString account;
    QString name;
    QString total;
    QString creditCard;
    bool doFtp = false;
    QString ftpPath = QStringLiteral("/vm/tavok/dsk37/170170/");
    QString sigFile;
    // The till's key, when the request carries one; never logged.
    std::optional<QString> key;
    // The pairing code of a PAIR; never logged either.
    QString code;
};
