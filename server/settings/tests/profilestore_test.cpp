#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "filereplacements.h"
#include "settings/profilestore.h"
#include "testfiles.h"

using namespace ProfileStore;
using namespace TestFiles;

class ProfileStoreFile : public ::testing::Test
{
protected:
    QTemporaryDir m_dir;
    QString m_path = m_dir.filePath(QStringLiteral("varnelpayment.ini"));

    // Reads a key with type "S"; the status goes to `status`.
    QString read(const char* section, const char* key, const char* defaultValue = "default",
                 qint32* status = nullptr, const char* type = "S") const
    {
        QString value = QStringLiteral("not set");
        const qint32 result =
            reg_get_value(m_path, QLatin1String(section), QLatin1String(key), QLatin1String(type),
                          QLatin1String(defaultValue), value);
        if (status)
            *status = result;
        return value;
    }
    qint32 write(const char* section, const char* key, const QString& value,
                 const char* type = "S") const
    {
        return reg_set_value(m_path, QLatin1String(section), QLatin1String(key),
                             QLatin1String(type), value);
    }
};

TEST_F(ProfileStoreFile, ResolvesOnlyExistingOrdinaryFilesAndHiveNames)
{
    EXPECT_EQ(reg_resolve_root(m_path), Unrecognised);
    writeAll(m_path, "");
    EXPECT_EQ(reg_resolve_root(m_path), ProfileFile);
    EXPECT_EQ(reg_resolve_root(m_dir.path()), Unrecognised);
    EXPECT_EQ(reg_resolve_root(QString()), Unrecognised);
    const QString hidden = m_dir.filePath(QStringLiteral(".hidden.ini"));
    writeAll(hidden, "[Local]\n");
    EXPECT_EQ(reg_resolve_root(hidden), Unrecognised);
    EXPECT_EQ(reg_resolve_root(QStringLiteral("hkcu")), Registry);
    EXPECT_EQ(reg_resolve_root(QStringLiteral("HKCR")), Registry);
}

TEST_F(ProfileStoreFile, ReadsTheDefaultOnlyForMissingKeysSectionsAndFiles)
{
    qint32 status = -1;
    EXPECT_EQ(read("Local", "localSockport", "31420", &status), QStringLiteral("31420"));
    EXPECT_EQ(status, kNothingDone) << "missing file";

    writeAll(m_path, "[Local]\r\nlocalSockport=\r\nother=1\r\n[FTP]\r\n");
    EXPECT_EQ(read("Local", "localSockport", "31420", &status), QString());
    EXPECT_EQ(status, kDone) << "present but empty reads empty";
    EXPECT_EQ(read("Local", "missing", "31420", &status), QStringLiteral("31420"));
    EXPECT_EQ(status, kDone);
    EXPECT_EQ(read("FTP", "ftpUrl", "dflt", &status), QStringLiteral("dflt"));
    EXPECT_EQ(read("QP6100", "qp6100Device", "dflt", &status), QStringLiteral("dflt"));
    EXPECT_EQ(status, kDone);
}

TEST_F(ProfileStoreFile, MatchesNamesWithoutRegardToCase)
{
    writeAll(m_path,
             "; settings\r\n[LOCAL]\r\nLOCALSOCKPORT = 5000 \r\n[ftp]\r\nFtpUrl=ftp://h\r\n");
    EXPECT_EQ(read("Local", "localSockport"), QStringLiteral("5000"));
    EXPECT_EQ(read("FTP", "ftpURL"), QStringLiteral("ftp://h"));
    // A key of another section is not found.
    EXPECT_EQ(read("Local", "ftpUrl"), QStringLiteral("default"));
}

TEST_F(ProfileStoreFile, ReadsAtMost254Characters)
{
    const QByteArray longValue(300, 'v');
    writeAll(m_path, "[FTP]\nftpPassword=" + longValue + "\n");
    EXPECT_EQ(read("FTP", "ftpPassword"), QString(254, QLatin1Char('v')));
}

