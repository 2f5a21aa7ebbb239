#pragma once

#include <QList>
#include <QString>

namespace exchange {

// The support grid's columns, in its order: the columns of an export and the
// fields an imported column can be mapped to.
enum class Column { Skip = -1, Nomeropory, Index, Tipopory, Kilometr, U_izmer, U_ras, R_opory, I_opory };

inline constexpr int kColumnCount = 8;

// The eight columns in the grid's order.
const QList<Column> &gridColumns();

// The grid's heading of a column, on one line: "№ опоры", "Индекс", "Тип опоры",
// "Пикетаж, км", "Замер U, B", "Расчетное U, B", "R опоры, Ом", "Ток утечки, мА"
// (U, B and R are Latin letters). "—" for Skip.
QString columnCaption(Column column);
// The field a column holds ("Kilometr"); empty for Skip.
QString columnField(Column column);
bool isFloatColumn(Column column);
bool isTextColumn(Column column);

// The heading of the Section column of an export of every Section.
QString sectionCaption();

// The column a heading names: the grid's headings, the field names, the
// report's and the grid's own column texts and a few obvious variants, with
// letter case, blanks, "_" and "ё" ignored and Cyrillic letters that look like
// Latin ones taken as those. Skip when it names none.
Column columnForHeading(const QString &heading);

} // namespace exchange
