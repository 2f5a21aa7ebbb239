#include "restore.h"

#include "backupfile.h"

#include "store/alias.h"
#include "store/error.h"
#include "store/presence.h"
#include "store/tablefile.h"

#include <QDir>

namespace backup {

namespace {

// The field list of a table, quoted, for statements that copy whole records.
QString fieldList(const store::TableDef &table)
{
    QStringList fields;
    for (int i = 0; i < table.fields.size(); ++i)
        fields << table.quotedField(i);
    return fields.join(QLatin1Char(','));
}

} // namespace

RestoredSection restoreSection(const QString &alias, const QString &backupPath, qint64 sectionKey)
{
    BackupReader reader(backupPath);
    RestoredSection restored;
    bool found = false;
    for (const BackupSection &section : reader.sections()) {
        if (section.key == sectionKey) {
            restored.name = section.name;
            found = true;
        }
    }
    if (!found)
        throw BackupError(QStringLiteral("в копии нет участка №%1").arg(sectionKey));
    std::vector<store::Record> supports;
    reader.readSupports(sectionKey, [&](store::Record &&record) { supports.push_back(std::move(record)); });

    const std::unique_ptr<store::TableFile> lines = store::TableFile::open(alias, store::lineTable().fileName);
    const std::unique_ptr<store::TableFile> supportFile = store::TableFile::open(alias, store::supportTable().fileName);
    store::Record section{QVariant(), restored.name.isEmpty() ? QVariant() : QVariant(restored.name)};
    lines->insert(section);
    restored.key = section[0].toLongLong();
    try {
        if (restored.key > kLargestSectionForSupports && !supports.empty())
            throw BackupError(QStringLiteral("номер нового участка %1 больше %2: опоры не могут на него ссылаться")
                                  .arg(restored.key)
                                  .arg(kLargestSectionForSupports));
        const store::TableDef &table = store::supportTable();
        const int lineField = table.fieldIndex(QStringLiteral("Line"));
        store::TransactionScope transaction(*supportFile);
        for (store::Record &record : supports) {
            record[table.keyField] = QVariant();
            record[lineField] = restored.key;
            supportFile->insert(record);
        }
        transaction.commit();
    } catch (...) {
        try {
            lines->remove(restored.key);
        } catch (const SystemError &e) {
            qWarning("%s", e.what());
        }
        throw;
    }
    restored.supports = qint64(supports.size());
    return restored;
}

RestoredTables restoreAll(const QString &alias, const QString &backupPath)
{
    const store::ExclusiveAliasUse exclusive(alias);
    if (!exclusive.acquired())
        throw BackupError(QStringLiteral("база «%1» открыта в другой копии программы; закройте её и повторите").arg(alias));
    RestoredTables restored;
    {
        BackupReader reader(backupPath);
        reader.checkIntegrity();
        restored.sections = reader.connection().value(QStringLiteral("SELECT count(*) FROM line")).toLongLong();
        restored.supports = reader.connection().value(QStringLiteral("SELECT count(*) FROM base_kor")).toLongLong();
    }
    const QString folder = store::resolveAlias(alias).folder;
    Connection live(QDir(folder).filePath(store::lineTable().fileName), Connection::Mode::Live);
    Statement(live, QStringLiteral("ATTACH DATABASE ?1 AS supports"))
        .bind(1, QDir(folder).filePath(store::supportTable().fileName))
        .run();
    Statement(live, QStringLiteral("ATTACH DATABASE ?1 AS copy")).bind(1, QString::fromUtf8(immutableUri(backupPath))).run();

    const QString lineFields = fieldList(store::lineTable());
    const QString supportFields = fieldList(store::supportTable());
    // The sequence of a table keeps the larger of the two numbers.
    const QString sequence = QStringLiteral(
        "UPDATE %1.sqlite_sequence SET seq = max(seq, coalesce((SELECT seq FROM copy.sqlite_sequence "
        "WHERE name = '%2'), 0)) WHERE name = '%2'");
    const QStringList steps[] = {
        {QStringLiteral("INSERT OR REPLACE INTO main.line (%1) SELECT %1 FROM copy.line").arg(lineFields)},
        {QStringLiteral("DELETE FROM supports.base_kor"),
         QStringLiteral("INSERT INTO supports.base_kor (%1) SELECT %1 FROM copy.base_kor").arg(supportFields),
         sequence.arg(QStringLiteral("supports"), QStringLiteral("base_kor"))},
        {QStringLiteral("DELETE FROM main.line WHERE N_line NOT IN (SELECT N_line FROM copy.line)"),
         sequence.arg(QStringLiteral("main"), QStringLiteral("line"))},
    };
    for (const QStringList &step : steps) {
        live.exec(QStringLiteral("BEGIN IMMEDIATE"));
        try {
            for (const QString &sql : step)
                live.exec(sql);
            live.exec(QStringLiteral("COMMIT"));
        } catch (...) {
            live.rollback();
            throw;
        }
    }
    return restored;
}

} // namespace backup
