#pragma once

#include <optional>

class QCommandLineParser;
class QString;

// Declares --add-till NAME, --pair-till NAME, --list-tills and --remove-till NAME.
void addTillOptions(QCommandLineParser& parser);

// Runs the till command that the parsed command line asks for, for the program folder `home`
// (made when missing, owner-only when `ownerOnlyHome`), and returns the program's exit status
// (0 done, 1 failed, 2 wrong use); nothing when it asks for none.
std::optional<int> runTillCommand(const QCommandLineParser& parser, const QString& home,
                                  bool ownerOnlyHome);

// Whether a command line that did not parse ends in a till option without its name: that is
// wrong use (exit status 2), reported here.
bool refuseTillOptionWithoutName(const QString& lastArgument);
