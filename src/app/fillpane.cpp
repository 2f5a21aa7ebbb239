#include "fillpane.h"

#include "controlshold.h"

#include "calc/fpu.h"
#include "data/errors.h"
#include "data/kortables.h"
#include "data/numberreader.h"
#include "data/regionalsettings.h"

#include <limits>

namespace {

// The start chainage rounded to a 32-bit float, with the point or the regional
// decimal separator. The empty text is 0; any other text that is not decimal
// text is refused: taking some other value silently would write a whole run
// of Supports at a wrong chainage.
float startChainage(const QString &text)
{
    if (text.isEmpty())
        return 0.0f;
    const std::optional<float> value =
        numread::readDecimalTextAsFloat(text, RegionalSettings::instance().decimalSeparator());
    if (!value)
        throw ConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    return *value;
}

} // namespace

void fillSupports(KorTables &db, const FillRequest &request)
{
    Table &supports = db.Table1;
    withControlsDisabled(supports, [&] {
        const qint32 count = numread::readWholeNumber(request.count);
        const float start = startChainage(request.startChainage);
        const qint32 spacing = numread::readWholeNumber(request.spacing);
        qint64 number = numread::readWholeNumber(request.startNumber);

        // b × spacing is a 32-bit product; the farthest Support has the largest.
        if (count > 0) {
            const qint64 farthest = qint64(count) * spacing;
            if (farthest > std::numeric_limits<qint32>::max() || farthest < std::numeric_limits<qint32>::min())
                throw ConvertError(
                    QStringLiteral("%1 Supports at %2 m apart reach %3 m, beyond the range of a distance")
                        .arg(count + qint64(1))
                        .arg(spacing)
                        .arg(farthest));
        }
        const auto scheme = NumberingScheme(request.scheme);
        // Odd and even hold for negative numbers too: -3 is odd, -2 and 0 even.
        const bool odd = number % 2 != 0;
        if ((scheme == NumberingScheme::Even && odd) || (scheme == NumberingScheme::Odd && !odd))
            ++number;
        const int step = scheme == NumberingScheme::Continuous ? 1 : 2;
        // Supports written under no Section would be seen by no one.
        if (db.Table2N_line->IsNull())
            throw DatabaseError(QStringLiteral("There is no section to fill: add a section first"));

        Table::BulkScope bulk(supports);
        for (qint64 b = 0; b <= count; ++b) {
            supports.Append();
            db.Table1Nomeropory->SetAsInteger(number + step * b);
            const auto distance = static_cast<qint32>(b * spacing);
            const long double km = calc::add(calc::div(static_cast<long double>(distance), 1000.0L),
                                             static_cast<long double>(start));
            db.Table1Kilometr->SetAsFloat(calc::toDouble(km));
            db.Table1Line->SetAsInteger(db.Table2N_line->AsInteger());
            db.Table1R_opory->SetAsFloat(200);
            supports.Post();
        }
    });
}

void clearSupports(KorTables &db)
{
    Table &supports = db.Table1;
    supports.SetFilter(QString());
    supports.SetFiltered(false);
    withControlsDisabled(supports, [&] {
        Table::BulkScope bulk(supports);
        supports.First();
        while (supports.RecordCount() != 0)
            supports.Delete();
    });
}
