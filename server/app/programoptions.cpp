#include "app/programoptions.h"

#include <cstdio>

#include <QCoreApplication>
#include <QDir>

#include "app/outboxcommand.h"
#include "app/tillcommand.h"
#include "tls/certificatecommand.h"

namespace {

void printError(const QString& text)
{
    std::fputs(qPrintable(QStringLiteral("varnelpayment: ") + text + QLatin1Char('\n')), stderr);
    std::fflush(stderr);
}

// The QP6100 drivers this build has: true for the screen pad, false for the simulated pad.
std::optional<bool> isScreenPad(const QString& name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty() || trimmed.compare(QLatin1String("simulated"), Qt::CaseInsensitive) == 0)
        return false;
    if (trimmed.compare(QLatin1String("screen"), Qt::CaseInsensitive) == 0)
        return true;
    return std::nullopt;
}

} // namespace

ProgramOptions::ProgramOptions(const DefaultProgramFolder& fallback) : m_fallback(fallback)
{
    m_parser.setApplicationDescription(QStringLiteral(
        "Varnel Payment Server: lets point-of-sale programs on the network use the signature "
        "pad and the PIN pad of this workstation through one-line TAG=value; requests over "
        "TCP, and browser tills over an optional WebSocket port. The ports, who may connect "
        "and the devices are set in varnelpayment.ini in the "
        "program folder; the activity log varnelpayment.log is written there too. On a "
        "desktop it runs in the notification area with its settings window."));
    m_parser.addHelpOption();
    m_parser.addVersionOption();
    m_parser.addOption({QStringLiteral("headless"),
                        QStringLiteral("Run without the tray icon and settings window, as a "
                                       "service; needed where there is no display.")});
    m_parser.addOption(
        {QStringLiteral("home"),
         QStringLiteral("Use <dir> as the program folder (created when missing). "
                        "Default here: %1%2.")
             .arg(QDir::toNativeSeparators(fallback.path),
                  fallback.perUser ? QStringLiteral(" (this user's data folder, made owner-only)")
                                   : QStringLiteral(" (the executable's folder)")),
         QStringLiteral("dir")});
    m_parser.addOption({QStringLiteral("simulate"),
                        QStringLiteral("Tick the QP6100 device box for this run (not in the "
                                       "settings file), so the pad connects at once.")});
    m_parser.addOption(
        {QStringLiteral("pad"),
         QStringLiteral("The QP6100 for this run, instead of [QP6100] Driver in the settings "
                        "file: 'simulated' (the default) or 'screen' (a window on a screen, a "
                        "card reader and a pen, finger or mouse; needs a display, also with "
                        "--headless)."),
         QStringLiteral("driver")});
    addCertificateOptions(m_parser);
    addOutboxOptions(m_parser);
    addTillOptions(m_parser);
}

bool ProgramOptions::parse(const QStringList& arguments)
{
    if (m_parser.parse(arguments))
        return true;
    if (!arguments.isEmpty() && refuseTillOptionWithoutName(arguments.last())) {
        m_parseFailureStatus = 2;
        return false;
    }
    printError(m_parser.errorText());
    return false;
}

bool ProgramOptions::asksForHelpOrVersion() const
{
    return m_parser.isSet(QStringLiteral("help")) || m_parser.isSet(QStringLiteral("version"));
}

void ProgramOptions::showHelpOrVersion()
{
    if (m_parser.isSet(QStringLiteral("help")))
        m_parser.showHelp(0);
    m_parser.showVersion();
}

QString ProgramOptions::home() const
{
    return m_parser.isSet(QStringLiteral("home")) ? m_parser.value(QStringLiteral("home"))
                                                  : m_fallback.path;
}

bool ProgramOptions::ownerOnlyHome() const
{
    return !m_parser.isSet(QStringLiteral("home")) && m_fallback.perUser;
}

bool ProgramOptions::screenPad(const QString& storedDriver) const
{
    if (m_parser.isSet(QStringLiteral("pad")))
        return isScreenPad(m_parser.value(QStringLiteral("pad"))).value_or(false);
    if (const std::optional<bool> screen = isScreenPad(storedDriver))
        return *screen;
    printError(QStringLiteral("[QP6100] Driver=%1 is not a pad this program has (simulated, "
                              "screen); using the simulated pad")
                   .arg(storedDriver));
    return false;
}

std::optional<int> ProgramOptions::refusal(bool hasDisplay) const
{
    const auto refuse = [](const QString& text) {
        printError(text);
        return 2;
    };
    if (!m_parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument '%1' (see --help)")
                          .arg(m_parser.positionalArguments().first()));
    if (m_parser.isSet(QStringLiteral("pad")) &&
        !isScreenPad(m_parser.value(QStringLiteral("pad"))))
        return refuse(QStringLiteral("--pad takes 'simulated' or 'screen', not '%1'")
                          .arg(m_parser.value(QStringLiteral("pad"))));
    if (!headless() && !hasDisplay)
        return refuse(QStringLiteral("no display for the tray program (DISPLAY and "
                                     "WAYLAND_DISPLAY are not set); run with --headless to "
                                     "serve without a window"));
    return std::nullopt;
}
