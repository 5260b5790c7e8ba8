#include "app/outboxcommand.h"

#include <cstdio>

#include <QCommandLineParser>
#include <QDateTime>

#include "core/commandoutput.h"
#include "core/programfolder.h"
#include "pad/signatureoutbox.h"

namespace {

const QString kOutbox = QStringLiteral("outbox");
const QString kRetryFailed = QStringLiteral("retry-failed");

void printLine(const QString& line)
{
    CommandOutput::print(stdout, line);
}

} // namespace

void addOutboxOptions(QCommandLineParser& parser)
{
    parser.addOption({kOutbox, QStringLiteral("List the signature pictures that wait for their "
                                              "upload, and those given up, then end.")});
    parser.addOption({kRetryFailed, QStringLiteral("Put the given-up signature pictures back in "
                                                   "the outbox to be tried again, then end.")});
}

std::optional<int> runOutboxCommand(const QCommandLineParser& parser, const QString& home)
{
    const QString signatures = ProgramFolder(home).signaturesPath();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (parser.isSet(kOutbox)) {
        const QStringList lines = SignatureOutbox::listing(signatures, now);
        if (lines.isEmpty())
            printLine(QStringLiteral("No signature picture waits for its upload."));
        for (const QString& line : lines)
            printLine(line);
        return 0;
    }
    if (parser.isSet(kRetryFailed)) {
        const int putBack = SignatureOutbox::retryFailed(signatures, now);
        printLine(QStringLiteral("%1 given-up picture(s) put back in the outbox; the server tries "
                                 "them within seconds.")
                      .arg(putBack));
        return 0;
    }
    return std::nullopt;
}
