#pragma once

#include <memory>

#include <QTemporaryDir>

#include "app/paymentserver.h"
#include "borrowedpad.h"
#include "core/scheduler.h"
#include "fakeclock.h"
#include "fakepinpad.h"
#include "fakeserialprobe.h"
#include "pad/filechooser.h"
#include "pad/simulatedpad.h"
#include "shell/desktophost.h"
#include "shell/launchertextviewer.h"
#include "settings/settingsfile.h"
#include "shell/trayprogram.h"
#include "shellfakes.h"
#include "testfiles.h"

// The real server over the simulated pad in a fresh program folder, with the tray program's
// desktop replaced by recording fakes.
struct ShellTestServer
{
    explicit ShellTestServer(const QByteArray& settings = {})
    {
        if (!settings.isEmpty())
            TestFiles::writeAll(home.filePath(QStringLiteral("varnelpayment.ini")), settings);
        const ProgramFolder folder(home.path());
        Devices devices{[this](const Qp6100Settings&, ActivityLog&) {
                            return std::make_unique<BorrowedPad>(pad);
                        },
                        fileChooser, viewer};
        devices.pinPad = &pinPad;
        devices.serialProbe = &serialProbe;
        server = std::make_unique<PaymentServer>(folder, SettingsFile::read(folder.settingsPath()),
                                                 clock, scheduler, devices);
        program = std::make_unique<TrayProgram>(
            *server, DesktopHost{questions, tray, launcher, programPath, server->folder().path(),
                                 [this] { ++ends; }});
    }

    QStringList logEntries() const
    {
        return TestFiles::logEntries(home.filePath(QStringLiteral("varnelpayment.log")));
    }

    QTemporaryDir home;
    FakeClock clock{QDateTime(QDate(2026, 12, 7), QTime(19, 54, 28))};
    QtScheduler scheduler;
    SimulatedPad pad;
    NoFileChooser fileChooser;
    RecordingLauncher launcher;
    LauncherTextViewer viewer{launcher};
    FakePinPad pinPad{scheduler};
    FakeSerialProbe serialProbe; // a machine without serial ports
    RecordingQuestionBox questions;
    FakeTray tray;
    QString programPath = QStringLiteral("/nonexistent/varnelpayment");
    int ends = 0;
    std::unique_ptr<PaymentServer> server;
    std::unique_ptr<TrayProgram> program;
};
