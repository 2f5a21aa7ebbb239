#include "tablefile.h"

#include "alias.h"
#include "error.h"
#include "pgtablefile.h"
#include "sqlitetablefile.h"

#include <QDir>
#include <QFileInfo>
#include <exception>

namespace store {

TableFile::~TableFile() = default;

std::unique_ptr<TableFile> TableFile::open(const QString &alias, const QString &tableName)
{
    const TableDef *def = findTable(tableName);
    if (!def)
        throw StoreError(QStringLiteral("Table '%1' does not exist in alias '%2'").arg(tableName, alias));
    const AliasLocation location = resolveAlias(alias);
    if (location.server)
        return std::make_unique<PgTableFile>(*def, alias, *location.server);
    const QString path = QDir(location.folder).filePath(def->fileName);
    const bool exists = QFileInfo::exists(path);
    // A configured folder gets a missing table file only when it says create=yes.
    if (!exists && location.configured && !location.create)
        throw StoreError(QStringLiteral("Table '%1' does not exist in '%2'").arg(def->fileName, location.folder));
    return std::make_unique<SqliteTableFile>(*def, path, !exists);
}

void TableFile::checkRecord(const Record &record) const
{
    const TableDef &t = def();
    for (int i = 0; i < t.fields.size(); ++i) {
        const FieldDef &f = t.fields[i];
        const QVariant v = record.value(i);
        const bool blank = !v.isValid() || v.isNull();
        if (blank) {
            if (f.required)
                throw StoreError(QStringLiteral("Field value required: '%1'").arg(f.name));
            continue;
        }
        if (f.type == FieldType::Text && codePoints(v.toString()) > f.size)
            throw StoreError(QStringLiteral("Value too long for field '%1' (at most %2 characters)")
                                 .arg(f.name)
                                 .arg(f.size));
        if (f.type == FieldType::SmallInt) {
            const qint64 n = v.toLongLong();
            if (n < -32768 || n > 32767)
                throw StoreError(QStringLiteral("Value out of range for field '%1'").arg(f.name));
        }
    }
}

BulkScope::BulkScope(TableFile &file) : m_file(file), m_uncaught(std::uncaught_exceptions())
{
    m_file.beginBulk();
}

BulkScope::~BulkScope() noexcept(false)
{
    if (std::uncaught_exceptions() > m_uncaught) {
        // An error is already on its way to the user; the commit still saves
        // what was written before it, and a failure of the commit itself
        // leaves the table as it was on disk (the views re-read it).
        try {
            m_file.endBulk();
        } catch (const SystemError &e) {
            qWarning("%s", e.what());
        }
        return;
    }
    m_file.endBulk();
}

TransactionScope::TransactionScope(TableFile &file) : m_file(file)
{
    m_file.beginTransaction();
}

TransactionScope::~TransactionScope()
{
    if (m_open)
        m_file.rollbackTransaction();
}

void TransactionScope::commit()
{
    // A refused commit is rolled back by the file: either way the scope is over.
    m_open = false;
    m_file.commitTransaction();
}

} // namespace store
