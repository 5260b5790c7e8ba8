#include "pinpad/pinentry.h"

#include "core/failure.h"
#include "core/livesettings.h"
#include "log/activitylog.h"
#include "pinpad/pinpaddevice.h"
#include "request/replychannel.h"

namespace {

const QString kLogName = QStringLiteral("pinPad1000se_get_pin: ");

QString errorReply(const QString& message)
{
    return QStringLiteral("<1000SE><ERROR>") + message + QStringLiteral("</ERROR></1000SE>");
}

// Leading and trailing blanks removed; other white space is kept.
QString trimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

PinEntry::PinEntry(PinPadDevice& device, LiveSettings& settings, ActivityLog& log,
                   ReplyChannel& replies)
    : m_device(device), m_settings(settings), m_log(log), m_replies(replies)
{
    m_boxConnection = QObject::connect(&m_settings, &LiveSettings::chk1000SEDeviceClick,
                                       [this] { chk1000SEDevice_Click(); });
}

PinEntry::~PinEntry()
{
    QObject::disconnect(m_boxConnection);
}

bool PinEntry::pinpad_enabled(bool logIfDisabled)
{
    const bool enabled = m_settings.chk1000SEDevice() == LiveSettings::Ticked;
    if (!enabled && logIfDisabled)
        m_log.log(QStringLiteral("1000SE: Device is Not Enabled"));
    return enabled;
}

void PinEntry::chk1000SEDevice_Click()
{
    m_settings.setFields1000SEEnabled(m_settings.chk1000SEDevice() == LiveSettings::Ticked);
}

void PinEntry::pinPad1000se_get_pin(const QString& creditCard, const QString& total)
{
    m_log.log(kLogName + QStringLiteral("start"));
    try {
        QString reply;
        bool success = false;
        if (!pinpad_enabled(true)) {
            reply =
                errorReply(QStringLiteral("PinPAD 1000 SE not Enabled in Varnel Payment Setup"));
        } else if (creditCard.isEmpty() || total.isEmpty()) {
            reply =
                errorReply(QStringLiteral("PinPAD Requires Credit Card # and Transaction Total"));
        } else {
            // The fields as they are now, saved or not.
            m_device.setPort(m_settings.cbo1000SECommPort());
            m_device.setBaudRate(m_settings.cbo1000SEBaudRate());
            m_device.setDataBits(m_settings.txt1000SEDataBits());
            m_device.setParity(m_settings.txt1000SEParity());
            const QString port = m_device.Port();
            const QString baudRate = m_device.BaudRate();
            const QString dataBits = m_device.DataBits();
            m_log.log(kLogName + QStringLiteral("port=[") + port + QStringLiteral("] baud=[") +
                      baudRate + QStringLiteral("] databits=[") + dataBits + QLatin1Char(']'));
            if (!m_device.OpenPad()) {
                const qint32 code = m_device.ErrorCode();
                const QString description = m_device.ErrorDescription();
                m_log.log(kLogName + QStringLiteral("pinpadError: code=[") +
                          signedNumberText(code) + QStringLiteral("] desc=[") + description +
                          QLatin1Char(']'));
                m_device.ClosePad();
                reply = errorReply(QStringLiteral("Error Initializing Pad"));
            } else {
                m_log.log(kLogName + QStringLiteral("initialized"));
                m_device.setCardNumber(trimBlanks(creditCard));
                m_device.setAmount(trimBlanks(total));
                const StopWhen clientGone = m_replies.requesterGone();
                m_device.setStopWhen(clientGone);
                const QString pinBlock = m_device.GetPinBlock();
                const QString ksn = m_device.Ksn();
                m_device.ClosePad();
                if (clientGone()) {
                    // The pad has cancelled PIN entry; nobody waits for the reply.
                    m_log.log(kLogName + QStringLiteral("client gone"));
                    return;
                }
                success = true;
                reply = pinBlock.isEmpty() ? QStringLiteral("<1000SE><CANCEL>1</CANCEL></1000SE>")
                                           : QStringLiteral("<1000SE><PINBLOCK>") + pinBlock +
                                                 QStringLiteral("</PINBLOCK><KSN>") + ksn +
                                                 QStringLiteral("</KSN></1000SE>");
            }
        }
        // PIN data goes to the client only: the log shows that a reply went out.
        m_replies.return_xml(reply, success);
    } catch (const Failure& failure) {
        m_log.log(kLogName + errorNumberText(failure.code()));
        QString reply = QStringLiteral("<1000SE><ERROR>Error Getting PIN: ") +
                        errorNumberText(failure.code()) + QStringLiteral("</ERROR></1000SE>");
        m_replies.return_xml(reply, false);
    }
}
