#include <gtest/gtest.h>

#include <QString>

#include "log/cardnumberscrubber.h"

TEST(CardNumberScrubber, MasksLuhnValidRunsOfThirteenToNineteenDigitsOnly)
{
    struct Case
    {
        const char* entry;
        const char* logged;
    };
    const Case cases[] = {
        // Under any tag, in any case, with blanks or dashes between the digits.
        {"tag=[CREDITCARD] value=[4111111111111111]", "tag=[CREDITCARD] value=[************1111]"},
        {"tag=[ CREDITCARD] value=[4111 1111 1111 1111]",
         "tag=[ CREDITCARD] value=[**** **** **** 1111]"},
        {"ACCOUNT=5500-0055-5555-5559;", "ACCOUNT=****-****-****-5559;"},
        {"name=[JANE 3782 822463 10005] total=[12.50]",
         "name=[JANE **** ****** *0005] total=[12.50]"},
        {"4222222222222", "*********2222"},                 // 13 digits
        {"6304000000000000000", "***************0000"},     // 19 digits
        {"5500 00-55 5555 55-59", "**** **-** **** 55-59"}, // mixed single separators
        {"JANE4111111111111111X", "JANE************1111X"}, // letters around it
        {";4111111111111111=29121010000000000000?", ";************1111=29121010000000000000?"},
        // A card number next to another group is found; overlapping numbers hide each other's
        // digits, and each keeps only its own last four visible.
        {"4111111111111111 1229", "************1111 1229"},
        {"10 4111111111111111", "10 ************1111"},
        {"18 4111111111111111", "** ************1111"}, // "184111111111111111" passes too
        {"4111111111111111-5500005555555559", "************1111-************5559"},
        {"4111-1111-1111-1111-", "****-****-****-1111-"},
        // Not card numbers: too short, too long, or failing the check.
        {"411111111117", "411111111117"},                 // 12 digits, passes the check
        {"41111111111111111115", "41111111111111111115"}, // 20 unbroken digits, passes too
        {"4111111111111112", "4111111111111112"},         // fails the check
        {"order 1234567890123456 total 1234.56 on 12/7/2026",
         "order 1234567890123456 total 1234.56 on 12/7/2026"},
        // Runs of up to three blanks, dashes, dots, slashes or underscores join groups too.
        {"4111  1111  1111  1111", "****  ****  ****  1111"},
        {"4111--1111--1111--1111", "****--****--****--1111"},
        {"4111_1111_1111_1111", "****_****_****_1111"},
        {"4111.1111.1111.1111", "****.****.****.1111"},
        {"card 4111/1111/1111/1111.", "card ****/****/****/1111."},
        {"4111 - 1111 - 1111 - 1111", "**** - **** - **** - 1111"},
        {"5500 _/00.55 55-55 55 59", "**** _/**.** **-** 55 59"},
        // Four separators part groups; so does any other character.
        {"4111    1111    1111    1111", "4111    1111    1111    1111"},
        {"4111+1111+1111+1111", "4111+1111+1111+1111"},
        // Dates, amounts and times joined this way stay too short or fail the check.
        {"on 2026/12/07 at 19:54:28 total 1234.56", "on 2026/12/07 at 19:54:28 total 1234.56"},
        {"order 1234-5678-9012-3456 of 2026.12.07", "order 1234-5678-9012-3456 of 2026.12.07"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scrubCardNumbers(QString::fromLatin1(c.entry)), QString::fromLatin1(c.logged))
            << c.entry;
    }
}
