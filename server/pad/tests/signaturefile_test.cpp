#include <gtest/gtest.h>

#include "pad/signaturefile.h"

namespace {

TEST(SignatureFile, ReadsStrokesSkippingCommentsAndBlankLines)
{
    const SignatureFile file = SignatureFile::parse("# J.\r\n"
                                                    "  40,20 70,20\r\n"
                                                    "\r\n"
                                                    "\t # the stem\n"
                                                    "55,20\t55,80   50,92\n"
                                                    "0,0\n"
                                                    "399,119");
    EXPECT_TRUE(file.error.isEmpty()) << qPrintable(file.error);
    EXPECT_EQ(
        file.strokes,
        (PenStrokes{{{40, 20}, {70, 20}}, {{55, 20}, {55, 80}, {50, 92}}, {{0, 0}}, {{399, 119}}}));
}

TEST(SignatureFile, ExplainsWhatIsWrongAndKeepsNothing)
{
    const QByteArray tooMany = QByteArray("1,1 ").repeated(2001);
    const struct
    {
        QByteArray text;
        QString error;
    } cases[] = {
        {"", QStringLiteral("the file holds no pen points")},
        {"# only a comment\n\n", QStringLiteral("the file holds no pen points")},
        {"1,2\n400,5", QStringLiteral("line 2: pen point 400,5 lies outside the signing area "
                                      "(x 0 to 399, y 0 to 119)")},
        {"1,120", QStringLiteral("line 1: pen point 1,120 lies outside the signing area (x 0 "
                                 "to 399, y 0 to 119)")},
        {"1,2 3;4", QStringLiteral("line 1: \"3;4\" is not a pen point x,y of two whole numbers")},
        {"\n\n-1,2",
         QStringLiteral("line 3: \"-1,2\" is not a pen point x,y of two whole numbers")},
        {"1,2,3", QStringLiteral("line 1: \"1,2,3\" is not a pen point x,y of two whole numbers")},
        {"1, 2", QStringLiteral("line 1: \"1,\" is not a pen point x,y of two whole numbers")},
        {"1.5,2", QStringLiteral("line 1: \"1.5,2\" is not a pen point x,y of two whole numbers")},
        {"99999999999,1", QStringLiteral("line 1: \"99999999999,1\" is not a pen point x,y of two "
                                         "whole numbers")},
        {tooMany, QStringLiteral("the signature has 2001 pen points; the pad takes at most 2000")},
    };
    for (const auto& c : cases) {
        const SignatureFile file = SignatureFile::parse(c.text);
        EXPECT_EQ(file.error, c.error) << c.text.left(40).constData();
        EXPECT_TRUE(file.strokes.empty());
    }
    // Exactly the most points is a signature.
    EXPECT_TRUE(SignatureFile::parse(QByteArray("1,1 ").repeated(2000)).error.isEmpty());
}

} // namespace
