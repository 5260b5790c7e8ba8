#include "metrics/prometheustelemetry.h"

#include <QDateTime>

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include "core/deviceboard.h"
#include "log/activitylog.h"
#include "metrics/processfigures.h"

namespace {

using prometheus::Labels;

// The label values, in the order of the enumerations they name.
const char* const kOutcomes[] = {"ok", "timeout", "busy", "cancelled", "error"};
const char* const kOperations[] = {"swipe", "signature", "upload", "pin"};
const char* const kDoors[] = {"tcp", "websocket", "tls", "metrics"};
const char* const kReasons[] = {"allowlist", "cap", "origin"};
const char* const kTransTypes[] = {"VERSION", "QP6100", "1000SE", "ABORT", "STATUS", "PAIR"};

// From a tenth of a second (a swipe already on the pad) to two minutes (the longest wait).
const prometheus::Histogram::BucketBoundaries kOperationBuckets = {0.1, 0.25, 0.5, 1,  2.5, 5,
                                                                   10,  20,   30,  60, 120};

int index(DeviceId device)
{
    return device == DeviceId::Pad ? 0 : 1;
}

} // namespace

PrometheusTelemetry::PrometheusTelemetry(DeviceBoard& devices, const ActivityLog& log,
                                         const QString& version)
    : m_devices(devices), m_log(log), m_registry(std::make_shared<prometheus::Registry>())
{
    prometheus::Registry& r = *m_registry;
    prometheus::BuildGauge()
        .Name("varnel_build_info")
        .Help("The server's version; always 1.")
        .Register(r)
        .Add({{"version", version.toStdString()}})
        .Set(1);
    const double started = ProcessFigures::read().value_or(ProcessFigures{}).startTimeSeconds;
    prometheus::BuildGauge()
        .Name("process_start_time_seconds")
        .Help("Start time of the process since the Unix epoch in seconds.")
        .Register(r)
        .Add({})
        .Set(started > 0 ? started : double(QDateTime::currentSecsSinceEpoch()));
    m_residentMemory = &prometheus::BuildGauge()
                            .Name("process_resident_memory_bytes")
                            .Help("Resident memory size in bytes.")
                            .Register(r)
                            .Add({});
    m_cpuSeconds = &prometheus::BuildCounter()
                        .Name("process_cpu_seconds_total")
                        .Help("Total user and system CPU time spent in seconds.")
                        .Register(r)
                        .Add({});

    auto& requests = prometheus::BuildCounter()
                         .Name("varnel_requests_total")
                         .Help("Requests parsed, by their TRANS value.")
                         .Register(r);
    for (const char* trans : kTransTypes)
        m_requests[QLatin1String(trans)] = &requests.Add({{"trans", trans}});
    m_otherRequests = &requests.Add({{"trans", "other"}});

    auto& replies = prometheus::BuildCounter()
                        .Name("varnel_replies_total")
                        .Help("Replies of the devices' operations, by device and how they ended.")
                        .Register(r);
    auto& operations = prometheus::BuildHistogram()
                           .Name("varnel_operation_seconds")
                           .Help("Time from a customer operation's request to its reply.")
                           .Register(r);
    for (int o = 0; o < 4; ++o)
        m_operations[o] = &operations.Add({{"operation", kOperations[o]}}, kOperationBuckets);
    auto& open = prometheus::BuildGauge()
                     .Name("varnel_connections_open")
                     .Help("Client connections open, by door.")
                     .Register(r);
    for (int d = 0; d < 4; ++d)
        m_open[d] = &open.Add({{"door", kDoors[d]}});
    auto& handshakes = prometheus::BuildCounter()
                           .Name("varnel_tls_handshake_failures_total")
                           .Help("Connections whose TLS handshake or WebSocket upgrade failed or "
                                 "did not finish in time, by door.")
                           .Register(r);
    for (const Door door : {Door::WebSocket, Door::Tls})
        m_handshakeFailures[int(door)] = &handshakes.Add({{"door", kDoors[int(door)]}});
    auto& refused = prometheus::BuildCounter()
                        .Name("varnel_connections_refused_total")
                        .Help("Connections turned away before they were read, by reason.")
                        .Register(r);
    for (int x = 0; x < 3; ++x)
        m_refused[x] = &refused.Add({{"reason", kReasons[x]}});
    m_keyRefused = &prometheus::BuildCounter()
                        .Name("varnel_requests_refused_total")
                        .Help("Requests turned away unserved, by reason.")
                        .Register(r)
                        .Add({{"reason", "key"}});
    m_tillRequests = &prometheus::BuildCounter()
                          .Name("varnel_till_requests_total")
                          .Help("Requests served with a registered till's key, by till.")
                          .Register(r);
    auto& up = prometheus::BuildGauge()
                   .Name("varnel_device_up")
                   .Help("1 when the device's box is ticked and the device answers or its port "
                         "opens, else 0.")
                   .Register(r);
    auto& seen = prometheus::BuildGauge()
                     .Name("varnel_device_last_seen_seconds")
                     .Help("Unix time of the device's last good answer; 0 before the first.")
                     .Register(r);
    for (DeviceId device : {DeviceId::Pad, DeviceId::PinPad}) {
        const Labels labels{{"device", DeviceBoard::deviceName(device)}};
        for (int o = 0; o < 5; ++o) {
            Labels withOutcome = labels;
            withOutcome["outcome"] = kOutcomes[o];
            m_replies[index(device)][o] = &replies.Add(withOutcome);
        }
        m_deviceUp[index(device)] = &up.Add(labels);
        m_lastSeen[index(device)] = &seen.Add(labels);
    }
    auto& uploads = prometheus::BuildCounter()
                        .Name("varnel_signature_uploads_total")
                        .Help("Signature uploads, by how they ended.")
                        .Register(r);
    m_uploads[0] = &uploads.Add({{"outcome", "ok"}});
    m_uploads[1] = &uploads.Add({{"outcome", "failed"}});
    auto& attempts = prometheus::BuildCounter()
                         .Name("varnel_signature_upload_attempts_total")
                         .Help("Tries of signature uploads, the outbox's included, by how they "
                               "ended.")
                         .Register(r);
    m_attempts[0] = &attempts.Add({{"outcome", "ok"}});
    m_attempts[1] = &attempts.Add({{"outcome", "failed"}});
    m_givenUp = &prometheus::BuildCounter()
                     .Name("varnel_signatures_given_up_total")
                     .Help("Signature pictures given up after waiting in the outbox until GiveUp.")
                     .Register(r)
                     .Add({});
    m_outboxItems = &prometheus::BuildGauge()
                         .Name("varnel_signature_outbox_items")
                         .Help("Signature pictures waiting in the outbox for their upload.")
                         .Register(r)
                         .Add({});
    m_outboxOldest = &prometheus::BuildGauge()
                          .Name("varnel_signature_outbox_oldest_seconds")
                          .Help("How long the picture that has waited longest in the outbox has "
                                "waited.")
                          .Register(r)
                          .Add({});
    m_logFailures = &prometheus::BuildCounter()
                         .Name("varnel_log_write_failures_total")
                         .Help("Lines the activity log could not write.")
                         .Register(r)
                         .Add({});
}