TEST_F(ProfileStoreFile, TakesTheTypeLetterInEitherCaseAndNoOther)
{
    writeAll(m_path, "[Local]\nlocalSockport=4000\n");
    qint32 status = -1;
    EXPECT_EQ(read("Local", "localSockport", "d", &status, "s"), QStringLiteral("4000"));
    EXPECT_EQ(status, kDone);
    EXPECT_EQ(write("Local", "localSockport", QStringLiteral("4001"), "s"), kDone);
    EXPECT_EQ(read("Local", "localSockport"), QStringLiteral("4001"));

    EXPECT_EQ(read("Local", "localSockport", "d", &status, "N"), QStringLiteral("d"));
    EXPECT_EQ(status, kNothingDone);
    EXPECT_EQ(write("Local", "localSockport", QStringLiteral("1"), "N"), kNothingDone);
    EXPECT_EQ(read("Local", "localSockport"), QStringLiteral("4001"));
}

TEST_F(ProfileStoreFile, DoesNothingForFoldersHivesAndMissingFiles)
{
    QString value;
    EXPECT_EQ(reg_get_value(m_dir.path(), QStringLiteral("Local"), QStringLiteral("k"),
                            QStringLiteral("S"), QStringLiteral("dflt"), value),
              kNothingDone);
    EXPECT_EQ(value, QStringLiteral("dflt"));
    EXPECT_EQ(reg_get_value(QStringLiteral("HKLM"), QStringLiteral("Local"), QStringLiteral("k"),
                            QStringLiteral("S"), QStringLiteral("hive"), value),
              kNothingDone);
    EXPECT_EQ(value, QStringLiteral("hive"));
    EXPECT_EQ(reg_set_value(QStringLiteral("HKLM"), QStringLiteral("Local"), QStringLiteral("k"),
                            QStringLiteral("S"), QStringLiteral("v")),
              kNothingDone);

    // A settings file deleted while the program runs is not created again by a write.
    writeAll(m_path, "[Local]\nlocalSockport=4000\n");
    QFile::remove(m_path);
    EXPECT_EQ(write("Local", "localSockport", QStringLiteral("5000")), kNothingDone);
    EXPECT_FALSE(QFileInfo::exists(m_path));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
}

TEST_F(ProfileStoreFile, WriteKeepsEverythingElseOfACrLfFile)
{
    writeAll(m_path, "; Varnel settings\r\n"
                     "[Local]\r\n"
                     "localSockport=31420\r\n"
                     "\r\n"
                     "[FTP]\r\n"
                     "ftpUrl = ftp://old\r\n"
                     "; the password is stored in clear\r\n"
                     "ftpPassword=secret\r\n"
                     "\r\n"
                     "[Extra]\r\n"
                     "kept=yes\r\n");

    EXPECT_EQ(write("ftp", "FTPURL", QStringLiteral("ftp://new")), kDone);
    EXPECT_EQ(write("Local", "newKey", QStringLiteral("n")), kDone);
    EXPECT_EQ(write("QP6100", "qp6100Device", QStringLiteral("1")), kDone);

    EXPECT_EQ(readAll(m_path), "; Varnel settings\r\n"
                               "[Local]\r\n"
                               "localSockport=31420\r\n"
                               "newKey=n\r\n"
                               "\r\n"
                               "[FTP]\r\n"
                               "ftpUrl = ftp://new\r\n"
                               "; the password is stored in clear\r\n"
                               "ftpPassword=secret\r\n"
                               "\r\n"
                               "[Extra]\r\n"
                               "kept=yes\r\n"
                               "[QP6100]\r\n"
                               "qp6100Device=1\r\n");
}

TEST_F(ProfileStoreFile, WriteKeepsTheLineEndsOfAnLfFile)
{
    writeAll(m_path, "[Local]\nlocalSockport=4000");
    EXPECT_EQ(write("Local", "localSockport", QStringLiteral("4001")), kDone);
    EXPECT_EQ(readAll(m_path), "[Local]\nlocalSockport=4001");
    EXPECT_EQ(write("FTP", "ftpUrl", QStringLiteral("h")), kDone);
    EXPECT_EQ(readAll(m_path), "[Local]\nlocalSockport=4001\n[FTP]\nftpUrl=h\n");
}

