#pragma once

#include <QObject>
#include <QString>

#include "screenpad/evdevkeys.h"

struct libevdev;
class InputEventReader;

// A keyboard-mode card reader read straight from its input device (/dev/input/...), grabbed
// for this program alone while it is open so that no other program sees the tracks typed.
class EvdevCardReader : public QObject
{
    Q_OBJECT

public:
    explicit EvdevCardReader(QObject* parent = nullptr);
    ~EvdevCardReader() override;

    // Opens and grabs the device; false with the reason when it cannot.
    bool open(const QString& devicePath, QString* reason);
    // Lets the device go; safe inside keyTyped or failed.
    void close();
    bool isOpen() const { return m_fd >= 0; }

Q_SIGNALS:
    void keyTyped(const ReaderKey& key);
    // The device went away or failed; it has been closed.
    void failed(const QString& reason);

private:
    int m_fd = -1;
    libevdev* m_device = nullptr;
    InputEventReader* m_reader = nullptr;
};
