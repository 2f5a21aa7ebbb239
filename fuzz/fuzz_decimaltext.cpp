// Decimal text of the fill pane's start chainage: a text of the decimal form
// gives the float the C library's strtof (in the "C" locale, which rounds the
// decimal straight to a float) gives; any other text gives no value.
#include "data/numberreader.h"
#include "decimalreference.h"
#include "fuzzcheck.h"

#include <QRegularExpression>
#include <bit>
#include <charconv>
#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzzText(data, size);
    const std::optional<float> value = numread::readDecimalTextAsFloat(text);

    static const QRegularExpression form(
        QStringLiteral("\\A *([+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?)\\z"));
    const QRegularExpressionMatch match = form.match(text);
    std::optional<float> expected;
    if (match.hasMatch()) {
        const float reference = reference::strtofC(match.captured(1).toStdString());
        if (std::isfinite(reference))
            expected = reference == 0 ? 0.0f : reference;
    }
    FUZZ_CHECK(value.has_value() == expected.has_value(), "'%s': %s", qPrintable(text),
               value ? "read" : "not read");
    if (!value)
        return 0;
    FUZZ_CHECK(std::bit_cast<quint32>(*value) == std::bit_cast<quint32>(*expected),
               "'%s' read %a, expected %a", qPrintable(text), double(*value), double(*expected));

    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, *value);
    const std::optional<float> back =
        numread::readDecimalTextAsFloat(QString::fromLatin1(buffer, qsizetype(end.ptr - buffer)));
    FUZZ_CHECK(back && std::bit_cast<quint32>(*back) == std::bit_cast<quint32>(*value),
               "%a did not read back", double(*value));
    return 0;
}
