#pragma once

#include <optional>

#include <QString>

// The registered tills as the request service checks them: which till a key belongs to, and
// when and from where each was last served; and the pairing of a waiting till by its code.
// The keys themselves are never kept, only what identifies them.
class TillKeys
{
public:
    // What a pairing code led to: the new till and its key, or why not.
    struct Pairing
    {
        enum class Result {
            Paired,
            WrongCode, // no till waits with this code, or its time is up
            TryAgain,  // the till could not be registered just now; the code still works
        };
        Result result = Result::WrongCode;
        QString till;
        QString key;
    };

    virtual ~TillKeys() = default;

    // The name of the till whose key `key` is; nothing for a key of no registered till.
    virtual std::optional<QString> tillOf(const QString& key) = 0;
    // The till `name` was served a request from `address` just now.
    virtual void used(const QString& name, const QString& address) = 0;
    // Registers the till that waits with `code`, asked for from `address`; the code is used up.
    virtual Pairing pair(const QString& code, const QString& address) = 0;

    // No till registered, for a service built without a registry.
    static TillKeys& none();
};
