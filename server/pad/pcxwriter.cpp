#include "pad/pcxwriter.h"

#include "pad/signaturerenderer.h"

namespace {

constexpr int kHeaderSize = 128;
constexpr int kDotsPerInch = 100;
// A run's count byte has its two top bits set, leaving six bits for the length.
constexpr int kRunFlag = 0xC0;
constexpr int kMaxRun = 63;
constexpr char kPaletteMark = 0x0C;
constexpr char kInk = char(0);
constexpr char kPaper = char(255);

void putWord(QByteArray& header, int offset, int value)
{
    header[offset] = char(value & 0xff);
    header[offset + 1] = char((value >> 8) & 0xff);
}

QByteArray header(int width, int height, int bytesPerLine)
{
    QByteArray h(kHeaderSize, '\0');
    h[0] = char(0x0A); // maker mark
    h[1] = char(5);    // version 5
    h[2] = char(1);    // run-length encoding
    h[3] = char(8);    // bits per pixel in a plane
    putWord(h, 4, 0);  // left
    putWord(h, 6, 0);  // top
    putWord(h, 8, width - 1);
    putWord(h, 10, height - 1);
    putWord(h, 12, kDotsPerInch);
    putWord(h, 14, kDotsPerInch);
    h[65] = char(1); // one plane
    putWord(h, 66, bytesPerLine);
    putWord(h, 68, 1); // the palette holds colours
    return h;
}

// Appends one scan line's bytes, run-length encoded. Runs never cross into the next line,
// which some readers require.
void encodeLine(QByteArray& out, const QByteArray& line)
{
    const qsizetype size = line.size();
    qsizetype i = 0;
    while (i < size) {
        const char value = line.at(i);
        int run = 1;
        while (i + run < size && run < kMaxRun && line.at(i + run) == value)
            ++run;
        // A single byte that looks like a count byte must be written as a run of one.
        if (run > 1 || (uchar(value) & kRunFlag) == kRunFlag)
            out.append(char(kRunFlag | run));
        out.append(value);
        i += run;
    }
}

} // namespace

QByteArray writePcx(const InkBitmap& bitmap)
{
    const int width = bitmap.width();
    const int height = bitmap.height();
    // Each line is padded to an even number of bytes; padding is paper.
    const int bytesPerLine = width + width % 2;
    QByteArray out = header(width, height, bytesPerLine);
    QByteArray line(bytesPerLine, kPaper);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            line[x] = bitmap.ink(x, y) ? kInk : kPaper;
        encodeLine(out, line);
    }
    out.append(kPaletteMark);
    for (int level = 0; level < 256; ++level)
        out.append(3, char(level));
    return out;
}
