#pragma once

#include <optional>

#include <QString>

// The registered tills as the request service checks them: which till a key belongs to, and
// when and from where each was last served. The keys themselves are never kept, only what
// identifies them.
class TillKeys
{
public:
    virtual ~TillKeys() = default;

    // The name of the till whose key `key` is; nothing for a key of no registered till.
    virtual std::optional<QString> tillOf(const QString& key) = 0;
    // The till `name` was served a request from `address` just now.
    virtual void used(const QString& name, const QString& address) = 0;

    // No till registered, for a service built without a registry.
    static TillKeys& none();
};
