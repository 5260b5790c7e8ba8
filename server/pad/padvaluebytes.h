#pragma once

#include <optional>

#include <QByteArray>
#include <QString>

// How a pad driver reads the bytes the server hands it.
namespace PadValueBytes {

// SetVariable's bytes back as text; nothing when they are not a terminated UTF-16LE text of
// the given count. Every character before the terminator belongs to the value, a NUL too.
std::optional<QString> variableText(const QByteArray& bytes, qint16 count);

// SaveSignature's bytes back as the text they store: two bytes per character, low byte first,
// no terminator. Nothing when the count does not match the bytes.
std::optional<QString> signatureText(const QByteArray& bytes, qint16 count);

// Decodes SaveSignature's bytes as pen data and writes the signature picture at `path`, in one
// step and readable by its owner only. False, leaving whatever was at the path, when the bytes
// are not pen data or the file cannot be written.
bool saveSignaturePicture(const QByteArray& bytes, qint16 count, const QString& path);

} // namespace PadValueBytes
