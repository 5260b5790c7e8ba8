#include "request/requestparser.h"

#include <gtest/gtest.h>

#include <QDir>

namespace {

const QString kFolder = QStringLiteral("/srv/varnel/signatures");

ParsedRequest parse(const char* text)
{
    return parseRequest(QString::fromLatin1(text), kFolder);
}

QString pieceLine(const char* tag, const char* value)
{
    return QStringLiteral("Socket: DataArrival Parse tag=[%1] value=[%2]")
        .arg(QLatin1String(tag), QLatin1String(value));
}

} // namespace

TEST(RequestParser, WithoutSemicolonNothingIsParsed)
{
    const ParsedRequest r = parse("TRANS=VERSION");
    EXPECT_EQ(r.outcome, ParsedRequest::Outcome::NoSemicolon);
    EXPECT_EQ(r.logLines, QStringList{QStringLiteral("Socket: DataArrival No Semicolon")});
}

TEST(RequestParser, LogsEachPieceAndTheSummary)
{
    const ParsedRequest r = parse("trans=VERSION;;Name=Ann Lee;TOTAL=12.50;");
    ASSERT_EQ(r.outcome, ParsedRequest::Outcome::Parsed);
    EXPECT_EQ(r.values.transType, QStringLiteral("VERSION"));
    const QStringList expected{
        pieceLine("TRANS", "VERSION"), pieceLine("NAME", "Ann Lee"), pieceLine("TOTAL", "12.50"),
        QStringLiteral("Socket: DataArrival Parse transType=[VERSION] action=[] doFtp=[False] "
                       "name=[Ann Lee] total=[12.50] ")};
    EXPECT_EQ(r.logLines, expected);
}

TEST(RequestParser, TagsAreUpperCasedValuesAreNot)
{
    const ParsedRequest r = parse("TRANS=version;");
    EXPECT_EQ(r.values.transType, QStringLiteral("version"));
}

TEST(RequestParser, NothingIsTrimmedAndBlankTagsMatchNothing)
{
    const ParsedRequest r = parse("TRANS=QP6100; ACTION=1;");
    ASSERT_EQ(r.outcome, ParsedRequest::Outcome::Parsed);
    EXPECT_EQ(r.values.action, QString());
    EXPECT_EQ(r.logLines.at(1), pieceLine(" ACTION", "1"));
}

TEST(RequestParser, ValueIsTheTextAfterTheLastEquals)
{
    const ParsedRequest r = parse("FTPPATH=/a=b/;NAME==x;");
    EXPECT_EQ(r.values.ftpPath, QStringLiteral("b/"));
    EXPECT_EQ(r.values.name, QStringLiteral("x"));
}

TEST(RequestParser, EmptyFtpPathKeepsTheDefault)
{
    EXPECT_EQ(parse("FTPPATH=;").values.ftpPath, QStringLiteral("/vm/tavok/dsk37/170170/"));
}

TEST(RequestParser, DoFtpIsTrueOnlyForY)
{
    EXPECT_TRUE(parse("DOFTP=y;").values.doFtp);
    EXPECT_TRUE(parse("DOFTP=Y;").values.doFtp);
    EXPECT_FALSE(parse("DOFTP=YES;").values.doFtp);
    EXPECT_FALSE(parse("DOFTP=Y;DOFTP=N;").values.doFtp);
}

TEST(RequestParser, LastOccurrenceWins)
{
    EXPECT_EQ(parse("TRANS=VERSION;TRANS=ABORT;").values.transType, QStringLiteral("ABORT"));
}

TEST(RequestParser, UniquNamesALowerCaseFileInTheSignaturesFolder)
{
    const ParsedRequest r = parse("UNIQU=AB12;UNIQUE=zz;");
    EXPECT_EQ(r.values.sigFile, kFolder + QDir::separator() + QStringLiteral("ab12.pcx"));
    EXPECT_TRUE(parse("TRANS=QP6100;").values.sigFile.isEmpty());
}

TEST(RequestParser, EveryUniquValueIsParsedAndLeftToTheSignatureOperations)
{
    // The file's name is checked where the file is used; parsing takes any value as it is.
    const QList<std::pair<const char*, const char*>> cases = {
        {"", ".pcx"},         {"AB..12", "ab..12.pcx"}, {"..", "...pcx"},
        {"../x", "../x.pcx"}, {"A\\B", "a\\b.pcx"},     {"c:X\t", "c:x\t.pcx"}};
    for (const auto& [value, file] : cases) {
        const QString text = QStringLiteral("TRANS=VERSION;UNIQU=") + QString::fromLatin1(value) +
                             QStringLiteral(";");
        const ParsedRequest r = parseRequest(text, kFolder);
        EXPECT_EQ(r.outcome, ParsedRequest::Outcome::Parsed) << value;
        EXPECT_EQ(r.values.sigFile, kFolder + QDir::separator() + QString::fromLatin1(file))
            << value;
        EXPECT_EQ(r.logLines.value(1), pieceLine("UNIQU", value)) << value;
    }
}

