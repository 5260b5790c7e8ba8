#pragma once

#include <QTimer>
#include <QWidget>

#include "recordedsignature.h"
#include "status.h"

class QLabel;
class QPlainTextEdit;

namespace Quillset {
class MSRControl;
class SigControl;
} // namespace Quillset

// A host window as an application would build one: two signature mirrors (lines joined and
// not), a card reader control, and buttons that replay a recorded signature and save and
// reload the controls' properties in a settings file.
class DemoWindow : public QWidget
{
    Q_OBJECT

public:
    explicit DemoWindow(QString settingsPath, QWidget* parent = nullptr);

    // Replays the whole signature at once, with no animation.
    void replayNow();
    // Both report on the window what they did; false when they could not do it.
    bool saveProperties();
    bool reloadProperties();
    // The last report.
    QString statusText() const;

private:
    void startReplay();
    void replayStep();
    void clearSignatures();
    void showSavedFile();
    void report(const QString& text);
    // Reports the failure; false, for the caller to return.
    bool fail(const Quillset::Status& status);

    QString m_settingsPath;
    Quillset::SigControl* m_joined;
    Quillset::SigControl* m_dotted;
    Quillset::MSRControl* m_cardReader;
    QLabel* m_status;
    QPlainTextEdit* m_savedFile;
    RecordedSignature m_signature;
    QTimer m_replayTimer;
    qsizetype m_nextSample = 0;
};
