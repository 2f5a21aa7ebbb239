#include "columns.h"

#include <QHash>

namespace exchange {

namespace {

struct ColumnInfo
{
    Column column;
    const char16_t *caption;
    const char *field;
    // Other headings that name the column: the report's column texts, the
    // grid's two-line labels and what people write by hand.
    QList<const char16_t *> variants;
};

const QList<ColumnInfo> &infos()
{
    static const QList<ColumnInfo> list{
        {Column::Nomeropory, u"№ опоры", "Nomeropory", {u"Номер опоры", u"№", u"Номер", u"N опоры", u"No"}},
        {Column::Index, u"Индекс", "Index", {u"Литера", u"Буква"}},
        {Column::Tipopory, u"Тип опоры", "Tipopory", {u"Тип"}},
        {Column::Kilometr, u"Пикетаж, км", "Kilometr", {u"Пикетаж", u"км", u"Километр", u"Пикет"}},
        {Column::U_izmer, u"Замер U, B", "U_izmer", {u"U измереное", u"U измеренное", u"Замер U", u"Замер", u"Uизм"}},
        {Column::U_ras, u"Расчетное U, B", "U_ras", {u"U расчетное", u"Расчетное U", u"Uрас", u"Uрасч"}},
        {Column::R_opory, u"R опоры, Ом", "R_opory", {u"R опоры", u"R", u"R, Ом", u"Сопротивление"}},
        {Column::I_opory, u"Ток утечки, мА", "I_opory", {u"I опоры", u"Ток утечки", u"I", u"I, мА", u"Ток"}},
    };
    return list;
}

const ColumnInfo *info(Column column)
{
    for (const ColumnInfo &i : infos())
        if (i.column == column)
            return &i;
    return nullptr;
}

// Letter case, blanks, "_" and "ё" do not matter, and Cyrillic letters that
// look like Latin ones ("В" for the volt sign) count as those.
QString normalised(const QString &heading)
{
    static const QHash<QChar, QChar> lookalikes{
        {u'а', u'a'}, {u'в', u'b'}, {u'е', u'e'}, {u'ё', u'e'}, {u'к', u'k'}, {u'м', u'm'}, {u'н', u'h'},
        {u'о', u'o'}, {u'р', u'p'}, {u'с', u'c'}, {u'т', u't'}, {u'у', u'y'}, {u'х', u'x'}, {u'і', u'i'},
    };
    QString result;
    result.reserve(heading.size());
    for (QChar c : heading.toLower()) {
        if (c.isSpace() || c == u'_')
            continue;
        result.append(lookalikes.value(c, c));
    }
    return result;
}

} // namespace

const QList<Column> &gridColumns()
{
    static const QList<Column> list{Column::Nomeropory, Column::Index, Column::Tipopory, Column::Kilometr,
                                    Column::U_izmer,    Column::U_ras, Column::R_opory,  Column::I_opory};
    return list;
}

QString columnCaption(Column column)
{
    const ColumnInfo *i = info(column);
    return i ? QString::fromUtf16(i->caption) : QStringLiteral("—");
}

QString columnField(Column column)
{
    const ColumnInfo *i = info(column);
    return i ? QString::fromLatin1(i->field) : QString();
}

bool isFloatColumn(Column column)
{
    return column == Column::Kilometr || column == Column::U_izmer || column == Column::U_ras
           || column == Column::R_opory || column == Column::I_opory;
}

bool isTextColumn(Column column)
{
    return column == Column::Index || column == Column::Tipopory;
}

QString sectionCaption()
{
    return QStringLiteral("Участок");
}

Column columnForHeading(const QString &heading)
{
    static const QHash<QString, Column> names = [] {
        QHash<QString, Column> map;
        for (const ColumnInfo &i : infos()) {
            map.insert(normalised(QString::fromUtf16(i.caption)), i.column);
            map.insert(normalised(QString::fromLatin1(i.field)), i.column);
            for (const char16_t *v : i.variants)
                map.insert(normalised(QString::fromUtf16(v)), i.column);
        }
        return map;
    }();
    return names.value(normalised(heading), Column::Skip);
}

} // namespace exchange
