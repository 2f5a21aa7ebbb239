#include "sections.h"

#include "exchangeerror.h"

#include "data/kortables.h"

#include <QStringList>

namespace exchange {

QList<SectionInfo> listSections(KorTables &db)
{
    QList<SectionInfo> list;
    Table &sections = db.Table2;
    sections.First();
    while (!sections.IsEmpty()) {
        list.append({db.Table2N_line->AsInteger(), db.Table2Line->AsString()});
        sections.Next();
        if (sections.Eof())
            break;
    }
    return list;
}

std::optional<SectionInfo> findSectionIfAny(KorTables &db, const QString &reference)
{
    if (reference.startsWith(u'#')) {
        bool ok = false;
        const qint64 number = reference.mid(1).toLongLong(&ok);
        if (!ok)
            throw ExchangeError(QStringLiteral("«%1» — не номер участка (после «#» должны быть цифры)").arg(reference));
        if (!db.Table2.Locate(number))
            throw ExchangeError(QStringLiteral("Участка №%1 нет").arg(number));
        return SectionInfo{number, db.Table2Line->AsString()};
    }
    QList<SectionInfo> matches;
    for (const SectionInfo &s : listSections(db))
        if (s.name == reference)
            matches.append(s);
    if (matches.isEmpty())
        return std::nullopt;
    if (matches.size() > 1) {
        QStringList numbers;
        for (const SectionInfo &s : matches)
            numbers << QStringLiteral("#%1").arg(s.number);
        throw ExchangeError(QStringLiteral("Участок «%1» не один: их %2 (%3); назовите нужный по номеру, например «%4»")
                                .arg(reference)
                                .arg(matches.size())
                                .arg(numbers.join(QStringLiteral(", ")), numbers.first()));
    }
    db.Table2.Locate(matches.first().number);
    return matches.first();
}

SectionInfo findSection(KorTables &db, const QString &reference)
{
    const std::optional<SectionInfo> found = findSectionIfAny(db, reference);
    if (!found)
        throw ExchangeError(QStringLiteral("Участка «%1» нет").arg(reference));
    return *found;
}

QString cutToSize(const QString &text, int size, bool *cut)
{
    if (cut)
        *cut = false;
    if (size <= 0 || text.size() <= size)
        return text;
    qsizetype i = 0;
    for (int points = 0; points < size && i < text.size(); ++points)
        i += (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2 : 1;
    if (i >= text.size())
        return text;
    if (cut)
        *cut = true;
    return text.left(i);
}

} // namespace exchange
