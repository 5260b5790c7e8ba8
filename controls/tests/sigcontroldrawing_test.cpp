// What the signature control draws, read back pixel by pixel from its backing image.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include <QPixmap>

#include "fakemessageboxpresenter.h"
#include "sigcontrol.h"

using namespace Quillset;
using namespace Qt::Literals::StringLiterals;

namespace {

using Pixels = std::set<std::pair<int, int>>;

constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kBlack = 0xFF000000;

// Every pixel of the image that is not white.
Pixels inked(const QImage& image)
{
    Pixels pixels;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != kWhite)
                pixels.insert({x, y});
    return pixels;
}

Pixels row(int y, int fromX, int toX)
{
    Pixels pixels;
    for (int x = fromX; x <= toX; ++x)
        pixels.insert({x, y});
    return pixels;
}

Pixels column(int x, int fromY, int toY)
{
    Pixels pixels;
    for (int y = fromY; y <= toY; ++y)
        pixels.insert({x, y});
    return pixels;
}

Pixels joined(std::initializer_list<Pixels> parts)
{
    Pixels all;
    for (const Pixels& part : parts)
        all.insert(part.begin(), part.end());
    return all;
}

// A control whose surface is 200 x 100 pixels inside its border, cleared, and scaled to
// 100 x 50 units: one unit is two pixels each way.
class SigControlDrawing : public ::testing::Test
{
protected:
    void SetUp() override
    {
        control.resize(202, 102);
        ASSERT_TRUE(control.MimicClearScreen().ok());
        ASSERT_TRUE(control.MimicSetScale(100, 50).ok());
        ASSERT_EQ(control.surface().size(), QSize(200, 100));
    }

    QString status()
    {
        messages.texts.clear();
        EXPECT_TRUE(control.MimicStatus().ok());
        return messages.texts.value(0);
    }

    FakeMessageBoxPresenter messages;
    SigControl control{nullptr, nullptr, &messages};
};

} // namespace

TEST(SigControlPicture, SignatureAreaShowsUntilTheScreenIsCleared)
{
    FakeMessageBoxPresenter messages;
    SigControl control(nullptr, nullptr, &messages);
    const QImage before = control.surface().image();
    ASSERT_EQ(before.size(), QSize(240, 134));
    const Pixels words = inked(before);
    ASSERT_GT(words.size(), 100u);
    for (const auto& [x, y] : words) {
        ASSERT_LT(x, 151);
        ASSERT_LT(y, 46);
    }

    ASSERT_TRUE(control.MimicClearScreen().ok());
    EXPECT_TRUE(inked(control.surface().image()).empty());
    EXPECT_TRUE(control.MimicStatus().ok());
    EXPECT_EQ(messages.texts, QStringList{u"Current = 0, 0"_s});
}

TEST_F(SigControlDrawing, ConnectedSamplesJoinPenDownPointsWithLines)
{
    ASSERT_TRUE(control.ConnectLines(true).ok());
    ASSERT_TRUE(control.MimicSetPixel(10, 10, 0).ok());
    ASSERT_TRUE(control.MimicSetPixel(20, 10, 1).ok());
    ASSERT_TRUE(control.MimicSetPixel(20, 20, 1).ok());
    EXPECT_EQ(inked(control.surface().image()), joined({row(20, 20, 40), column(40, 20, 40)}));
    EXPECT_EQ(status(), u"Current = 20, 20"_s);
}

TEST_F(SigControlDrawing, UnconnectedSamplesAreDots)
{
    ASSERT_TRUE(control.MimicSetPixel(10, 10, 0).ok());
    ASSERT_TRUE(control.MimicSetPixel(20, 10, 1).ok());
    ASSERT_TRUE(control.MimicSetPixel(20, 20, 1).ok());
    EXPECT_EQ(inked(control.surface().image()), (Pixels{{20, 20}, {40, 20}, {40, 40}}));

    // A pen-up sample is a dot even with lines connected: it starts the next stroke.
    ASSERT_TRUE(control.ConnectLines(true).ok());
    ASSERT_TRUE(control.MimicSetPixel(50, 30, 0).ok());
    ASSERT_TRUE(control.MimicSetPixel(52, 30, 1).ok());
    EXPECT_EQ(inked(control.surface().image()),
              joined({{{20, 20}, {40, 20}, {40, 40}}, row(60, 100, 104)}));
}

