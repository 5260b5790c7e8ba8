#pragma once

#include <functional>

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

// Logs refused connections at most once a second, with the number refused since the last
// line: a flood of connections cannot turn into a flood of log lines.
class RefusalLog final : public QObject
{
public:
    static constexpr int kIntervalMs = 1000;

    // Lines go to `write`, which the door gives a free descriptor for the log when the process
    // has run out of them.
    explicit RefusalLog(std::function<void(const QString&)> write, QObject* parent = nullptr);

    // One connection refused, for `reason`.
    void refused(const QString& reason);

private:
    void flush();

    std::function<void(const QString&)> m_write;
    QElapsedTimer m_sinceLine;
    QTimer m_pending;
    int m_count = 0;
    QString m_reason;
};
