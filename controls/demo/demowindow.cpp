#include "demowindow.h"

#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include "msrcontrol.h"
#include "settingspropertystore.h"
#include "sigcontrol.h"

using Quillset::Status;

namespace {

constexpr int kSamplesPerStep = 6;
constexpr int kStepMs = 15;

QWidget* framed(const QString& title, QWidget* control)
{
    auto* box = new QGroupBox(title);
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(control, 0, Qt::AlignLeft | Qt::AlignTop);
    layout->addStretch();
    return box;
}

} // namespace

DemoWindow::DemoWindow(QString settingsPath, QWidget* parent)
    : QWidget(parent), m_settingsPath(std::move(settingsPath)), m_joined(new Quillset::SigControl),
      m_dotted(new Quillset::SigControl), m_cardReader(new Quillset::MSRControl),
      m_status(new QLabel), m_savedFile(new QPlainTextEdit), m_signature(recordedSignature())
{
    setWindowTitle(QStringLiteral("Quillset demo"));
    m_joined->setFixedSize(m_joined->sizeHint());
    m_dotted->setFixedSize(m_dotted->sizeHint());
    m_cardReader->setFixedSize(m_cardReader->sizeHint());

    auto* controls = new QHBoxLayout;
    controls->addWidget(framed(QStringLiteral("SigControl, ConnectLines on"), m_joined));
    controls->addWidget(framed(QStringLiteral("SigControl, ConnectLines off"), m_dotted));
    controls->addWidget(framed(QStringLiteral("MSRControl"), m_cardReader));

    auto* replay = new QPushButton(QStringLiteral("Replay signature"));
    auto* clear = new QPushButton(QStringLiteral("Clear"));
    auto* save = new QPushButton(QStringLiteral("Save properties"));
    auto* reload = new QPushButton(QStringLiteral("Reload properties"));
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {replay, clear, save, reload})
        buttons->addWidget(button);
    buttons->addStretch();

    m_savedFile->setReadOnly(true);
    m_savedFile->setFixedHeight(150);
    m_status->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addLayout(buttons);
    layout->addWidget(m_status);
    layout->addWidget(new QLabel(QStringLiteral("Saved properties (%1):").arg(m_settingsPath)));
    layout->addWidget(m_savedFile);

    connect(replay, &QPushButton::clicked, this, &DemoWindow::startReplay);
    connect(clear, &QPushButton::clicked, this, &DemoWindow::clearSignatures);
    connect(save, &QPushButton::clicked, this, &DemoWindow::saveProperties);
    connect(reload, &QPushButton::clicked, this, &DemoWindow::reloadProperties);
    connect(&m_replayTimer, &QTimer::timeout, this, &DemoWindow::replayStep);

    // Placed anew: the controls get the initialise notice, then the demo's own settings.
    for (Quillset::SigControl* control : {m_joined, m_dotted})
        if (Status status = control->initProperties(); !status.ok())
            report(status.text());
    if (Status status = m_cardReader->initProperties(); !status.ok())
        report(status.text());
    if (Status status = m_joined->ConnectLines(true); !status.ok())
        report(status.text());
    if (Status status = m_joined->ForeColor(0x800000); !status.ok()) // dark blue ink
        report(status.text());
    if (Status status = m_cardReader->TimeOut(30); !status.ok())
        report(status.text());
    showSavedFile();
}

void DemoWindow::replayNow()
{
    clearSignatures();
    while (m_nextSample < m_signature.samples.size())
        replayStep();
}

bool DemoWindow::saveProperties()
{
    QSettings settings(m_settingsPath, QSettings::IniFormat);
    Quillset::SettingsPropertyStore joined(settings, QStringLiteral("SigControl1"));
    Quillset::SettingsPropertyStore dotted(settings, QStringLiteral("SigControl2"));
    Quillset::SettingsPropertyStore cardReader(settings, QStringLiteral("MSRControl1"));
    for (const Status& status :
         {m_joined->writeProperties(joined), m_dotted->writeProperties(dotted),
          m_cardReader->writeProperties(cardReader)})
        if (!status.ok())
            return fail(status);
    // Only writing the file shows whether it can be written.
    if (Status status = joined.sync(); !status.ok())
        return fail(status);
    report(QStringLiteral("Saved the properties of 3 controls."));
    showSavedFile();
    return true;
}

bool DemoWindow::reloadProperties()
{
    // With nothing saved every control would be put back to its defaults.
    if (!QFileInfo::exists(m_settingsPath)) {
        report(QStringLiteral("Nothing is saved in %1; the controls keep their properties.")
                   .arg(m_settingsPath));
        return false;
    }
    QSettings settings(m_settingsPath, QSettings::IniFormat);
    Quillset::SettingsPropertyStore joined(settings, QStringLiteral("SigControl1"));
    Quillset::SettingsPropertyStore dotted(settings, QStringLiteral("SigControl2"));
    Quillset::SettingsPropertyStore cardReader(settings, QStringLiteral("MSRControl1"));
    for (const Status& status : {m_joined->readProperties(joined), m_dotted->readProperties(dotted),
                                 m_cardReader->readProperties(cardReader)})
        if (!status.ok())
            return fail(status);
    report(QStringLiteral("Reloaded: ConnectLines %1 and %2, ReturnFormat %3, card TimeOut %4.")
               .arg(m_joined->ConnectLines() ? QStringLiteral("on") : QStringLiteral("off"),
                    m_dotted->ConnectLines() ? QStringLiteral("on") : QStringLiteral("off"))
               .arg(m_cardReader->ReturnFormat())
               .arg(m_cardReader->TimeOut()));
    return true;
}

QString DemoWindow::statusText() const
{
    return m_status->text();
}

void DemoWindow::startReplay()
{
    clearSignatures();
    m_replayTimer.start(kStepMs);
}

void DemoWindow::replayStep()
{
    for (int i = 0; i < kSamplesPerStep && m_nextSample < m_signature.samples.size(); ++i) {
        const PenSample& sample = m_signature.samples[m_nextSample++];
        for (Quillset::SigControl* control : {m_joined, m_dotted})
            if (Status status = control->MimicSetPixel(sample.x, sample.y, sample.pentouch);
                !status.ok())
                report(status.text());
    }
    if (m_nextSample >= m_signature.samples.size()) {
        m_replayTimer.stop();
        report(QStringLiteral("Replayed %1 pen samples.").arg(m_signature.samples.size()));
    }
}

void DemoWindow::clearSignatures()
{
    m_replayTimer.stop();
    m_nextSample = 0;
    for (Quillset::SigControl* control : {m_joined, m_dotted}) {
        if (Status status = control->MimicClearScreen(); !status.ok())
            report(status.text());
        if (Status status = control->MimicSetScale(m_signature.padWidth, m_signature.padHeight);
            !status.ok())
            report(status.text());
    }
}

void DemoWindow::showSavedFile()
{
    QFile file(m_settingsPath);
    m_savedFile->setPlainText(file.open(QIODevice::ReadOnly | QIODevice::Text)
                                  ? QString::fromUtf8(file.readAll())
                                  : QStringLiteral("(nothing saved yet)"));
}

void DemoWindow::report(const QString& text)
{
    m_status->setText(text);
}

bool DemoWindow::fail(const Status& status)
{
    report(status.text());
    return false;
}
