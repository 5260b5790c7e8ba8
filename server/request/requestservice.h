#pragma once

#include <list>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include "core/telemetry.h"
#include "log/throttledline.h"
#include "request/outcome.h"
#include "request/pairinglock.h"
#include "request/reply.h"
#include "request/requester.h"
#include "request/tillkeys.h"

class ActivityLog;
class Operation;
class RequestDispatcher;
struct ParsedRequest;
struct RequestValues;

// The request service, whatever door a request came through: runs one transaction per
// receipt (log frame, parse, dispatch) and sends each reply to the requester that asked. A
// transaction whose operation waits on a device ends when the operation returns its reply;
// meanwhile other requests are served as they come. A STATUS is logged as one line, at most
// once a second with a count, so that tills polling it do not push the history out of the log.
// A request with a till's key is served only when the key is a registered till's; with
// `requireKey`, every request but VERSION, STATUS and PAIR needs one. A PAIR trades a waiting
// till's code for its key, only where the key cannot be read on its way: over TLS or wss, or
// from this machine.
class RequestService
{
public:
    // UNIQU names its file in `signaturesFolder`. Requests, replies and operation times are
    // reported to `telemetry`. Keys are checked against `tills`.
    RequestService(ActivityLog& log, RequestDispatcher& dispatcher, QString signaturesFolder,
                   Telemetry& telemetry = Telemetry::none(), TillKeys& tills = TillKeys::none(),
                   bool requireKey = false);
    ~RequestService();
    RequestService(const RequestService&) = delete;
    RequestService& operator=(const RequestService&) = delete;

    // Runs one receipt's transaction with its reply going to `requester`, which may have gone
    // (and be null) by then: the request still runs (an ABORT still counts), only its reply
    // fails.
    void serve(Requester* requester, const QString& address, const QByteArray& bytes);
    // The program is closing: every operation under way stops without a reply.
    void close();
    // The till `name` has been revoked: every connection that was served with its key closes
    // now.
    void tillRemoved(const QString& name);
    // A connection that sends no request with a valid key within this many seconds is closed,
    // where every request needs a key.
    static constexpr int kKeyDeadlineSeconds = 10;
    // The seconds a new connection has to show a key; 0 when keys are not required.
    int keyDeadlineSeconds() const { return m_requireKey ? kKeyDeadlineSeconds : 0; }
    // Operations under way.
    int operationsUnderWay() const { return int(m_underWay.size()); }
    // Whether an operation under way will answer `requester`: its client waits for a reply.
    bool isAnswering(const Requester* requester) const;

private:
    struct Transaction
    {
        QPointer<Requester> requester;
        std::unique_ptr<Operation> operation;
        bool ended = false;
        // Timed from the request's arrival, when it is a customer operation.
        std::optional<OperationKind> kind;
        QElapsedTimer sinceRequest;
        // The requester's leaving, which ends the operation at once.
        QMetaObject::Connection gone;
        QMetaObject::Connection destroyed;
    };

    // Whether `request` may be served: nothing when it may, with its till's name when it came
    // with a valid key; else the refusal, already logged and counted, with the reply it gets.
    struct Admitted
    {
        bool refused = false;
        std::optional<Outcome> refusal;
        std::optional<QString> till;
    };
    Admitted admit(const ParsedRequest& request, Requester* requester, const QString& address);
    void runTransaction(const QPointer<Requester>& requester, const QString& address,
                        const QString& text);
    // What a PAIR from `requester` at `address` led to.
    Outcome pairTill(const RequestValues& values, Requester* requester, const QString& address);
    // Answers a STATUS without its transaction's lines; a requester that has gone gets nothing.
    void answerStatusPoll(const ParsedRequest& request, Requester* requester,
                          const QString& address);
    // Starts the operation of a transaction and follows its requester.
    void startOperation(Transaction& transaction);
    void finish(Transaction& transaction, const Outcome& outcome);
    // Writes the outcome's reply (when it has one) and sends it; Failure when the requester
    // has gone.
    void answer(const Outcome& outcome, Requester* requester);
    // Cleans the text, logs it (or only that it went out) and sends it; Failure when the
    // requester has gone.
    void return_xml(const Reply& reply, Requester* requester);
    void logFailure(int code);
    void dropEnded();

    ActivityLog& m_log;
    RequestDispatcher& m_dispatcher;
    QString m_signaturesFolder;
    Telemetry& m_telemetry;
    ThrottledLine m_statusPolls;
    TillKeys& m_tills;
    bool m_requireKey;
    ThrottledLine m_keyRefusals;
    PairingLock m_pairingLock;
    // The connections each till's key came over, to close when the till is revoked.
    std::map<QString, std::vector<QPointer<Requester>>> m_tillConnections;
    std::list<std::unique_ptr<Transaction>> m_underWay;
    // Ended transactions are freed from the event loop, never inside their own operation.
    QObject m_sweeper;
    bool m_sweepPosted = false;
};
