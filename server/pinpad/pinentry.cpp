#include "pinpad/pinentry.h"

#include <memory>
#include <optional>
#include <utility>

#include "core/failure.h"
#include "core/livesettings.h"
#include "log/activitylog.h"
#include "pinpad/pinpaddevice.h"
#include "request/replytext.h"

namespace {

const QString kLogName = QStringLiteral("pinPad1000se_get_pin: ");

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

// Why the pad cannot take the values, for the log and the reply; empty when it can. Says
// nothing of the values themselves: the card number stays out of the log.
QString valuesTooLong(const QString& cardNumber, const QString& amount)
{
    if (cardNumber.size() > PinPadDevice::kLongestCardNumber)
        return QStringLiteral("PinPAD takes a Credit Card # of at most %1 digits")
            .arg(PinPadDevice::kLongestCardNumber);
    if (amount.size() > PinPadDevice::kLongestAmount)
        return QStringLiteral("PinPAD takes a Transaction Total of at most %1 characters")
            .arg(PinPadDevice::kLongestAmount);
    return {};
}

// One PIN request under way: the enabled check and the values, the pad opened, PIN entry,
// the pad closed, the reply. Advances on the device's callbacks.
class PinRequest final : public Operation
{
public:
    PinRequest(PinEntry& entry, PinPadDevice& device, LiveSettings& settings, ActivityLog& log,
               QString creditCard, QString total, int limitSeconds, StopWhen clientGone)
        : m_entry(entry), m_device(device), m_settings(settings), m_log(log),
          m_creditCard(std::move(creditCard)), m_total(std::move(total)),
          m_limitSeconds(limitSeconds), m_clientGone(std::move(clientGone))
    {
        if (!m_clientGone)
            m_clientGone = [] { return false; };
    }
    ~PinRequest() override
    {
        // The device's callback must never reach an operation that is gone.
        if (m_deviceBusy)
            m_device.Abandon();
    }
    PinRequest(const PinRequest&) = delete;
    PinRequest& operator=(const PinRequest&) = delete;

    void start(Finished finished) override;
    void close() override;

private:
    void opened(bool ready);
    void taken(const PinPadDevice::PinBlockResult& result);
    void failed(const Failure& failure);
    void end(std::optional<Reply> reply);

    PinEntry& m_entry;
    PinPadDevice& m_device;
    LiveSettings& m_settings;
    ActivityLog& m_log;
    const QString m_creditCard;
    const QString m_total;
    const int m_limitSeconds;
    StopWhen m_clientGone;
    Finished m_finished;
    // An OpenPad or GetPinBlock of this request is under way.
    bool m_deviceBusy = false;
    bool m_ended = false;
};

void PinRequest::start(Finished finished)
{
    m_finished = std::move(finished);
    m_log.log(kLogName + QStringLiteral("start"));
    try {
        if (!m_entry.pinpad_enabled(true))
            return end(Reply{pinNotEnabledReply()});
        if (m_creditCard.isEmpty() || m_total.isEmpty())
            return end(Reply{pinValuesMissingReply()});
        if (const QString tooLong = valuesTooLong(trimBlanks(m_creditCard), trimBlanks(m_total));
            !tooLong.isEmpty()) {
            // Refused before the pad is touched: it would drop the packet and time out.
            m_log.log(kLogName + tooLong);
            return end(Reply{pinErrorReply(tooLong)});
        }
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
        m_deviceBusy = true;
        m_device.OpenPad([this](bool ready) { opened(ready); });
    } catch (const Failure& failure) {
        m_deviceBusy = false;
        failed(failure);
    }
}

void PinRequest::opened(bool ready)
{
    m_deviceBusy = false;
    try {
        if (!ready) {
            const qint32 code = m_device.ErrorCode();
            const QString description = m_device.ErrorDescription();
            m_log.log(kLogName + QStringLiteral("pinpadError: code=[") + signedNumberText(code) +
                      QStringLiteral("] desc=[") + description + QLatin1Char(']'));
            m_device.ClosePad();
            return end(Reply{pinPadFailedReply()});
        }
        m_log.log(kLogName + QStringLiteral("initialized"));
        m_device.setCardNumber(trimBlanks(m_creditCard));
        m_device.setAmount(trimBlanks(m_total));
        m_device.setPinTimeout(m_limitSeconds);
        m_device.setStopWhen(m_clientGone);
        m_deviceBusy = true;
        m_device.GetPinBlock([this](const PinPadDevice::PinBlockResult& result) { taken(result); });
    } catch (const Failure& failure) {
        m_deviceBusy = false;
        failed(failure);
    }
}

void PinRequest::taken(const PinPadDevice::PinBlockResult& result)
{
    m_deviceBusy = false;
    if (result.failure)
        return failed(*result.failure);
    try {
        const QString ksn = m_device.Ksn();
        m_device.ClosePad();
        if (m_clientGone()) {
            // The pad has cancelled PIN entry; nobody waits for the reply.
            m_log.log(kLogName + QStringLiteral("client gone"));
            return end(std::nullopt);
        }
        if (result.pinBlock.isEmpty()) {
            m_log.log(kLogName + m_device.CancelReason());
            return end(Reply{pinCancelledReply(), true});
        }
        // PIN data goes to the client only: the log shows that a reply went out.
        end(Reply{pinEnteredReply(result.pinBlock, ksn), true});
    } catch (const Failure& failure) {
        failed(failure);
    }
}

void PinRequest::failed(const Failure& failure)
{
    // What went wrong in words first, when the device said: a lost line, a pad that gave up,
    // an answer that cannot be read.
    if (!failure.description().isEmpty())
        m_log.log(kLogName + failure.description());
    m_log.log(kLogName + errorNumberText(failure.code()));
    end(Reply{pinFailedReply(failure.code())});
}

void PinRequest::end(std::optional<Reply> reply)
{
    if (m_ended)
        return;
    m_ended = true;
    // Last: the owner may start the next request from here.
    finishOnce(m_finished, std::move(reply));
}

void PinRequest::close()
{
    if (m_ended)
        return;
    // As a wait that the program's end interrupts: the pad dropped and closed, the error
    // reply out before close() returns.
    if (m_deviceBusy) {
        m_deviceBusy = false;
        m_device.Abandon();
    }
    failed(Failure(FailureCode::Interrupted));
}

} // namespace

PinEntry::PinEntry(PinPadDevice& device, LiveSettings& settings, ActivityLog& log,
                   int pinTimeoutSeconds)
    : m_device(device), m_settings(settings), m_log(log), m_pinTimeoutSeconds(pinTimeoutSeconds)
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

std::unique_ptr<Operation> PinEntry::pinPad1000se_get_pin(const QString& creditCard,
                                                          const QString& total,
                                                          std::optional<int> timerSeconds,
                                                          StopWhen clientGone)
{
    // The request's own TIMER, else the pad's own limit: never what another request left.
    const int limit = timerSeconds && *timerSeconds > 0 ? *timerSeconds : m_pinTimeoutSeconds;
    return std::make_unique<PinRequest>(*this, m_device, m_settings, m_log, creditCard, total,
                                        limit, std::move(clientGone));
}
