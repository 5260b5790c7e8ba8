#include "request/requestdispatcher.h"

#include <functional>
#include <utility>

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "core/failure.h"
#include "fakeclock.h"
#include "log/activitylog.h"
#include "recordingreplies.h"
#include "request/deviceoperations.h"
#include "request/replychannel.h"
#include "request/replytext.h"
#include "request/requestvalues.h"
#include "testfiles.h"

namespace {

// Records every pad call in order, as "name(args)".
class RecordingPad final : public PadOperations
{
public:
    bool enabled = false;
    QStringList calls;

    bool pad_enabled(bool logIfDisabled) override
    {
        calls << QStringLiteral("pad_enabled(%1)").arg(logIfDisabled);
        return enabled;
    }
    void clear_padVars() override { calls << QStringLiteral("clear_padVars"); }
    // Runs inside the waiting operations, standing for the requests served during the wait.
    std::function<void()> duringWait;

    void qp6100_get_swipe() override
    {
        calls << QStringLiteral("qp6100_get_swipe");
        if (duringWait)
            duringWait();
    }
    void qp6100_delete_signature(const QString& f) override
    {
        calls << QStringLiteral("qp6100_delete_signature(%1)").arg(f);
    }
    void set_account_var(const QString& v) override
    {
        calls << QStringLiteral("set_account_var(%1)").arg(v);
    }
    void set_fullname_var(const QString& v) override
    {
        calls << QStringLiteral("set_fullname_var(%1)").arg(v);
    }
    void setVar(const QString& v) override { calls << QStringLiteral("setVar(%1)").arg(v); }
    void qp6100_get_signature(const QString& f, bool ftp, const QString& path) override
    {
        calls << QStringLiteral("qp6100_get_signature(%1,%2,%3)").arg(f).arg(ftp).arg(path);
        if (duringWait)
            duringWait();
    }
    void pad_welcome() override { calls << QStringLiteral("pad_welcome"); }
};

class RecordingPinPad final : public PinPadOperations
{
public:
    QStringList calls;
    std::function<void()> duringWait;
    void pinPad1000se_get_pin(const QString& card, const QString& total) override
    {
        calls << card + QLatin1Char('/') + total;
        if (duringWait)
            duringWait();
    }
};

class DispatcherTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    FakeClock clock{QDateTime(QDate(2026, 12, 7), QTime(19, 54, 28))};
    ActivityLog log{dir.filePath(QStringLiteral("varnelpayment.log")), clock};
    RecordingPad pad;
    RecordingPinPad pinPad;
    RecordingReplies replies;
    RequestDispatcher dispatcher{log, replies, pad, pinPad};

    void dispatch(const char* trans, const char* action = "")
    {
        RequestValues values;
        values.transType = QString::fromLatin1(trans);
        values.action = QString::fromLatin1(action);
        values.account = QStringLiteral("ACC");
        values.name = QStringLiteral("Ann");
        values.total = QStringLiteral("9.99");
        values.creditCard = QStringLiteral("4111");
        values.sigFile = QStringLiteral("s.pcx");
        dispatcher.dispatch(values);
    }

    QStringList logEntries() const { return TestFiles::logEntries(log.log_path()); }
};

} // namespace

TEST_F(DispatcherTest, VersionIsAnsweredWhateverTheAction)
{
    dispatch("VERSION", "7");
    EXPECT_EQ(replies.texts(), QStringList{QStringLiteral("<VERSION>1.0.0</VERSION>")});
    EXPECT_TRUE(pad.calls.isEmpty());
}

TEST_F(DispatcherTest, TransTypesAreCaseSensitive)
{
    dispatch("version");
    dispatch("");
    EXPECT_TRUE(replies.texts().isEmpty());
    EXPECT_EQ(logEntries(), QStringList(2, QStringLiteral("Socket: DataArrival No TransType")));
}

TEST_F(DispatcherTest, DisabledPadGetsTheNotSetupReplyForAnyAction)
{
    dispatch("QP6100", "9");
    EXPECT_EQ(replies.texts(), QStringList{padNotSetupReply()});
    EXPECT_EQ(pad.calls, QStringList{QStringLiteral("pad_enabled(0)")});
}

TEST_F(DispatcherTest, SwipeIsFramedByClearingThePadVariables)
{
    pad.enabled = true;
    dispatch("QP6100", "1");
    EXPECT_EQ(pad.calls,
              (QStringList{QStringLiteral("pad_enabled(0)"), QStringLiteral("clear_padVars"),
                           QStringLiteral("qp6100_get_swipe"), QStringLiteral("clear_padVars")}));
}

TEST_F(DispatcherTest, SignatureRunsItsStepsInOrder)
{
    pad.enabled = true;
    dispatch("QP6100", "2");
    EXPECT_EQ(pad.calls,
              (QStringList{QStringLiteral("pad_enabled(0)"), QStringLiteral("clear_padVars"),
                           QStringLiteral("qp6100_delete_signature(s.pcx)"),
                           QStringLiteral("set_account_var(ACC)"),
                           QStringLiteral("set_fullname_var(Ann)"), QStringLiteral("setVar(9.99)"),
                           QStringLiteral("qp6100_get_signature(s.pcx,0,/vm/tavok/dsk37/170170/)"),
                           QStringLiteral("clear_padVars")}));
}

