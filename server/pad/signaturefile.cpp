#include "pad/signaturefile.h"

#include <QList>

#include "pad/sigcomp.h"

namespace {

// A whole number of at most five digits; larger numbers are outside the area anyway.
std::optional<int> coordinate(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

QString lineError(int lineNumber, const QString& what)
{
    return QStringLiteral("line %1: %2").arg(lineNumber).arg(what);
}

} // namespace

SignatureFile SignatureFile::parse(const QByteArray& text)
{
    SignatureFile file = read(text);
    // A file with a fault is no signature at all.
    if (!file.error.isEmpty())
        file.strokes.clear();
    return file;
}

SignatureFile SignatureFile::read(const QByteArray& text)
{
    SignatureFile file;
    int points = 0;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNumber = int(i + 1);
        const QByteArray line = lines.at(i).simplified();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        PenStroke stroke;
        for (const QByteArray& word : line.split(' ')) {
            const QString shown = QString::fromUtf8(word);
            const qsizetype comma = word.indexOf(',');
            const std::optional<int> x = comma < 0 ? std::nullopt : coordinate(word.left(comma));
            const std::optional<int> y = comma < 0 ? std::nullopt : coordinate(word.mid(comma + 1));
            if (!x || !y) {
                file.error = lineError(lineNumber, QStringLiteral("\"%1\" is not a pen point "
                                                                  "x,y of two whole numbers")
                                                       .arg(shown));
                return file;
            }
            const PenPoint point{*x, *y};
            if (!SigningArea::contains(point)) {
                file.error = lineError(lineNumber, QStringLiteral("pen point %1 lies outside the "
                                                                  "signing area (x 0 to %2, y 0 "
                                                                  "to %3)")
                                                       .arg(shown)
                                                       .arg(SigningArea::kWidth - 1)
                                                       .arg(SigningArea::kHeight - 1));
                return file;
            }
            stroke.push_back(point);
        }
        points += int(stroke.size());
        file.strokes.push_back(std::move(stroke));
    }
    if (points == 0)
        file.error = QStringLiteral("the file holds no pen points");
    else if (points > Sigcomp::kMaxPoints)
        file.error = QStringLiteral("the signature has %1 pen points; the pad takes at most %2")
                         .arg(points)
                         .arg(Sigcomp::kMaxPoints);
    return file;
}
