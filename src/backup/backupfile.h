#pragma once

#include "connection.h"

#include "store/schema.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace backup {

// Why a backup was taken; the text the backups window shows.
struct Reason
{
    enum class Kind { StartUp, Clearing, SectionDeletion, Import, Restore, Manual };
    Kind kind = Kind::Manual;
    QString section; // the Section's name, for a clearing and a deletion

    // "при запуске", "перед очисткой участка «Гомель»", "вручную", ...
    QString text() const;
    // The word kept in the file ("clearing"), and back (an unknown word: nullopt).
    QString code() const;
    static std::optional<Kind> kindOf(const QString &code);
};

// What a backup file says of itself, and its size.
struct BackupInfo
{
    QString path;
    QDateTime created; // UTC
    QString reason;    // as shown
    qint64 sections = 0;
    qint64 supports = 0;
    qint64 size = 0;
    // Empty for a backup of this program; else why the file cannot be one
    // (it is listed so that the user sees it, and never restored or removed).
    QString problem;
};

// A Section kept in a backup, with the number of its Supports.
struct BackupSection
{
    qint64 key = 0;
    QString name;
    qint64 supports = 0;
};

// The file format: one SQLite file in rollback-journal mode holding the
// tables "line" and "base_kor" exactly as the alias keeps them, and a table
// "backup_info" that names the format, its version, the time, the reason and
// the counts.
inline constexpr char kBackupSuffix[] = ".korbackup";
// A Support keeps its Section's key in a smallint field: a Section with a
// larger key cannot receive Supports.
inline constexpr qint64 kLargestSectionForSupports = 32767;
inline constexpr int kBackupFormatVersion = 1;

// A backup file opened for reading as it stands (never written or locked).
// Opening checks what is cheap to check: the file's header, the backup's own
// description and the structure of both tables. Throws BackupError, with the
// file left byte for byte as it was, for anything that is not a backup of
// this program.
class BackupReader
{
public:
    explicit BackupReader(const QString &path);
    ~BackupReader();

    const BackupInfo &info() const { return m_info; }
    Connection &connection() { return *m_db; }

    // The whole file checked page by page and index by index (SQLite's
    // integrity check); throws BackupError when it is damaged. Values of a
    // wrong type (which the tables it was copied from held too) are no damage.
    void checkIntegrity();
    // Every Section, in the order of their keys, with its Supports counted.
    QList<BackupSection> sections();
    // The Supports of one Section in the order of their keys (or of every
    // Section: nullopt), as the store keeps records; a value that cannot be
    // read is blank, as the program shows it.
    void readSupports(std::optional<qint64> section, const std::function<void(store::Record &&)> &sink);

private:
    void checkStructure();
    void readInfo();

    std::unique_ptr<Connection> m_db;
    BackupInfo m_info;
};

// Every finding of PRAGMA quick_check or integrity_check, one a line.
QStringList checkFindings(Connection &db, const QString &pragma);
// The findings of PRAGMA quick_check or integrity_check that are damage:
// values of a wrong type and broken CHECK rules are not (the store reads them
// as blank and names them), everything else is.
QStringList damageFindings(Connection &db, const QString &pragma);

} // namespace backup
