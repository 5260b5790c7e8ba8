#pragma once

#include <QString>

class ActivityLog;

// The platform's viewer for text files, which View Log starts on the log.
class TextViewer
{
public:
    virtual ~TextViewer() = default;
    // What the View Log line names as the viewer.
    virtual QString name() const = 0;
    // Starts the viewer on `path` without waiting for it; false when it cannot be started.
    virtual bool open(const QString& path) = 0;
};

// The desktop's opener for files ("xdg-open"), started as a program of its own.
class DesktopTextViewer final : public TextViewer
{
public:
    QString name() const override;
    bool open(const QString& path) override;
};

// View Log: logs which viewer shows which file, then starts the viewer, so that the viewer
// shows that line as the last one. A viewer that cannot be started is logged.
void view_log(ActivityLog& log, TextViewer& viewer);
