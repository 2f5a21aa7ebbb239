#include "check.h"

#include "backupfile.h"

#include "store/alias.h"
#include "store/error.h"

#include <QDir>

namespace backup {

namespace {

QString aliasFolder(const QString &alias)
{
    try {
        return store::resolveAlias(alias).folder;
    } catch (const store::StoreError &e) {
        throw BackupError(e.message());
    }
}

// The Supports' file with the Sections' file attached as "sections".
std::unique_ptr<Connection> supportsWithSections(const QString &folder, Connection::Mode mode)
{
    auto db = std::make_unique<Connection>(QDir(folder).filePath(store::supportTable().fileName), mode);
    Statement(*db, QStringLiteral("ATTACH DATABASE ?1 AS sections"))
        .bind(1, QDir(folder).filePath(store::lineTable().fileName))
        .run();
    return db;
}

const QString kOrphan = QStringLiteral("Line IS NULL OR Line NOT IN (SELECT N_line FROM sections.line)");

} // namespace

bool DatabaseCheck::sound() const
{
    for (const FileFindings &file : files)
        if (!file.problems.isEmpty())
            return false;
    return orphans == 0;
}

DatabaseCheck checkDatabase(const QString &alias)
{
    const QString folder = aliasFolder(alias);
    DatabaseCheck result;
    for (const store::TableDef *table : {&store::lineTable(), &store::supportTable()}) {
        Connection db(QDir(folder).filePath(table->fileName), Connection::Mode::LiveReadOnly);
        result.files << DatabaseCheck::FileFindings{table->fileName, checkFindings(db, QStringLiteral("integrity_check"))};
    }
    const std::unique_ptr<Connection> db = supportsWithSections(folder, Connection::Mode::LiveReadOnly);
    db->exec(QStringLiteral("BEGIN"));
    Statement orphans(*db, QStringLiteral("SELECT Line, count(*) FROM base_kor WHERE %1 GROUP BY Line").arg(kOrphan));
    while (orphans.next()) {
        result.missingSections << orphans.value(0);
        result.orphans += orphans.integer(1);
    }
    db->exec(QStringLiteral("COMMIT"));
    return result;
}

GatheredSupports gatherOrphans(const QString &alias)
{
    const std::unique_ptr<Connection> db = supportsWithSections(aliasFolder(alias), Connection::Mode::Live);
    GatheredSupports gathered;
    db->exec(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        if (db->value(QStringLiteral("SELECT count(*) FROM base_kor WHERE %1").arg(kOrphan)).toLongLong() == 0) {
            db->rollback();
            return gathered;
        }
        Statement existing(*db, QStringLiteral("SELECT N_line FROM sections.line WHERE Line = ?1 ORDER BY N_line LIMIT 1"));
        const QVariant found = existing.bind(1, kNoSectionName).next() ? existing.value(0) : QVariant();
        existing.reset();
        if (found.isValid()) {
            gathered.section = found.toLongLong();
        } else {
            Statement(*db, QStringLiteral("INSERT INTO sections.line (Line) VALUES (?1)")).bind(1, kNoSectionName).run();
            gathered.section = db->value(QStringLiteral("SELECT last_insert_rowid()")).toLongLong();
        }
        if (gathered.section > kLargestSectionForSupports)
            throw BackupError(QStringLiteral("номер участка «%1» (%2) больше %3: опоры не могут на него ссылаться")
                                  .arg(kNoSectionName)
                                  .arg(gathered.section)
                                  .arg(kLargestSectionForSupports));
        Statement move(*db, QStringLiteral("UPDATE base_kor SET Line = ?1 WHERE %1").arg(kOrphan));
        move.bind(1, gathered.section).run();
        gathered.supports = db->value(QStringLiteral("SELECT changes()")).toLongLong();
        db->exec(QStringLiteral("COMMIT"));
    } catch (...) {
        db->rollback();
        throw;
    }
    return gathered;
}

} // namespace backup
