#include "request/requestservice.h"

#include <new>

#include "core/failure.h"
#include "core/padtimeout.h"
#include "log/activitylog.h"
#include "request/replytext.h"
#include "request/requestdispatcher.h"
#include "request/requestparser.h"

RequestService::RequestService(ActivityLog& log, PadTimeout& padTimeout, QString signaturesFolder)
    : m_log(log), m_padTimeout(padTimeout), m_signaturesFolder(std::move(signaturesFolder))
{
}

void RequestService::serve(Requester* requester, const QString& address, const QByteArray& bytes)
{
    m_serving.append(Serving{requester, address});
    runTransaction(QString::fromLatin1(bytes));
    m_serving.removeLast();
}

void RequestService::runTransaction(const QString& text)
{
    m_log.log(QStringLiteral("Socket: Transaction Start ") + ActivityLog::log_separator());
    try {
        const ParsedRequest request = parseRequest(text, m_signaturesFolder);
        for (const QString& line : request.logLines)
            m_log.log(line);
        if (request.padTimeout)
            m_padTimeout.setSeconds(*request.padTimeout);
        if (request.outcome == ParsedRequest::Outcome::Failed)
            throw Failure(request.failureCode);
        if (request.outcome == ParsedRequest::Outcome::Parsed && m_dispatcher)
            m_dispatcher->dispatch(request.values);
        m_log.log(QStringLiteral("Socket: Transaction End ") + ActivityLog::log_separator());
    } catch (const Failure& failure) {
        m_log.log(QStringLiteral("Socket: DataArrival ") + errorNumberText(failure.code()));
    } catch (const std::bad_alloc&) {
        m_log.log(QStringLiteral("Socket: DataArrival ") + errorNumberText(7));
    } catch (const std::exception&) {
        m_log.log(QStringLiteral("Socket: DataArrival ") + errorNumberText(51));
    }
}

void RequestService::return_xml(QString& xml, bool skipDebug)
{
    xml = strRemoveNonPrintableChars(xml);
    m_log.log(skipDebug ? QStringLiteral("return_xml: skipDebug=true")
                        : QStringLiteral("return_xml: ") + xml);
    Requester* target = m_serving.isEmpty() ? nullptr : m_serving.last().requester.data();
    if (!target || !target->isConnected())
        throw Failure(FailureCode::ConnectionClosed);
    // A send to a peer that has gone may announce the close inside it; nothing here touches
    // the requester afterwards.
    target->send(xml.toLatin1());
}

QString RequestService::requesterAddress() const
{
    return m_serving.isEmpty() ? QString() : m_serving.last().address;
}

StopWhen RequestService::requesterGone() const
{
    if (m_serving.isEmpty())
        return [] { return false; };
    return [requester = m_serving.last().requester] {
        return !requester || !requester->isConnected();
    };
}
