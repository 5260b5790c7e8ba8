#pragma once

#include <chrono>

#include <QString>

#include "request/replychannel.h"

// The reply side of an in-process signature capture: notes when the answer leaves and whether
// it was the saved one.
class TimedReplies final : public ReplyChannel
{
public:
    std::chrono::steady_clock::time_point sent;
    bool saved = false;
    void return_xml(QString& xml, bool) override
    {
        sent = std::chrono::steady_clock::now();
        saved = xml.startsWith(QStringLiteral("<QP6100><SIGNATURE>OK"));
    }
    QString requesterAddress() const override { return QStringLiteral("127.0.0.1"); }
    StopWhen requesterGone() const override
    {
        return [] { return false; };
    }
};
