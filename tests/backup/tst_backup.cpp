// Backups without windows: which backups the thinning-out keeps, over
// synthetic series of dates and on real files; and a child killed at random
// moments while it takes backups never leaves a partial backup listed, nor
// live tables that fail SQLite's integrity check.
#include "app/appfixture.h"

#include "backup/check.h"
#include "backup/retention.h"
#include "backup/take.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <csignal>
#include <random>

using Series = QVector<QDateTime>;

namespace {

const QString kAlias = QStringLiteral("kor");

QDateTime at(const QDate &day, int hour = 12)
{
    return QDateTime(day, QTime(hour, 0));
}

Series everyFewHours(const QDateTime &first, int hours, int count)
{
    Series series;
    for (int i = 0; i < count; ++i)
        series << first.addSecs(qint64(i) * hours * 3600);
    return series;
}

// The rule as the user reads it, backup by backup: kept when fewer than 20
// are newer, or when it is the newest of its day within the last 30 days,
// or of its month within the last 12 months.
QVector<bool> documentedRule(const Series &created, const QDateTime &now)
{
    const QDate today = now.date();
    QVector<bool> kept;
    for (const QDateTime &b : created) {
        int newer = 0;
        bool newerSameDay = false, newerSameMonth = false;
        for (const QDateTime &other : created) {
            if (other <= b)
                continue;
            ++newer;
            newerSameDay = newerSameDay || other.date() == b.date();
            newerSameMonth = newerSameMonth || (other.date().year() == b.date().year()
                                                && other.date().month() == b.date().month());
        }
        const int monthsAgo = (today.year() - b.date().year()) * 12 + today.month() - b.date().month();
        kept << (newer < 20 || (b.date().daysTo(today) < 30 && !newerSameDay) || (monthsAgo < 12 && !newerSameMonth));
    }
    return kept;
}

} // namespace

class BackupTest : public QObject
{
    Q_OBJECT

private slots:
    void retentionKeepsTheDocumentedSet_data();
    void retentionKeepsTheDocumentedSet();
    void oldBackupsGoOnceANewOneIsComplete();
    void killedWhileBackingUp();
};

void BackupTest::retentionKeepsTheDocumentedSet_data()
{
    QTest::addColumn<Series>("created");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<int>("keptByHand"); // -1: not counted by hand

    const QDateTime now = at(QDate(2024, 6, 15), 13);
    // The 30 days from 17 May, and the last day of each month from July 2023 to April.
    QTest::newRow("one a day for 400 days") << everyFewHours(now.addDays(-399).addSecs(-3600), 24, 400) << now << 40;
    QTest::newRow("hourly for 3 days") << everyFewHours(now.addDays(-3), 1, 72) << now << 20 + 2;
    QTest::newRow("fewer than 20") << everyFewHours(now.addYears(-3), 24 * 200, 6) << now << 6;
    QTest::newRow("one every 5 days for 3 years") << everyFewHours(now.addYears(-3), 24 * 5, 219) << now << -1;
    std::mt19937_64 rng(QRandomGenerator::global()->generate64());
    Series random;
    QSet<qint64> taken;
    while (random.size() < 300) {
        const qint64 secs = qint64(rng() % (2 * 366 * 24 * 3600));
        if (!taken.contains(secs))
            random << now.addSecs(-secs);
        taken.insert(secs);
    }
    QTest::newRow("300 at random over two years") << random << now << -1;
}

void BackupTest::retentionKeepsTheDocumentedSet()
{
    QFETCH(Series, created);
    QFETCH(QDateTime, now);
    QFETCH(int, keptByHand);
    const QVector<bool> kept = backup::keptBackups(created, now);
    QCOMPARE(kept, documentedRule(created, now));
    if (keptByHand >= 0)
        QCOMPARE(int(kept.count(true)), keptByHand);
}

// 23 backups an hour apart on one day: the three oldest go, each once a
// newer backup is complete; files that are not backups stay, whatever their names.
void BackupTest::oldBackupsGoOnceANewOneIsComplete()
{
    TempAlias home;
    Seeder().addSection(QStringLiteral("A"));
    QDir().mkpath(backup::backupFolder(kAlias));
    // One named as no backup is, one named as an old backup would be.
    const QStringList foreign{backup::backupFolder(kAlias) + QStringLiteral("/0000-not-ours.korbackup"),
                              backup::backupFolder(kAlias) + QStringLiteral("/2020-01-01_00-00-00-000.korbackup")};
    for (const QString &path : foreign) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a backup");
    }
    const QDateTime first = QDateTime(QDate(2024, 3, 1), QTime(0, 30));
    QDateTime now = first;
    backup::setClockForTests([&] { return now; });
    for (int i = 0; i < 23; ++i, now = now.addSecs(3600))
        backup::takeBackup(kAlias, backup::Reason{});
    backup::setClockForTests(nullptr);
    QList<backup::BackupInfo> listed = backup::listBackups(kAlias);
    QCOMPARE(listed.removeIf([&](const backup::BackupInfo &b) { return foreign.contains(b.path); }), 2);
    QCOMPARE(listed.size(), 20);
    QCOMPARE(listed.first().created, first.addSecs(22 * 3600));
    QCOMPARE(listed.last().created, first.addSecs(3 * 3600));
    QCOMPARE(listed.last().sections, qint64(1));
}

void BackupTest::killedWhileBackingUp()
{
    TempAlias home;
    constexpr int kSupports = 20000;
    {
        Seeder s;
        s.addSupports(s.addSection(QStringLiteral("A")), kSupports);
    }
    std::mt19937_64 rng(QRandomGenerator::global()->generate64());
    int taken = 0;
    for (int run = 0; run < 20; ++run) {
        QProcess child;
        child.start(QStringLiteral(BACKUPCHILD_PATH), {QStringLiteral("loop")});
        QVERIFY2(child.waitForReadyRead(20000), qPrintable(child.readAllStandardError()));
        QByteArray output = child.readAllStandardOutput();
        // Killed at any moment of a backup: each takes tens of milliseconds.
        const int delay = int(rng() % 300);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < delay && child.state() == QProcess::Running)
            child.waitForReadyRead(int(std::max<qint64>(1, delay - clock.elapsed())));
        QVERIFY2(child.state() == QProcess::Running, qPrintable(child.readAllStandardError()));
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(10000));
        output += child.readAllStandardOutput();
        taken += int(output.count("B\n"));

        const QString where = QStringLiteral("run %1, killed after %2 ms").arg(run).arg(delay);
        for (const backup::BackupInfo &listed : backup::listBackups(kAlias)) {
            QVERIFY2(listed.problem.isEmpty(), qPrintable(where + QStringLiteral(": ") + listed.problem));
            backup::BackupReader reader(listed.path);
            reader.checkIntegrity();
            QCOMPARE(reader.sections().value(0).supports, qint64(kSupports));
        }
        const backup::DatabaseCheck live = backup::checkDatabase(kAlias);
        QVERIFY2(live.sound(), qPrintable(where + QStringLiteral(": ") + live.files.value(1).problems.join(u'\n')));
        KorTables db;
        db.open();
        QCOMPARE(db.Table1.RecordCount(), kSupports);
    }
    QVERIFY(taken > 0);
}

QTEST_GUILESS_MAIN(BackupTest)
#include "tst_backup.moc"
