#pragma once

#include <map>
#include <memory>

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "pad/paddriver.h"
#include "screenpad/typedtracks.h"

class ActivityLog;
class EvdevCardReader;
struct Qp6100Settings;
class PadWindow;
struct ReaderKey;

// The QP6100 pad made of what a shop already has: a customer-facing screen (or a window on
// the till's own screen) for the forms, a keyboard-mode card reader for the swipe, and a pen,
// finger or mouse for the signature. Opening the port opens the pad window "Varnel Pad",
// frameless and full screen on the screen the settings name. It needs a widget application
// with a display; without one OpenPort answers kNoDisplay.
class ScreenPad final : public QObject, public PadDriver
{
    Q_OBJECT

public:
    // OpenPort's statuses other than 1.
    static constexpr qint16 kNoDisplay = 2;
    static constexpr qint16 kNoSuchScreen = 3;

    // The `[QP6100]` settings name the screen and the card reader (read when they are used);
    // the log takes what goes wrong with them.
    ScreenPad(const Qp6100Settings& settings, ActivityLog& log, QObject* parent = nullptr);
    ~ScreenPad() override;

    void OpenPort(int port, int options, qint16& status) override;
    void ClosePort() override;
    void IsPortOpen(qint16& flag) override;
    void ShowForm(const QString& formName, qint16& status) override;
    void RunForm(const QString& formName, const QString& argument, qint16& status) override;
    void LoadScript(int mode, const QString& entryName, const QString& path, int baudRate,
                    qint16& status) override;
    void SaveSignature(const QByteArray& bytes, qint16 count, const QString& path,
                       qint16& status) override;
    void GetVariable(const QString& name, QString& value, qint16& status) override;
    void SetVariable(const QString& name, const QByteArray& bytes, qint16 count,
                     qint16& status) override;

    // The pad window while the port is open, for tests and pictures.
    PadWindow* window() const;
    // A key of a card reader read straight from its device while the swipe form waits.
    void readerKey(const ReaderKey& key);

private:
    void note(const QString& line) const;
    void startSwipe();
    void stopSwipe();
    void typed(QChar character);
    void entered();
    void cardReaderFailed(const QString& reason);
    void takeFocus();
    void giveBackFocus();
    void clearSignature();
    void finishSignature();
    void showValues();
    qint64 nowMs() const { return m_clock.elapsed(); }

    const Qp6100Settings* m_settings;
    ActivityLog* m_log;
    // Lets go with deleteLater(): a port may close while one of its events is handled.
    QPointer<PadWindow> m_window;
    QPointer<PadWindow> m_closedWindow;
    std::unique_ptr<EvdevCardReader> m_cardReader;
    std::map<QString, QString> m_variables;
    TypedTrackParser m_tracks;
    QElapsedTimer m_clock;
    // Drops a half-typed swipe once the reader has been quiet for a second.
    QTimer m_idle;
    bool m_awaitingCard = false;
    bool m_awaitingSignature = false;
    bool m_holdsFocus = false;
    // The window of this program that had the focus before the swipe took it.
    QPointer<QWidget> m_focusOwner;
    // The desktop's active window then, another program's too (X11 only; 0 when unknown).
    quint32 m_desktopFocusOwner = 0;
};
