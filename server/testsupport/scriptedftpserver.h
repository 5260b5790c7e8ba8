#pragma once

#include <atomic>

#include <QByteArray>
#include <QMutex>
#include <QSemaphore>
#include <QStringList>
#include <QThread>

// A loopback FTP server of the test's own, on a thread of its own, that misbehaves as told:
// it greets (or stays silent), takes stores in passive mode and confirms each one at once,
// late, a byte at a time, or never; renames succeed; the goodbye goes unanswered.
class ScriptedFtpServer final : public QThread
{
public:
    enum class Mode {
        Silent,
        Confirms,
        NeverConfirms,
        // The confirmation comes two seconds after the file.
        ConfirmsLate,
        // The confirmation comes a byte every half second.
        DripsConfirmation,
    };

    explicit ScriptedFtpServer(Mode mode);
    ~ScriptedFtpServer() override;

    quint16 port() const { return m_port; }
    // Every command received, in order, without its line end.
    QStringList commands() const;
    // Every byte stored, all stores together.
    QByteArray stored() const;
    bool connected() const { return m_connected; }
    bool sessionClosed() const { return m_sessionClosed; }

protected:
    void run() override;

private:
    const Mode m_mode;
    QSemaphore m_ready;
    std::atomic<quint16> m_port{0};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_sessionClosed{false};
    mutable QMutex m_mutex;
    QStringList m_commands;
    QByteArray m_stored;
};
