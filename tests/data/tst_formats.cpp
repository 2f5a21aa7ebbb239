// The number texts of the field objects, the support grid and the fill pane:
// rendering, reading, the range message, and their independence from the C
// library's locale.
#include "data/errors.h"
#include "data/keyfilter.h"
#include "data/numberformat.h"
#include "data/numberreader.h"
#include "data/regionalsettings.h"
#include "decimalreference.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <bit>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

using namespace Qt::StringLiterals;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double fromText(const std::string &text)
{
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// Doubles of every magnitude the fields hold, with many lying on or right
// next to a decimal half, where the two rounding steps matter.
double randomValue(std::mt19937_64 &rng)
{
    std::uniform_int_distribution<int> kind(0, 3);
    double value = 0;
    switch (kind(rng)) {
    case 0: { // arbitrary bits, about 1e-7 to 1e18
        const quint64 mantissa = (rng() >> 12) | (quint64(1) << 52);
        const int exponent = std::uniform_int_distribution<int>(-24, 59)(rng);
        value = std::ldexp(double(mantissa), exponent - 52);
        break;
    }
    case 1:
    case 2: { // "ddd.ddd5" at the 1st to 4th decimal, then maybe a neighbour
        const int integerDigits = std::uniform_int_distribution<int>(0, 14)(rng);
        const int decimals = std::uniform_int_distribution<int>(0, 3)(rng);
        std::string text;
        for (int i = 0; i < integerDigits; ++i)
            text.push_back(char('0' + rng() % 10));
        text += text.empty() ? "0." : ".";
        for (int i = 0; i < decimals; ++i)
            text.push_back(char('0' + rng() % 10));
        text.push_back('5');
        value = fromText(text);
        if (kind(rng) == 2) {
            const int steps = std::uniform_int_distribution<int>(-3, 3)(rng);
            for (int i = 0; i < std::abs(steps); ++i)
                value = std::nextafter(value, steps < 0 ? 0.0 : kInf);
        }
        break;
    }
    default: // short values such as 40.05 or 1234.56
        value = double(std::uniform_int_distribution<int>(0, 20000000)(rng)) /
                (rng() % 2 ? 100.0 : 1000.0);
        break;
    }
    return rng() % 2 ? -value : value;
}

bool localeAvailable(const QString &name)
{
    QProcess locale;
    locale.start(u"locale"_s, {u"-a"_s});
    if (!locale.waitForFinished(10000))
        return false;
    auto normal = [](QString s) { return s.toLower().remove(u'-').trimmed(); };
    const auto lines = QString::fromLocal8Bit(locale.readAllStandardOutput()).split(u'\n');
    for (const QString &line : lines)
        if (normal(line) == normal(name))
            return true;
    return false;
}

// Run in a child process started with a locale in its environment: reports
// what the regional settings read from it, and texts that must not depend on
// the C library's locale (which QCoreApplication has set from the environment).
int probeRegionalSettings()
{
    RegionalSettings &settings = RegionalSettings::instance();
    settings.refresh();
    const QChar sep = settings.decimalSeparator();
    QStringList lines;
    lines << QString(sep);
    lines << numfmt::renderMask(1234.5, u"# ##0.0", sep);
    lines << QString::number(*numread::readFloatText(u"12"_s + sep + u"5"_s, sep, u"R_opory"_s), 'g', 17);
    lines << numfmt::renderMask(1234.5, u"0.000", u'.');
    lines << numfmt::formatG(0.5) << numfmt::overlayText(45.25, 1);
    lines << (settings.shortDateFormat().isEmpty() ? u"no date format"_s : u"date format"_s);
    std::fputs(qPrintable(lines.join(u'\n') + u'\n'), stdout);
    return 0;
}

} // namespace

class TestFormats : public QObject
{
    Q_OBJECT

private slots:
    void renderMask_data();
    void renderMask();
    void overlayText_data();
    void overlayText();
    void renderMaskMatchesExactExpansion();
    void overlayTextMatchesExactExpansion();
    void formatG_data();
    void formatG();
    void formatGMatchesPrintf();
    void readFloatText_data();
    void readFloatText();
    void readSmallintText_data();
    void readSmallintText();
    void smallintRange_data();
    void smallintRange();
    void readWholeNumber_data();
    void readWholeNumber();
    void readDecimalText_data();
    void readDecimalText();
    void keyFilters_data();
    void keyFilters();
    void separatorFollowsSystemLocale_data();
    void separatorFollowsSystemLocale();
    void refreshRereadsSystemLocale();
    void conversionsIgnoreCLibraryLocale();
};

