#include "take.h"

#include "retention.h"

#include "store/alias.h"
#include "store/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <algorithm>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace backup {

namespace {

std::function<QDateTime()> g_clock;
qint64 g_sizeLimit = 0;

// Names are the backup's time in UTC, so that they sort by time and a
// start-up can tell the newest without opening any file.
constexpr char kNameFormat[] = "yyyy-MM-dd_HH-mm-ss-zzz";
constexpr qsizetype kNameLength = 23;
// A temporary file older than this was left by a copy that was killed.
constexpr int kStalePartialSecs = 3600;

// A Section read from the live table.
struct SectionRow
{
    qint64 key;
    QVariant name;
};

// Read transactions on both live files, begun while a write transaction on
// the Supports' file keeps every other copy from writing a Support or
// deleting a Section (the store deletes a Section only under that lock): the
// two files show one moment for as long as the object lives.
struct Snapshot
{
    std::unique_ptr<Connection> supports;
    qint64 supportCount = 0;
    QList<SectionRow> sections;
    std::optional<qint64> sectionSequence;

    explicit Snapshot(const QString &folder)
    {
        const QString supportsPath = QDir(folder).filePath(store::supportTable().fileName);
        const QString linesPath = QDir(folder).filePath(store::lineTable().fileName);
        for (const QString &path : {supportsPath, linesPath})
            if (!QFileInfo(path).isFile())
                throw BackupError(QStringLiteral("нет таблицы «%1»").arg(path));
        Connection writers(supportsPath, Connection::Mode::Live);
        writers.exec(QStringLiteral("BEGIN IMMEDIATE"));
        supports = std::make_unique<Connection>(supportsPath, Connection::Mode::LiveReadOnly);
        supports->exec(QStringLiteral("BEGIN"));
        supportCount = supports->value(QStringLiteral("SELECT count(*) FROM base_kor")).toLongLong();
        Connection lines(linesPath, Connection::Mode::LiveReadOnly);
        lines.exec(QStringLiteral("BEGIN"));
        Statement rows(lines, QStringLiteral("SELECT N_line, Line FROM line ORDER BY N_line"));
        while (rows.next())
            sections << SectionRow{rows.integer(0), rows.value(1)};
        const QVariant sequence = lines.value(QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name = 'line'"));
        if (sequence.isValid())
            sectionSequence = sequence.toLongLong();
        writers.exec(QStringLiteral("ROLLBACK"));
    }
};

void removeWithJournals(const QString &path)
{
    for (const char *suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

// A rename is on disk only once its folder is.
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void removeStalePartials(const QString &folder, const QDateTime &now)
{
    const QFileInfoList partials = QDir(folder).entryInfoList({QStringLiteral(".*.partial*")},
                                                              QDir::Files | QDir::Hidden);
    for (const QFileInfo &file : partials)
        if (file.lastModified().secsTo(now) > kStalePartialSecs)
            QFile::remove(file.absoluteFilePath());
}

// The Sections beside the copied Supports, then the backup's description.
void writeSectionsAndInfo(Connection &out, const Snapshot &snapshot, const QString &alias, const Reason &reason,
                          const QDateTime &created)
{
    out.exec(QStringLiteral("BEGIN"));
    for (const QString &sql : store::lineTable().createSql)
        out.exec(sql);
    Statement insert(out, QStringLiteral("INSERT INTO line (N_line, Line) VALUES (?1, ?2)"));
    for (const SectionRow &row : snapshot.sections) {
        insert.bind(1, row.key).bind(2, row.name).run();
        insert.reset();
    }
    // Keys are never given twice, even after a restore of this backup.
    if (snapshot.sectionSequence) {
        Statement(out, QStringLiteral("UPDATE sqlite_sequence SET seq = max(seq, ?1) WHERE name = 'line'"))
            .bind(1, *snapshot.sectionSequence)
            .run();
        Statement(out, QStringLiteral("INSERT INTO sqlite_sequence (name, seq) SELECT 'line', ?1 "
                                      "WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name = 'line')"))
            .bind(1, *snapshot.sectionSequence)
            .run();
    }
    out.exec(QStringLiteral("CREATE TABLE backup_info (key TEXT PRIMARY KEY NOT NULL, value TEXT) STRICT"));
    Statement info(out, QStringLiteral("INSERT INTO backup_info (key, value) VALUES (?1, ?2)"));
    const std::pair<const char *, QString> values[] = {
        {"format", QStringLiteral("korozia-backup")},
        {"version", QString::number(kBackupFormatVersion)},
        {"alias", alias},
        {"created", created.toString(Qt::ISODateWithMs)},
        {"reason", reason.code()},
        {"section", reason.section},
        {"sections", QString::number(snapshot.sections.size())},
        {"supports", QString::number(snapshot.supportCount)},
    };
    for (const auto &[key, value] : values) {
        info.bind(1, QString::fromLatin1(key)).bind(2, value).run();
        info.reset();
    }
    out.exec(QStringLiteral("COMMIT"));
}

// Copies the Supports' file as the snapshot shows it, in one step.
void copySupports(Snapshot &snapshot, Connection &out)
{
    if (g_sizeLimit > 0)
        out.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(std::max<qint64>(1, g_sizeLimit / 4096)));
    sqlite3_backup *copy = sqlite3_backup_init(out.handle(), "main", snapshot.supports->handle(), "main");
    if (!copy)
        out.fail(sqlite3_errcode(out.handle()));
    sqlite3_backup_step(copy, -1);
    const int rc = sqlite3_backup_finish(copy);
    if (rc != SQLITE_OK)
        out.fail(rc);
    snapshot.supports->exec(QStringLiteral("COMMIT"));
    // The copy took the live file's write-ahead journal mode; a backup is one file.
    out.exec(QStringLiteral("PRAGMA journal_mode = DELETE"));
}

QString freeName(const QString &folder, const QDateTime &created)
{
    const QString stem = QDir(folder).filePath(created.toString(QString::fromLatin1(kNameFormat)));
    QString path = stem + QLatin1String(kBackupSuffix);
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = stem + QStringLiteral("-%1").arg(n) + QLatin1String(kBackupSuffix);
    return path;
}

} // namespace

QString backupFolder(const QString &alias)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/korozia/backups/")
           + alias;
}

QDateTime currentTime()
{
    return g_clock ? g_clock().toUTC() : QDateTime::currentDateTimeUtc();
}

void setClockForTests(std::function<QDateTime()> clock)
{
    g_clock = std::move(clock);
}

void setSizeLimitForTests(qint64 bytes)
{
    g_sizeLimit = bytes;
}

BackupInfo takeBackup(const QString &alias, const Reason &reason)
{
    store::AliasLocation location;
    try {
        location = store::resolveAlias(alias);
    } catch (const store::StoreError &e) {
        throw BackupError(e.message());
    }
    const QString folder = backupFolder(alias);
    if (!QDir().mkpath(folder))
        throw BackupError(QStringLiteral("нет права на запись в «%1»").arg(folder));
    const QDateTime created = currentTime();
    removeStalePartials(folder, created);

    const QString path = freeName(folder, created);
    const QString partial = QDir(folder).filePath(QLatin1Char('.') + QFileInfo(path).fileName() + QStringLiteral(".partial"));
    BackupInfo info;
    try {
        {
            Snapshot snapshot(location.folder);
            Connection out(partial, Connection::Mode::Create);
            copySupports(snapshot, out);
            writeSectionsAndInfo(out, snapshot, alias, reason, created);
            const QStringList damage = damageFindings(out, QStringLiteral("quick_check"));
            if (!damage.isEmpty())
                throw BackupError(QStringLiteral("копия не прошла проверку (%1)").arg(damage.mid(0, 3).join(QStringLiteral("; "))));
            info.sections = snapshot.sections.size();
            info.supports = snapshot.supportCount;
        }
        if (::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData()) != 0)
            throw BackupError(QStringLiteral("нет права на запись в «%1»").arg(folder));
        syncFolder(folder);
    } catch (...) {
        removeWithJournals(partial);
        throw;
    }
    info.path = path;
    info.created = created;
    info.reason = reason.text();
    info.size = QFileInfo(path).size();
    applyRetention(alias, created);
    return info;
}

