#include "request/requestservice.h"

#include <new>

#include "core/failure.h"
#include "log/activitylog.h"
#include "request/operation.h"
#include "request/replyoutcome.h"
#include "request/replytext.h"
#include "request/requestdispatcher.h"
#include "request/requestparser.h"
#include "request/requestvalues.h"

namespace {

// The customer operation a request starts, for its timing.
std::optional<OperationKind> operationKind(const RequestValues& request)
{
    if (request.transType == QLatin1String("QP6100") && request.action == QLatin1String("1"))
        return OperationKind::Swipe;
    if (request.transType == QLatin1String("QP6100") && request.action == QLatin1String("2"))
        return OperationKind::Signature;
    if (request.transType == QLatin1String("1000SE"))
        return OperationKind::Pin;
    return std::nullopt;
}

} // namespace

RequestService::RequestService(ActivityLog& log, RequestDispatcher& dispatcher,
                               QString signaturesFolder, Telemetry& telemetry)
    : m_log(log), m_dispatcher(dispatcher), m_signaturesFolder(std::move(signaturesFolder)),
      m_telemetry(telemetry)
{
}

RequestService::~RequestService()
{
    close();
}

void RequestService::serve(Requester* requester, const QString& address, const QByteArray& bytes)
{
    runTransaction(QPointer<Requester>(requester), address, QString::fromLatin1(bytes));
}

void RequestService::runTransaction(const QPointer<Requester>& requester, const QString& address,
                                    const QString& text)
{
    QElapsedTimer sinceRequest;
    sinceRequest.start();
    m_log.log(QStringLiteral("Socket: Transaction Start ") + ActivityLog::log_separator());
    try {
        const ParsedRequest request = parseRequest(text, m_signaturesFolder);
        for (const QString& line : request.logLines)
            m_log.log(line);
        Dispatched dispatched;
        const bool parsed = request.outcome == ParsedRequest::Outcome::Parsed;
        if (parsed)
            m_telemetry.requestReceived(request.values.transType);
        // A request refused as busy changes nothing, its TIMER included.
        if (std::optional<Reply> refusal =
                parsed ? m_dispatcher.busyRefusal(request.values, address) : std::nullopt) {
            dispatched.reply = std::move(refusal);
        } else if (parsed) {
            dispatched = m_dispatcher.dispatch(request.values, request.padTimeout, [requester] {
                return !requester || !requester->isConnected();
            });
        } else {
            m_dispatcher.applyTimer(request.padTimeout);
            if (request.outcome == ParsedRequest::Outcome::Failed)
                throw Failure(request.failureCode);
        }
        if (dispatched.operation) {
            m_underWay.push_back(std::make_unique<Transaction>(
                Transaction{requester, std::move(dispatched.operation), false,
                            operationKind(request.values), sinceRequest}));
            Transaction& transaction = *m_underWay.back();
            try {
                transaction.operation->start(
                    [this, &transaction](const std::optional<Reply>& reply) {
                        finish(transaction, reply);
                    });
            } catch (...) {
                // An operation that could not start holds nothing.
                if (!transaction.ended)
                    m_underWay.pop_back();
                throw;
            }
            return;
        }
        if (dispatched.reply)
            return_xml(*dispatched.reply, requester.data());
        m_log.log(QStringLiteral("Socket: Transaction End ") + ActivityLog::log_separator());
    } catch (const Failure& failure) {
        logFailure(failure.code());
    } catch (const std::bad_alloc&) {
        logFailure(7);
    } catch (const std::exception&) {
        logFailure(51);
    }
}

void RequestService::finish(Transaction& transaction, const std::optional<Reply>& reply)
{
    if (transaction.ended)
        return;
    transaction.ended = true;
    if (reply && transaction.kind)
        m_telemetry.operationTook(*transaction.kind,
                                  double(transaction.sinceRequest.nsecsElapsed()) / 1e9);
    bool sent = true;
    try {
        if (reply)
            return_xml(*reply, transaction.requester.data());
    } catch (const Failure& failure) {
        logFailure(failure.code());
        sent = false;
    }
    transaction.operation->afterReply();
    if (sent)
        m_log.log(QStringLiteral("Socket: Transaction End ") + ActivityLog::log_separator());
    if (!m_sweepPosted) {
        m_sweepPosted = true;
        QMetaObject::invokeMethod(
            &m_sweeper, [this] { dropEnded(); }, Qt::QueuedConnection);
    }
}

void RequestService::dropEnded()
{
    m_sweepPosted = false;
    m_underWay.remove_if([](const std::unique_ptr<Transaction>& t) { return t->ended; });
}

void RequestService::close()
{
    // An operation may still answer as it closes (its interrupted error); then it has ended.
    for (const std::unique_ptr<Transaction>& transaction : m_underWay)
        if (!transaction->ended)
            transaction->operation->close();
    m_underWay.clear();
}

void RequestService::return_xml(const Reply& reply, Requester* requester)
{
    const QString xml = strRemoveNonPrintableChars(reply.xml);
    // The one place where every device's reply passes: how it ended is read here, also when
    // the client has gone and cannot take it.
    if (const std::optional<ReplyKind> kind = replyKind(xml))
        m_telemetry.replySent(kind->device, kind->outcome);
    m_log.log(reply.skipDebug ? QStringLiteral("return_xml: skipDebug=true")
                              : QStringLiteral("return_xml: ") + xml);
    if (!requester || !requester->isConnected())
        throw Failure(FailureCode::ConnectionClosed);
    // A send to a peer that has gone may announce the close inside it; nothing here touches
    // the requester afterwards.
    requester->send(xml.toLatin1());
}

void RequestService::logFailure(int code)
{
    m_log.log(QStringLiteral("Socket: DataArrival ") + errorNumberText(code));
}
