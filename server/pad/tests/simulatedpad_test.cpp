#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "core/failure.h"
#include "pad/padvariables.h"
#include "pad/sigcomp.h"
#include "pad/simulatedpad.h"

namespace {

QByteArray valueBytes(const QString& text)
{
    QByteArray bytes;
    PadVariables::valueBytes(text, bytes);
    return bytes;
}

class SimulatedPadTest : public ::testing::Test
{
protected:
    void open()
    {
        qint16 status = 0;
        pad.OpenPort(0, 0, status);
        ASSERT_EQ(status, 1);
    }
    qint16 set(const QString& name, const QByteArray& bytes, qint16 count)
    {
        qint16 status = -5;
        pad.SetVariable(name, bytes, count, status);
        return status;
    }
    qint16 show(const QString& form)
    {
        qint16 status = -5;
        pad.ShowForm(form, status);
        return status;
    }

    SimulatedPad pad;
};

TEST_F(SimulatedPadTest, PortOpensClosesAndReportsMinusOneWhileOpen)
{
    qint16 flag = 7;
    pad.IsPortOpen(flag);
    EXPECT_EQ(flag, 0);
    open();
    // Opening an open port keeps it open and succeeds.
    open();
    pad.IsPortOpen(flag);
    EXPECT_EQ(flag, -1);
    pad.ClosePort();
    pad.IsPortOpen(flag);
    EXPECT_EQ(flag, 0);
}

TEST_F(SimulatedPadTest, AClosedPadShowsNothingAndKeepsItsVariables)
{
    EXPECT_EQ(show(QStringLiteral("padWelcome")), 0);
    EXPECT_EQ(set(QStringLiteral("TOTAL"), valueBytes(QStringLiteral("1")), 4), 0);
    QString value = QStringLiteral("untouched");
    qint16 status = 9;
    pad.GetVariable(QStringLiteral("TOTAL"), value, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(value, QStringLiteral("untouched"));
    EXPECT_TRUE(pad.form().isEmpty());
}

TEST_F(SimulatedPadTest, SetVariableDecodesUtf16AndAnEmptyVariableReadsAsNul)
{
    open();
    const QString name = QStringLiteral("Jos\u00e9 \u20ac");
    const QByteArray bytes = valueBytes(name);
    EXPECT_EQ(set(QStringLiteral("FULLNAME"), bytes, qint16(bytes.size())), 1);
    EXPECT_EQ(pad.variable(QStringLiteral("FULLNAME")), name);

    QString read;
    qint16 status = 0;
    pad.GetVariable(QStringLiteral("FULLNAME"), read, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(read, name);

    EXPECT_EQ(set(QStringLiteral("FULLNAME"), QByteArray(2, '\0'), 2), 1);
    pad.GetVariable(QStringLiteral("FULLNAME"), read, status);
    EXPECT_EQ(read, QString(QChar(0)));
    EXPECT_TRUE(pad.variable(QStringLiteral("FULLNAME")).isEmpty());

    // A NUL inside the value is kept with the text after it.
    const QString withNul = QStringLiteral("12") + QChar(0) + QStringLiteral("50");
    const QByteArray nulBytes = valueBytes(withNul);
    EXPECT_EQ(set(QStringLiteral("TOTAL"), nulBytes, qint16(nulBytes.size())), 1);
    EXPECT_EQ(pad.variable(QStringLiteral("TOTAL")), withNul);
}

TEST_F(SimulatedPadTest, SetVariableRefusesBadBytesAndUnknownNames)
{
    open();
    const QByteArray good = valueBytes(QStringLiteral("12.50"));
    EXPECT_EQ(set(QStringLiteral("TOTAL"), good, 10), 0) << "count without the terminator";
    EXPECT_EQ(set(QStringLiteral("TOTAL"), good.left(10), 10), 0) << "no terminator";
    EXPECT_EQ(set(QStringLiteral("TOTAL"), good + '\0', 13), 0) << "odd count";
    EXPECT_EQ(set(QStringLiteral("TOTAL"), QByteArray(), 0), 0);
    EXPECT_EQ(set(QStringLiteral("AMOUNT"), good, 12), 0);
    EXPECT_TRUE(pad.variable(QStringLiteral("TOTAL")).isEmpty());
    EXPECT_EQ(set(QStringLiteral("TOTAL"), good, 12), 1);
    EXPECT_EQ(pad.variable(QStringLiteral("TOTAL")), QStringLiteral("12.50"));
}

TEST_F(SimulatedPadTest, TheSwipeFormTakesOneCard)
{
    open();
    EXPECT_FALSE(pad.swipe(QStringLiteral("t1"), QStringLiteral("t2")));
    QStringList shown;
    QObject::connect(&pad, &SimulatedPad::formShown,
                     [&shown](const QString& form) { shown.append(form); });
    EXPECT_EQ(show(QStringLiteral("padStart")), 1);
    EXPECT_TRUE(pad.awaitingCard());
    EXPECT_TRUE(pad.swipe(QStringLiteral("t1"), QStringLiteral("t2")));
    EXPECT_EQ(pad.variable(QStringLiteral("TRACK1")), QStringLiteral("t1"));
    EXPECT_EQ(pad.variable(QStringLiteral("TRACK2")), QStringLiteral("t2"));
    EXPECT_FALSE(pad.swipe(QStringLiteral("again"), QString()));
    EXPECT_EQ(show(QStringLiteral("padWelcome")), 1);
    EXPECT_EQ(show(QStringLiteral("padNowhere")), 0);
    EXPECT_EQ(pad.form(), QStringLiteral("padWelcome"));
    EXPECT_EQ(shown, (QStringList{QStringLiteral("padStart"), QStringLiteral("padWelcome")}));
}

TEST_F(SimulatedPadTest, FaultsReplaceTheAnswerForTheGivenNumberOfCalls)
{
    pad.failNext(SimulatedPad::Operation::OpenPort, 3, 1);
    qint16 status = 0;
    pad.OpenPort(0, 0, status);
    EXPECT_EQ(status, 3);
    EXPECT_FALSE(pad.portOpen());
    open();

    pad.failNext(SimulatedPad::Operation::ShowForm, 0, 2);
    EXPECT_EQ(show(QStringLiteral("padStart")), 0);
    EXPECT_EQ(show(QStringLiteral("padStart")), 0);
    EXPECT_EQ(show(QStringLiteral("padStart")), 1);

    // A failing read still fills the text; a failing close leaves the port open.
    pad.setVariableOnPad(QStringLiteral("TRACK1"), QStringLiteral("card"));
    pad.failNext(SimulatedPad::Operation::GetVariable, 0, 1);
    QString text;
    pad.GetVariable(QStringLiteral("TRACK1"), text, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(text, QStringLiteral("card"));
    pad.failNext(SimulatedPad::Operation::ClosePort, 0, 1);
    pad.ClosePort();
    EXPECT_TRUE(pad.portOpen());

    pad.throwNext(*SimulatedPad::operationByName(QStringLiteral("SetVariable")), 424, 1);
    try {
        set(QStringLiteral("TOTAL"), valueBytes(QString()), 2);
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), 424);
    }
    EXPECT_EQ(set(QStringLiteral("TOTAL"), valueBytes(QString()), 2), 1);

    pad.failNext(SimulatedPad::Operation::IsPortOpen, 5, 3);
    pad.clearFaults();
    qint16 flag = 0;
    pad.IsPortOpen(flag);
    EXPECT_EQ(flag, -1);
    EXPECT_FALSE(SimulatedPad::operationByName(QStringLiteral("openport")).has_value());
}

TEST_F(SimulatedPadTest, ScriptsAndSignatures)
{
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("pad.bin"));
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("script");
    file.close();

    qint16 status = 0;
    pad.LoadScript(1, QStringLiteral("AUTORUN"), script, 38400, status);
    EXPECT_EQ(status, 1);
    pad.LoadScript(1, QStringLiteral("AUTORUN"), dir.filePath(QStringLiteral("none.bin")), 38400,
                   status);
    EXPECT_EQ(status, 0);
    pad.LoadScript(1, QStringLiteral("AUTORUN"), QString(), 38400, status);
    EXPECT_EQ(status, 0);

    // Pen data as the pad's variable holds it, handed over as its UTF-16 storage.
    const QString penData = Sigcomp::encode({{{1, 2}}});
    const QByteArray bytes(reinterpret_cast<const char*>(penData.utf16()), penData.size() * 2);
    const QString image = dir.filePath(QStringLiteral("sig.pcx"));
    pad.SaveSignature(bytes, qint16(bytes.size()), image, status);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(QFile::exists(image));
    pad.SaveSignature(QByteArray("ab"), 2, dir.filePath(QStringLiteral("bad.pcx")), status);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("bad.pcx"))));
}

} // namespace
