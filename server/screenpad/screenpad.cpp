#include "screenpad/screenpad.h"

#include <QApplication>
#include <QScreen>
#include <QWindow>

#include "log/activitylog.h"
#include "pad/padvaluebytes.h"
#include "pad/sigcomp.h"
#include "screenpad/desktopfocus.h"
#include "screenpad/evdevcardreader.h"
#include "screenpad/padwindow.h"
#include "screenpad/signingbox.h"
#include "settings/settings.h"

namespace {

const QStringList kVariableNames = {PadVariable::kTotal,    PadVariable::kTrack1,
                                    PadVariable::kTrack2,   PadVariable::kSigcomp,
                                    PadVariable::kFullname, PadVariable::kAccount};

void wipe(QString& text)
{
    text.fill(QChar(0));
    text.clear();
}

} // namespace

ScreenPad::ScreenPad(const Qp6100Settings& settings, ActivityLog& log, QObject* parent)
    : QObject(parent), m_settings(&settings), m_log(&log)
{
    for (const QString& name : kVariableNames)
        m_variables[name] = QString();
    m_clock.start();
    m_idle.setSingleShot(true);
    m_idle.setInterval(int(TypedTrackParser::kIdleMs) + 1);
    connect(&m_idle, &QTimer::timeout, this, [this] { m_tracks.expire(nowMs()); });
}

ScreenPad::~ScreenPad()
{
    stopSwipe();
    // A window closed after the event loop ended is still waiting for its deletion.
    delete m_closedWindow;
    delete m_window;
}

PadWindow* ScreenPad::window() const
{
    return m_window;
}

void ScreenPad::note(const QString& line) const
{
    m_log->log(QStringLiteral("Screen pad: ") + line);
}

void ScreenPad::OpenPort(int, int, qint16& status)
{
    if (m_window) {
        status = 1;
        return;
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        note(QStringLiteral("no display to show the pad on"));
        status = kNoDisplay;
        return;
    }
    const QList<QScreen*> screens = QGuiApplication::screens();
    const QString wanted = m_settings->screen.trimmed();
    bool isNumber = wanted.isEmpty();
    const int index = wanted.isEmpty() ? int(screens.size()) - 1 : wanted.toInt(&isNumber);
    if (!isNumber || index < 0 || index >= screens.size()) {
        note(QStringLiteral("there is no screen [%1]; the screens are 0 to %2")
                 .arg(wanted)
                 .arg(screens.size() - 1));
        status = kNoSuchScreen;
        return;
    }
    QScreen* screen = screens.at(index);

    m_window = new PadWindow;
    m_window->setWindowFlag(Qt::FramelessWindowHint);
    // The pad never takes the keyboard from the till, except while the swipe form waits for
    // a reader that types.
    m_window->setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    m_window->setAttribute(Qt::WA_ShowWithoutActivating);
    m_window->setScreen(screen);
    m_window->setGeometry(screen->geometry());
    connect(m_window, &PadWindow::typed, this, &ScreenPad::typed);
    connect(m_window, &PadWindow::entered, this, &ScreenPad::entered);
    connect(m_window, &PadWindow::clearPressed, this, &ScreenPad::clearSignature);
    connect(m_window, &PadWindow::donePressed, this, &ScreenPad::finishSignature);
    showValues();
    // Not showFullScreen(), which would also take the keyboard.
    m_window->setWindowState(Qt::WindowFullScreen);
    m_window->show();
    status = 1;
}

void ScreenPad::ClosePort()
{
    stopSwipe();
    m_awaitingSignature = false;
    if (m_window) {
        m_window->signingBox().clear();
        m_window->allowClose();
        m_window->hide();
        m_window->deleteLater();
        m_closedWindow = m_window;
        m_window = nullptr;
    }
}

void ScreenPad::IsPortOpen(qint16& flag)
{
    flag = m_window ? -1 : 0;
}

void ScreenPad::ShowForm(const QString& formName, qint16& status)
{
    status = 0;
    if (!m_window)
        return;
    // Whatever a customer left on the pad goes with the form it was left on.
    stopSwipe();
    m_awaitingSignature = false;
    m_window->signingBox().setAccepting(false);
    m_window->signingBox().clear();
    if (!m_window->showForm(formName))
        return;
    if (formName == PadForm::kStart)
        startSwipe();
    if (formName == PadForm::kSig) {
        m_awaitingSignature = true;
        m_window->signingBox().setAccepting(true);
    }
    status = 1;
}

void ScreenPad::RunForm(const QString&, const QString&, qint16& status)
{
    // The forms are built in; there is no script to run.
    status = 0;
}

void ScreenPad::LoadScript(int, const QString&, const QString&, int, qint16& status)
{
    note(QStringLiteral("the screen pad has its forms built in and takes no script"));
    status = 0;
}

void ScreenPad::SaveSignature(const QByteArray& bytes, qint16 count, const QString& path,
                              qint16& status)
{
    status = PadValueBytes::saveSignaturePicture(bytes, count, path) ? 1 : 0;
}

