#pragma once

#include <QString>

namespace backup {

struct RestoredSection
{
    qint64 key = 0; // the new Section's N_line
    QString name;
    qint64 supports = 0;
};

// Adds the Section of a backup (by its key there) to the alias as a new
// Section of the same name with all of its Supports, every value as the
// backup holds it (new keys; Line names the new Section). The Supports are
// written in one transaction: all of them or, on any failure, none, and then
// the new Section is removed again. Throws BackupError or the store's errors.
RestoredSection restoreSection(const QString &alias, const QString &backupPath, qint64 sectionKey);

struct RestoredTables
{
    qint64 sections = 0;
    qint64 supports = 0;
};

// Replaces both tables of the alias with the backup's, after checking the
// backup whole. Refused (BackupError) while another copy of the program has
// the alias open; the caller closes its own cursors first and opens them
// again afterwards. The files are written in three transactions ordered so
// that a crash between them never leaves a Support without its Section:
// the backup's Sections join the live ones, the Supports are replaced, then
// the Sections the backup does not hold are removed. Keys are never given
// twice afterwards.
RestoredTables restoreAll(const QString &alias, const QString &backupPath);

} // namespace backup
