// The tills file as a running server follows it: another program's change is taken in, and
// the last uses are written back without losing it; a waiting till's code, and the lock that
// wrong codes put on pairing.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdlib>

#include "core/programfolder.h"
#include "fakeclock.h"
#include "log/activitylog.h"
#include "request/pairinglock.h"
#include "testfiles.h"
#include "tls/tillkey.h"
#include "tls/tillpairing.h"
#include "tls/tillregistry.h"
#include "tls/tillsfile.h"

namespace {

void runLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

Till till(const QString& name, const QString& key)
{
    return Till{name, tillKeyHash(key), QDateTime::currentDateTimeUtc(), {}, {}};
}

class TillRegistryTest : public ::testing::Test
{
protected:
    QString path() const { return m_dir.filePath(QStringLiteral("varnelpayment.tills")); }
    void write(const std::vector<Till>& tills)
    {
        QString reason;
        ASSERT_TRUE(TillsFile::write(path(), tills, &reason)) << qPrintable(reason);
    }
    std::vector<Till> read()
    {
        QString reason;
        return TillsFile::read(path(), &reason).value_or(std::vector<Till>{});
    }

    QTemporaryDir m_dir;
    FakeClock m_clock{QDateTime(QDate(2026, 12, 11), QTime(9, 0))};
    ActivityLog m_log{m_dir.filePath(QStringLiteral("varnelpayment.log")), m_clock};
};

} // namespace

TEST_F(TillRegistryTest, LastUsesAreWrittenBackAndAnotherProgramsChangeIsTakenInWithinTwoSeconds)
{
    write({till(QStringLiteral("Front"), QStringLiteral("front-key")),
           till(QStringLiteral("Back"), QStringLiteral("back-key"))});
    TillRegistry registry(path(), m_log, 300);
    QStringList removed;
    QObject::connect(&registry, &TillRegistry::removed,
                     [&](const QString& name) { removed << name; });
    EXPECT_EQ(registry.tillOf(QStringLiteral("front-key")), QStringLiteral("Front"));
    EXPECT_EQ(registry.tillOf(QStringLiteral("back-key")), QStringLiteral("Back"));
    EXPECT_EQ(registry.tillOf(QStringLiteral("front-ke")), std::nullopt);

    registry.used(QStringLiteral("Front"), QStringLiteral("192.168.10.31"));
    runLoop(2200);
    const std::vector<Till> written = read();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0].lastAddress, QStringLiteral("192.168.10.31"));
    EXPECT_TRUE(written[0].lastUsed.isValid());
    EXPECT_FALSE(written[1].lastUsed.isValid());
    EXPECT_TRUE(removed.isEmpty());

    // Another program removes one till and gives the other a new key.
    write({till(QStringLiteral("Front"), QStringLiteral("new-front-key")),
           till(QStringLiteral("Side"), QStringLiteral("side-key"))});
    runLoop(2100);
    removed.sort();
    EXPECT_EQ(removed, (QStringList{QStringLiteral("Back"), QStringLiteral("Front")}));
    EXPECT_EQ(registry.tillOf(QStringLiteral("front-key")), std::nullopt);
    EXPECT_EQ(registry.tillOf(QStringLiteral("back-key")), std::nullopt);
    EXPECT_EQ(registry.tillOf(QStringLiteral("new-front-key")), QStringLiteral("Front"));
    EXPECT_EQ(registry.tillOf(QStringLiteral("side-key")), QStringLiteral("Side"));

    // A last use kept back while the file changed is merged into the new file, not over it.
    registry.used(QStringLiteral("Side"), QStringLiteral("192.168.10.32"));
    write({till(QStringLiteral("Side"), QStringLiteral("side-key"))});
    registry.writeBack();
    const std::vector<Till> merged = read();
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_EQ(merged[0].name, QStringLiteral("Side"));
    EXPECT_EQ(merged[0].lastAddress, QStringLiteral("192.168.10.32"));
}

