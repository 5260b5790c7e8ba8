#pragma once

#include <optional>

#include <QCommandLineParser>
#include <QString>

#include "core/defaultprogramfolder.h"

// The program's command line, parsed once before the application exists (which kind of
// application it needs depends on it).
class ProgramOptions
{
public:
    // The options, with the program folder used without --home in their help.
    explicit ProgramOptions(const DefaultProgramFolder& fallback);

    // Parses the arguments; false, with the error on standard error, when they are not options
    // of this program.
    bool parse(const QStringList& arguments);
    // The exit status of arguments that did not parse: 2 for a till option without its name.
    int parseFailureStatus() const { return m_parseFailureStatus; }
    // --help and --version: they print and end the program; they need the application.
    bool asksForHelpOrVersion() const;
    [[noreturn]] void showHelpOrVersion();

    bool headless() const { return m_parser.isSet(QStringLiteral("headless")); }
    bool simulate() const { return m_parser.isSet(QStringLiteral("simulate")); }
    // The program folder: --home, or the fallback; whether the program makes it owner-only.
    QString home() const;
    bool ownerOnlyHome() const;
    // Whether this run uses the screen pad: --pad, else the settings file's `storedDriver`. A
    // driver name the program does not know in the file is reported and the simulated pad is
    // used.
    bool screenPad(const QString& storedDriver) const;
    // The error (exit status 2) in the arguments, already reported; nothing when there is none.
    std::optional<int> refusal(bool hasDisplay) const;

    const QCommandLineParser& parser() const { return m_parser; }

private:
    DefaultProgramFolder m_fallback;
    QCommandLineParser m_parser;
    int m_parseFailureStatus = 1;
};
