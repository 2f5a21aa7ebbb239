// Display and overlay texts of any double: the two masks of the field objects
// and the overlay text match the exact-expansion model; any other mask never
// crashes, stays within its length bound, and, when it holds placeholders and
// a point only, gives a text the float reader reads back to the rounded value.
#include "data/errors.h"
#include "data/numberformat.h"
#include "data/numberreader.h"
#include "decimalreference.h"
#include "fuzzcheck.h"

#include <cmath>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 9)
        return 0;
    double value;
    std::memcpy(&value, data, sizeof value);
    const bool comma = data[8] & 1;
    const QChar separator = comma ? u',' : u'.';
    const QString mask = fuzzText(data + 9, size - 9);

    const QString text = numfmt::renderMask(value, mask, separator);
    FUZZ_CHECK(text.size() <= mask.size() + 1 + 400, "%a under a mask of %lld gives %lld characters",
               value, qlonglong(mask.size()), qlonglong(text.size()));
    const QString overlay = numfmt::overlayText(value, (data[8] >> 1) % 4);
    FUZZ_CHECK(overlay.size() >= 5, "overlay '%s'", qPrintable(overlay));

    if (!std::isfinite(value)) {
        const QString name = std::isnan(value) ? QStringLiteral("NAN")
                             : value < 0       ? QStringLiteral("-INF")
                                               : QStringLiteral("INF");
        FUZZ_CHECK(text == name && overlay.trimmed() == name, "%a gives '%s'", value, qPrintable(text));
        return 0;
    }

    const char sep = comma ? ',' : '.';
    const std::string kilometr = numfmt::renderMask(value, u"0.000", separator).toStdString();
    FUZZ_CHECK(kilometr == reference::kilometrText(value, sep), "%a: '%s' expected '%s'", value,
               kilometr.c_str(), reference::kilometrText(value, sep).c_str());
    const std::string resistance = numfmt::renderMask(value, u"# ##0.0", separator).toStdString();
    FUZZ_CHECK(resistance == reference::resistanceText(value, sep), "%a: '%s' expected '%s'", value,
               resistance.c_str(), reference::resistanceText(value, sep).c_str());
    for (int p : {1, 3}) {
        const std::string shown = numfmt::overlayText(value, p).toStdString();
        FUZZ_CHECK(shown == reference::overlayText(value, p), "%a p=%d: '%s' expected '%s'", value, p,
                   shown.c_str(), reference::overlayText(value, p).c_str());
    }

    // A mask of placeholders and at most one point writes a plain number.
    bool plain = true;
    int decimals = 0;
    const qsizetype point = mask.indexOf(u'.');
    for (qsizetype i = 0; i < mask.size(); ++i) {
        if (i == point)
            continue;
        if (mask[i] != u'0' && mask[i] != u'#')
            plain = false;
        else if (point >= 0 && i > point)
            ++decimals;
    }
    if (!plain || text.isEmpty() || std::fabs(value) >= 1e15)
        return 0;
    std::optional<double> back;
    try {
        back = numread::readFloatText(text, separator, QStringLiteral("R_opory"));
    } catch (const DatabaseError &e) {
        FUZZ_CHECK(false, "'%s' of %a refused: %s", qPrintable(text), value, qPrintable(e.message()));
    }
    FUZZ_CHECK(back, "'%s' read as blank", qPrintable(text));
    const double unit = std::pow(10.0, -std::min(decimals, 300));
    FUZZ_CHECK(std::fabs(*back - value) <= unit * 0.5 * (1 + 1e-9) + std::fabs(value) * 1e-15,
               "%a under '%s' shows '%s'", value, qPrintable(mask), qPrintable(text));
    return 0;
}
