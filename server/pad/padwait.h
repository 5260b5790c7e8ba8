#pragma once

#include <memory>

#include <QString>

#include "core/scheduler.h"
#include "pad/padcontext.h"
#include "request/operation.h"

// What the swipe and the signature share: the enabled check, the waiting limit, a step every
// half second that reads the pad, the time-out, the client's leaving and the program's
// closing. Steps fall on whole half seconds after the start on the monotonic clock and never
// come early, so with a limit of T seconds the pad is read 2T-1 times and the wait times out
// at the 2T-th step. The limit is read afresh at every step, so a TIMER served during the
// wait counts at once.
class PadWait : public Operation
{
public:
    // Length of one waiting step.
    static constexpr int kStepMs = 500;

    void start(Finished finished) final;
    // Ends the wait at once: the welcome form, no reply.
    void clientGone() override;
    // Ends a wait at once as an interrupted one: its error line and reply ("Error( 18)").
    void close() override;
    // The pad's variables are cleared once the reply has gone out.
    void afterReply() override;

protected:
    // How the operation's log lines and replies name it.
    struct Naming
    {
        // "qp6100_get_swipe": what its log lines start with.
        QString logName;
        // What its time-out line says after the name.
        QString timeoutText;
        OperationKind operation;
    };

    PadWait(const PadContext& pad, Naming naming);

    // The outcome while the pad is not enabled.
    virtual Outcome notEnabled() const = 0;
    // Logs what precedes the wait and shows the form it waits on; a Failure ends the wait.
    virtual void prepare() = 0;
    // Reads the pad once; true when the wait is over (the operation has finished, or gone on
    // to work of its own). A Failure ends the wait.
    virtual bool readPad() = 0;

    // Ends the operation with `outcome`, once.
    void finish(Outcome outcome);
    // Logs the failure numbered `code` and ends with its error reply.
    void fail(int code);
    // A pad variable read holds something: neither empty nor the driver's lone NUL.
    static bool holdsData(const QString& value)
    {
        return !value.isEmpty() && value != QString(QChar(0));
    }
    // Still owes its requester a reply.
    bool answering() const { return bool(m_finished); }
    void log(const QString& text);

    PadContext m_pad;

private:
    void scheduleStep();
    void step();

    Naming m_naming;
    Finished m_finished;
    qint64 m_startedMs = 0;
    // Whole steps since the start, as of the last step taken.
    int m_steps = 0;
    std::unique_ptr<ScheduledCall> m_step;
};
