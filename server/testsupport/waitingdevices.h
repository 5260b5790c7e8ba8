#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "request/deviceoperations.h"
#include "request/operation.h"

class WaitingLine;

// An operation that waits until the test ends it; it ends at once when its client goes.
class WaitingOperation final : public Operation
{
public:
    explicit WaitingOperation(WaitingLine& line) : m_line(line) {}
    ~WaitingOperation() override;

    void start(Finished done) override { m_finished = std::move(done); }
    void clientGone() override { end(outcome::ClientGone{}); }
    void close() override;
    void end(Outcome outcome);

    // What the operation does as the program closes, with its way to answer.
    std::function<void(Finished&)> closing;

private:
    Finished m_finished;
    WaitingLine& m_line;
};

// The operations still waiting, oldest first; the test ends the oldest.
class WaitingLine
{
public:
    std::unique_ptr<Operation> make()
    {
        auto operation = std::make_unique<WaitingOperation>(*this);
        waiting.push_back(operation.get());
        return operation;
    }
    // Ends the oldest waiting operation with `outcome`.
    void answer(Outcome outcome) { waiting.front()->end(std::move(outcome)); }
    void forget(WaitingOperation* operation) { std::erase(waiting, operation); }

    std::vector<WaitingOperation*> waiting;
    int closings = 0;
};

inline WaitingOperation::~WaitingOperation()
{
    m_line.forget(this);
}

inline void WaitingOperation::close()
{
    ++m_line.closings;
    m_line.forget(this);
    if (closing)
        closing(m_finished);
}

inline void WaitingOperation::end(Outcome outcome)
{
    m_line.forget(this);
    finishOnce(m_finished, std::move(outcome));
}

// A pad whose swipes and signatures wait for the test; it counts what reached it.
class WaitingPad final : public PadOperations, public WaitingLine
{
public:
    bool enabled = true;
    int clears = 0;
    int welcomes = 0;
    std::vector<SignatureRequest> signatures;

    bool pad_enabled(bool) override { return enabled; }
    void clear_padVars() override { ++clears; }
    std::unique_ptr<Operation> qp6100_get_swipe() override
    {
        ++clears;
        return make();
    }
    std::unique_ptr<Operation> qp6100_get_signature(const SignatureRequest& request) override
    {
        ++clears;
        signatures.push_back(request);
        return make();
    }
    void pad_welcome() override { ++welcomes; }
};

// A PIN pad whose entries wait for the test; it keeps the requests it was given.
class WaitingPinPad final : public PinPadOperations, public WaitingLine
{
public:
    std::vector<PinRequest> requests;

    std::unique_ptr<Operation> pinPad1000se_get_pin(const PinRequest& request) override
    {
        requests.push_back(request);
        return make();
    }
};
