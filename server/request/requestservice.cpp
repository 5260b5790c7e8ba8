#include "request/requestservice.h"

#include <algorithm>
#include <new>

#include <QHostAddress>

#include "core/failure.h"
#include "log/activitylog.h"
#include "request/operation.h"
#include "request/replyformatter.h"
#include "request/requestdispatcher.h"
#include "request/requestkind.h"
#include "request/requestparser.h"
#include "request/requestvalues.h"

namespace {

// The root element a refused request is answered in; nothing for a request that gets no
// reply (ABORT, a bare TIMER, an unknown TRANS).
std::optional<DeviceId> refusalRoot(RequestKind kind)
{
    switch (kind) {
    case RequestKind::Swipe:
    case RequestKind::Signature:
    case RequestKind::PadCommand:
        return DeviceId::Pad;
    case RequestKind::PinEntry:
    case RequestKind::PinCommand:
        return DeviceId::PinPad;
    default:
        return std::nullopt;
    }
}

} // namespace

RequestService::RequestService(ActivityLog& log, RequestDispatcher& dispatcher,
                               QString signaturesFolder, Telemetry& telemetry, TillKeys& tills,
                               bool requireKey)
    : m_log(log), m_dispatcher(dispatcher), m_signaturesFolder(std::move(signaturesFolder)),
      m_telemetry(telemetry),
      m_statusPolls([this](const QString& line) { m_log.log(line); },
                    [](int count, const QString& address) {
                        return ThrottledLine::withCount(QStringLiteral("Socket: STATUS ip=[") +
                                                            address + QLatin1Char(']'),
                                                        count);
                    }),
      m_tills(tills), m_requireKey(requireKey),
      m_keyRefusals([this](const QString& line) { m_log.log(line); },
                    [](int count, const QString& address) {
                        return ThrottledLine::withCount(
                            QStringLiteral("Socket: DataArrival Not Authorised ip=[") + address +
                                QLatin1Char(']'),
                            count);
                    })
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
    bool framed = false;
    const auto startFrame = [this, &framed] {
        framed = true;
        m_log.log(QStringLiteral("Socket: Transaction Start ") + ActivityLog::log_separator());
    };
    // A failure is logged inside its transaction's frame, also one that came before it began.
    const auto failed = [&](int code) {
        if (!framed)
            startFrame();
        logFailure(code);
    };
    try {
        const ParsedRequest request = parseRequest(text, m_signaturesFolder);
        if (m_dispatcher.isStatusPoll(request)) {
            answerStatusPoll(request, requester.data(), address);
            return;
        }
        startFrame();
        for (const QString& line : request.logLines)
            m_log.log(line);
        if (request.outcome == ParsedRequest::Outcome::Parsed)
            m_telemetry.requestReceived(request.values.transType);
        const Admitted admitted = admit(request, requester.data(), address);
        if (admitted.refused) {
            if (admitted.refusal)
                answer(*admitted.refusal, requester.data());
            m_log.log(QStringLiteral("Socket: Transaction End ") + ActivityLog::log_separator());
            return;
        }
        if (admitted.till)
            m_log.log(QStringLiteral("Socket: Till name=[") + *admitted.till + QLatin1Char(']'));
        if (request.outcome == ParsedRequest::Outcome::Parsed &&
            classify(request.values) == RequestKind::Pair) {
            answer(pairTill(request.values, requester.data(), address), requester.data());
            m_log.log(QStringLiteral("Socket: Transaction End ") + ActivityLog::log_separator());
            return;
        }
        Dispatched dispatched = m_dispatcher.dispatch(request, address);
        if (dispatched.operation) {
            m_underWay.push_back(
                std::make_unique<Transaction>(Transaction{requester,
                                                          std::move(dispatched.operation),
                                                          false,
                                                          dispatched.timed,
                                                          sinceRequest,
                                                          {},
                                                          {}}));
            startOperation(*m_underWay.back());
            return;
        }
        if (dispatched.outcome)
            answer(*dispatched.outcome, requester.data());
        m_log.log(QStringLiteral("Socket: Transaction End ") + ActivityLog::log_separator());
    } catch (const Failure& failure) {
        failed(failure.code());
    } catch (const std::bad_alloc&) {
        failed(7);
    } catch (const std::exception&) {
        failed(51);
    }
}

RequestService::Admitted RequestService::admit(const ParsedRequest& request, Requester* requester,
                                               const QString& address)
{
    // Text without a piece asks for nothing.
    if (request.outcome == ParsedRequest::Outcome::NoSemicolon)
        return {};
    const RequestKind kind = classify(request.values);
    // A till pairs to get a key: one it sent along, old or new, does not matter.
    if (kind == RequestKind::Pair)
        return {};
    const std::optional<QString> till =
        request.values.key ? m_tills.tillOf(*request.values.key) : std::nullopt;
    if (till) {
        m_telemetry.tillServed(*till);
        m_tills.used(*till, address);
        if (requester) {
            requester->keyShown();
            std::vector<QPointer<Requester>>& connections = m_tillConnections[*till];
            std::erase_if(connections, [](const QPointer<Requester>& r) { return r.isNull(); });
            if (std::find(connections.begin(), connections.end(), requester) == connections.end())
                connections.emplace_back(requester);
        }
        return {false, std::nullopt, till};
    }
    // A till asking what version serves it, or how the devices are, needs no key.
    if (kind == RequestKind::Version || kind == RequestKind::Status)
        return {};
    // A till that sends a key means it: a wrong one is refused even where none is needed.
    if (!request.values.key && !m_requireKey)
        return {};
    m_keyRefusals.happened(address);
    m_telemetry.keyRefused();
    Admitted refused{true, std::nullopt, std::nullopt};
    if (const std::optional<DeviceId> root = refusalRoot(kind))
        refused.refusal = outcome::NotAuthorised{*root};
    return refused;
}

