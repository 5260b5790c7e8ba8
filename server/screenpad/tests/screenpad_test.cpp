// The screen pad as the server drives it, on the off-screen platform: its port, its forms and
// the values they show, a swipe typed into the pad window, and a signature drawn with the
// mouse that ends up in the pen data where it was drawn.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include "core/clock.h"
#include "log/activitylog.h"
#include "pad/padvariables.h"
#include "pad/sigcomp.h"
#include "screenpad/padwindow.h"
#include "screenpad/screenpad.h"
#include "screenpad/signingbox.h"
#include "settings/settings.h"
#include "testfiles.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kTrack1 = u"%B4111111111111111^DOE/JANE^29121010000000000000?"_s;
const QString kTrack2 = u";4111111111111111=29121010000000000000?"_s;

class ScreenPadTest : public testing::Test
{
protected:
    void SetUp() override
    {
        qint16 status = 0;
        m_pad.OpenPort(0, 0, status);
        ASSERT_EQ(status, 1);
        ASSERT_NE(m_pad.window(), nullptr);
    }

    qint16 show(const QString& form)
    {
        qint16 status = -1;
        m_pad.ShowForm(form, status);
        QApplication::processEvents();
        return status;
    }
    qint16 set(const QString& name, const QString& value)
    {
        QByteArray bytes;
        const qint16 count = PadVariables::valueBytes(value, bytes);
        qint16 status = -1;
        m_pad.SetVariable(name, bytes, count, status);
        return status;
    }
    QString get(const QString& name)
    {
        QString value;
        qint16 status = 0;
        m_pad.GetVariable(name, value, status);
        return status == 1 ? value : u"(unread)"_s;
    }
    // A drag with the left button through `points` of the signing box (its own coordinates).
    void drag(const QList<QPoint>& points)
    {
        QWidget& box = m_pad.window()->signingBox();
        const auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButton button,
                              Qt::MouseButtons held) {
            QMouseEvent event(type, at, box.mapToGlobal(at), button, held, Qt::NoModifier);
            QApplication::sendEvent(&box, &event);
        };
        send(QEvent::MouseButtonPress, points.first(), Qt::LeftButton, Qt::LeftButton);
        for (const QPoint& at : points.mid(1))
            send(QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, points.last(), Qt::LeftButton, Qt::NoButton);
    }
    QStringList shownTexts() const
    {
        QStringList texts;
        for (const QLabel* label : m_pad.window()->findChildren<QLabel*>())
            if (label->isVisibleTo(m_pad.window()))
                texts << label->text();
        return texts;
    }

    QTemporaryDir m_dir;
    SystemClock m_clock;
    ActivityLog m_log{m_dir.filePath(u"varnelpayment.log"_s), m_clock};
    Qp6100Settings m_settings;
    ScreenPad m_pad{m_settings, m_log};
};

const QString kNul(QChar(0));

} // namespace

