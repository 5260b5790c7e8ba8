#include "request/requestparser.h"

#include <QDir>

#include "core/failure.h"
#include "request/timernumber.h"

namespace {

const QString kParsePrefix = QStringLiteral("Socket: DataArrival Parse ");

QString pieceLogLine(const QString& tag, const QString& value)
{
    return kParsePrefix + QStringLiteral("tag=[") + tag + QStringLiteral("] value=[") + value +
           QLatin1Char(']');
}

QString summaryLogLine(const RequestValues& v)
{
    return kParsePrefix + QStringLiteral("transType=[") + v.transType +
           QStringLiteral("] action=[") + v.action + QStringLiteral("] doFtp=[") +
           (v.doFtp ? QStringLiteral("True") : QStringLiteral("False")) +
           QStringLiteral("] name=[") + v.name + QStringLiteral("] total=[") + v.total +
           QStringLiteral("] ");
}

// A value as its parse line shows it: a card number masked, a till's key or code not at all.
QString shownValue(const QString& tag, const QString& value)
{
    if (tag == QLatin1String("CREDITCARD"))
        return maskCardNumber(value);
    if (tag == QLatin1String("KEY") || tag == QLatin1String("CODE"))
        return QStringLiteral("********");
    return value;
}

// Applies one tag to the values; a tag outside the table changes nothing.
void applyTag(const QString& tag, const QString& value, const QString& signaturesFolder,
              ParsedRequest& out)
{
    RequestValues& v = out.values;
    if (tag == QLatin1String("ACCOUNT")) {
        v.account = value;
    } else if (tag == QLatin1String("ACTION")) {
        v.action = value;
    } else if (tag == QLatin1String("CREDITCARD")) {
        v.creditCard = value;
    } else if (tag == QLatin1String("DOFTP")) {
        v.doFtp = value.toUpper() == QLatin1String("Y");
    } else if (tag == QLatin1String("FTPPATH")) {
        if (!value.isEmpty())
            v.ftpPath = value;
    } else if (tag == QLatin1String("NAME")) {
        v.name = value;
    } else if (tag == QLatin1String("TOTAL")) {
        v.total = value;
    } else if (tag == QLatin1String("TRANS")) {
        v.transType = value;
    } else if (tag == QLatin1String("TIMER")) {
        out.padTimeout = timerSeconds(value);
    } else if (tag == QLatin1String("UNIQU")) {
        // Any value is taken; the signature operations check the name before they use it.
        v.sigFile = signaturesFolder + QDir::separator() + value.toLower() + QStringLiteral(".pcx");
    } else if (tag == QLatin1String("KEY")) {
        v.key = value;
    } else if (tag == QLatin1String("CODE")) {
        v.code = value;
    }
}

} // namespace

QString maskCardNumber(const QString& number)
{
    if (number.size() <= 4)
        return number;
    return QString(number.size() - 4, QLatin1Char('*')) + number.right(4);
}

ParsedRequest parseRequest(const QString& text, const QString& signaturesFolder)
{
    ParsedRequest out;
    if (!text.contains(QLatin1Char(';'))) {
        out.outcome = ParsedRequest::Outcome::NoSemicolon;
        out.logLines << QStringLiteral("Socket: DataArrival No Semicolon");
        return out;
    }

    int notLogged = 0;
    try {
        const QStringList pieces = text.split(QLatin1Char(';'));
        for (const QString& piece : pieces) {
            if (piece.isEmpty())
                continue;
            const qsizetype firstEquals = piece.indexOf(QLatin1Char('='));
            if (firstEquals < 0)
                throw Failure(FailureCode::InvalidArgument);
            const QString tag = piece.left(firstEquals).toUpper();
            const QString value = piece.mid(piece.lastIndexOf(QLatin1Char('=')) + 1);
            if (out.logLines.size() < kMaxPieceLogLines) {
                out.logLines << pieceLogLine(tag, shownValue(tag, value));
            } else {
                ++notLogged;
            }
            applyTag(tag, value, signaturesFolder, out);
        }
    } catch (const Failure& failure) {
        out.outcome = ParsedRequest::Outcome::Failed;
        out.failureCode = failure.code();
    }

    if (notLogged > 0)
        out.logLines << kParsePrefix + QStringLiteral("pieces not logged=[") +
                            QString::number(notLogged) + QLatin1Char(']');
    if (out.outcome == ParsedRequest::Outcome::Parsed)
        out.logLines << summaryLogLine(out.values);
    return out;
}
