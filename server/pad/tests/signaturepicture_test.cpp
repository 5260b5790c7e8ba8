// The signature's way from pen data to picture: the SIGCOMP text, the drawing, the PCX file
// and the simulated pad's SaveSignature that joins them.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include <QDir>
#include <QTemporaryDir>

#include "pad/pcxwriter.h"
#include "pad/sigcomp.h"
#include "pad/signaturerenderer.h"
#include "pad/simulatedpad.h"
#include "testfiles.h"

namespace {

// A picture read back from PCX bytes by this test's own reader, independent of the writer.
struct DecodedPcx
{
    QString error;
    int width = 0;
    int height = 0;
    // Grey level of each pixel, row by row, looked up in the file's palette.
    std::vector<int> grey;
};

DecodedPcx failed(const char* why)
{
    DecodedPcx out;
    out.error = QString::fromLatin1(why);
    return out;
}

int word(const QByteArray& bytes, int offset)
{
    return uchar(bytes.at(offset)) | (uchar(bytes.at(offset + 1)) << 8);
}

DecodedPcx decodePcx(const QByteArray& bytes)
{
    DecodedPcx out;
    if (bytes.size() < 128 + 769)
        return failed("too short");
    if (bytes.at(0) != 0x0A || bytes.at(1) != 5 || bytes.at(2) != 1 || bytes.at(3) != 8 ||
        bytes.at(65) != 1)
        return failed("not a version 5, run-length, 8-bit, one-plane PCX");
    out.width = word(bytes, 8) - word(bytes, 4) + 1;
    out.height = word(bytes, 10) - word(bytes, 6) + 1;
    const int bytesPerLine = word(bytes, 66);
    if (bytesPerLine < out.width || bytesPerLine % 2 != 0)
        return failed("bad bytes per line");
    const qsizetype paletteAt = bytes.size() - 769;
    if (bytes.at(paletteAt) != 0x0C)
        return failed("no palette mark");

    QByteArray pixels;
    qsizetype pos = 128;
    const qsizetype wanted = qsizetype(bytesPerLine) * out.height;
    while (pixels.size() < wanted && pos < paletteAt) {
        const uchar b = uchar(bytes.at(pos++));
        if ((b & 0xC0) == 0xC0) {
            if (pos >= paletteAt)
                return failed("run without its value");
            pixels.append(b & 0x3F, bytes.at(pos++));
        } else {
            pixels.append(char(b));
        }
    }
    if (pixels.size() != wanted || pos != paletteAt)
        return failed("image data does not fill the picture exactly");
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            const int index = uchar(pixels.at(y * bytesPerLine + x));
            const int r = uchar(bytes.at(paletteAt + 1 + 3 * index));
            const int g = uchar(bytes.at(paletteAt + 2 + 3 * index));
            const int b = uchar(bytes.at(paletteAt + 3 + 3 * index));
            if (r != g || g != b)
                return failed("a pixel that is not grey");
            out.grey.push_back(r);
        }
    }
    return out;
}

// A signature of `count` points in strokes of varying length, always the same for a count.
PenStrokes scribble(int count, unsigned variant = 1)
{
    std::mt19937 random(variant);
    PenStrokes strokes;
    PenPoint pen{200, 60};
    while (count > 0) {
        const int length = std::min(count, int(random() % 60) + 1);
        PenStroke stroke;
        for (int i = 0; i < length; ++i) {
            pen.x = std::clamp(pen.x + int(random() % 21) - 10, 0, SigningArea::kWidth - 1);
            pen.y = std::clamp(pen.y + int(random() % 13) - 6, 0, SigningArea::kHeight - 1);
            stroke.push_back(pen);
        }
        count -= length;
        strokes.push_back(std::move(stroke));
    }
    return strokes;
}

