#include "aliascopy.h"

#include "store/schema.h"
#include "store/tablefile.h"

#include <QSet>
#include <memory>
#include <vector>

namespace migration {

namespace {

constexpr qint64 kProgressEvery = 1000;

const QString kSections = QStringLiteral("line.db");
const QString kSupports = QStringLiteral("base_kor.db");

std::vector<store::Record> readAll(store::TableFile &file)
{
    std::vector<store::Record> records;
    file.scanRecords(store::ScanSpec{}, [&](store::Record &&r) { records.push_back(std::move(r)); });
    return records;
}

qint64 countOf(store::TableFile &file)
{
    qint64 count = 0;
    file.scanKeys(store::ScanSpec{}, [&](qint64, const store::OrderValue *) { ++count; });
    return count;
}

// Writes the records with their own keys, all or nothing.
void writeAll(store::TableFile &file, const QString &table, const std::vector<store::Record> &records,
              const Progress &progress)
{
    const qint64 total = qint64(records.size());
    store::TransactionScope transaction(file);
    for (qint64 i = 0; i < total; ++i) {
        store::Record record = records[size_t(i)];
        file.insert(record);
        if (progress && ((i + 1) % kProgressEvery == 0))
            progress(table, i + 1, total);
    }
    transaction.commit();
    if (progress)
        progress(table, total, total);
}

QSet<qint64> keysOf(const std::vector<store::Record> &records, int keyField)
{
    QSet<qint64> keys;
    for (const store::Record &r : records)
        keys.insert(r.value(keyField).toLongLong());
    return keys;
}

} // namespace

CopyResult copyAlias(const QString &from, const QString &to, const Progress &progress)
{
    if (from == to)
        throw MigrationError(QStringLiteral("Псевдонимы совпадают: копировать «%1» в себя нельзя").arg(from));
    const std::unique_ptr<store::TableFile> sourceSections = store::TableFile::open(from, kSections);
    const std::unique_ptr<store::TableFile> sourceSupports = store::TableFile::open(from, kSupports);
    const std::unique_ptr<store::TableFile> targetSections = store::TableFile::open(to, kSections);
    const std::unique_ptr<store::TableFile> targetSupports = store::TableFile::open(to, kSupports);
    if (countOf(*targetSections) > 0 || countOf(*targetSupports) > 0)
        throw MigrationError(
            QStringLiteral("В псевдониме «%1» уже есть участки или опоры; копировать можно только в пустую базу, "
                           "ничего не записано")
                .arg(to));

    const std::vector<store::Record> sections = readAll(*sourceSections);
    const std::vector<store::Record> supports = readAll(*sourceSupports);
    const QSet<qint64> known = keysOf(sections, store::lineTable().keyField);
    const int lineField = store::supportTable().fieldIndex(QStringLiteral("Line"));
    qint64 orphans = 0;
    for (const store::Record &s : supports)
        if (s.value(lineField).isValid() && !known.contains(s.value(lineField).toLongLong()))
            ++orphans;
    if (orphans > 0)
        throw MigrationError(QStringLiteral("В псевдониме «%1» есть опоры без участка (%2); korozia-admin check %1 "
                                            "перечисляет их; ничего не записано")
                                 .arg(from)
                                 .arg(orphans));

    writeAll(*targetSections, kSections, sections, progress);
    try {
        writeAll(*targetSupports, kSupports, supports, progress);
    } catch (const SystemError &) {
        // The Supports were rolled back; the Sections go too, so that the
        // target is as empty as it was and the copy can simply be run again.
        try {
            store::TransactionScope transaction(*targetSections);
            for (qint64 key : known)
                targetSections->remove(key);
            transaction.commit();
        } catch (const SystemError &) {
        }
        throw;
    }
    return {qint64(sections.size()), qint64(supports.size())};
}

CheckResult checkAlias(const QString &alias)
{
    CheckResult result;
    const std::unique_ptr<store::TableFile> sectionFile = store::TableFile::open(alias, kSections);
    const std::unique_ptr<store::TableFile> supportFile = store::TableFile::open(alias, kSupports);
    for (store::TableFile *file : {sectionFile.get(), supportFile.get()})
        if (!file->unreadableValues().isEmpty())
            result.problems << file->unreadableValues();

    QSet<qint64> known;
    const auto checkEach = [&](store::TableFile &file, const QString &table, qint64 &count,
                               const std::function<void(const store::Record &)> &also) {
        const int keyField = file.def().keyField;
        file.scanRecords(store::ScanSpec{}, [&](store::Record &&r) {
            ++count;
            try {
                file.checkRecord(r);
            } catch (const store::StoreError &e) {
                result.problems << QStringLiteral("%1, запись %2: %3").arg(table).arg(r.value(keyField).toLongLong()).arg(e.message());
            }
            also(r);
        });
    };
    const int sectionKey = store::lineTable().keyField;
    checkEach(*sectionFile, kSections, result.sections,
              [&](const store::Record &r) { known.insert(r.value(sectionKey).toLongLong()); });
    const int lineField = store::supportTable().fieldIndex(QStringLiteral("Line"));
    const int supportKey = store::supportTable().keyField;
    checkEach(*supportFile, kSupports, result.supports, [&](const store::Record &r) {
        const QVariant line = r.value(lineField);
        if (line.isValid() && !known.contains(line.toLongLong()))
            result.problems << QStringLiteral("%1, запись %2: опора участка %3, которого нет")
                                   .arg(kSupports)
                                   .arg(r.value(supportKey).toLongLong())
                                   .arg(line.toLongLong());
    });
    return result;
}

} // namespace migration
