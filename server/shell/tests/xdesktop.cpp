#include "xdesktop.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QThread>

namespace {
// How long the X server and each helper may take to come up: on a machine whose cores are
// shared by many builds, a window manager has been seen to need more than ten seconds.
constexpr int kStartMs = 30000;
} // namespace

XDesktop::~XDesktop()
{
    stop(m_trayHost);
    stop(m_windowManager);
    stop(m_xvfb);
}

void XDesktop::stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool XDesktop::start(bool withTrayHost)
{
    // The server picks a free display number itself and writes it on its output when ready.
    m_xvfb.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                  QStringLiteral("1024x768x24")});
    QDeadlineTimer deadline(kStartMs);
    QByteArray number;
    // A busy machine may take longer than one read's wait to start the server: keep reading
    // until the deadline, unless the server has ended.
    while (!number.endsWith('\n') && !deadline.hasExpired() &&
           m_xvfb.state() != QProcess::NotRunning) {
        m_xvfb.waitForReadyRead(200);
        number += m_xvfb.readAllStandardOutput();
    }
    if (!number.endsWith('\n'))
        return false;
    m_display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());

    const bool windowManager = startHelper(
        m_windowManager, QStringLiteral("openbox"), {QStringLiteral("--sm-disable")},
        [this] { return !run(QStringLiteral("wmctrl"), {QStringLiteral("-m")}).isEmpty(); });
    if (!windowManager || !withTrayHost)
        return windowManager;
    return startHelper(m_trayHost, QStringLiteral("trayer"),
                       {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                        QStringLiteral("right"), QStringLiteral("--widthtype"),
                        QStringLiteral("pixel"), QStringLiteral("--width"), QStringLiteral("120"),
                        QStringLiteral("--heighttype"), QStringLiteral("pixel"),
                        QStringLiteral("--height"), QStringLiteral("24")},
                       [this] { return !windows(QStringLiteral("^panel$"), true).isEmpty(); });
}

bool XDesktop::startHelper(QProcess& process, const QString& program, const QStringList& arguments,
                           const std::function<bool()>& ready)
{
    process.setProcessEnvironment(environment());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForStarted(5000) && waitFor(ready, kStartMs);
}

QProcessEnvironment XDesktop::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    // Under LeakSanitizer: what the desktop's libraries keep for good is not the program's.
    QString leakOptions = environment.value(QStringLiteral("LSAN_OPTIONS"));
    if (!leakOptions.isEmpty())
        leakOptions += QLatin1Char(':');
    environment.insert(
        QStringLiteral("LSAN_OPTIONS"),
        leakOptions + QStringLiteral("print_suppressions=0:suppressions=" VARNEL_DESKTOP_LEAKS));
    return environment;
}

QString XDesktop::run(const QString& program, const QStringList& arguments) const
{
    QProcess tool;
    tool.setProcessEnvironment(environment());
    tool.start(program, arguments);
    if (!tool.waitForFinished(10000)) {
        tool.kill();
        tool.waitForFinished(2000);
        return {};
    }
    return QString::fromLocal8Bit(tool.readAllStandardOutput());
}

QStringList XDesktop::windows(const QString& titlePattern, bool visibleOnly) const
{
    QStringList arguments{QStringLiteral("search")};
    if (visibleOnly)
        arguments << QStringLiteral("--onlyvisible");
    arguments << QStringLiteral("--name") << titlePattern;
    return run(QStringLiteral("xdotool"), arguments).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool XDesktop::isViewable(const QString& windowId) const
{
    return run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), windowId})
        .contains(QStringLiteral("Map State: IsViewable"));
}

QList<QPoint> XDesktop::trayIcons(const QString& windowClass) const
{
    // The tray host's panel holds the embedded icons somewhere below it in the window tree;
    // each line reads: id "name": ("instance" "class")  WxH+x+y  +absX+absY
    const QStringList tree =
        run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")})
            .split(QLatin1Char('\n'));
    static const QRegularExpression line(QStringLiteral(
        R"re(^(\s*)0x\w+ .*\("(\S*)" "(\S*)"\)\s+(\d+)x(\d+)\+\S+\s+\+(-?\d+)\+(-?\d+))re"));
    QList<QPoint> icons;
    qsizetype panelIndent = -1;
    for (const QString& text : tree) {
        const QRegularExpressionMatch match = line.match(text);
        if (!match.hasMatch())
            continue;
        const qsizetype indent = match.capturedLength(1);
        if (match.captured(3) == QLatin1String("trayer") &&
            match.captured(2) == QLatin1String("panel")) {
            panelIndent = indent;
            continue;
        }
        if (panelIndent >= 0 && indent <= panelIndent)
            panelIndent = -1; // past the panel's subtree
        if (panelIndent >= 0 && match.captured(3) == windowClass) {
            icons << QPoint(match.captured(6).toInt() + match.captured(4).toInt() / 2,
                            match.captured(7).toInt() + match.captured(5).toInt() / 2);
        }
    }
    return icons;
}

void XDesktop::click(QPoint at, int button) const
{
    // The pointer arrives first, so that the window under it knows it is there.
    run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())});
    QThread::msleep(300);
    run(QStringLiteral("xdotool"), {QStringLiteral("click"), QString::number(button)});
}

bool XDesktop::waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (condition())
            return true;
        QThread::msleep(100);
    }
    return condition();
}
