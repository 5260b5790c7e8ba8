#pragma once

#include <optional>

class QCommandLineParser;
class QString;

// Declares the certificate commands' options: --make-ca DIR [--name TEXT], --make-certificate
// [--ca DIR] [--days N] [NAME ...] and --browser-policy.
void addCertificateOptions(QCommandLineParser& parser);

// Runs the certificate command that the parsed command line asks for, for the program folder
// `home`, and returns the program's exit status (0 done, 1 failed, 2 wrong use); nothing when
// the command line asks for none of them. Positional arguments are names only for
// --make-certificate; elsewhere they are left to the caller to refuse.
std::optional<int> runCertificateCommand(const QCommandLineParser& parser, const QString& home);
