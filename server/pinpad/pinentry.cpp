#include "pinpad/pinentry.h"

#include <memory>
#include <optional>
#include <utility>

#include "core/failure.h"
#include "core/livesettings.h"
#include "log/activitylog.h"
#include "pinpad/pinpaddevice.h"

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
class PinEntryOperation final : public Operation
{
public:
    PinEntryOperation(PinEntry& entry, PinPadDevice& device, LiveSettings& settings,
                      ActivityLog& log, QString creditCard, QString total, int limitSeconds)
        : m_entry(entry), m_device(device), m_settings(settings), m_log(log),
          m_creditCard(std::move(creditCard)), m_total(std::move(total)),
          m_limitSeconds(limitSeconds)
    {
    }
    ~PinEntryOperation() override
    {
        // The device's callback must never reach an operation that is gone.
        if (m_deviceBusy)
            m_device.Abandon();
    }
    PinEntryOperation(const PinEntryOperation&) = delete;
    PinEntryOperation& operator=(const PinEntryOperation&) = delete;

    void start(Finished finished) override;
    void clientGone() override;
    void close() override;

private:
    void opened(bool ready);
    void taken(const PinPadDevice::PinBlockResult& result);
    void failed(const Failure& failure);
    void end(Outcome outcome);

    PinEntry& m_entry;
    PinPadDevice& m_device;
    LiveSettings& m_settings;
    ActivityLog& m_log;
    const QString m_creditCard;
    const QString m_total;
    const int m_limitSeconds;
    Finished m_finished;
    // An OpenPad or GetPinBlock of this request is under way.
    bool m_deviceBusy = false;
    // The client that asked has gone.
    bool m_clientGone = false;
    bool m_ended = false;
};

void PinEntryOperation::start(Finished finished)
{
    m_finished = std::move(finished);
    m_log.log(kLogName + QStringLiteral("start"));
    try {
        if (!m_entry.pinpad_enabled(true))
            return end(outcome::NotEnabled{DeviceId::PinPad});
        if (m_creditCard.isEmpty() || m_total.isEmpty())
            return end(outcome::PinValuesMissing{});
        if (const QString tooLong = valuesTooLong(trimBlanks(m_creditCard), trimBlanks(m_total));
            !tooLong.isEmpty()) {
            // Refused before the pad is touched: it would drop the packet and time out.
            m_log.log(kLogName + tooLong);
            return end(outcome::DeviceError{DeviceId::PinPad, tooLong});
        }
        // The fields as they are now, saved or not.
        const PinPadDevice::LineSettings line{
            m_settings.cbo1000SECommPort(), m_settings.cbo1000SEBaudRate(),
            m_settings.txt1000SEDataBits(), m_settings.txt1000SEParity()};
        m_log.log(kLogName + QStringLiteral("port=[") + line.port + QStringLiteral("] baud=[") +
                  line.baudRate + QStringLiteral("] databits=[") + line.dataBits +
                  QLatin1Char(']'));
        m_deviceBusy = true;
        m_device.OpenPad(line, [this](bool ready) { opened(ready); });
    } catch (const Failure& failure) {
        m_deviceBusy = false;
        failed(failure);
    }
}

void PinEntryOperation::opened(bool ready)
{
    m_deviceBusy = false;
    try {
        if (!ready) {
            const qint32 code = m_device.ErrorCode();
            const QString description = m_device.ErrorDescription();
            m_log.log(kLogName + QStringLiteral("pinpadError: code=[") + signedNumberText(code) +
                      QStringLiteral("] desc=[") + description + QLatin1Char(']'));
            m_device.ClosePad();
            return end(outcome::PinPadNotOpened{});
        }
        m_log.log(kLogName + QStringLiteral("initialized"));
        m_deviceBusy = true;
        m_device.GetPinBlock({trimBlanks(m_creditCard), trimBlanks(m_total), m_limitSeconds},
                             [this](const PinPadDevice::PinBlockResult& result) { taken(result); });
        // A client that left while the pad was opening waits for nothing either.
        if (m_clientGone && m_deviceBusy)
            m_device.cancelEntry();
    } catch (const Failure& failure) {
        m_deviceBusy = false;
        failed(failure);
    }
}

void PinEntryOperation::taken(const PinPadDevice::PinBlockResult& result)
{
    m_deviceBusy = false;
    if (result.failure)
        return failed(*result.failure);
    try {
        const QString ksn = m_device.Ksn();
        m_device.ClosePad();
        if (m_clientGone) {
            // The pad has cancelled PIN entry; nobody waits for the reply.
            m_log.log(kLogName + QStringLiteral("client gone"));
            return end(outcome::ClientGone{});
        }
        if (result.pinBlock.isEmpty()) {
            m_log.log(kLogName + m_device.CancelReason());
            return end(outcome::Cancelled{});
        }
        end(outcome::PinTaken{result.pinBlock, ksn});
    } catch (const Failure& failure) {
        failed(failure);
    }
}

void PinEntryOperation::failed(const Failure& failure)
{
    // What went wrong in words first, when the device said: a lost line, a pad that gave up,
    // an answer that cannot be read.
    if (!failure.description().isEmpty())
        m_log.log(kLogName + failure.description());
    m_log.log(kLogName + errorNumberText(failure.code()));
    end(outcome::Failed{OperationKind::Pin, failure.code()});
}

void PinEntryOperation::end(Outcome outcome)
{
    if (m_ended)
        return;
    m_ended = true;
    // Last: the owner may start the next request from here.
    finishOnce(m_finished, std::move(outcome));
}

void PinEntryOperation::clientGone()
{
    if (m_ended || m_clientGone)
        return;
    m_clientGone = true;
    // PIN entry under way is cancelled on the pad; its end logs that the client has gone.
    // While the pad is opening, the entry is cancelled as soon as it is asked for.
    if (m_deviceBusy)
        m_device.cancelEntry();
}

void PinEntryOperation::close()
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

std::unique_ptr<Operation> PinEntry::pinPad1000se_get_pin(const ::PinRequest& request)
{
    // The request's own TIMER, else the pad's own limit: never what another request left.
    const int limit = request.timerSeconds && *request.timerSeconds > 0 ? *request.timerSeconds
                                                                        : m_pinTimeoutSeconds;
    return std::make_unique<PinEntryOperation>(*this, m_device, m_settings, m_log,
                                               request.creditCard, request.total, limit);
}