void ScreenPad::GetVariable(const QString& name, QString& value, qint16& status)
{
    status = 0;
    const auto found = m_variables.find(name);
    if (!m_window || found == m_variables.end())
        return;
    // An empty variable reads back as one NUL, as the pad's own does.
    value = found->second.isEmpty() ? QString(QChar(0)) : found->second;
    status = 1;
}

void ScreenPad::SetVariable(const QString& name, const QByteArray& bytes, qint16 count,
                            qint16& status)
{
    status = 0;
    const auto found = m_variables.find(name);
    if (!m_window || found == m_variables.end())
        return;
    const std::optional<QString> text = PadValueBytes::variableText(bytes, count);
    if (!text)
        return;
    wipe(found->second);
    found->second = *text;
    // Emptying the pen data after a capture takes the signature off the screen too.
    if (name == PadVariable::kSigcomp && !m_awaitingSignature &&
        (text->isEmpty() || *text == QString(QChar(0))))
        m_window->signingBox().clear();
    showValues();
    status = 1;
}

void ScreenPad::showValues()
{
    if (m_window)
        m_window->showValues(m_variables[PadVariable::kTotal], m_variables[PadVariable::kFullname],
                             m_variables[PadVariable::kAccount]);
}

void ScreenPad::startSwipe()
{
    m_awaitingCard = true;
    m_tracks.clear();
    const QString device = m_settings->cardReader.trimmed();
    if (!device.isEmpty()) {
        m_cardReader = std::make_unique<EvdevCardReader>();
        connect(m_cardReader.get(), &EvdevCardReader::keyTyped, this, &ScreenPad::readerKey);
        connect(m_cardReader.get(), &EvdevCardReader::failed, this, &ScreenPad::cardReaderFailed);
        QString reason;
        if (m_cardReader->open(device, &reason))
            return;
        m_cardReader.reset();
        note(QStringLiteral("cannot open the card reader %1: %2; the card is read from the "
                            "pad window")
                 .arg(device, reason));
    }
    takeFocus();
}

void ScreenPad::stopSwipe()
{
    m_awaitingCard = false;
    m_idle.stop();
    m_tracks.clear();
    if (m_cardReader) {
        m_cardReader->close();
        // It may be inside one of its own signals.
        m_cardReader.release()->deleteLater();
    }
    giveBackFocus();
}

void ScreenPad::cardReaderFailed(const QString& reason)
{
    if (!m_awaitingCard)
        return;
    note(QStringLiteral("the card reader stopped (%1); the card is read from the pad window")
             .arg(reason));
    m_tracks.clear();
    if (m_cardReader)
        m_cardReader.release()->deleteLater();
    takeFocus();
}

void ScreenPad::readerKey(const ReaderKey& key)
{
    if (key.kind == ReaderKey::Enter)
        entered();
    else
        typed(key.character);
}

void ScreenPad::typed(QChar character)
{
    if (!m_awaitingCard)
        return;
    m_tracks.key(character, nowMs());
    m_idle.start();
}

void ScreenPad::entered()
{
    if (!m_awaitingCard)
        return;
    std::optional<CardTracks> tracks = m_tracks.enter(nowMs());
    if (!tracks)
        return;
    // One card per swipe form, as the pad's own script takes it.
    m_variables[PadVariable::kTrack1] = tracks->track1;
    m_variables[PadVariable::kTrack2] = tracks->track2;
    wipe(tracks->track1);
    wipe(tracks->track2);
    stopSwipe();
}

void ScreenPad::takeFocus()
{
    if (!m_window || m_holdsFocus)
        return;
    m_focusOwner = QApplication::activeWindow();
    m_desktopFocusOwner = DesktopFocus::activeWindow(*m_window);
    m_holdsFocus = true;
    if (QWindow* handle = m_window->windowHandle())
        handle->setFlag(Qt::WindowDoesNotAcceptFocus, false);
    m_window->raise();
    m_window->activateWindow();
}

void ScreenPad::giveBackFocus()
{
    if (!m_holdsFocus)
        return;
    m_holdsFocus = false;
    if (m_window)
        if (QWindow* handle = m_window->windowHandle())
            handle->setFlag(Qt::WindowDoesNotAcceptFocus, true);
    // The till's window gets the keyboard back, whichever program shows it.
    if (m_focusOwner && m_focusOwner != m_window)
        m_focusOwner->activateWindow();
    else if (m_window && m_desktopFocusOwner && m_desktopFocusOwner != m_window->internalWinId())
        DesktopFocus::activate(*m_window, m_desktopFocusOwner);
    m_focusOwner = nullptr;
    m_desktopFocusOwner = 0;
}

void ScreenPad::clearSignature()
{
    if (m_window && m_awaitingSignature)
        m_window->signingBox().clear();
}

void ScreenPad::finishSignature()
{
    if (!m_window || !m_awaitingSignature || m_window->signingBox().isEmpty())
        return;
    m_awaitingSignature = false;
    m_window->signingBox().setAccepting(false);
    m_variables[PadVariable::kSigcomp] = Sigcomp::encode(m_window->signingBox().strokes());
}
