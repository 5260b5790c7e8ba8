#pragma once

#include <sys/inotify.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>

// Counts how often a file is replaced by a rename onto its name, as the kernel reports it
// while the counter lives: each atomic replace of the file is one.
class FileReplacements
{
public:
    explicit FileReplacements(const QString& path)
        : m_name(QFileInfo(path).fileName().toLocal8Bit()),
          m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd >= 0)
            // The kernel merges an event into an identical one queued just before it; the
            // move away from each temporary name keeps one replace from merging into the next.
            m_watch = inotify_add_watch(m_fd, QFile::encodeName(QFileInfo(path).absolutePath()),
                                        IN_MOVED_FROM | IN_MOVED_TO);
    }
    ~FileReplacements()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileReplacements(const FileReplacements&) = delete;
    FileReplacements& operator=(const FileReplacements&) = delete;

    bool isWatching() const { return m_watch >= 0; }

    // The renames onto the file since the last call (the kernel queues them as they happen).
    int take()
    {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        ssize_t size;
        while ((size = ::read(m_fd, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < size;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if ((event->mask & IN_MOVED_TO) && event->len > 0 &&
                    QByteArray(event->name) == m_name)
                    ++count;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        return count;
    }

private:
    QByteArray m_name;
    int m_fd;
    int m_watch = -1;
};