void TestFormats::renderMask_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");

    const QString r = u"# ##0.0"_s, k = u"0.000"_s;
    QTest::newRow("0") << r << 0.0 << u" 0,0"_s;
    QTest::newRow("5") << r << 5.0 << u" 5,0"_s;
    QTest::newRow("12.34") << r << 12.34 << u" 12,3"_s;
    QTest::newRow("40.04") << r << 40.04 << u" 40,0"_s;
    QTest::newRow("0.05") << r << 0.05 << u" 0,1"_s;
    QTest::newRow("0.15 stored below") << r << 0.15 << u" 0,1"_s;
    QTest::newRow("99.96") << r << 99.96 << u" 100,0"_s;
    QTest::newRow("999.95 carries") << r << 999.95 << u"1 000,0"_s;
    QTest::newRow("1234.5") << r << 1234.5 << u"1 234,5"_s;
    QTest::newRow("12345.67") << r << 12345.67 << u"12 345,7"_s;
    QTest::newRow("123456.7") << r << 123456.7 << u"123 456,7"_s;
    QTest::newRow("1234567.8") << r << 1234567.8 << u"1234 567,8"_s;
    QTest::newRow("million, one space") << r << 1e6 << u"1000 000,0"_s;
    QTest::newRow("-3.25") << r << -3.25 << u"- 3,3"_s;
    QTest::newRow("-1234.5") << r << -1234.5 << u"-1 234,5"_s;
    QTest::newRow("-0.04 no sign") << r << -0.04 << u" 0,0"_s;
    QTest::newRow("-0.05") << r << -0.05 << u"- 0,1"_s;
    QTest::newRow("negative zero") << r << -0.0 << u" 0,0"_s;
    QTest::newRow("k 0") << k << 0.0 << u"0,000"_s;
    QTest::newRow("k 7") << k << 7.0 << u"7,000"_s;
    QTest::newRow("k 12.5") << k << 12.5 << u"12,500"_s;
    QTest::newRow("k 123.4567") << k << 123.4567 << u"123,457"_s;
    QTest::newRow("k 0.0005") << k << 0.0005 << u"0,001"_s;
    QTest::newRow("k -1.5") << k << -1.5 << u"-1,500"_s;
    QTest::newRow("k 18 digits then zeros") << k << 1e20 << u"100000000000000000000,000"_s;
    // Ties of the 18-digit step go to even: 1000000000000000.125 becomes ...0.12.
    QTest::newRow("18-digit tie to even") << u"0.00"_s << 1000000000000000.125 << u"1000000000000000,12"_s;
    QTest::newRow("optional decimals") << u"0.0#"_s << 1.5 << u"1,5"_s;
    QTest::newRow("optional integer") << u"#.0"_s << 0.5 << u",5"_s;
    QTest::newRow("no decimals shown") << u"0.#"_s << 2.0 << u"2"_s;
    QTest::newRow("leading zeros") << u"00.00"_s << 1.5 << u"01,50"_s;
    QTest::newRow("literal after") << u"0.0 V"_s << -2.25 << u"-2,3 V"_s;
    QTest::newRow("second point literal") << u"0.0.0"_s << 1.25 << u"1,2.5"_s;
    QTest::newRow("inf") << r << kInf << u"INF"_s;
    QTest::newRow("-inf") << k << -kInf << u"-INF"_s;
    QTest::newRow("nan") << r << kNaN << u"NAN"_s;
}

void TestFormats::renderMask()
{
    QFETCH(QString, mask);
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(numfmt::renderMask(value, mask, u','), text);
}

