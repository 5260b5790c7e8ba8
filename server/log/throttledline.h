#pragma once

#include <functional>

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

// Logs lines of one kind at most once a second, with the number of events since the last
// line: a flood of refusals or polls cannot turn into a flood of log lines. An event after a
// quiet second is logged at once.
class ThrottledLine final : public QObject
{
public:
    static constexpr int kIntervalMs = 1000;
    // The line for `count` events, the last of them for `detail`.
    using Format = std::function<QString(int count, const QString& detail)>;

    // Lines go to `write`, which gives the log a free descriptor when the process has run out
    // of them.
    ThrottledLine(std::function<void(const QString&)> write, Format format,
                  QObject* parent = nullptr);

    // One event, for `detail`.
    void happened(const QString& detail);

    // `line` as a burst's line reads it: a lone event as it is, the rest with " count=[N]".
    static QString withCount(const QString& line, int count);

private:
    void flush();

    std::function<void(const QString&)> m_write;
    Format m_format;
    QElapsedTimer m_sinceLine;
    QTimer m_pending;
    int m_count = 0;
    QString m_detail;
};