QByteArray rawUtf16(const QString& text)
{
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

TEST(Sigcomp, EncodesAndDecodesEveryKindOfSignatureUnchanged)
{
    const std::vector<PenStrokes> signatures = {
        {{{0, 0}}},
        {{{399, 119}}, {{0, 119}, {399, 0}}},
        {{{10, 10}, {10, 10}, {11, 10}}, {{5, 5}}},
        scribble(1),
        scribble(Sigcomp::kMaxPoints, 7),
    };
    for (const PenStrokes& strokes : signatures) {
        const QString text = Sigcomp::encode(strokes);
        const std::optional<PenStrokes> decoded = Sigcomp::decode(text);
        ASSERT_TRUE(decoded) << qPrintable(text.left(60));
        EXPECT_EQ(*decoded, strokes);
        // Printable ASCII only: it travels in a text variable and shows in the pad's state.
        for (const QChar c : text)
            ASSERT_TRUE(c.unicode() > 32 && c.unicode() < 127) << qPrintable(text.left(60));
    }
    // The operation takes at most 16,383 characters; the worst 2,000-point signature has one
    // point per stroke.
    PenStrokes dots;
    for (int i = 0; i < Sigcomp::kMaxPoints; ++i)
        dots.push_back({{i % SigningArea::kWidth, i % SigningArea::kHeight}});
    EXPECT_LE(Sigcomp::encode(dots).size(), 16383);
    EXPECT_EQ(Sigcomp::decode(Sigcomp::encode(dots)), dots);
    // Strokes without points leave no trace.
    EXPECT_EQ(Sigcomp::encode({{}, {{1, 2}}, {}}), Sigcomp::encode({{{1, 2}}}));
}

TEST(Sigcomp, RefusesEverythingThatIsNotPenData)
{
    const QString good = Sigcomp::encode({{{1, 2}, {3, 4}}});
    const QStringList bad = {
        QString(),
        QStringLiteral("S1"),                             // no stroke
        QStringLiteral("S2") + good.mid(2),               // another format
        good.mid(1),                                      // mark cut
        good + QStringLiteral("."),                       // empty last stroke
        good.left(good.size() - 1),                       // a cut point
        QStringLiteral("S1..AAA"),                        // empty first stroke
        good.left(4) + QStringLiteral("*") + good.mid(5), // outside the alphabet
        good.left(4) + QChar(0x00C1) + good.mid(5),       // beyond ASCII
        QStringLiteral("S1.///"),                         // y beyond the area
        QStringLiteral("S1.LuA"),                         // 48000: the first value past the area
        QString(QChar(0)),
    };
    for (const QString& text : bad)
        EXPECT_FALSE(Sigcomp::decode(text)) << qPrintable(text);
    EXPECT_EQ(Sigcomp::decode(QStringLiteral("S1.Lt/")), (PenStrokes{{{399, 119}}}));
}

TEST(SignatureRenderer, InksEveryPointAndJoinsConsecutivePointsWithThinLines)
{
    const PenStrokes strokes = scribble(600, 3);
    const InkBitmap bitmap = renderSignature(strokes);
    ASSERT_EQ(bitmap.width(), 400);
    ASSERT_EQ(bitmap.height(), 120);

    // Every inked pixel lies on a segment of some stroke (within half a pixel of it), every
    // point is inked, and no segment has a gap: each step along its longer axis has ink.
    auto onSegment = [](PenPoint a, PenPoint b, int x, int y) {
        const int dx = b.x - a.x;
        const int dy = b.y - a.y;
        if (dx == 0 && dy == 0)
            return x == a.x && y == a.y;
        // Bresenham picks, at each step of the longer axis, the pixel nearest the ideal line.
        const bool alongX = std::abs(dx) >= std::abs(dy);
        const double t = alongX ? double(x - a.x) / dx : double(y - a.y) / dy;
        const double off = alongX ? a.y + t * dy - y : a.x + t * dx - x;
        return t >= 0 && t <= 1 && std::abs(off) <= 0.5 + 1e-9;
    };
    int inked = 0;
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 400; ++x) {
            if (!bitmap.ink(x, y))
                continue;
            ++inked;
            bool found = false;
            for (const PenStroke& stroke : strokes) {
                for (size_t i = 0; i < stroke.size() && !found; ++i)
                    found = onSegment(stroke[i], stroke[i == 0 ? 0 : i - 1], x, y);
            }
            ASSERT_TRUE(found) << "stray ink at " << x << "," << y;
        }
    }
    EXPECT_GT(inked, 600);
    for (const PenStroke& stroke : strokes) {
        for (size_t i = 0; i < stroke.size(); ++i) {
            const PenPoint a = stroke[i];
            ASSERT_TRUE(bitmap.ink(a.x, a.y));
            if (i == 0)
                continue;
            const PenPoint b = stroke[i - 1];
            // Walking the longer axis, every step has an inked pixel on the segment.
            const bool alongX = std::abs(b.x - a.x) >= std::abs(b.y - a.y);
            const int from = alongX ? std::min(a.x, b.x) : std::min(a.y, b.y);
            const int to = alongX ? std::max(a.x, b.x) : std::max(a.y, b.y);
            for (int major = from; major <= to; ++major) {
                bool step = false;
                for (int minor = 0; minor < (alongX ? 120 : 400) && !step; ++minor) {
                    const int x = alongX ? major : minor;
                    const int y = alongX ? minor : major;
                    step = bitmap.ink(x, y) && onSegment(a, b, x, y);
                }
                ASSERT_TRUE(step) << "gap in the line at " << major;
            }
        }
    }
}