void TestFormats::overlayText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("text");

    QTest::newRow("45.25") << 45.25 << 1 << u" 45.3"_s;
    QTest::newRow("-45.25") << -45.25 << 1 << u"-45.3"_s;
    QTest::newRow("40.05 stored below") << 40.05 << 1 << u" 40.0"_s;
    QTest::newRow("0.15 stored below") << 0.15 << 1 << u"  0.1"_s;
    QTest::newRow("99.95 stored above") << 99.95 << 1 << u"100.0"_s;
    QTest::newRow("9.96") << 9.96 << 1 << u" 10.0"_s;
    QTest::newRow("0") << 0.0 << 1 << u"  0.0"_s;
    QTest::newRow("1234.56") << 1234.56 << 1 << u"1234.6"_s;
    QTest::newRow("12.5 p3") << 12.5 << 3 << u"12.500"_s;
    QTest::newRow("0.0625 p3") << 0.0625 << 3 << u"0.063"_s;
    QTest::newRow("-0.04 no sign") << -0.04 << 1 << u"  0.0"_s;
    QTest::newRow("negative zero") << -0.0 << 3 << u"0.000"_s;
    QTest::newRow("never cut") << -123456.75 << 3 << u"-123456.750"_s;
    // Below 10 the pre-rounding is at 17 decimals, not 18 significant digits:
    // 0.00049999999999999999 (stored as 0.000499999999999999989...) becomes 0.0005.
    QTest::newRow("17 decimals below 10") << 0.00049999999999999999 << 3 << u"0.001"_s;
    QTest::newRow("inf") << kInf << 1 << u"  INF"_s;
    QTest::newRow("nan") << kNaN << 3 << u"  NAN"_s;
}

void TestFormats::overlayText()
{
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QString, text);
    QCOMPARE(numfmt::overlayText(value, decimals), text);
}

void TestFormats::renderMaskMatchesExactExpansion()
{
    constexpr int kValues = 1'000'000;
    std::mt19937_64 rng(20240611);
    QElapsedTimer timer;
    timer.start();
    int failures = 0;
    for (int i = 0; i < kValues && failures < 10; ++i) {
        const double value = randomValue(rng);
        const char sep = i % 2 ? ',' : '.';
        const QString kilometr = numfmt::renderMask(value, u"0.000", QLatin1Char(sep));
        const QString resistance = numfmt::renderMask(value, u"# ##0.0", QLatin1Char(sep));
        const std::string expectedKilometr = reference::kilometrText(value, sep);
        const std::string expectedResistance = reference::resistanceText(value, sep);
        if (kilometr.toStdString() != expectedKilometr ||
            resistance.toStdString() != expectedResistance) {
            ++failures;
            qWarning("%.17g: \"%s\" \"%s\", expected \"%s\" \"%s\"", value, qPrintable(kilometr),
                     qPrintable(resistance), expectedKilometr.c_str(), expectedResistance.c_str());
        }
    }
    qInfo("%d values, both masks, in %lld ms", kValues, timer.elapsed());
    QCOMPARE(failures, 0);
}

void TestFormats::overlayTextMatchesExactExpansion()
{
    constexpr int kValues = 1'000'000;
    std::mt19937_64 rng(777);
    QElapsedTimer timer;
    timer.start();
    int failures = 0;
    for (int i = 0; i < kValues && failures < 10; ++i) {
        const double value = randomValue(rng);
        const int decimals = i % 2 ? 1 : 3;
        const QString text = numfmt::overlayText(value, decimals);
        const std::string expected = reference::overlayText(value, decimals);
        if (text.toStdString() != expected) {
            ++failures;
            qWarning("%.17g p=%d: \"%s\", expected \"%s\"", value, decimals, qPrintable(text),
                     expected.c_str());
        }
    }
    qInfo("%d values in %lld ms", kValues, timer.elapsed());
    QCOMPARE(failures, 0);
}

void TestFormats::formatG_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("32768") << 32768.0 << u"32768"_s;
    QTest::newRow("-32768") << -32768.0 << u"-32768"_s;
    QTest::newRow("0") << 0.0 << u"0"_s;
    QTest::newRow("-0") << -0.0 << u"-0"_s;
    QTest::newRow("fraction") << 32767.5 << u"32767.5"_s;
    QTest::newRow("6 digits round") << 1234567.0 << u"1.23457e+06"_s;
    QTest::newRow("1e6") << 1e6 << u"1e+06"_s;
    QTest::newRow("999999.5 rounds up") << 999999.5 << u"1e+06"_s;
    QTest::newRow("1e-4 fixed") << 0.0001 << u"0.0001"_s;
    QTest::newRow("1e-5 exponent") << 0.00001 << u"1e-05"_s;
    QTest::newRow("large") << 1.5e300 << u"1.5e+300"_s;
    QTest::newRow("inf") << -kInf << u"-inf"_s;
    QTest::newRow("nan") << kNaN << u"nan"_s;
}

