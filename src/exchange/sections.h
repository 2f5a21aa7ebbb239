#pragma once

#include <QList>
#include <QString>

class KorTables;

namespace exchange {

// A Section as a script or a dialog names it.
struct SectionInfo
{
    qint64 number = 0; // N_line
    QString name;
};

// Every Section of the alias, in the section list's order. Moves Table2.
QList<SectionInfo> listSections(KorTables &db);

// The Section a script names: "#12" is the Section whose N_line is 12, any
// other text the one Section of exactly that name. Throws ExchangeError when
// there is none, or when several share the name (their numbers are listed).
// Leaves Table2 on it.
SectionInfo findSection(KorTables &db, const QString &reference);
// The same, but nullopt where no Section has the name (a "#" number that
// names none is still an error).
std::optional<SectionInfo> findSectionIfAny(KorTables &db, const QString &reference);

// A text cut to at most `size` characters counted as Unicode code points, as
// the field objects keep it; `cut` tells whether anything was dropped.
QString cutToSize(const QString &text, int size, bool *cut = nullptr);

} // namespace exchange
