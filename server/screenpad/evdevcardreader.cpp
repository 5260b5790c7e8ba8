#include "screenpad/evdevcardreader.h"

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <unistd.h>

#include <cstring>

#include <QFile>

#include "screenpad/inputeventreader.h"

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

EvdevCardReader::EvdevCardReader(QObject* parent) : QObject(parent) {}

EvdevCardReader::~EvdevCardReader()
{
    close();
}

bool EvdevCardReader::open(const QString& devicePath, QString* reason)
{
    close();
    const int fd =
        ::open(QFile::encodeName(devicePath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *reason = systemError(errno);
        return false;
    }
    libevdev* device = nullptr;
    if (const int error = libevdev_new_from_fd(fd, &device); error < 0) {
        *reason = QStringLiteral("not an input device (%1)").arg(systemError(-error));
        ::close(fd);
        return false;
    }
    if (!libevdev_has_event_type(device, EV_KEY)) {
        *reason = QStringLiteral("the device has no keys");
        libevdev_free(device);
        ::close(fd);
        return false;
    }
    if (const int error = libevdev_grab(device, LIBEVDEV_GRAB); error < 0) {
        *reason =
            QStringLiteral("cannot take it for this program alone (%1)").arg(systemError(-error));
        libevdev_free(device);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_device = device;
    m_reader = new InputEventReader(fd, this);
    connect(m_reader, &InputEventReader::keyTyped, this, &EvdevCardReader::keyTyped);
    connect(m_reader, &InputEventReader::failed, this, [this](const QString& why) {
        close();
        Q_EMIT failed(why);
    });
    return true;
}

void EvdevCardReader::close()
{
    if (m_reader) {
        m_reader->stop();
        m_reader->deleteLater();
        m_reader = nullptr;
    }
    if (m_device) {
        libevdev_grab(m_device, LIBEVDEV_UNGRAB);
        libevdev_free(m_device);
        m_device = nullptr;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}