void TestFormats::formatG()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(numfmt::formatG(value), text);
    QCOMPARE(text.toStdString(), reference::printfG(value));
}

void TestFormats::formatGMatchesPrintf()
{
    std::mt19937_64 rng(5);
    int failures = 0;
    for (int i = 0; i < 200'000 && failures < 10; ++i) {
        double value;
        if (i % 2) {
            value = randomValue(rng);
        } else {
            const quint64 bits = rng();
            std::memcpy(&value, &bits, sizeof value);
        }
        const std::string expected = reference::printfG(value);
        if (numfmt::formatG(value).toStdString() != expected) {
            ++failures;
            qWarning("%a: \"%s\", expected \"%s\"", value, qPrintable(numfmt::formatG(value)),
                     expected.c_str());
        }
    }
    QCOMPARE(failures, 0);
}

void TestFormats::readFloatText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<double>("value"); // NaN: blank

    const QChar comma = u',', point = u'.';
    QTest::newRow("empty is blank") << QString() << comma << true << kNaN;
    QTest::newRow("12,5") << u"12,5"_s << comma << true << 12.5;
    QTest::newRow("spaces around") << u"  12,5 "_s << comma << true << 12.5;
    QTest::newRow("point with comma settings") << u"12.5"_s << comma << false << 0.0;
    QTest::newRow("point settings") << u"12.5"_s << point << true << 12.5;
    QTest::newRow("comma with point settings") << u"12,5"_s << point << false << 0.0;
    QTest::newRow("lone comma") << u","_s << comma << true << 0.0;
    QTest::newRow("lone minus") << u"-"_s << comma << false << 0.0;
    QTest::newRow("lone plus") << u"+"_s << comma << false << 0.0;
    QTest::newRow("only spaces") << u"   "_s << comma << false << 0.0;
    QTest::newRow("space inside") << u"1 234,5"_s << comma << false << 0.0;
    QTest::newRow("two separators") << u"1,2,3"_s << comma << false << 0.0;
    QTest::newRow("sign then separator") << u"-,5"_s << comma << true << -0.5;
    QTest::newRow("plus") << u"+7"_s << comma << true << 7.0;
    QTest::newRow("exponent") << u"1,5e-2"_s << comma << true << 0.015;
    QTest::newRow("exponent upper") << u"2E+3"_s << comma << true << 2000.0;
    QTest::newRow("exponent without digits") << u"1E"_s << comma << false << 0.0;
    QTest::newRow("exponent sign only") << u"1e-"_s << comma << false << 0.0;
    QTest::newRow("exponent alone") << u"E5"_s << comma << false << 0.0;
    QTest::newRow("separator and exponent") << u",e5"_s << comma << true << 0.0;
    QTest::newRow("space before exponent") << u"1 e5"_s << comma << false << 0.0;
    QTest::newRow("overflow") << u"1e400"_s << comma << false << 0.0;
    QTest::newRow("huge exponent") << u"1e99999999999999999999"_s << comma << false << 0.0;
    QTest::newRow("underflow reads 0") << u"-1e-400"_s << comma << true << 0.0;
    QTest::newRow("tab") << u"\t5"_s << comma << false << 0.0;
    QTest::newRow("other digits") << u"\u0661"_s << comma << false << 0.0;
    QTest::newRow("inf word") << u"inf"_s << comma << false << 0.0;
    QTest::newRow("hex") << u"0x10"_s << comma << false << 0.0;
    QTest::newRow("nearest double") << u"0,1"_s << comma << true << 0.1;
}

void TestFormats::readFloatText()
{
    QFETCH(QString, text);
    QFETCH(QChar, separator);
    QFETCH(bool, readable);
    QFETCH(double, value);
    if (!readable) {
        try {
            numread::readFloatText(text, separator, u"U_izmer"_s);
            QFAIL("the text was read");
        } catch (const DatabaseError &e) {
            QCOMPARE(e.message(),
                     u"'"_s + text + u"' is not a valid floating point value for field 'U_izmer'"_s);
        }
        return;
    }
    const std::optional<double> read = numread::readFloatText(text, separator, u"U_izmer"_s);
    QCOMPARE(read.has_value(), !std::isnan(value));
    if (read) {
        QCOMPARE(*read, value);
        QVERIFY(!std::signbit(*read) || *read != 0); // a zero is stored as +0
    }
}

