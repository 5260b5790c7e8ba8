#include "request/requestdispatcher.h"

#include <QString>

#include "log/activitylog.h"
#include "request/deviceoperations.h"
#include "request/replychannel.h"
#include "request/replytext.h"
#include "request/requestvalues.h"

RequestDispatcher::RequestDispatcher(ActivityLog& log, ReplyChannel& replies, PadOperations& pad,
                                     PinPadOperations& pinPad)
    : m_log(log), m_replies(replies), m_pad(pad), m_pinPad(pinPad)
{
}

void RequestDispatcher::dispatch(const RequestValues& request)
{
    const QString& trans = request.transType;
    if (trans == QLatin1String("QP6100")) {
        dispatchPad(request);
    } else if (trans == QLatin1String("1000SE")) {
        dispatchPinPad(request);
    } else if (trans == QLatin1String("ABORT")) {
        m_pad.pad_welcome();
    } else if (trans == QLatin1String("VERSION")) {
        reply(versionReply());
    } else {
        m_log.log(QStringLiteral("Socket: DataArrival No TransType"));
    }
}

void RequestDispatcher::dispatchPad(const RequestValues& request)
{
    if (!m_pad.pad_enabled(false)) {
        reply(padNotSetupReply());
        return;
    }
    const bool swipe = request.action == QLatin1String("1");
    const bool signature = request.action == QLatin1String("2");
    const bool known = swipe || signature || request.action == QLatin1String("3");
    if (m_padHold.isHeld()) {
        if (swipe || signature)
            refuseBusy(QStringLiteral("QP6100"), QStringLiteral("Pad Busy"), padBusyReply());
        else if (!known)
            m_log.log(QStringLiteral("Socket: DataArrival QP6100 No Action(") + request.action +
                      QLatin1Char(')'));
        // The pad variables belong to the operation that holds the pad: they stay as they are.
        return;
    }
    m_pad.clear_padVars();
    if (swipe || signature) {
        const DeviceHold::Scope hold(m_padHold);
        if (swipe) {
            m_pad.qp6100_get_swipe();
        } else {
            m_pad.qp6100_delete_signature(request.sigFile);
            m_pad.set_account_var(request.account);
            m_pad.set_fullname_var(request.name);
            m_pad.setVar(request.total);
            m_pad.qp6100_get_signature(request.sigFile, request.doFtp, request.ftpPath);
        }
    } else if (!known) {
        m_log.log(QStringLiteral("Socket: DataArrival QP6100 No Action(") + request.action +
                  QLatin1Char(')'));
    }
    m_pad.clear_padVars();
}

void RequestDispatcher::dispatchPinPad(const RequestValues& request)
{
    if (request.action != QLatin1String("3")) {
        m_log.log(QStringLiteral("Socket: DataArrival 1000SE No Action(") + request.action +
                  QLatin1Char(')'));
        return;
    }
    if (m_pinPadHold.isHeld()) {
        refuseBusy(QStringLiteral("1000SE"), QStringLiteral("PIN Pad Busy"), pinPadBusyReply());
        return;
    }
    const DeviceHold::Scope hold(m_pinPadHold);
    m_pinPad.pinPad1000se_get_pin(request.creditCard, request.total);
}

void RequestDispatcher::refuseBusy(const QString& device, const QString& what, const QString& xml)
{
    m_log.log(QStringLiteral("Socket: DataArrival ") + device + QLatin1Char(' ') + what +
              QStringLiteral(" ip=[") + m_replies.requesterAddress() + QLatin1Char(']'));
    reply(xml);
}

void RequestDispatcher::reply(const QString& xml)
{
    QString text = xml;
    m_replies.return_xml(text, false);
}