PrometheusTelemetry::~PrometheusTelemetry() = default;

void PrometheusTelemetry::requestReceived(const QString& trans)
{
    const auto known = m_requests.find(trans);
    (known != m_requests.end() ? known->second : m_otherRequests)->Increment();
}

void PrometheusTelemetry::replySent(DeviceId device, ReplyOutcome outcome, bool deviceFault)
{
    m_replies[index(device)][int(outcome)]->Increment();
    // An upload that failed is the network's failure: the device did its part.
    m_devices.recordReply(device, deviceFault ? outcome : ReplyOutcome::Ok,
                          QDateTime::currentSecsSinceEpoch());
}

void PrometheusTelemetry::operationTook(OperationKind operation, double seconds)
{
    m_operations[int(operation)]->Observe(seconds);
}

void PrometheusTelemetry::connectionOpened(Door door)
{
    m_open[int(door)]->Increment();
}

void PrometheusTelemetry::connectionClosed(Door door)
{
    m_open[int(door)]->Decrement();
}

void PrometheusTelemetry::handshakeFailed(Door door)
{
    if (prometheus::Counter* failures = m_handshakeFailures[int(door)])
        failures->Increment();
}

void PrometheusTelemetry::connectionRefused(RefusalReason reason)
{
    m_refused[int(reason)]->Increment();
}

void PrometheusTelemetry::keyRefused()
{
    m_keyRefused->Increment();
}

void PrometheusTelemetry::tillServed(const QString& name)
{
    // Add() hands back the till's counter when it has one already.
    m_tillRequests->Add({{"till", name.toStdString()}}).Increment();
}

void PrometheusTelemetry::uploadFinished(bool ok, bool retry)
{
    if (!retry)
        m_uploads[ok ? 0 : 1]->Increment();
    m_attempts[ok ? 0 : 1]->Increment();
}

void PrometheusTelemetry::signatureGivenUp()
{
    m_givenUp->Increment();
}

void PrometheusTelemetry::outboxWaiting(int pictures, qint64 oldestSeconds)
{
    m_outboxItems->Set(pictures);
    m_outboxOldest->Set(double(oldestSeconds));
}

void PrometheusTelemetry::certificateExpires(qint64 unixSeconds)
{
    if (!m_certificateFamily)
        m_certificateFamily =
            &prometheus::BuildGauge()
                 .Name("varnel_certificate_expiry_seconds")
                 .Help("Unix time at which the secure WebSocket port's certificate runs out.")
                 .Register(*m_registry);
    m_certificateFamily->Add({}).Set(double(unixSeconds));
}

void PrometheusTelemetry::refresh()
{
    for (DeviceId device : {DeviceId::Pad, DeviceId::PinPad}) {
        const DeviceBoard::Facts facts = m_devices.facts(device);
        // A device at work holds its port: it is up, whatever a probe would say.
        m_deviceUp[index(device)]->Set(facts.ticked && (facts.reachable || facts.busy) ? 1 : 0);
        m_lastSeen[index(device)]->Set(double(facts.lastSeen));
    }
    // Counters only grow: what was not counted yet is added.
    const quint64 failures = m_log.writeFailures();
    if (failures > m_logFailuresCounted) {
        m_logFailures->Increment(double(failures - m_logFailuresCounted));
        m_logFailuresCounted = failures;
    }
    if (const std::optional<ProcessFigures> figures = ProcessFigures::read()) {
        m_residentMemory->Set(figures->residentMemoryBytes);
        if (figures->cpuSeconds > m_cpuCounted) {
            m_cpuSeconds->Increment(figures->cpuSeconds - m_cpuCounted);
            m_cpuCounted = figures->cpuSeconds;
        }
    }
}

QByteArray PrometheusTelemetry::text()
{
    refresh();
    const std::string text = prometheus::TextSerializer().Serialize(m_registry->Collect());
    return QByteArray(text.data(), qsizetype(text.size()));
}