TEST(PcxWriter, WritesAPictureThatDecodesPixelByPixel)
{
    // Straight, diagonal and steep lines, a dot, and ink on all four edges.
    const PenStrokes strokes = {
        {{0, 0}, {399, 0}},     {{0, 119}, {399, 119}}, {{0, 0}, {0, 119}}, {{399, 0}, {399, 119}},
        {{10, 10}, {110, 110}}, {{200, 5}, {203, 115}}, {{300, 60}}};
    const InkBitmap bitmaps[] = {InkBitmap(400, 120), renderSignature(strokes),
                                 renderSignature(scribble(2000, 11)), InkBitmap(7, 3)};
    for (const InkBitmap& bitmap : bitmaps) {
        const DecodedPcx picture = decodePcx(writePcx(bitmap));
        ASSERT_TRUE(picture.error.isEmpty()) << qPrintable(picture.error);
        ASSERT_EQ(picture.width, bitmap.width());
        ASSERT_EQ(picture.height, bitmap.height());
        for (int y = 0; y < bitmap.height(); ++y)
            for (int x = 0; x < bitmap.width(); ++x)
                ASSERT_EQ(picture.grey[size_t(y * bitmap.width() + x)], bitmap.ink(x, y) ? 0 : 255)
                    << "pixel " << x << "," << y;
    }
    // Runs keep within a line: an empty picture is 120 lines of 7 runs (6 of 63, 1 of 22).
    EXPECT_EQ(writePcx(InkBitmap(400, 120)).size(), 128 + 120 * 7 * 2 + 769);
}

class SaveSignatureTest : public ::testing::Test
{
protected:
    SaveSignatureTest()
    {
        qint16 status = 0;
        pad.OpenPort(0, 0, status);
    }
    qint16 save(const QByteArray& bytes, qint16 count, const QString& path)
    {
        qint16 status = -7;
        pad.SaveSignature(bytes, count, path, status);
        return status;
    }

    QTemporaryDir dir;
    SimulatedPad pad;
};

TEST_F(SaveSignatureTest, DrawsThePenDataItIsHandedIntoAnOwnerOnlyPicture)
{
    const PenStrokes strokes = scribble(Sigcomp::kMaxPoints, 5);
    const QByteArray bytes = rawUtf16(Sigcomp::encode(strokes));
    const QString path = dir.filePath(QStringLiteral("ab12.pcx"));
    // An earlier picture at the path is replaced.
    TestFiles::writeAll(path, "old");
    ASSERT_EQ(save(bytes, qint16(bytes.size()), path), 1);
    EXPECT_EQ(TestFiles::readAll(path), writePcx(renderSignature(strokes)));
    EXPECT_EQ(TestFiles::unixMode(path), 0600);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("ab12.pcx")});
}

TEST_F(SaveSignatureTest, BytesThatAreNotPenDataWriteNothing)
{
    const QByteArray good = rawUtf16(Sigcomp::encode({{{1, 1}, {30, 40}}}));
    const QString path = dir.filePath(QStringLiteral("sig.pcx"));
    struct Case
    {
        const char* what;
        QByteArray bytes;
        qint16 count;
        QString path;
    };
    const Case cases[] = {
        {"count too small", good, qint16(good.size() - 2), path},
        {"count too large", good, qint16(good.size() + 2), path},
        {"odd count", good.left(good.size() - 1), qint16(good.size() - 1), path},
        {"text, not pen data", rawUtf16(QStringLiteral("hello")), 10, path},
        {"pen data with a terminator", good + QByteArray(2, '\0'), qint16(good.size() + 2), path},
        {"nothing", QByteArray(), 0, path},
        {"no path", good, qint16(good.size()), QString()},
        {"missing folder", good, qint16(good.size()),
         dir.filePath(QStringLiteral("nowhere/sig.pcx"))},
    };
    for (const Case& c : cases) {
        EXPECT_NE(save(c.bytes, c.count, c.path), 1) << c.what;
        EXPECT_TRUE(QDir(dir.path()).isEmpty()) << c.what;
    }
    // A refused save leaves an earlier file as it was.
    TestFiles::writeAll(path, "earlier");
    EXPECT_NE(save(good, qint16(good.size() - 2), path), 1);
    EXPECT_EQ(TestFiles::readAll(path), QByteArray("earlier"));
}

} // namespace