TEST_F(SigControlDrawing, SamplesWithBothCoordinatesNegativeCarryNoPoint)
{
    ASSERT_TRUE(control.ConnectLines(true).ok());
    ASSERT_TRUE(control.MimicSetPixel(10, 10, 0).ok());
    ASSERT_TRUE(control.MimicSetPixel(-1, -1, 1).ok());
    EXPECT_EQ(inked(control.surface().image()), (Pixels{{20, 20}}));
    EXPECT_EQ(status(), u"Current = 10, 10"_s);

    // One negative coordinate is a point like any other: the stroke runs off the left edge.
    ASSERT_TRUE(control.MimicSetPixel(-1, 10, 1).ok());
    EXPECT_EQ(inked(control.surface().image()), row(20, 0, 20));
    EXPECT_EQ(status(), u"Current = -1, 10"_s);
}

TEST_F(SigControlDrawing, SetLineFromTheCurrentPositionOrBetweenTwoPoints)
{
    ASSERT_TRUE(control.MimicSetLine(5, 5).ok());
    Pixels diagonal;
    for (int i = 0; i <= 10; ++i)
        diagonal.insert({i, i});
    EXPECT_EQ(inked(control.surface().image()), diagonal);
    EXPECT_EQ(status(), u"Current = 5, 5"_s);

    ASSERT_TRUE(control.MimicClearScreen().ok());
    ASSERT_TRUE(control.MimicSetPixel(40, 40, 0).ok());
    ASSERT_TRUE(control.MimicSetLine(5, 5, 8, 5).ok());
    EXPECT_EQ(inked(control.surface().image()), joined({{{80, 80}}, row(10, 10, 16)}));
    EXPECT_EQ(status(), u"Current = 8, 5"_s);

    // Y2 left out counts as 0.
    ASSERT_TRUE(control.MimicClearScreen().ok());
    ASSERT_TRUE(control.MimicSetLine(3, 5, 3).ok());
    EXPECT_EQ(inked(control.surface().image()), column(6, 0, 10));
    EXPECT_EQ(status(), u"Current = 3, 0"_s);
}

TEST_F(SigControlDrawing, FarCoordinatesAreClippedToTheSurface)
{
    ASSERT_TRUE(control.MimicSetLine(-32768, 10, 32767, 10).ok());
    EXPECT_EQ(inked(control.surface().image()), row(20, 0, 199));
    ASSERT_TRUE(control.MimicSetPixel(32767, 32767, 0).ok());
    EXPECT_EQ(inked(control.surface().image()).size(), 200u);
    EXPECT_EQ(status(), u"Current = 32767, 32767"_s);
}

TEST(SigControlClipping, LinesRunningOffTheSurfaceShowTheirVisiblePartUnchanged)
{
    // One unit is one pixel on both surfaces; the large one holds each line whole, 100 pixels
    // further right and down, and must show the same pixels where the small one shows any.
    constexpr int kShift = 100;
    SigControl small;
    small.resize(202, 102);
    SigControl large;
    large.resize(402, 302);
    for (SigControl* control : {&small, &large}) {
        const QSize size = control->surface().size();
        ASSERT_TRUE(control->MimicSetScale(qint16(size.width()), qint16(size.height())).ok());
    }

    const struct
    {
        int x1, y1, x2, y2;
    } lines[] = {
        {-5, 10, 150, 60},   // in across the left edge
        {190, -30, 10, 95},  // down from above the top
        {50, 90, 260, 130},  // out across the bottom and past the right edge
        {-40, -20, 240, 97}, // through the surface, out at both ends
        {-3, -90, 7, 150},   // steep, through the top and the bottom
    };
    for (const auto& line : lines) {
        SCOPED_TRACE(testing::Message() << "(" << line.x1 << ", " << line.y1 << ")-(" << line.x2
                                        << ", " << line.y2 << ")");
        ASSERT_TRUE(small.MimicClearScreen().ok());
        ASSERT_TRUE(large.MimicClearScreen().ok());
        ASSERT_TRUE(
            small.MimicSetLine(qint16(line.x1), qint16(line.y1), qint16(line.x2), qint16(line.y2))
                .ok());
        ASSERT_TRUE(large
                        .MimicSetLine(qint16(line.x1 + kShift), qint16(line.y1 + kShift),
                                      qint16(line.x2 + kShift), qint16(line.y2 + kShift))
                        .ok());
        Pixels whole;
        for (const auto& [x, y] : inked(large.surface().image()))
            if (x >= kShift && x < kShift + 200 && y >= kShift && y < kShift + 100)
                whole.insert({x - kShift, y - kShift});
        const Pixels clipped = inked(small.surface().image());
        EXPECT_FALSE(clipped.empty());
        EXPECT_EQ(clipped, whole);
    }
}

