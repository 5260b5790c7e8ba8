// The screen pad's input rules as tables: what a typed swipe yields, where a position on the
// signing box lands in the signature, and which keys an input device's records type.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include "screenpad/inputeventreader.h"
#include "screenpad/strokerecorder.h"
#include "screenpad/typedtracks.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kTrack1 = u"%B4111111111111111^DOE/JANE^29121010000000000000?"_s;
const QString kTrack2 = u";4111111111111111=29121010000000000000?"_s;

// One typing of a reader: its characters, "\n" for Return, each after `gapMs`, and one pause
// of `pauseMs` before the character at `pauseAt`.
struct Typing
{
    const char* name;
    QString keys;
    std::optional<CardTracks> expected;
    int pauseAt = -1;
    int pauseMs = 0;
};

} // namespace

TEST(TypedTracksTest, ReturnEndsASwipeOnlyWhenEveryStartedTrackEnded)
{
    const std::vector<Typing> typings = {
        {"both tracks", kTrack1 + kTrack2 + u"\n"_s, CardTracks{kTrack1, kTrack2}},
        {"track 1 alone", kTrack1 + u"\n"_s, CardTracks{kTrack1, {}}},
        {"framing between tracks is not data", u"x"_s + kTrack1 + u" "_s + kTrack2 + u"\n"_s,
         CardTracks{kTrack1, kTrack2}},
        {"a third track is skipped", kTrack1 + kTrack2 + u";0123456789?\n"_s,
         CardTracks{kTrack1, kTrack2}},
        {"no track 1", kTrack2 + u"\n"_s, std::nullopt},
        {"track 1 without its end", kTrack1.chopped(1) + u"\n"_s, std::nullopt},
        {"track 2 without its end", kTrack1 + kTrack2.chopped(1) + u"\n"_s, std::nullopt},
        {"a non-ASCII character spoils it", u"%B41\u00e911?"_s + kTrack2 + u"\n"_s, std::nullopt},
        {"track 1 longer than a card holds", u"%"_s + QString(79, u'1') + u"?\n"_s, std::nullopt},
        {"track 2 longer than a card holds", kTrack1 + u";"_s + QString(39, u'1') + u"?\n"_s,
         std::nullopt},
        {"a new card restarts the swipe", u"%B4111^PARTIAL"_s + kTrack1 + kTrack2 + u"\n"_s,
         CardTracks{kTrack1, kTrack2}},
        {"a second after the last key the keys are gone", kTrack1 + kTrack2 + u"\n"_s, std::nullopt,
         int(kTrack1.size()) + 3, 1001},
        {"a pause of one second is still one swipe", kTrack1 + kTrack2 + u"\n"_s,
         CardTracks{kTrack1, kTrack2}, int(kTrack1.size()) + 3, 1000},
        {"after a dropped start, a whole swipe counts",
         u"%B41"_s + QString(QChar(0)) + kTrack1 + kTrack2 + u"\n"_s, CardTracks{kTrack1, kTrack2},
         4, 1500},
    };
    for (const Typing& typing : typings) {
        SCOPED_TRACE(typing.name);
        TypedTrackParser parser;
        qint64 now = 1000;
        std::optional<CardTracks> result;
        int ends = 0;
        for (int i = 0; i < typing.keys.size(); ++i) {
            now += i == typing.pauseAt ? typing.pauseMs : 20;
            if (typing.keys.at(i) == u'\n') {
                result = parser.enter(now);
                ++ends;
            } else {
                parser.key(typing.keys.at(i), now);
            }
        }
        ASSERT_EQ(ends, 1);
        ASSERT_EQ(result.has_value(), typing.expected.has_value());
        if (result) {
            EXPECT_EQ(result->track1, typing.expected->track1);
            EXPECT_EQ(result->track2, typing.expected->track2);
        }
        // Whatever the outcome, nothing of the swipe is held afterwards.
        EXPECT_FALSE(parser.holdsKeys());
        EXPECT_FALSE(parser.enter(now + 1).has_value());
    }
}

TEST(TypedTracksTest, AnIdleHalfSwipeIsDroppedWithoutAnotherKey)
{
    TypedTrackParser parser;
    for (const QChar c : kTrack1)
        parser.key(c, 10);
    parser.expire(1010);
    EXPECT_TRUE(parser.holdsKeys());
    parser.expire(1011);
    EXPECT_FALSE(parser.holdsKeys());
    // Its track 1 does not complete a track 2 typed later.
    for (const QChar c : kTrack2)
        parser.key(c, 1020);
    EXPECT_FALSE(parser.enter(1030).has_value());
}

TEST(StrokeRecorderTest, PositionsLandInTheSignatureWhereTheyWereDrawn)
{
    // A box drawn at 800 x 240 pixels: two pixels per pen point each way.
    const QSizeF box(800, 240);
    struct Mapping
    {
        QPointF at;
        std::optional<PenPoint> point;
    };
    const std::vector<Mapping> mappings = {
        {{0, 0}, PenPoint{0, 0}},        {{1.99, 1.99}, PenPoint{0, 0}},
        {{2, 2}, PenPoint{1, 1}},        {{799.9, 239.9}, PenPoint{399, 119}},
        {{400, 120}, PenPoint{200, 60}}, {{800, 100}, std::nullopt},
        {{100, 240}, std::nullopt},      {{-0.1, 10}, std::nullopt},
        {{10, -0.1}, std::nullopt},
    };
    for (const Mapping& mapping : mappings) {
        SCOPED_TRACE(testing::Message() << mapping.at.x() << "," << mapping.at.y());
        EXPECT_EQ(StrokeRecorder::toPenPoint(mapping.at, box), mapping.point);
    }
    EXPECT_EQ(StrokeRecorder::toPenPoint({1, 1}, QSizeF(0, 0)), std::nullopt);
}