void TestFormats::readSmallintText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value"); // INT_MIN: blank
    QTest::addColumn<QString>("message");

    const QString bad = u"' is not a valid integer value for field 'Nomeropory'"_s;
    const QString range = u" is not a valid value for field 'Nomeropory'. The allowed range is -32768 to 32767"_s;
    QTest::newRow("empty is blank") << QString() << INT_MIN << QString();
    QTest::newRow("0") << u"0"_s << 0 << QString();
    QTest::newRow("lowest") << u"-32768"_s << -32768 << QString();
    QTest::newRow("highest") << u"32767"_s << 32767 << QString();
    QTest::newRow("leading spaces") << u"  12"_s << 12 << QString();
    QTest::newRow("plus") << u"+5"_s << 5 << QString();
    QTest::newRow("leading zeros") << u"-0032768"_s << -32768 << QString();
    QTest::newRow("minus zero") << u"-0"_s << 0 << QString();
    QTest::newRow("trailing space") << u"12 "_s << 0 << u"'12 "_s + bad;
    QTest::newRow("lone minus") << u"-"_s << 0 << u"'-"_s + bad;
    QTest::newRow("space after sign") << u"- 5"_s << 0 << u"'- 5"_s + bad;
    QTest::newRow("fraction") << u"1,5"_s << 0 << u"'1,5"_s + bad;
    QTest::newRow("letters") << u"6o"_s << 0 << u"'6o"_s + bad;
    QTest::newRow("32768") << u"32768"_s << 0 << u"32768"_s + range;
    QTest::newRow("-32769") << u"-32769"_s << 0 << u"-32769"_s + range;
    QTest::newRow("eleven digits") << u"99999999999"_s << 0 << u"1e+11"_s + range;
    const QString endless = u"1"_s + QString(400, u'0');
    QTest::newRow("beyond any double") << endless << 0 << u"'"_s + endless + bad;
}

void TestFormats::readSmallintText()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QFETCH(QString, message);
    try {
        const std::optional<int> read = numread::readSmallintText(text, u"Nomeropory"_s);
        QVERIFY2(message.isEmpty(), "the text was read");
        QCOMPARE(read.has_value(), value != INT_MIN);
        if (read)
            QCOMPARE(*read, value);
    } catch (const DatabaseError &e) {
        QCOMPARE(e.message(), message);
    }
}

void TestFormats::smallintRange_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("message"); // empty: in range

    const QString tail = u" is not a valid value for field 'Nomeropory'. The allowed range is -32768 to 32767"_s;
    QTest::newRow("32768") << 32768.0 << u"32768"_s + tail;
    QTest::newRow("lowest") << -32768.0 << QString();
    QTest::newRow("highest") << 32767.0 << QString();
    QTest::newRow("just above") << 32767.5 << u"32767.5"_s + tail;
    QTest::newRow("far below") << -1e10 << u"-1e+10"_s + tail;
    QTest::newRow("nan") << kNaN << u"nan"_s + tail;
    QTest::newRow("inf") << kInf << u"inf"_s + tail;
}

void TestFormats::smallintRange()
{
    QFETCH(double, value);
    QFETCH(QString, message);
    try {
        numread::checkSmallintRange(value, u"Nomeropory"_s);
        QVERIFY(message.isEmpty());
    } catch (const DatabaseError &e) {
        QCOMPARE(e.message(), message);
    }
}