TEST(SigControlClipping, EndsFarBeyondAnySurfaceStillLeaveTheVisiblePartOnTheLine)
{
    // With a scale this small, one unit is 2e10 pixels wide and 1e10 high: the ends lie far
    // outside anything whole-number steps could take, and are cut in floating point first.
    DrawingSurface surface(QSize(200, 100));
    ASSERT_TRUE(surface.setScaleWidth(1e-8).ok());
    ASSERT_TRUE(surface.setScaleHeight(1e-8).ok());
    surface.drawLine(QPointF(-1, 0.5e-8), QPointF(1, 0.5e-8));
    EXPECT_EQ(inked(surface.image()), row(50, 0, 199));

    surface.clear();
    surface.drawLine(QPointF(1, 1), QPointF(-1, -1));
    Pixels halfSlope;
    for (int x = 0; x < 199; ++x)
        halfSlope.insert({x, (x + 1) / 2});
    EXPECT_EQ(inked(surface.image()), halfSlope);
    EXPECT_EQ(surface.currentPosition(), QPointF(-1, -1));
}

TEST_F(SigControlDrawing, ScaleSetsTheUnitsOfLaterSamples)
{
    EXPECT_EQ(control.MimicSetScale(0, 10).code(), StatusCode::InvalidPropertyValue);
    EXPECT_EQ(control.surface().scaleWidth(), 100);

    // A negative width runs the axis right to left from the left edge.
    ASSERT_TRUE(control.MimicSetScale(-200, 100).ok());
    ASSERT_TRUE(control.MimicSetPixel(-10, 10, 0).ok());
    EXPECT_EQ(inked(control.surface().image()), (Pixels{{10, 10}}));
}

TEST_F(SigControlDrawing, InkTakesTheForeColourOverTheBackColour)
{
    ASSERT_TRUE(control.ForeColor(0x0000FF).ok());
    ASSERT_TRUE(control.MimicSetPixel(10, 10, 0).ok());
    ASSERT_TRUE(control.ForeColor(0x00FF00).ok());
    ASSERT_TRUE(control.MimicSetPixel(11, 10, 0).ok());
    ASSERT_TRUE(control.BackColor(0xFF0000).ok());
    const QImage image = control.surface().image();
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 255));
    // The ink drawn so far keeps its colour when the background changes.
    EXPECT_EQ(image.pixel(20, 20), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(22, 20), qRgb(0, 255, 0));
}

TEST_F(SigControlDrawing, RepaintsShowTheInkDrawnSoFar)
{
    control.show();
    ASSERT_TRUE(control.MimicSetPixel(10, 10, 0).ok());
    ASSERT_TRUE(control.MimicSetLine(30, 10, 30, 40).ok());
    control.repaint();
    const QImage shown = control.grab().toImage();
    // One pixel of border, then the surface.
    EXPECT_EQ(shown.pixel(0, 0), kBlack);
    EXPECT_EQ(shown.pixel(1 + 20, 1 + 20), kBlack);
    EXPECT_EQ(shown.pixel(1 + 60, 1 + 50), kBlack);
    EXPECT_EQ(shown.pixel(1 + 30, 1 + 30), kWhite);

    // Without a border the surface takes the whole control and the ink stays where it was.
    ASSERT_TRUE(control.BorderStyle(0).ok());
    EXPECT_EQ(control.surface().size(), QSize(202, 102));
    const QImage borderless = control.grab().toImage();
    EXPECT_EQ(borderless.pixel(0, 0), kWhite);
    EXPECT_EQ(borderless.pixel(20, 20), kBlack);
}
