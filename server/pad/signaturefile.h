#pragma once

#include <QByteArray>
#include <QString>

#include "pad/penstrokes.h"

// The plain-text signature that varnel-pad signs with: one stroke per line, each stroke its
// pen points "x,y" separated by blanks or tabs; a line whose first non-blank character is "#"
// is a comment, and blank lines are skipped. Points lie in the signing area (x 0 to 399,
// y 0 to 119, origin top left).
struct SignatureFile
{
    PenStrokes strokes;
    // Empty when the text is a signature; otherwise what is wrong, with the line number.
    QString error;

    static SignatureFile parse(const QByteArray& text);

private:
    static SignatureFile read(const QByteArray& text);
};
