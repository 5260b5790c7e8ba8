#pragma once

#include <functional>

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

// Logs refusals of one kind at most once a second, with the number refused since the last
// line: a flood of connections cannot turn into a flood of log lines. A refusal after a quiet
// second is logged at once.
class RefusalLog final : public QObject
{
public:
    static constexpr int kIntervalMs = 1000;
    // The line for `count` refusals, the last of them for `detail`.
    using Format = std::function<QString(int count, const QString& detail)>;

    // Lines go to `write`, which gives the log a free descriptor when the process has run out
    // of them.
    RefusalLog(std::function<void(const QString&)> write, Format format, QObject* parent = nullptr);

    // One refusal, for `detail`.
    void refused(const QString& detail);

private:
    void flush();

    std::function<void(const QString&)> m_write;
    Format m_format;
    QElapsedTimer m_sinceLine;
    QTimer m_pending;
    int m_count = 0;
    QString m_detail;
};
