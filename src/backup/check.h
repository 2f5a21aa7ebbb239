#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace backup {

// The name of the Section that gathers Supports whose Section does not exist.
inline const QString kNoSectionName = QStringLiteral("Без участка");

// What the check of an alias's tables found.
struct DatabaseCheck
{
    struct FileFindings
    {
        QString file;         // "line.db"
        QStringList problems; // SQLite's integrity check; empty: sound
    };
    QList<FileFindings> files;
    // Supports whose Section does not exist (a blank Line included), and the
    // Section keys they name (an invalid QVariant for the blank).
    qint64 orphans = 0;
    QList<QVariant> missingSections;

    bool sound() const;
};

// SQLite's integrity check of both table files, and the Supports whose
// Section does not exist (left by other programs or tools, or by a crash
// between the two files of a deletion). Only reads. Throws BackupError.
DatabaseCheck checkDatabase(const QString &alias);

struct GatheredSupports
{
    qint64 section = 0;  // the N_line of "Без участка"
    qint64 supports = 0; // 0: there was nothing to gather
};

// Moves every Support whose Section does not exist into the Section "Без
// участка" (made when there is none), in one transaction of the Supports'
// file, during which no other copy can delete a Section or write a Support.
GatheredSupports gatherOrphans(const QString &alias);

} // namespace backup
