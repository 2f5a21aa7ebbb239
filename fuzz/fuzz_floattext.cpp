// Text typed into a float field: every input is either read, with the value
// the C library's own reader (in the "C" locale) finds for the same number,
// or refused with the exact message. A read value written back reads the same.
#include "data/errors.h"
#include "data/numberformat.h"
#include "data/numberreader.h"
#include "decimalreference.h"
#include "fuzzcheck.h"

#include <QRegularExpression>
#include <charconv>
#include <cmath>
#include <cstring>

namespace {

const QChar kSeparators[] = {u',', u'.', QChar(0x066B), u';'};
const QString kField = QStringLiteral("U_izmer");

const QRegularExpression &form(int which)
{
    static QRegularExpression forms[4];
    QRegularExpression &re = forms[which];
    if (re.pattern().isEmpty()) {
        const QString s = QRegularExpression::escape(QString(kSeparators[which]));
        re.setPattern(QStringLiteral("\\A *([+-]?)([0-9]+(?:%1[0-9]*)?|%1[0-9]*)((?:[eE][+-]?[0-9]+)?) *\\z").arg(s));
    }
    return re;
}

std::optional<double> read(const QString &text, QChar separator, QString *message)
{
    try {
        return numread::readFloatText(text, separator, kField);
    } catch (const DatabaseError &e) {
        *message = e.message();
        return std::nullopt;
    }
}

bool sameValue(double a, double b)
{
    return a == b && std::signbit(a) == std::signbit(b);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int which = data[0] % 4;
    const QChar separator = kSeparators[which];
    const QString text = fuzzText(data + 1, size - 1);

    QString message;
    const std::optional<double> value = read(text, separator, &message);
    if (text.isEmpty()) {
        FUZZ_CHECK(!value && message.isEmpty(), "the empty text must make the field blank");
        return 0;
    }

    const QRegularExpressionMatch match = form(which).match(text);
    std::optional<double> expected;
    if (match.hasMatch()) {
        QString mantissa = match.captured(2);
        if (!mantissa.contains(QRegularExpression(QStringLiteral("[0-9]")))) {
            expected = 0.0; // the lone separator
        } else {
            mantissa.replace(separator, u'.');
            const std::string ascii = (match.captured(1) + mantissa + match.captured(3)).toStdString();
            const double reference = reference::strtodC(ascii);
            if (std::isfinite(reference))
                expected = reference == 0 ? 0.0 : reference;
        }
    }

    if (!expected) {
        FUZZ_CHECK(!value, "read a text of no valid form: '%s'", qPrintable(text));
        const QString wanted = QLatin1Char('\'') + text +
                               QStringLiteral("' is not a valid floating point value for field 'U_izmer'");
        FUZZ_CHECK(message == wanted, "message '%s'", qPrintable(message));
        return 0;
    }
    FUZZ_CHECK(value, "refused '%s': %s", qPrintable(text), qPrintable(message));
    FUZZ_CHECK(sameValue(*value, *expected), "'%s' read %a, expected %a", qPrintable(text), *value,
               *expected);

    // The shortest text of the value, with the separator, reads the same value.
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, *value);
    QString shortest = QString::fromLatin1(buffer, qsizetype(end.ptr - buffer));
    shortest.replace(u'.', separator);
    QString again;
    const std::optional<double> back = read(shortest, separator, &again);
    FUZZ_CHECK(back && sameValue(*back, *value), "'%s' did not read back", qPrintable(shortest));

    // Its display text under "0.000" reads back to within half a unit of the last decimal.
    const QString shown = numfmt::renderMask(*value, u"0.000", separator);
    const std::optional<double> reread = read(shown, separator, &again);
    FUZZ_CHECK(reread, "display text '%s' refused: %s", qPrintable(shown), qPrintable(again));
    FUZZ_CHECK(std::fabs(*reread - *value) <= 0.0005 * (1 + 1e-9) + std::fabs(*value) * 1e-15,
               "'%s' shows as '%s'", qPrintable(text), qPrintable(shown));
    return 0;
}
