#pragma once

#include <functional>

#include <QObject>
#include <QTimer>

// Ends a client connection that has sent nothing for a while: `expired` runs, with the watch,
// once the connection has been quiet for the time given, counted from its start or its last
// activity.
class IdleWatch final : public QObject
{
public:
    using Expired = std::function<void(IdleWatch& watch)>;

    // `seconds` of 0 or less watch nothing.
    IdleWatch(int seconds, Expired expired, QObject* parent);

    // The client did something: the quiet time starts again.
    void activity();
    int seconds() const { return m_seconds; }

private:
    int m_seconds;
    QTimer m_timer;
};
