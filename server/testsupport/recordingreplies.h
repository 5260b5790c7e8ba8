#pragma once

#include <vector>

#include <QString>
#include <QStringList>

#include "request/replychannel.h"
#include "request/replytext.h"

// A reply channel that keeps every reply instead of sending it. Like the real channel it
// cleans the text to printable ASCII and hands the cleaned text back to the caller.
class RecordingReplies final : public ReplyChannel
{
public:
    struct Reply
    {
        QString xml;
        bool skipDebug = false;
    };

    // Every reply so far, cleaned, in the order they were sent.
    std::vector<Reply> replies;
    // The requester's address, and whether it has gone (a test sets it to end a wait).
    QString address = QStringLiteral("127.0.0.1");
    bool gone = false;

    QString requesterAddress() const override { return address; }
    StopWhen requesterGone() const override
    {
        return [this] { return gone; };
    }

    void return_xml(QString& xml, bool skipDebug) override
    {
        xml = strRemoveNonPrintableChars(xml);
        replies.push_back({xml, skipDebug});
    }

    // The replies' texts alone, in order.
    QStringList texts() const
    {
        QStringList result;
        for (const Reply& reply : replies)
            result.append(reply.xml);
        return result;
    }
};
