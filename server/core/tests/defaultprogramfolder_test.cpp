// The program folder without --home: beside the executable, unless the executable is the
// installed one, whose files go to the user's data folder, made private when it is created.
#include "core/defaultprogramfolder.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace Qt::Literals::StringLiterals;

namespace {

mode_t modeOf(const QString& path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

} // namespace

TEST(DefaultProgramFolderTest, InstalledProgramUsesTheUsersDataFolder)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString bin = root.filePath(u"usr/bin"_s);
    const QString build = root.filePath(u"build/bin"_s);
    ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(build));
    // A merged /usr: /bin is a link to usr/bin, and either name is the installed folder.
    ASSERT_TRUE(QFile::link(bin, root.filePath(u"bin"_s)));
    const QString home = root.filePath(u"home/jane"_s);

    struct Case
    {
        QString executableDir, xdgDataHome, expected;
        bool perUser;
    };
    const Case cases[] = {
        {bin, u""_s, home + u"/.local/share/varnelpayment"_s, true},
        {root.filePath(u"bin"_s), u""_s, home + u"/.local/share/varnelpayment"_s, true},
        {bin, root.filePath(u"data"_s), root.filePath(u"data/varnelpayment"_s), true},
        // A relative XDG_DATA_HOME is invalid and ignored.
        {bin, u"relative/data"_s, home + u"/.local/share/varnelpayment"_s, true},
        {build, root.filePath(u"data"_s), build, false},
        // A bin folder that does not exist matches nothing.
        {root.filePath(u"gone/bin"_s), u""_s, root.filePath(u"gone/bin"_s), false},
    };
    for (const Case& c : cases) {
        const DefaultProgramFolder chosen =
            defaultProgramFolder(c.executableDir, bin, c.xdgDataHome, home);
        EXPECT_EQ(chosen.path, c.expected) << qPrintable(c.executableDir);
        EXPECT_EQ(chosen.perUser, c.perUser) << qPrintable(c.executableDir);
    }
    // An install folder that does not exist (a build never installed) matches nothing either.
    EXPECT_FALSE(defaultProgramFolder(bin, root.filePath(u"missing"_s), u""_s, home).perUser);
}

TEST(DefaultProgramFolderTest, MakesOnlyANewFolderOwnerOnly)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const mode_t oldMask = ::umask(022);

    QString error;
    const QString fresh = root.filePath(u"home/.local/share/varnelpayment"_s);
    EXPECT_TRUE(makeProgramFolder(fresh, true, &error)) << qPrintable(error);
    EXPECT_EQ(modeOf(fresh), mode_t(0700));
    EXPECT_EQ(modeOf(root.filePath(u"home/.local/share"_s)), mode_t(0755));

    // A folder already there keeps its mode; without ownerOnly the umask decides.
    const QString shared = root.filePath(u"shared"_s);
    ASSERT_TRUE(QDir().mkdir(shared));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0750), 0);
    EXPECT_TRUE(makeProgramFolder(shared, true, &error));
    EXPECT_EQ(modeOf(shared), mode_t(0750));
    EXPECT_TRUE(makeProgramFolder(root.filePath(u"plain"_s), false, &error));
    EXPECT_EQ(modeOf(root.filePath(u"plain"_s)), mode_t(0755));

    // A file in the way: no folder, and a reason.
    QFile blocker(root.filePath(u"file"_s));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    error.clear();
    EXPECT_FALSE(makeProgramFolder(root.filePath(u"file"_s), true, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(makeProgramFolder(root.filePath(u"file/below"_s), true, &error));
    ::umask(oldMask);
}
