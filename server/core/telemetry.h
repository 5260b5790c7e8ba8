#pragma once

#include <QString>

// Which device a reply, an operation or a state belongs to.
enum class DeviceId { Pad, PinPad };
// How a device's reply ended, read from the reply's text.
enum class ReplyOutcome { Ok, Timeout, Busy, Cancelled, Error };
// The customer operations that are timed.
enum class OperationKind { Swipe, Signature, Upload, Pin };
// The doors clients connect through.
enum class Door { Tcp, WebSocket, Tls, Metrics };
// Why a connection was turned away before it was read.
enum class RefusalReason { AllowList, Cap, Origin };

// What the server tells whoever watches it (the metrics port): every part reports its events
// here and never learns whether anyone listens. The base class listens to nothing, so a part
// built without a watcher uses none().
class Telemetry
{
public:
    virtual ~Telemetry() = default;

    // One request parsed, with its TRANS value (empty when it had none).
    virtual void requestReceived(const QString& trans) { (void)trans; }
    // One reply of a device's operation sent (or tried: the client may have gone);
    // `deviceFault` is false when what failed was not the device (a signature's upload).
    virtual void replySent(DeviceId device, ReplyOutcome outcome, bool deviceFault)
    {
        (void)device, (void)outcome, (void)deviceFault;
    }
    // How long one operation took, from its request to its reply.
    virtual void operationTook(OperationKind operation, double seconds)
    {
        (void)operation, (void)seconds;
    }
    virtual void connectionOpened(Door door) { (void)door; }
    virtual void connectionClosed(Door door) { (void)door; }
    virtual void connectionRefused(RefusalReason reason) { (void)reason; }
    // A request that needs a till's key was refused: it had none, or one of no till.
    virtual void keyRefused() {}
    // A request of the registered till `name` was served.
    virtual void tillServed(const QString& name) { (void)name; }
    // A connection at `door` did not finish its TLS handshake, or its WebSocket upgrade.
    virtual void handshakeFailed(Door door) { (void)door; }
    // One try of a signature's upload ended: a till's own (`retry` false) or the outbox's.
    virtual void uploadFinished(bool ok, bool retry) { (void)ok, (void)retry; }
    // A picture waited in the outbox until its time ran out and was given up.
    virtual void signatureGivenUp() {}
    // What waits in the outbox now: how many pictures, and the longest wait in seconds.
    virtual void outboxWaiting(int pictures, qint64 oldestSeconds)
    {
        (void)pictures, (void)oldestSeconds;
    }
    // The certificate of the secure WebSocket port runs out at `unixSeconds`.
    virtual void certificateExpires(qint64 unixSeconds) { (void)unixSeconds; }

    // The watcher that listens to nothing, for parts built without one.
    static Telemetry& none();
};