TEST_F(ScreenPadTest, ItsPortIsAFullScreenWindowWithTheFormsAndTheirValues)
{
    PadWindow& window = *m_pad.window();
    EXPECT_EQ(window.windowTitle(), u"Varnel Pad"_s);
    EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(window.isFullScreen());
    EXPECT_EQ(window.screen(), QGuiApplication::screens().last());
    qint16 flag = 0;
    m_pad.IsPortOpen(flag);
    EXPECT_EQ(flag, -1);
    EXPECT_EQ(window.form(), u"padWelcome"_s);

    // The forms it has, and no other; no scripts.
    for (const QString& form : {u"padDisconnect"_s, u"padStart"_s, u"padWelcome"_s})
        EXPECT_EQ(show(form), 1) << form.toStdString();
    EXPECT_EQ(show(u"padThanks"_s), 0);
    EXPECT_EQ(window.form(), u"padWelcome"_s);
    qint16 status = -1;
    m_pad.LoadScript(1, u"AUTORUN"_s, m_dir.filePath(u"x.bin"_s), 38400, status);
    EXPECT_NE(status, 1);
    m_pad.RunForm(u"AUTORUN"_s, {}, status);
    EXPECT_EQ(status, 0);

    // Values set while a form shows appear at once; empty ones take no room.
    ASSERT_EQ(show(u"padSig"_s), 1);
    EXPECT_FALSE(shownTexts().join(u'|').contains(u"Total"_s));
    EXPECT_EQ(set(u"TOTAL"_s, u"12.50"_s), 1);
    EXPECT_EQ(set(u"FULLNAME"_s, u"Jane Doe"_s), 1);
    EXPECT_EQ(set(u"ACCOUNT"_s, u"A-778"_s), 1);
    EXPECT_EQ(set(u"NOSUCH"_s, u"x"_s), 0);
    EXPECT_TRUE(shownTexts().contains(u"Total: 12.50"_s));
    EXPECT_TRUE(shownTexts().contains(u"Jane Doe"_s));
    EXPECT_TRUE(shownTexts().contains(u"Account: A-778"_s));
    EXPECT_EQ(get(u"TOTAL"_s), u"12.50"_s);
    EXPECT_EQ(get(u"SIGCOMP"_s), kNul);

    // The signing box is the only pure white of the form, 10:3 and most of the width.
    const QImage picture = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QRect white;
    qint64 whitePixels = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (picture.pixel(x, y) == qRgb(255, 255, 255)) {
                white |= QRect(x, y, 1, 1);
                ++whitePixels;
            }
    const QRect box(window.signingBox().mapTo(&window, QPoint(0, 0)), window.signingBox().size());
    EXPECT_EQ(white, box);
    EXPECT_EQ(whitePixels, qint64(box.width()) * box.height());
    EXPECT_NEAR(double(box.width()) / box.height(), 10.0 / 3.0, 0.02);
    EXPECT_GE(box.width(), picture.width() * 6 / 10);
    // Clear and Done are finger-sized.
    for (QWidget* button : window.findChildren<QPushButton*>())
        EXPECT_GE(button->height(), 64);

    m_pad.ClosePort();
    m_pad.IsPortOpen(flag);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(m_pad.window(), nullptr);
    EXPECT_EQ(get(u"TOTAL"_s), u"(unread)"_s);
    EXPECT_EQ(set(u"TOTAL"_s, u"1"_s), 0);
    EXPECT_EQ(show(u"padWelcome"_s), 0);
}