TEST_F(ProfileStoreFile, WriteAddsAKeyToTheFirstSectionOfItsName)
{
    writeAll(m_path, "[FTP]\nftpUrl=h\n[Local]\n[ftp]\nftpPassword=p\n");
    EXPECT_EQ(read("FTP", "ftpPassword"), QStringLiteral("p"));
    EXPECT_EQ(write("FTP", "ftpUsername", QStringLiteral("u")), kDone);
    EXPECT_EQ(write("FTP", "ftpPassword", QStringLiteral("q")), kDone);
    EXPECT_EQ(readAll(m_path), "[FTP]\nftpUrl=h\nftpUsername=u\n[Local]\n[ftp]\nftpPassword=q\n");
}

TEST_F(ProfileStoreFile, WritesAnEmptyFileWithCrLfAndKeepsItsPermissions)
{
    writeAll(m_path, "");
    QFile(m_path).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(write("Local", "localSockport", QStringLiteral("4000")), kDone);
    EXPECT_EQ(readAll(m_path), "[Local]\r\nlocalSockport=4000\r\n");
    EXPECT_EQ(unixMode(m_path), 0600);
    // The write goes through a file beside it that is renamed over it: none is left behind.
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("varnelpayment.ini")});
}

TEST_F(ProfileStoreFile, StoresSingleByteTextOnOneLine)
{
    writeAll(m_path, "");
    EXPECT_EQ(write("FTP", "ftpUsername", QStringLiteral("J\u00F6rg \u20AC")), kDone);
    EXPECT_EQ(write("FTP", "ftpPassword", QStringLiteral("a\r\n[Local]\nlocalSockport=1")), kDone);
    EXPECT_EQ(read("FTP", "ftpUsername"), QStringLiteral("J\u00F6rg ?"));
    EXPECT_EQ(read("FTP", "ftpPassword"), QStringLiteral("a  [Local] localSockport=1"));
    EXPECT_EQ(read("Local", "localSockport"), QStringLiteral("default"));
    EXPECT_EQ(readAll(m_path).count('\n'), 3);
}

TEST_F(ProfileStoreFile, ABatchWriteKeepsEachRuleAndReplacesTheFileOnceOrNotAtAll)
{
    writeAll(m_path, "; kept\r\n[FTP]\r\nftpUrl=h\r\n");
    FileReplacements replacements(m_path);
    ASSERT_TRUE(replacements.isWatching());
    const auto value = [](const char* section, const char* name, const QString& text) {
        return ProfileValue{QLatin1String(section), QLatin1String(name), text};
    };
    EXPECT_EQ(reg_set_values(m_path, QStringLiteral("s"),
                             {value("ftp", "FTPURL", QStringLiteral("new")),
                              value("Local", "localSockport", QStringLiteral("a\r\nb")),
                              value("FTP", "ftpUsername", QStringLiteral("J\u00F6rg \u20AC"))}),
              kDone);
    EXPECT_EQ(replacements.take(), 1);
    const QByteArray written = "; kept\r\n[FTP]\r\nftpUrl=new\r\nftpUsername=J\xF6rg ?\r\n"
                               "[Local]\r\nlocalSockport=a  b\r\n";
    EXPECT_EQ(readAll(m_path), written);

    // One name that cannot be written, a type other than "S" or a missing file: nothing at all.
    for (const ProfileValue& refused :
         {value("a]b", "k", {}), value("FTP", "x=y", {}), value("FTP", " ", {}),
          value("F\nTP", "k", {}), value("FTP", "[k", {})}) {
        EXPECT_EQ(reg_set_values(m_path, QStringLiteral("S"),
                                 {value("FTP", "ftpUrl", QStringLiteral("z")), refused}),
                  kNothingDone)
            << qPrintable(refused.section + QLatin1Char('/') + refused.name);
    }
    EXPECT_EQ(
        reg_set_values(m_path, QStringLiteral("N"), {value("FTP", "ftpUrl", QStringLiteral("z"))}),
        kNothingDone);
    EXPECT_EQ(readAll(m_path), written);
    EXPECT_EQ(replacements.take(), 0);
    QFile::remove(m_path);
    EXPECT_EQ(
        reg_set_values(m_path, QStringLiteral("S"), {value("FTP", "ftpUrl", QStringLiteral("z"))}),
        kNothingDone);
    EXPECT_FALSE(QFileInfo::exists(m_path));
}
