#pragma once

#include <array>
#include <map>
#include <memory>
#include <string>

#include <QByteArray>
#include <QString>

#include "core/telemetry.h"

namespace prometheus {
class Counter;
class Gauge;
class Histogram;
class Registry;
template <typename T> class Family;
} // namespace prometheus

class ActivityLog;
class DeviceBoard;

// The server's events as Prometheus metrics, in the text format that the metrics port serves.
// Counts what happened; the devices' state, the process's figures and the log's failed writes
// are read when the text is made. Holds no card data, PIN block, key, customer's name or client
// address: its labels come from fixed lists, and the names the shop gave its registered tills.
class PrometheusTelemetry final : public Telemetry
{
public:
    // Replies are recorded on `devices` too (when each device was last seen, whether its last
    // operation failed).
    PrometheusTelemetry(DeviceBoard& devices, const ActivityLog& log, const QString& version);
    ~PrometheusTelemetry() override;

    void requestReceived(const QString& trans) override;
    void replySent(DeviceId device, ReplyOutcome outcome, bool deviceFault) override;
    void operationTook(OperationKind operation, double seconds) override;
    void connectionOpened(Door door) override;
    void connectionClosed(Door door) override;
    void connectionRefused(RefusalReason reason) override;
    void keyRefused() override;
    void tillServed(const QString& name) override;
    void handshakeFailed(Door door) override;
    void uploadFinished(bool ok, bool retry) override;
    void signatureGivenUp() override;
    void outboxWaiting(int pictures, qint64 oldestSeconds) override;
    void certificateExpires(qint64 unixSeconds) override;

    // The metrics as text (format 0.0.4), current at the moment of the call.
    QByteArray text();

private:
    void refresh();

    DeviceBoard& m_devices;
    const ActivityLog& m_log;
    std::shared_ptr<prometheus::Registry> m_registry;
    std::map<QString, prometheus::Counter*> m_requests;
    prometheus::Counter* m_otherRequests;
    // By device, then outcome.
    std::array<std::array<prometheus::Counter*, 5>, 2> m_replies{};
    std::array<prometheus::Histogram*, 4> m_operations{};
    std::array<prometheus::Gauge*, 4> m_open{};
    std::array<prometheus::Counter*, 4> m_handshakeFailures{};
    std::array<prometheus::Counter*, 3> m_refused{};
    prometheus::Counter* m_keyRefused = nullptr;
    prometheus::Family<prometheus::Counter>* m_tillRequests = nullptr;
    std::array<prometheus::Counter*, 2> m_uploads{};
    std::array<prometheus::Counter*, 2> m_attempts{};
    prometheus::Counter* m_givenUp = nullptr;
    prometheus::Gauge* m_outboxItems = nullptr;
    prometheus::Gauge* m_outboxOldest = nullptr;
    std::array<prometheus::Gauge*, 2> m_deviceUp{};
    std::array<prometheus::Gauge*, 2> m_lastSeen{};
    prometheus::Counter* m_logFailures;
    quint64 m_logFailuresCounted = 0;
    prometheus::Gauge* m_residentMemory;
    prometheus::Counter* m_cpuSeconds;
    double m_cpuCounted = 0;
    prometheus::Family<prometheus::Gauge>* m_certificateFamily = nullptr;
};
