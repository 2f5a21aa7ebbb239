// Text typed into a smallint field: read when it is a number in -32768..32767,
// refused with the range message when it is a number outside, and with the
// integer message otherwise.
#include "data/errors.h"
#include "data/numberreader.h"
#include "decimalreference.h"
#include "fuzzcheck.h"

#include <QRegularExpression>
#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzzText(data, size);
    std::optional<int> value;
    QString message;
    try {
        value = numread::readSmallintText(text, QStringLiteral("Nomeropory"));
    } catch (const DatabaseError &e) {
        message = e.message();
    }
    if (text.isEmpty()) {
        FUZZ_CHECK(!value && message.isEmpty(), "the empty text must make the field blank");
        return 0;
    }

    static const QRegularExpression form(QStringLiteral("\\A *([+-]?)0*([0-9]+)\\z"));
    const QRegularExpressionMatch match = form.match(text);
    const QString integerMessage =
        QLatin1Char('\'') + text + QStringLiteral("' is not a valid integer value for field 'Nomeropory'");
    if (!match.hasMatch()) {
        FUZZ_CHECK(!value && message == integerMessage, "'%s': %s", qPrintable(text), qPrintable(message));
        return 0;
    }
    const double number = reference::strtodC((match.captured(1) + match.captured(2)).toStdString());
    if (!std::isfinite(number)) {
        FUZZ_CHECK(!value && message == integerMessage, "'%s': %s", qPrintable(text), qPrintable(message));
    } else if (number < -32768 || number > 32767) {
        const QString range = QString::fromStdString(reference::printfG(number)) +
                              QStringLiteral(" is not a valid value for field 'Nomeropory'. The allowed "
                                             "range is -32768 to 32767");
        FUZZ_CHECK(!value && message == range, "'%s': %s", qPrintable(text), qPrintable(message));
    } else {
        FUZZ_CHECK(value && double(*value) == number, "'%s' refused: %s", qPrintable(text),
                   qPrintable(message));
        const std::optional<int> back =
            numread::readSmallintText(QString::number(*value), QStringLiteral("Nomeropory"));
        FUZZ_CHECK(back == value, "%d did not read back", *value);
    }
    return 0;
}
