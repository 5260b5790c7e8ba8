#pragma once

class ActivityLog;
class QString;
class PadOperations;
class PinPadOperations;
class ReplyChannel;
struct RequestValues;

// Chooses the operation a parsed request names, by its TRANS and ACTION values.
class RequestDispatcher
{
public:
    RequestDispatcher(ActivityLog& log, ReplyChannel& replies, PadOperations& pad,
                      PinPadOperations& pinPad);

    void dispatch(const RequestValues& request);

private:
    void dispatchPad(const RequestValues& request);
    void reply(const QString& xml);

    ActivityLog& m_log;
    ReplyChannel& m_replies;
    PadOperations& m_pad;
    PinPadOperations& m_pinPad;
};
