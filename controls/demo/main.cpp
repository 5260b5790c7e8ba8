// quillset-demo: a host window with both controls. Replays a recorded signature into two
// signature mirrors, one joining the pen-down samples with lines and one drawing dots, and saves
// and reloads the controls' properties in a settings file.
//
//   quillset-demo [--settings FILE] [--screenshot FILE]
//
// With --screenshot the demo replays the signature at once, saves and reloads the properties,
// writes a picture of its window to FILE and quits; when the save fails it says why on the
// error output and exits with 1.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QPixmap>
#include <QStandardPaths>
#include <QTextStream>

#include "demowindow.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillset-demo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Places the Quillset controls on a window."));
    parser.addHelpOption();
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("Keeps the controls' properties in FILE."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Replays, saves and reloads at once, writes the window to FILE, quits."),
        QStringLiteral("FILE"));
    parser.addOption(settings);
    parser.addOption(screenshot);
    parser.process(app);

    QString settingsPath = parser.value(settings);
    if (settingsPath.isEmpty()) {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
        QDir().mkpath(folder);
        settingsPath = QDir(folder).filePath(QStringLiteral("quillset-demo.ini"));
    }

    DemoWindow window(settingsPath);
    window.show();
    if (!parser.isSet(screenshot))
        return app.exec();

    window.replayNow();
    // A save that failed leaves nothing to reload, and the controls keep what they have.
    const bool saved = window.saveProperties();
    if (saved)
        window.reloadProperties();
    QApplication::processEvents();
    if (!window.grab().save(parser.value(screenshot))) {
        QTextStream(stderr) << "cannot write " << parser.value(screenshot) << '\n';
        return 1;
    }
    if (!saved) {
        QTextStream(stderr) << window.statusText() << '\n';
        return 1;
    }
    return 0;
}