TEST_F(ScreenPadTest, ASignatureIsKeptWhereItWasDrawnAndOnlyDoneHandsItOver)
{
    ASSERT_EQ(show(u"padSig"_s), 1);
    SigningBox& box = m_pad.window()->signingBox();
    const int w = box.width();
    const int h = box.height();
    const auto at = [&](double fx, double fy) { return QPoint(int(fx * w), int(fy * h)); };

    // Done (Return) with no ink does nothing.
    QTest::keyClick(m_pad.window(), Qt::Key_Return);
    EXPECT_EQ(get(u"SIGCOMP"_s), kNul);

    // Escape clears what was drawn.
    drag({at(0.5, 0.1), at(0.5, 0.9)});
    EXPECT_FALSE(box.isEmpty());
    QTest::keyClick(m_pad.window(), Qt::Key_Escape);
    EXPECT_TRUE(box.isEmpty());

    drag({at(0.1, 0.2), at(0.5, 0.5), at(0.9, 0.8)});
    drag({at(0.25, 0.75)});
    QTest::keyClick(m_pad.window(), Qt::Key_Return);
    const std::optional<PenStrokes> strokes = Sigcomp::decode(get(u"SIGCOMP"_s));
    ASSERT_TRUE(strokes.has_value());
    ASSERT_EQ(strokes->size(), 2u);
    const auto near = [](PenPoint point, int x, int y) {
        return std::abs(point.x - x) <= 1 && std::abs(point.y - y) <= 1;
    };
    EXPECT_EQ(strokes->at(0).size(), 3u);
    EXPECT_TRUE(near(strokes->at(0).front(), 40, 24));
    EXPECT_TRUE(near(strokes->at(0).at(1), 200, 60));
    EXPECT_TRUE(near(strokes->at(0).back(), 360, 96));
    EXPECT_TRUE(near(strokes->at(1).front(), 100, 90));

    // The saved picture comes from the pen data as the server reads it.
    const QString sigcomp = get(u"SIGCOMP"_s);
    QByteArray raw;
    for (const QChar c : sigcomp)
        raw.append(char(c.unicode() & 0xff)).append(char(c.unicode() >> 8));
    const QString path = m_dir.filePath(u"ab12.pcx"_s);
    qint16 status = 0;
    m_pad.SaveSignature(raw, qint16(raw.size()), path, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(TestFiles::readAll(path).left(1), QByteArray("\x0a"));

    // A finished signature takes no more ink; flushing the pen data takes it off the screen.
    drag({at(0.3, 0.3), at(0.6, 0.3)});
    EXPECT_EQ(get(u"SIGCOMP"_s), sigcomp);
    EXPECT_EQ(set(u"SIGCOMP"_s, kNul), 1);
    EXPECT_TRUE(box.isEmpty());

    // A signature abandoned with the form (time-out, abort) leaves no ink for the next one.
    ASSERT_EQ(show(u"padSig"_s), 1);
    drag({at(0.3, 0.3), at(0.6, 0.3)});
    ASSERT_EQ(show(u"padWelcome"_s), 1);
    ASSERT_EQ(show(u"padSig"_s), 1);
    EXPECT_TRUE(box.isEmpty());
    QTest::keyClick(m_pad.window(), Qt::Key_Return);
    EXPECT_EQ(get(u"SIGCOMP"_s), kNul);
}

TEST_F(ScreenPadTest, ASwipeTypedIntoThePadFillsTheTracksAndNothingOfItShows)
{
    // A reader device that cannot be opened is logged, and the window reads the card.
    m_settings.cardReader = m_dir.filePath(u"no-such-event-device"_s);
    ASSERT_EQ(set(u"TOTAL"_s, u"8.00"_s), 1);
    ASSERT_EQ(show(u"padStart"_s), 1);
    EXPECT_TRUE(shownTexts().contains(u"Please swipe your card"_s));
    EXPECT_TRUE(shownTexts().contains(u"Total: 8.00"_s));
    const QStringList log = TestFiles::logEntries(m_dir.filePath(u"varnelpayment.log"_s));
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log.first().startsWith(u"Screen pad: cannot open the card reader "_s +
                                       m_settings.cardReader + u": "_s))
        << log.first().toStdString();

    // A partial swipe is dropped and the form waits on.
    QTest::keyClicks(m_pad.window(), kTrack1.chopped(1));
    QTest::keyClick(m_pad.window(), Qt::Key_Return);
    EXPECT_EQ(get(u"TRACK1"_s), kNul);

    QTest::keyClicks(m_pad.window(), kTrack1 + kTrack2);
    QTest::keyClick(m_pad.window(), Qt::Key_Return);
    EXPECT_EQ(get(u"TRACK1"_s), kTrack1);
    EXPECT_EQ(get(u"TRACK2"_s), kTrack2);
    for (const QString& text : shownTexts())
        EXPECT_FALSE(text.contains(u"4111"_s)) << text.toStdString();
    // The form took one card; the next waits for the form to be shown again.
    QTest::keyClicks(m_pad.window(), u"%B5500000000000004^X/Y^2912?"_s);
    QTest::keyClick(m_pad.window(), Qt::Key_Return);
    EXPECT_EQ(get(u"TRACK1"_s), kTrack1);

    // Half a swipe abandoned with its form is gone by the next swipe.
    ASSERT_EQ(set(u"TRACK1"_s, {}), 1);
    ASSERT_EQ(show(u"padStart"_s), 1);
    QTest::keyClicks(m_pad.window(), kTrack1);
    ASSERT_EQ(show(u"padWelcome"_s), 1);
    ASSERT_EQ(show(u"padStart"_s), 1);
    QTest::keyClicks(m_pad.window(), kTrack2);
    QTest::keyClick(m_pad.window(), Qt::Key_Return);
    EXPECT_EQ(get(u"TRACK1"_s), kNul);
    EXPECT_EQ(
        TestFiles::logEntries(m_dir.filePath(u"varnelpayment.log"_s)).join(u'|').count(u"4111"_s),
        0);
}