Outcome RequestService::pairTill(const RequestValues& values, Requester* requester,
                                 const QString& address)
{
    using Refused = outcome::PairingRefused;
    if (!(requester && requester->isEncrypted()) && !QHostAddress(address).isLoopback())
        return Refused{Refused::Reason::NeedsTls};
    if (m_pairingLock.isLocked())
        return Refused{Refused::Reason::Locked};
    const TillKeys::Pairing pairing = m_tills.pair(values.code, address);
    switch (pairing.result) {
    case TillKeys::Pairing::Result::Paired:
        m_pairingLock.paired();
        if (requester)
            requester->keyShown();
        return outcome::Paired{pairing.till, pairing.key};
    case TillKeys::Pairing::Result::TryAgain:
        return Refused{Refused::Reason::TryAgain};
    case TillKeys::Pairing::Result::WrongCode:
        break;
    }
    if (m_pairingLock.wrongCode())
        m_log.log(QStringLiteral("Socket: Pairing Locked seconds=[%1] after %2 wrong codes")
                      .arg(PairingLock::kLockedMs / 1000)
                      .arg(PairingLock::kWrongCodesAllowed));
    return Refused{Refused::Reason::WrongCode};
}

void RequestService::tillRemoved(const QString& name)
{
    const auto found = m_tillConnections.find(name);
    if (found == m_tillConnections.end())
        return;
    const std::vector<QPointer<Requester>> connections = std::move(found->second);
    m_tillConnections.erase(found);
    // A hang-up may announce the close inside it, which ends an operation the till waits on.
    for (const QPointer<Requester>& requester : connections)
        if (requester)
            requester->hangUp();
}

void RequestService::answerStatusPoll(const ParsedRequest& request, Requester* requester,
                                      const QString& address)
{
    m_telemetry.requestReceived(request.values.transType);
    if (request.values.key)
        admit(request, requester, address);
    const Dispatched dispatched = m_dispatcher.dispatch(request, address);
    m_statusPolls.happened(address);
    const std::optional<Reply> reply =
        dispatched.outcome ? replyFor(*dispatched.outcome) : std::nullopt;
    if (reply && requester && requester->isConnected())
        requester->send(strRemoveNonPrintableChars(reply->xml).toLatin1());
}

void RequestService::startOperation(Transaction& transaction)
{
    try {
        transaction.operation->start(
            [this, &transaction](const Outcome& outcome) { finish(transaction, outcome); });
    } catch (...) {
        // An operation that could not start holds nothing.
        if (!transaction.ended)
            m_underWay.pop_back();
        throw;
    }
    if (transaction.ended)
        return;
    Requester* requester = transaction.requester.data();
    if (!requester || !requester->isConnected()) {
        transaction.operation->clientGone();
        return;
    }
    const auto leave = [this, &transaction] {
        if (!transaction.ended)
            transaction.operation->clientGone();
    };
    transaction.gone = QObject::connect(requester, &Requester::gone, &m_sweeper, leave);
    transaction.destroyed = QObject::connect(requester, &QObject::destroyed, &m_sweeper, leave);
}

void RequestService::finish(Transaction& transaction, const Outcome& outcome)
{
    if (transaction.ended)
        return;
    transaction.ended = true;
    QObject::disconnect(transaction.gone);
    QObject::disconnect(transaction.destroyed);
    const bool replies = !std::holds_alternative<outcome::ClientGone>(outcome);
    if (replies && transaction.kind)
        m_telemetry.operationTook(*transaction.kind,
                                  double(transaction.sinceRequest.nsecsElapsed()) / 1e9);
    bool sent = true;
    try {
        answer(outcome, transaction.requester.data());
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

void RequestService::answer(const Outcome& outcome, Requester* requester)
{
    const std::optional<Reply> reply = replyFor(outcome);
    if (!reply)
        return;
    // The one place where every device's reply passes: how it ended is counted here, also
    // when the client has gone and cannot take it.
    if (const std::optional<DeviceId> device = deviceOf(outcome))
        m_telemetry.replySent(*device, endingOf(outcome), deviceAtFault(outcome));
    return_xml(*reply, requester);
}

void RequestService::dropEnded()
{
    m_sweepPosted = false;
    m_underWay.remove_if([](const std::unique_ptr<Transaction>& t) { return t->ended; });
}

bool RequestService::isAnswering(const Requester* requester) const
{
    return std::any_of(m_underWay.begin(), m_underWay.end(),
                       [requester](const std::unique_ptr<Transaction>& t) {
                           return !t->ended && t->requester == requester;
                       });
}

void RequestService::close()
{
    // An operation may still answer as it closes (its interrupted error); then it has ended.
    for (const std::unique_ptr<Transaction>& transaction : m_underWay) {
        QObject::disconnect(transaction->gone);
        QObject::disconnect(transaction->destroyed);
        if (!transaction->ended)
            transaction->operation->close();
    }
    m_underWay.clear();
}

void RequestService::return_xml(const Reply& reply, Requester* requester)
{
    const QString xml = strRemoveNonPrintableChars(reply.xml);
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