void TestFormats::readWholeNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<int>("value");

    QTest::newRow("empty") << QString() << false << 0;
    QTest::newRow("blanks only") << u"  "_s << false << 0;
    QTest::newRow("0") << u"0"_s << true << 0;
    QTest::newRow("5") << u"5"_s << true << 5;
    QTest::newRow("abc") << u"abc"_s << false << 0;
    QTest::newRow("$A") << u"$A"_s << true << 10;
    QTest::newRow("0x7FFFFFFF") << u"0x7FFFFFFF"_s << true << 2147483647;
    QTest::newRow("$FFFFFFFF") << u"$FFFFFFFF"_s << true << -1;
    QTest::newRow("0X80000000") << u"0X80000000"_s << true << int(0x80000000u);
    QTest::newRow("x lower") << u"xff"_s << true << 255;
    QTest::newRow("hex leading zeros") << u"$0000000001"_s << true << 1;
    QTest::newRow("hex beyond 32 bits") << u"$100000000"_s << false << 0;
    QTest::newRow("prefix alone") << u"0x"_s << false << 0;
    QTest::newRow("dollar alone") << u"$"_s << false << 0;
    QTest::newRow("2147483647") << u"2147483647"_s << true << 2147483647;
    QTest::newRow("2147483648") << u"2147483648"_s << false << 0;
    QTest::newRow("-2147483648") << u"-2147483648"_s << true << int(-2147483648LL);
    QTest::newRow("-2147483649") << u"-2147483649"_s << false << 0;
    QTest::newRow("long zeros") << u"000000000000000000042"_s << true << 42;
    QTest::newRow("leading blanks") << u" 12"_s << true << 12;
    QTest::newRow("trailing blank") << u"12 "_s << false << 0;
    QTest::newRow("+5") << u"+5"_s << true << 5;
    QTest::newRow("-$A") << u"-$A"_s << false << 0;
    QTest::newRow("+0x1") << u"+0x1"_s << false << 0;
    QTest::newRow("6o") << u"6o"_s << false << 0;
    QTest::newRow("lone minus") << u"-"_s << false << 0;
    QTest::newRow("point") << u"1.0"_s << false << 0;
}

void TestFormats::readWholeNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, readable);
    QFETCH(int, value);
    try {
        const qint32 read = numread::readWholeNumber(text);
        QVERIFY2(readable, "the text was read");
        QCOMPARE(read, value);
    } catch (const ConvertError &e) {
        QVERIFY2(!readable, qPrintable(e.message()));
        QCOMPARE(e.message(), u"'"_s + text + u"' is not a valid integer value"_s);
    }
}

void TestFormats::readDecimalText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<float>("value");

    QTest::newRow(".5") << u".5"_s << true << 0.5f;
    QTest::newRow("5.") << u"5."_s << true << 5.0f;
    QTest::newRow("0.1") << u"0.1"_s << true << 0.1f;
    QTest::newRow("12.345") << u"  12.345"_s << true << 12.345f;
    QTest::newRow("12,345 refused") << u"12,345"_s << false << 0.0f;
    QTest::newRow("1e3") << u"1e3"_s << true << 1000.0f;
    QTest::newRow("-2.5E-1") << u"-2.5E-1"_s << true << -0.25f;
    QTest::newRow("1e") << u"1e"_s << false << 0.0f;
    QTest::newRow("empty") << QString() << false << 0.0f;
    QTest::newRow("point alone") << u"."_s << false << 0.0f;
    QTest::newRow("sign alone") << u"-"_s << false << 0.0f;
    QTest::newRow("trailing blank") << u"1.5 "_s << false << 0.0f;
    QTest::newRow("beyond float") << u"1e39"_s << false << 0.0f;
    QTest::newRow("below float") << u"1e-50"_s << true << 0.0f;
    QTest::newRow("minus zero") << u"-0"_s << true << 0.0f;
    // Just above the midpoint between 1 and the next float: through a double
    // it would land on the midpoint and go to even (1.0).
    QTest::newRow("no double rounding")
        << u"1.00000005960464477539062500000000001"_s << true << std::nextafter(1.0f, 2.0f);
}

void TestFormats::readDecimalText()
{
    QFETCH(QString, text);
    QFETCH(bool, readable);
    QFETCH(float, value);
    const std::optional<float> read = numread::readDecimalTextAsFloat(text);
    QCOMPARE(read.has_value(), readable);
    if (read)
        QCOMPARE(std::bit_cast<quint32>(*read), std::bit_cast<quint32>(value));
}

void TestFormats::keyFilters_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("admitted");
    QTest::addColumn<QString>("refused");
    QTest::newRow("float, comma") << keyfilter::floatKeys(u',') << u"0123456789+-Ee,"_s << u". aх"_s;
    QTest::newRow("float, point") << keyfilter::floatKeys(u'.') << u"5."_s << u","_s;
    QTest::newRow("smallint") << keyfilter::smallintKeys() << u"0123456789+-"_s << u"eE,. "_s;
}