TEST_F(DispatcherTest, UnknownAndQuietPadActions)
{
    pad.enabled = true;
    dispatch("QP6100", "3");
    dispatch("QP6100", "9");
    EXPECT_TRUE(replies.texts().isEmpty());
    EXPECT_EQ(pad.calls.count(QStringLiteral("clear_padVars")), 4);
    EXPECT_EQ(logEntries(), QStringList{QStringLiteral("Socket: DataArrival QP6100 No Action(9)")});
}

TEST_F(DispatcherTest, PinPadOnlyForActionThree)
{
    dispatch("1000SE", "1");
    dispatch("1000SE", "3");
    EXPECT_EQ(pinPad.calls, QStringList{QStringLiteral("4111/9.99")});
    EXPECT_EQ(logEntries(), QStringList{QStringLiteral("Socket: DataArrival 1000SE No Action(1)")});
}

TEST_F(DispatcherTest, AbortAsksForTheWelcomeFormAndNeverReplies)
{
    dispatch("ABORT", "1");
    EXPECT_EQ(pad.calls, QStringList{QStringLiteral("pad_welcome")});
    EXPECT_TRUE(replies.texts().isEmpty());
}

TEST_F(DispatcherTest, WhileADeviceIsHeldItsRequestsAreRefusedAndTheOthersRun)
{
    pad.enabled = true;
    const std::pair<const char*, const char*> nested[] = {
        {"QP6100", "1"}, {"QP6100", "2"}, {"QP6100", "3"}, {"QP6100", "9"},
        {"1000SE", "3"}, {"VERSION", ""}, {"ABORT", ""}};
    const QString padBusy = QStringLiteral("Socket: DataArrival QP6100 Pad Busy ip=[10.1.2.3]");
    const QString pinBusy = QStringLiteral("Socket: DataArrival 1000SE PIN Pad Busy ip=[10.1.2.3]");
    const struct
    {
        std::pair<const char*, const char*> holder;
        QStringList replies;
        QStringList busyLines;
        // Nested calls that reached each device.
        int swipes;
        int pins;
    } cases[] = {
        {{"QP6100", "1"},
         {padBusyReply(), padBusyReply(), versionReply()},
         {padBusy, padBusy},
         1,
         1},
        {{"QP6100", "2"},
         {padBusyReply(), padBusyReply(), versionReply()},
         {padBusy, padBusy},
         0,
         1},
        {{"1000SE", "3"}, {pinPadBusyReply(), versionReply()}, {pinBusy}, 1, 1},
    };
    replies.address = QStringLiteral("10.1.2.3");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.holder.first + std::string("/") + c.holder.second);
        pad.calls.clear();
        pinPad.calls.clear();
        replies.replies.clear();
        QFile::remove(log.log_path());
        bool inside = false;
        const auto serveNested = [&] {
            if (std::exchange(inside, true))
                return;
            for (const auto& [trans, action] : nested)
                dispatch(trans, action);
            inside = false;
        };
        pad.duringWait = serveNested;
        pinPad.duringWait = serveNested;
        dispatch(c.holder.first, c.holder.second);

        EXPECT_EQ(replies.texts(), c.replies);
        const QStringList log = logEntries();
        EXPECT_EQ(log.filter(QStringLiteral("Busy")), c.busyLines);
        EXPECT_EQ(int(pad.calls.count(QStringLiteral("qp6100_get_swipe"))), c.swipes);
        EXPECT_EQ(int(pinPad.calls.size()), c.pins);
        // An abort still reaches the pad.
        EXPECT_TRUE(pad.calls.contains(QStringLiteral("pad_welcome")));
        if (c.holder.first == std::string("QP6100")) {
            // The held pad's variables are left to the operation that holds it.
            EXPECT_EQ(pad.calls.count(QStringLiteral("clear_padVars")), 2);
            EXPECT_TRUE(log.contains(QStringLiteral("Socket: DataArrival QP6100 No Action(9)")));
        }
    }

    // Holds end with their operations: nothing is refused afterwards.
    pad.duringWait = nullptr;
    pinPad.duringWait = nullptr;
    replies.replies.clear();
    dispatch("QP6100", "1");
    dispatch("1000SE", "3");
    EXPECT_TRUE(replies.texts().isEmpty());
}

TEST(ReplyText, KeepsOnlyPrintableAscii)
{
    EXPECT_EQ(strRemoveNonPrintableChars(QStringLiteral("<A>\r\n\tx\x7f") + QChar(0xE9) +
                                         QStringLiteral(" ~</A>")),
              QStringLiteral("<A>x ~</A>"));
    EXPECT_EQ(strRemoveNonPrintableChars(QString(32767, QLatin1Char('a'))).size(), 32767);
    EXPECT_THROW(strRemoveNonPrintableChars(QString(32768, QLatin1Char('a'))), Failure);
}
