// End-to-end: the till commands of the real program on a program folder of their own.
#include <sys/stat.h>
#include <unistd.h>

#include <QRegularExpression>
#include <QTemporaryDir>

#include "tillse2e.h"

namespace {

QString tillsFile(const QTemporaryDir& home)
{
    return home.filePath(QStringLiteral("varnelpayment.tills"));
}

} // namespace

TEST(TillCommandE2E, AKeyIsPrintedOnceAndOnlyItsHashIsKeptInAnOwnerOnlyFile)
{
    QTemporaryDir home;
    const QString longest(64, QLatin1Char('x'));
    QStringList keys;
    for (const QString& name : {QStringLiteral("Front Till"), QStringLiteral("café 2"), longest})
        keys << addTill(home.path(), name);
    const QRegularExpression urlSafe(QStringLiteral("^[A-Za-z0-9_-]{22,}$"));
    for (const QString& key : keys)
        EXPECT_TRUE(urlSafe.match(key).hasMatch()) << qPrintable(key);
    EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()).size(), 3);

    struct stat status
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(tillsFile(home)).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    const CommandRun list = varnelpayment(home.path(), {QStringLiteral("--list-tills")});
    EXPECT_EQ(list.exitCode, 0);
    const QStringList lines = list.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << qPrintable(list.out);
    const QRegularExpression line(
        QStringLiteral("^(.+)\\tadded \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ\\tnever used$"));
    QStringList names;
    for (const QString& text : lines) {
        const QRegularExpressionMatch match = line.match(text);
        EXPECT_TRUE(match.hasMatch()) << qPrintable(text);
        names << match.captured(1);
    }
    EXPECT_EQ(names,
              (QStringList{QStringLiteral("Front Till"), QStringLiteral("café 2"), longest}));
    const QByteArray stored = fileBytes(tillsFile(home));
    for (const QString& key : keys) {
        EXPECT_FALSE(list.out.contains(key));
        EXPECT_FALSE(stored.contains(key.toLatin1()));
    }

    const CommandRun removed =
        varnelpayment(home.path(), {QStringLiteral("--remove-till"), QStringLiteral("CAFÉ 2")});
    EXPECT_EQ(removed.exitCode, 0) << qPrintable(removed.err);
    const CommandRun after = varnelpayment(home.path(), {QStringLiteral("--list-tills")});
    EXPECT_EQ(after.out.count(QLatin1Char('\n')), 2);
    EXPECT_FALSE(after.out.contains(QStringLiteral("café")));
}

TEST(TillCommandE2E, WrongUseIsRefusedWithStatusTwoAndChangesNothing)
{
    QTemporaryDir home;
    addTill(home.path(), QStringLiteral("Front"));
    const QByteArray before = fileBytes(tillsFile(home));
    ASSERT_FALSE(before.isEmpty());
    const struct
    {
        QStringList arguments;
        const char* says;
    } cases[] = {
        {{QStringLiteral("--add-till")}, "needs the till's name"},
        {{QStringLiteral("--add-till"), QString()}, "cannot be empty"},
        {{QStringLiteral("--add-till"), QStringLiteral("Front")}, "registered already"},
        {{QStringLiteral("--add-till"), QStringLiteral("FRONT")}, "registered already"},
        {{QStringLiteral("--add-till"), QStringLiteral("Back\n")}, "control character"},
        {{QStringLiteral("--add-till"), QStringLiteral("Ba\tck")}, "control character"},
        {{QStringLiteral("--add-till"), QStringLiteral("Ba\x7f"
                                                       "ck")},
         "control character"},
        {{QStringLiteral("--add-till"), QString(65, QLatin1Char('y'))}, "at most 64"},
        {{QStringLiteral("--add-till"), QStringLiteral("--list-tills")}, "begin with '-'"},
        {{QStringLiteral("--add-till"), QStringLiteral("Back"), QStringLiteral("--list-tills")},
         "one at a time"},
        {{QStringLiteral("--add-till"), QStringLiteral("Back"), QStringLiteral("--add-till"),
          QStringLiteral("Side")},
         "one at a time"},
        {{QStringLiteral("--remove-till")}, "needs the till's name"},
        {{QStringLiteral("--remove-till"), QStringLiteral("Back")}, "no till named 'Back'"},
        {{QStringLiteral("--remove-till"), QStringLiteral("Front\n")},
         "no till named 'Front\\u000a'"},
        {{QStringLiteral("--list-tills"), QStringLiteral("Front")}, "unexpected argument"},
    };
    for (const auto& c : cases) {
        const CommandRun run = varnelpayment(home.path(), c.arguments);
        const QString shown = c.arguments.join(QLatin1Char(' '));
        EXPECT_EQ(run.exitCode, 2) << qPrintable(shown);
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("varnelpayment: ")))
            << qPrintable(shown + QStringLiteral(": ") + run.err);
        EXPECT_TRUE(run.err.contains(QLatin1String(c.says)))
            << qPrintable(shown + QStringLiteral(": ") + run.err);
        EXPECT_TRUE(run.out.isEmpty()) << qPrintable(shown);
        EXPECT_EQ(fileBytes(tillsFile(home)), before) << qPrintable(shown);
    }
}

TEST(TillCommandE2E, RootWritingTheServicesFolderHandsTheFileToTheFoldersOwner)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    QTemporaryDir home;
    constexpr uid_t kService = 65534;
    ASSERT_EQ(::chown(QFile::encodeName(home.path()).constData(), kService, kService), 0);
    addTill(home.path(), QStringLiteral("Front"));
    addTill(home.path(), QStringLiteral("Back"));
    // Codes for two tills, one of them then voided: the pairings file is rewritten each time.
    for (const QStringList& command :
         {QStringList{QStringLiteral("--pair-till"), QStringLiteral("Side")},
          QStringList{QStringLiteral("--pair-till"), QStringLiteral("Corner")},
          QStringList{QStringLiteral("--remove-till"), QStringLiteral("corner")}})
        ASSERT_EQ(varnelpayment(home.path(), command).exitCode, 0)
            << qPrintable(command.join(QLatin1Char(' ')));
    const QString listed = varnelpayment(home.path(), {QStringLiteral("--list-tills")}).out;
    EXPECT_TRUE(listed.contains(QStringLiteral("Side\twaiting to pair\tcode valid until ")));
    EXPECT_FALSE(listed.contains(QStringLiteral("Corner"))) << qPrintable(listed);
    for (const QString& file :
         {tillsFile(home), home.filePath(QStringLiteral("varnelpayment.pairings"))}) {
        struct stat status
        {
        };
        ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &status), 0);
        EXPECT_EQ(status.st_uid, kService) << qPrintable(file);
        EXPECT_EQ(status.st_gid, gid_t(kService));
        EXPECT_EQ(status.st_mode & 0777, 0600u);
    }
}