void TestFormats::keyFilters()
{
    QFETCH(QString, keys);
    QFETCH(QString, admitted);
    QFETCH(QString, refused);
    for (QChar c : admitted)
        QVERIFY2(keyfilter::admits(keys, c), qPrintable(QString(c)));
    for (QChar c : refused)
        QVERIFY2(!keyfilter::admits(keys, c), qPrintable(QString(c)));
}

void TestFormats::separatorFollowsSystemLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("resistance");
    QTest::newRow("Russian") << u"ru_RU.UTF-8"_s << u","_s << u"1 234,5"_s;
    QTest::newRow("English") << u"en_US.UTF-8"_s << u"."_s << u"1 234.5"_s;
}

void TestFormats::separatorFollowsSystemLocale()
{
    QFETCH(QString, locale);
    QFETCH(QString, separator);
    QFETCH(QString, resistance);
    if (!localeAvailable(locale))
        QSKIP(qPrintable(u"`locale -a` does not list "_s + locale + u" (scripts/korozia.sh generates it)"_s));

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"LANG", "LANGUAGE", "LC_NUMERIC", "LC_TIME", "LC_MESSAGES"})
        env.remove(QString::fromLatin1(name));
    env.insert(u"LC_ALL"_s, locale);
    env.insert(u"KOROZIA_REGIONAL_PROBE"_s, u"1"_s);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(child.readAllStandardOutput()).split(u'\n');
    QCOMPARE(lines.size(), 8);
    QCOMPARE(lines[0], separator);
    QCOMPARE(lines[1], resistance);
    QCOMPARE(lines[2], u"12.5"_s);
    // The child's C library runs in that locale; these texts must not notice.
    QCOMPARE(lines[3], u"1234.500"_s);
    QCOMPARE(lines[4], u"0.5"_s);
    QCOMPARE(lines[5], u" 45.3"_s);
    QCOMPARE(lines[6], u"date format"_s);
}

void TestFormats::refreshRereadsSystemLocale()
{
    RegionalSettings &settings = RegionalSettings::instance();
    settings.setDecimalSeparator(u';');
    settings.setShortDateFormat(u"yy"_s);
    QCOMPARE(settings.decimalSeparator(), u';');
    settings.refresh();
    QCOMPARE(settings.decimalSeparator(),
             RegionalSettings::usableSeparator(QLocale::system().decimalPoint()));
    QCOMPARE(settings.shortDateFormat(), QLocale::system().dateFormat(QLocale::ShortFormat));
    QCOMPARE(RegionalSettings::usableSeparator(u","_s), u',');
    QCOMPARE(RegionalSettings::usableSeparator(u"e"_s), u'.');
    QCOMPARE(RegionalSettings::usableSeparator(QString()), u'.');
}

void TestFormats::conversionsIgnoreCLibraryLocale()
{
    const QByteArray saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "ru_RU.UTF-8"))
        QSKIP("ru_RU.UTF-8 is not generated on this machine (scripts/korozia.sh generates it)");
    auto restore = qScopeGuard([&] { std::setlocale(LC_ALL, saved.constData()); });
    QCOMPARE(std::localeconv()->decimal_point, ","); // the C library now writes commas

    QCOMPARE(numfmt::renderMask(1234.5, u"# ##0.0", u'.'), u"1 234.5"_s);
    QCOMPARE(numfmt::renderMask(0.0005, u"0.000", u'.'), u"0.001"_s);
    QCOMPARE(numfmt::overlayText(12.5, 3), u"12.500"_s);
    QCOMPARE(numfmt::formatG(32767.5), u"32767.5"_s);
    QCOMPARE(numread::readFloatText(u"12.5"_s, u'.', u"R_opory"_s), std::optional<double>(12.5));
    QCOMPARE(numread::readDecimalTextAsFloat(u"0.1"_s), std::optional<float>(0.1f));
    QVERIFY_THROWS_EXCEPTION(DatabaseError, numread::readFloatText(u"12,5"_s, u'.', u"R_opory"_s));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("KOROZIA_REGIONAL_PROBE"))
        return probeRegionalSettings();
    TestFormats test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_formats.moc"