TEST_F(TillRegistryTest, AFileThatIsNotATillsFileKeepsTheTillsAsTheyWere)
{
    write({till(QStringLiteral("Front"), QStringLiteral("front-key"))});
    TillRegistry registry(path(), m_log);
    QFile broken(path());
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Append));
    broken.write("not a till\n");
    broken.close();
    runLoop(1500);
    EXPECT_EQ(registry.tillOf(QStringLiteral("front-key")), QStringLiteral("Front"));
    EXPECT_EQ(TestFiles::logEntries(m_log.log_path()),
              QStringList{QStringLiteral("Tills: cannot read %1: line 3 is not a till's; the "
                                         "tills stay as they were")
                              .arg(path())});
}

TEST_F(TillRegistryTest, TheLastUsesWaitWhileACommandHoldsTheFile)
{
    write({till(QStringLiteral("Front"), QStringLiteral("front-key"))});
    TillRegistry registry(path(), m_log, 0);
    registry.used(QStringLiteral("Front"), QStringLiteral("192.168.10.31"));
    {
        const TillsFile::Lock command(path(), TillsFile::Lock::Wait::Yes);
        ASSERT_TRUE(command.held());
        runLoop(1500);
        EXPECT_FALSE(read().at(0).lastUsed.isValid());
    }
    runLoop(1200);
    EXPECT_EQ(read().at(0).lastAddress, QStringLiteral("192.168.10.31"));
}

TEST_F(TillRegistryTest, AWaitingTillsCodeWorksOnceAndOnlyWithinItsTenMinutes)
{
    const ProgramFolder folder(m_dir.path());
    struct Row
    {
        const char* name;
        qint64 secondsLater;
        bool paired;
    };
    const Row rows[] = {
        {"Early", 0, true}, {"Late", 9 * 60 + 50, true}, {"Expired", 10 * 60 + 10, false}};
    for (const Row& row : rows) {
        const TillPairingOffer offer = offerPairing(folder, QString::fromLatin1(row.name));
        ASSERT_TRUE(offer.problem.isEmpty()) << qPrintable(offer.problem);
        FakeClock clock(QDateTime::currentDateTimeUtc().addSecs(row.secondsLater));
        TillRegistry registry(path(), m_log, 60000, &clock);
        const TillKeys::Pairing first = registry.pair(offer.code, QStringLiteral("10.0.0.7"));
        EXPECT_EQ(first.result == TillKeys::Pairing::Result::Paired, row.paired) << row.name;
        if (!row.paired)
            continue;
        EXPECT_EQ(first.till, QString::fromLatin1(row.name));
        EXPECT_EQ(registry.tillOf(first.key), QString::fromLatin1(row.name));
        EXPECT_EQ(registry.pair(offer.code, QStringLiteral("10.0.0.7")).result,
                  TillKeys::Pairing::Result::WrongCode)
            << row.name;
    }
    // A name that is a till already gets no code; the others are kept.
    EXPECT_TRUE(offerPairing(folder, QStringLiteral("late")).wrongName);
    EXPECT_EQ(read().size(), 2u);
}

TEST(PairingLockTest, FiveWrongCodesInARowLockForAMinute)
{
    qint64 now = 0;
    PairingLock lock([&now] { return now; });
    // 'w' a wrong code, 'p' a pairing, a number the seconds that pass; then whether it is locked.
    struct Row
    {
        const char* steps;
        bool locked;
    };
    const Row rows[] = {
        {"wwww", false},    {"wwwww", true},        {"wwwwpwwww", false},   {"wwwww59", true},
        {"wwwww61", false}, {"wwwww61wwww", false}, {"wwwww61wwwww", true},
    };
    for (const Row& row : rows) {
        now = 1000;
        lock = PairingLock([&now] { return now; });
        for (const char* step = row.steps; *step;) {
            if (*step == 'w') {
                lock.wrongCode();
                ++step;
            } else if (*step == 'p') {
                lock.paired();
                ++step;
            } else {
                char* end = nullptr;
                now += std::strtol(step, &end, 10) * 1000;
                step = end;
            }
        }
        EXPECT_EQ(lock.isLocked(), row.locked) << row.steps;
    }
}
