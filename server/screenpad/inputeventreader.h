#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include "screenpad/evdevkeys.h"

class QSocketNotifier;

// Reads a keyboard's input events (struct input_event records, as an input device or a pipe
// delivers them) from a non-blocking descriptor as they arrive, and reports the keys typed.
// Records may arrive split over several reads. The descriptor stays its owner's.
class InputEventReader : public QObject
{
    Q_OBJECT

public:
    explicit InputEventReader(int fd, QObject* parent = nullptr);
    ~InputEventReader() override;

    // Reads nothing more, even inside the signal being handled; the owner may then close the
    // descriptor and let this reader go with deleteLater().
    void stop();

Q_SIGNALS:
    void keyTyped(const ReaderKey& key);
    // The descriptor ended or failed (the device went away); nothing more is read.
    void failed(const QString& reason);

private:
    void readAvailable();

    int m_fd;
    QSocketNotifier* m_notifier;
    QByteArray m_pending;
    EvdevKeyDecoder m_decoder;
    bool m_stopped = false;
};
