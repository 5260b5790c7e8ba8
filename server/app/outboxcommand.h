#pragma once

#include <optional>

class QCommandLineParser;
class QString;

// Declares --outbox and --retry-failed.
void addOutboxOptions(QCommandLineParser& parser);

// Runs the outbox command that the parsed command line asks for, for the program folder
// `home`, and returns the program's exit status; nothing when it asks for none.
std::optional<int> runOutboxCommand(const QCommandLineParser& parser, const QString& home);
