#pragma once

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>

#include "request/replychannel.h"
#include "request/requester.h"

class ActivityLog;
class PadTimeout;
class RequestDispatcher;

// The request service, whatever door a request came through: runs one transaction per
// receipt (log frame, parse, TIMER, dispatch) and sends each reply to the requester whose
// request is being served, also while other requests run nested inside a waiting operation.
class RequestService final : public ReplyChannel
{
public:
    // A request's TIMER sets `padTimeout`, which the device operations read. UNIQU names its
    // file in `signaturesFolder`.
    RequestService(ActivityLog& log, PadTimeout& padTimeout, QString signaturesFolder);

    // The dispatcher that runs parsed requests; set before the first request.
    void setDispatcher(RequestDispatcher* dispatcher) { m_dispatcher = dispatcher; }

    // Runs one receipt's transaction with its replies going to `requester`, which may have
    // gone (and be null) by then: the request still runs (an ABORT still counts), only its
    // replies fail.
    void serve(Requester* requester, const QString& address, const QByteArray& bytes);

    void return_xml(QString& xml, bool skipDebug) override;
    QString requesterAddress() const override;
    StopWhen requesterGone() const override;

private:
    struct Serving
    {
        QPointer<Requester> requester;
        QString address;
    };

    void runTransaction(const QString& text);

    ActivityLog& m_log;
    PadTimeout& m_padTimeout;
    QString m_signaturesFolder;
    RequestDispatcher* m_dispatcher = nullptr;
    // The requests being served, innermost last: replies go to the last.
    QList<Serving> m_serving;
};