TEST(RequestParser, PieceWithoutEqualsFailsAfterTheEarlierPieces)
{
    // A line end after the last semicolon is a piece without "=".
    const ParsedRequest r = parse("TIMER=30;TRANS=VERSION;\r\n");
    EXPECT_EQ(r.outcome, ParsedRequest::Outcome::Failed);
    EXPECT_EQ(r.failureCode, 5);
    EXPECT_EQ(r.logLines, (QStringList{pieceLine("TIMER", "30"), pieceLine("TRANS", "VERSION")}));
    EXPECT_EQ(r.padTimeout, std::optional<qint16>(30));
}

TEST(RequestParser, TimerOverflowFailsWithSixKeepingTheEarlierTimer)
{
    const ParsedRequest r = parse("TIMER=20;TIMER=40000;TRANS=VERSION;");
    EXPECT_EQ(r.outcome, ParsedRequest::Outcome::Failed);
    EXPECT_EQ(r.failureCode, 6);
    EXPECT_EQ(r.padTimeout, std::optional<qint16>(20));
}

TEST(RequestParser, TimerValues)
{
    EXPECT_EQ(parse("TIMER=0;").padTimeout, std::optional<qint16>(60));
    EXPECT_EQ(parse("TIMER=-5;").padTimeout, std::optional<qint16>(60));
    EXPECT_EQ(parse("TIMER=abc;").padTimeout, std::optional<qint16>(60));
    EXPECT_EQ(parse("TIMER=2.5;").padTimeout, std::optional<qint16>(2));
    EXPECT_FALSE(parse("TRANS=VERSION;").padTimeout.has_value());
}

TEST(RequestParser, CardNumbersAreMaskedInTheLog)
{
    const ParsedRequest r = parse("CREDITCARD=4111111111111111;TOTAL=1;");
    EXPECT_EQ(r.values.creditCard, QStringLiteral("4111111111111111"));
    EXPECT_EQ(r.logLines.first(), pieceLine("CREDITCARD", "************1111"));
    for (const QString& line : r.logLines)
        EXPECT_FALSE(line.contains(QStringLiteral("41111111"))) << qPrintable(line);
    EXPECT_EQ(maskCardNumber(QStringLiteral("123")), QStringLiteral("123"));
    EXPECT_EQ(maskCardNumber(QStringLiteral("12345")), QStringLiteral("*2345"));
    EXPECT_EQ(parse("creditcard=5500005555555559;").logLines.first(),
              pieceLine("CREDITCARD", "************5559"));
}

TEST(RequestParser, AtMostSixtyFourPieceLinesThenOneCountEveryTagStillCounting)
{
    // Filler pieces, then the two tags that matter: past the cap they take effect unlogged.
    for (const int fillers : {0, 62, 63, 5000}) {
        QString text;
        for (int i = 0; i < fillers; ++i)
            text += QStringLiteral("X=%1;").arg(i);
        const ParsedRequest r =
            parseRequest(text + QStringLiteral("TRANS=VERSION;TIMER=7;"), kFolder);
        const int total = fillers + 2;
        const int lines = std::min(total, kMaxPieceLogLines);
        ASSERT_EQ(r.outcome, ParsedRequest::Outcome::Parsed) << fillers;
        EXPECT_EQ(r.values.transType, QStringLiteral("VERSION")) << fillers;
        EXPECT_EQ(r.padTimeout, qint16(7)) << fillers;
        EXPECT_EQ(r.logLines.filter(QStringLiteral("Parse tag=[")).size(), lines) << fillers;
        const QString count =
            QStringLiteral("Socket: DataArrival Parse pieces not logged=[%1]").arg(total - lines);
        EXPECT_EQ(r.logLines.contains(count), total > kMaxPieceLogLines) << fillers;
        EXPECT_TRUE(
            r.logLines.last().startsWith(QStringLiteral("Socket: DataArrival Parse trans")));
    }

    // A failing piece after the cap: the count still says how many were not logged.
    QString failing;
    for (int i = 0; i < 70; ++i)
        failing += QStringLiteral("X=%1;").arg(i);
    const ParsedRequest r = parseRequest(failing + QStringLiteral("NOEQUALS;"), kFolder);
    EXPECT_EQ(r.outcome, ParsedRequest::Outcome::Failed);
    EXPECT_EQ(r.logLines.last(), QStringLiteral("Socket: DataArrival Parse pieces not logged=[6]"));
}