TEST(StrokeRecorderTest, MovementsBecomeContinuousStrokesWithinTheArea)
{
    StrokeRecorder recorder;
    recorder.setAreaSize(QSizeF(800, 240));
    recorder.penMove({10, 10}); // hovering draws nothing
    recorder.penDown({10, 10});
    recorder.penMove({11, 11}); // the same pen point again
    recorder.penMove({20, 10});
    recorder.penMove({900, 10}); // off the box: the stroke ends
    recorder.penMove({30, 20});  // back on it: a new stroke
    recorder.penUp();
    recorder.penMove({40, 40});
    recorder.penDown({100, 200});
    recorder.penUp();
    EXPECT_EQ(recorder.strokes(), (PenStrokes{{{5, 5}, {10, 5}}, {{15, 10}}, {{50, 100}}}));
    EXPECT_EQ(recorder.pointCount(), 4);

    // A signature holds at most 2,000 points; what comes after is neither kept nor drawn.
    recorder.clear();
    EXPECT_TRUE(recorder.isEmpty());
    recorder.penDown({0, 0});
    for (int i = 1; i < 2100; ++i)
        recorder.penMove({double(2 * (i % 400)), double(2 * (i / 400))});
    recorder.penUp();
    recorder.penDown({5, 5});
    EXPECT_EQ(recorder.pointCount(), 2000);
    EXPECT_EQ(recorder.strokes().size(), 1u);
}

namespace {

input_event record(unsigned short type, unsigned short code, int value)
{
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    return event;
}

// What a keyboard-mode reader sends for one key: a scan code, the press, a report end, the
// release and a report end; shifted keys inside a shift press.
void typeKey(std::vector<input_event>& records, unsigned short code, bool shifted)
{
    if (shifted)
        records.push_back(record(EV_KEY, KEY_LEFTSHIFT, 1));
    records.push_back(record(EV_MSC, MSC_SCAN, 0x70000 + code));
    records.push_back(record(EV_KEY, code, 1));
    records.push_back(record(EV_SYN, SYN_REPORT, 0));
    records.push_back(record(EV_KEY, code, 0));
    if (shifted)
        records.push_back(record(EV_KEY, KEY_LEFTSHIFT, 0));
    records.push_back(record(EV_SYN, SYN_REPORT, 0));
}

} // namespace

TEST(InputEventReaderTest, RecordsFromADescriptorTypeTheTrackCharacters)
{
    // "%B4^DOE/J?;4=2?" then Return, as recorded from a reader on the US layout, with a key
    // repeat and a right shift thrown in.
    std::vector<input_event> records;
    typeKey(records, KEY_5, true);
    typeKey(records, KEY_B, true);
    typeKey(records, KEY_4, false);
    typeKey(records, KEY_6, true);
    records.push_back(record(EV_KEY, KEY_RIGHTSHIFT, 1));
    records.push_back(record(EV_KEY, KEY_D, 1));
    records.push_back(record(EV_KEY, KEY_D, 0));
    records.push_back(record(EV_KEY, KEY_O, 1));
    records.push_back(record(EV_KEY, KEY_O, 2)); // auto-repeat types nothing
    records.push_back(record(EV_KEY, KEY_O, 0));
    records.push_back(record(EV_KEY, KEY_E, 1));
    records.push_back(record(EV_KEY, KEY_E, 0));
    records.push_back(record(EV_KEY, KEY_RIGHTSHIFT, 0));
    typeKey(records, KEY_SLASH, false);
    typeKey(records, KEY_J, true);
    typeKey(records, KEY_SLASH, true);
    typeKey(records, KEY_SEMICOLON, false);
    typeKey(records, KEY_4, false);
    typeKey(records, KEY_EQUAL, false);
    typeKey(records, KEY_2, false);
    typeKey(records, KEY_SLASH, true);
    typeKey(records, KEY_F1, false); // not a track key
    typeKey(records, KEY_ENTER, false);

    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_NONBLOCK | O_CLOEXEC), 0);
    InputEventReader reader(pipeEnds[0]);
    QString typed;
    int enters = 0;
    QString failure;
    QObject::connect(&reader, &InputEventReader::keyTyped, [&](const ReaderKey& key) {
        if (key.kind == ReaderKey::Enter)
            ++enters;
        else
            typed.append(key.character);
    });
    QObject::connect(&reader, &InputEventReader::failed,
                     [&](const QString& reason) { failure = reason; });

    // Written in pieces that cut records apart, as a device may deliver them.
    const auto* bytes = reinterpret_cast<const char*>(records.data());
    const size_t total = records.size() * sizeof(input_event);
    for (size_t at = 0; at < total;) {
        const size_t piece = std::min<size_t>(total - at, sizeof(input_event) * 3 + 5);
        ASSERT_EQ(::write(pipeEnds[1], bytes + at, piece), ssize_t(piece));
        at += piece;
        QCoreApplication::processEvents();
    }
    QDeadlineTimer deadline(5000);
    while (enters == 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_EQ(typed, u"%B4^DOE/J?;4=2?"_s);
    EXPECT_EQ(enters, 1);
    EXPECT_TRUE(failure.isEmpty());

    // The device goes away: the reader says so once and reads no more.
    ::close(pipeEnds[1]);
    while (failure.isEmpty() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_FALSE(failure.isEmpty());
    ::close(pipeEnds[0]);
}
