#pragma once

#include <cstdio>

#include <QString>

// What the program's one-shot commands (certificates, tills, the outbox) print.
namespace CommandOutput {

// One line to `stream`, flushed at once.
void print(FILE* stream, const QString& text);
// "varnelpayment: TEXT" on standard error; returns the exit status of a command that failed.
int fail(const QString& text);
// The same with " (see --help)"; returns the exit status of a command used wrongly.
int wrongUse(const QString& text);

} // namespace CommandOutput
