// Whole-number text of the fill pane: read when it is a signed 32-bit decimal
// or a 32-bit hexadecimal pattern, refused with the exact message otherwise;
// a read number written back either way reads the same.
#include "data/errors.h"
#include "data/numberreader.h"
#include "fuzzcheck.h"

#include <QRegularExpression>

namespace {

std::optional<qint32> read(const QString &text, QString *message)
{
    try {
        return numread::readWholeNumber(text);
    } catch (const ConvertError &e) {
        *message = e.message();
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzzText(data, size);
    QString message;
    const std::optional<qint32> value = read(text, &message);

    static const QRegularExpression form(
        QStringLiteral("\\A *(?:([+-]?)0*([0-9]+)|(?:\\$|x|X|0x|0X)0*([0-9A-Fa-f]+))\\z"));
    const QRegularExpressionMatch match = form.match(text);
    std::optional<qint32> expected;
    if (match.hasMatch()) {
        const QString decimal = match.captured(2);
        const QString hex = match.captured(3);
        if (!decimal.isEmpty() && decimal.size() <= 10) {
            const qint64 number = (match.captured(1) + decimal).toLongLong();
            if (number >= -2147483648LL && number <= 2147483647LL)
                expected = qint32(number);
        } else if (!hex.isEmpty() && hex.size() <= 8) {
            expected = qint32(quint32(hex.toULongLong(nullptr, 16)));
        }
    }
    if (!expected) {
        const QString wanted = QLatin1Char('\'') + text + QStringLiteral("' is not a valid integer value");
        FUZZ_CHECK(!value && message == wanted, "'%s': %s", qPrintable(text), qPrintable(message));
        return 0;
    }
    FUZZ_CHECK(value == expected, "'%s' read %d, expected %d (%s)", qPrintable(text), value.value_or(0),
               *expected, qPrintable(message));
    QString again;
    FUZZ_CHECK(read(QString::number(*value), &again) == value, "%d did not read back", *value);
    FUZZ_CHECK(read(QStringLiteral("$") + QString::number(quint32(*value), 16), &again) == value,
               "%d did not read back as hexadecimal", *value);
    return 0;
}