QList<BackupInfo> listBackups(const QString &alias)
{
    QList<BackupInfo> backups;
    const QFileInfoList files =
        QDir(backupFolder(alias)).entryInfoList({QLatin1Char('*') + QLatin1String(kBackupSuffix)}, QDir::Files);
    for (const QFileInfo &file : files) {
        try {
            backups << BackupReader(file.absoluteFilePath()).info();
        } catch (const BackupError &e) {
            BackupInfo damaged;
            damaged.path = file.absoluteFilePath();
            damaged.created = file.lastModified().toUTC();
            damaged.size = file.size();
            damaged.problem = e.message();
            backups << damaged;
        }
    }
    std::stable_sort(backups.begin(), backups.end(),
                     [](const BackupInfo &a, const BackupInfo &b) { return a.created > b.created; });
    return backups;
}

QList<NamedBackup> namedBackups(const QString &alias)
{
    QList<NamedBackup> named;
    const QDir folder(backupFolder(alias));
    for (const QString &name : folder.entryList({QLatin1Char('*') + QLatin1String(kBackupSuffix)}, QDir::Files)) {
        QDateTime time = QDateTime::fromString(name.left(kNameLength), QString::fromLatin1(kNameFormat));
        if (!time.isValid())
            continue;
        time.setTimeSpec(Qt::UTC);
        named << NamedBackup{folder.filePath(name), time};
    }
    return named;
}

std::optional<QDateTime> newestBackupTime(const QString &alias)
{
    std::optional<QDateTime> newest;
    for (const NamedBackup &backup : namedBackups(alias))
        if (!newest || backup.created > *newest)
            newest = backup.created;
    return newest;
}

bool tablesOnAServer(const QString &alias)
{
    const QString config = store::aliasConfigFile();
    if (!QFileInfo::exists(config))
        return false;
    const QString driver = QSettings(config, QSettings::IniFormat).value(alias + QStringLiteral("/driver")).toString();
    return !driver.isEmpty() && driver.compare(QLatin1String("sqlite"), Qt::CaseInsensitive) != 0
           && driver.compare(QLatin1String("QSQLITE"), Qt::CaseInsensitive) != 0;
}

} // namespace backup
