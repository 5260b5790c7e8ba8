#include "pad/padvaluebytes.h"

#include <QSaveFile>

#include "pad/pcxwriter.h"
#include "pad/sigcomp.h"
#include "pad/signaturerenderer.h"

namespace {

QChar lowByteFirst(const QByteArray& bytes, int at)
{
    return QChar(char16_t(uchar(bytes.at(at))) | char16_t(char16_t(uchar(bytes.at(at + 1))) << 8));
}

// A reader never sees half a file, and a failed write leaves whatever was at the path before.
bool writeOwnerOnly(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(bytes) != bytes.size())
        return false;
    return file.commit();
}

} // namespace

namespace PadValueBytes {

std::optional<QString> variableText(const QByteArray& bytes, qint16 count)
{
    if (count < 2 || count != bytes.size() || count % 2 != 0 || bytes.at(count - 1) != 0 ||
        bytes.at(count - 2) != 0)
        return std::nullopt;
    QString text;
    text.reserve(count / 2 - 1);
    for (int i = 0; i + 2 < count; i += 2)
        text.append(lowByteFirst(bytes, i));
    return text;
}

std::optional<QString> signatureText(const QByteArray& bytes, qint16 count)
{
    if (count <= 0 || count != bytes.size() || count % 2 != 0)
        return std::nullopt;
    QString text(count / 2, Qt::Uninitialized);
    for (int i = 0; i < count / 2; ++i)
        text[i] = lowByteFirst(bytes, 2 * i);
    return text;
}

bool saveSignaturePicture(const QByteArray& bytes, qint16 count, const QString& path)
{
    if (path.isEmpty())
        return false;
    const std::optional<QString> text = signatureText(bytes, count);
    const std::optional<PenStrokes> strokes = text ? Sigcomp::decode(*text) : std::nullopt;
    return strokes && writeOwnerOnly(path, writePcx(renderSignature(*strokes)));
}

} // namespace PadValueBytes
