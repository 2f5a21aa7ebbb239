// The checked extended-precision helpers, the process-wide floating-point
// setting and RoundDigits.
#include "calc/fpu.h"
#include "calc/rounddigits.h"

#include <QTest>

#include <bit>
#include <charconv>
#include <cfloat>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>

using calc::FloatError;
using Kind = FloatError::Kind;
using MaybeKind = std::optional<Kind>;

Q_DECLARE_METATYPE(MaybeKind)

namespace {

std::uint16_t x87ControlWord()
{
    std::uint16_t cw = 0;
    asm volatile("fnstcw %0" : "=m"(cw));
    return cw;
}

void setX87ControlWord(std::uint16_t cw)
{
    asm volatile("fldcw %0" : : "m"(cw));
}

std::uint32_t sseControlStatus()
{
    std::uint32_t csr = 0;
    asm volatile("stmxcsr %0" : "=m"(csr));
    return csr;
}

void setSseControlStatus(std::uint32_t csr)
{
    asm volatile("ldmxcsr %0" : : "m"(csr));
}

constexpr long double kInf = std::numeric_limits<long double>::infinity();
constexpr long double kNan = std::numeric_limits<long double>::quiet_NaN();

// Bitwise equality that also tells +0 from -0 and accepts any NaN for NaN.
bool sameValue(long double a, long double b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    return a == b && std::signbit(a) == std::signbit(b);
}

// The value in hexadecimal and in shortest decimal, for failure messages.
QString describe(long double x)
{
    char buffer[96];
    char *end = std::to_chars(buffer, buffer + 40, x, std::chars_format::hex).ptr;
    *end++ = ' ';
    end = std::to_chars(end, buffer + sizeof buffer, x).ptr;
    return QString::fromLatin1(buffer, end - buffer);
}

QString kindName(MaybeKind kind)
{
    if (!kind)
        return QStringLiteral("no error");
    return FloatError::messageFor(*kind);
}

// Runs f and tells which floating-point error, if any, it raised; checks on
// the way that the class, the kind and the texts agree.
MaybeKind raisedBy(const std::function<void()> &f)
{
    try {
        f();
    } catch (const calc::InvalidOperation &e) {
        if (e.kind() != Kind::InvalidOperation)
            qFatal("InvalidOperation with another kind");
        return Kind::InvalidOperation;
    } catch (const calc::ZeroDivide &e) {
        if (e.kind() != Kind::ZeroDivide)
            qFatal("ZeroDivide with another kind");
        return Kind::ZeroDivide;
    } catch (const calc::FloatOverflow &e) {
        if (e.kind() != Kind::Overflow)
            qFatal("FloatOverflow with another kind");
        return Kind::Overflow;
    }
    return std::nullopt;
}

} // namespace

class FpuTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { calc::initFloatingPoint(); }
    void cleanup() { calc::initFloatingPoint(); }

    void setting();
    void errorTexts_data();
    void errorTexts();
    void operations_data();
    void operations();
    void extendedIntermediates();
    void toFloat_data();
    void toFloat();
    void toDouble_data();
    void toDouble();
    void roundToInt64_data();
    void roundToInt64();
    void roundToInt64IgnoresRoundingMode();
    void roundDigits_data();
    void roundDigits();
};

void FpuTest::setting()
{
    // Spoil every part of the setting first: round toward zero in both units,
    // 53-bit precision on the x87, and check the spoilt state is visible, so
    // the checks after initFloatingPoint can fail.
    setX87ControlWord(0x0E7F);   // RC = toward zero, PC = 53 bits, all masked
    setSseControlStatus(0x7F80); // RC = toward zero, all masked
    volatile long double one = 1.0L, tiny = std::ldexp(1.0L, -60), ten = 10.0L;
    volatile double oneD = 1.0, tenD = 10.0;
    QCOMPARE(calc::sub(calc::add(one, tiny), one), 0.0L);
    QVERIFY(oneD / tenD != 0.1);

    calc::initFloatingPoint();
    QCOMPARE(x87ControlWord() & 0x1F3F, 0x033F); // masks, PC = 64 bits, RC = nearest
    QCOMPARE(sseControlStatus() & 0xFFC0, 0x1F80u); // masks, RC = nearest, no FTZ/DAZ

    QCOMPARE(calc::sub(calc::add(one, tiny), one), std::ldexp(1.0L, -60));
    QCOMPARE(oneD / tenD, 0.1);
    QCOMPARE(calc::div(one, ten), 0.1L);

    // Nothing traps: an unchecked 0/0 in both units just gives NaN.
    volatile double zeroD = 0.0;
    volatile long double zero = 0.0L;
    QVERIFY(std::isnan(zeroD / zeroD));
    QVERIFY(std::isnan(zero / zero));
}

void FpuTest::errorTexts_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("invalid") << int(Kind::InvalidOperation) << "Invalid floating point operation";
    QTest::newRow("zero divide") << int(Kind::ZeroDivide) << "Floating point division by zero";
    QTest::newRow("overflow") << int(Kind::Overflow) << "Floating point overflow";
}

void FpuTest::errorTexts()
{
    QFETCH(int, kind);
    QFETCH(QString, text);
    const std::function<void()> raise[] = {
        [] { calc::div(0.0L, 0.0L); },
        [] { calc::div(1.0L, 0.0L); },
        [] { calc::mul(LDBL_MAX, 2.0L); },
    };
    try {
        raise[kind]();
        QFAIL("no error raised");
    } catch (const SystemError &e) {
        QCOMPARE(e.message(), text);
        QCOMPARE(QString::fromUtf8(e.what()), text);
        const auto *floatError = dynamic_cast<const FloatError *>(&e);
        QVERIFY(floatError);
        QCOMPARE(int(floatError->kind()), kind);
        QVERIFY(e.site() != nullptr);
        // The source location is the raising code's, not the error's header.
        QVERIFY2(QByteArray(e.where().file_name()).endsWith("calc/fpu.cpp"), e.where().file_name());
        QVERIFY(e.where().line() > 0);
    }
}

void FpuTest::operations_data()
{
    QTest::addColumn<char>("op");
    QTest::addColumn<long double>("a");
    QTest::addColumn<long double>("b");
    QTest::addColumn<MaybeKind>("error");
    QTest::addColumn<long double>("result");

    const MaybeKind none;
    const long double third = 1.0L / 3.0L;
    QTest::newRow("1/3") << '/' << 1.0L << 3.0L << none << third;
    QTest::newRow("1/0") << '/' << 1.0L << 0.0L << MaybeKind(Kind::ZeroDivide) << 0.0L;
    QTest::newRow("-1/0") << '/' << -1.0L << 0.0L << MaybeKind(Kind::ZeroDivide) << 0.0L;
    QTest::newRow("1/-0") << '/' << 1.0L << -0.0L << MaybeKind(Kind::ZeroDivide) << 0.0L;
    QTest::newRow("denormal/0") << '/' << LDBL_TRUE_MIN << 0.0L << MaybeKind(Kind::ZeroDivide) << 0.0L;
    QTest::newRow("0/0") << '/' << 0.0L << 0.0L << MaybeKind(Kind::InvalidOperation) << 0.0L;
    QTest::newRow("-0/0") << '/' << -0.0L << 0.0L << MaybeKind(Kind::InvalidOperation) << 0.0L;
    QTest::newRow("inf/inf") << '/' << kInf << -kInf << MaybeKind(Kind::InvalidOperation) << 0.0L;
    QTest::newRow("inf/0 stays inf") << '/' << kInf << 0.0L << none << kInf;
    QTest::newRow("nan/0 stays nan") << '/' << kNan << 0.0L << none << kNan;
    QTest::newRow("1/inf") << '/' << 1.0L << kInf << none << 0.0L;
    QTest::newRow("max/0.5") << '/' << LDBL_MAX << 0.5L << MaybeKind(Kind::Overflow) << 0.0L;
    QTest::newRow("min/2 underflows silently") << '/' << LDBL_TRUE_MIN << 2.0L << none << 0.0L;

    QTest::newRow("inf-inf") << '-' << kInf << kInf << MaybeKind(Kind::InvalidOperation) << 0.0L;
    QTest::newRow("-max-max") << '-' << -LDBL_MAX << LDBL_MAX << MaybeKind(Kind::Overflow) << 0.0L;
    QTest::newRow("1-1 is +0") << '-' << 1.0L << 1.0L << none << 0.0L;
    QTest::newRow("inf+(-inf)") << '+' << kInf << -kInf << MaybeKind(Kind::InvalidOperation) << 0.0L;
    QTest::newRow("inf+1") << '+' << kInf << 1.0L << none << kInf;
    QTest::newRow("max+max") << '+' << LDBL_MAX << LDBL_MAX << MaybeKind(Kind::Overflow) << 0.0L;
    QTest::newRow("nan+1") << '+' << kNan << 1.0L << none << kNan;

    QTest::newRow("0*inf") << '*' << 0.0L << kInf << MaybeKind(Kind::InvalidOperation) << 0.0L;
    QTest::newRow("nan*0") << '*' << kNan << 0.0L << none << kNan;
    QTest::newRow("max*2") << '*' << LDBL_MAX << 2.0L << MaybeKind(Kind::Overflow) << 0.0L;
    QTest::newRow("-max*2") << '*' << -LDBL_MAX << 2.0L << MaybeKind(Kind::Overflow) << 0.0L;
    QTest::newRow("inf*-2") << '*' << kInf << -2.0L << none << -kInf;
    QTest::newRow("min*min underflows silently") << '*' << LDBL_MIN << LDBL_MIN << none << 0.0L;
}

void FpuTest::operations()
{
    QFETCH(char, op);
    QFETCH(long double, a);
    QFETCH(long double, b);
    QFETCH(MaybeKind, error);
    QFETCH(long double, result);

    long double got = 0;
    const MaybeKind raised = raisedBy([&] {
        switch (op) {
        case '+': got = calc::add(a, b); break;
        case '-': got = calc::sub(a, b); break;
        case '*': got = calc::mul(a, b); break;
        case '/': got = calc::div(a, b); break;
        }
    });
    QCOMPARE(kindName(raised), kindName(error));
    if (!error)
        QVERIFY2(sameValue(got, result), qPrintable(describe(got)));
}

void FpuTest::extendedIntermediates()
{
    // Operands the compiler cannot see, so the arithmetic runs on the FPU in
    // the process setting rather than being folded at compile time.
    volatile long double one = 1.0L, tiny = std::ldexp(1.0L, -60);
    const long double sum = calc::add(one, tiny);
    QCOMPARE(calc::sub(sum, one), std::ldexp(1.0L, -60));
    // The same sum in 64-bit floats loses the small part.
    volatile double oneD = 1.0, tinyD = std::ldexp(1.0, -60);
    QCOMPARE((oneD + tinyD) - oneD, 0.0);
    // And narrowing the extended sum really gives a 64-bit float.
    QCOMPARE(calc::toDouble(sum), 1.0);

    // 10 × 0.45 is 4.5 in 64-bit floats (a tie, rounded to 4) but a little more
    // than 4.5 in extended precision, which rounds to 5.
    volatile double fortyFive = 0.45;
    volatile double scaledD = 10.0 * fortyFive;
    QCOMPARE(scaledD, 4.5);
    QCOMPARE(calc::roundToInt64(calc::mul(10.0L, 0.45)), 5);
}

void FpuTest::toFloat_data()
{
    QTest::addColumn<long double>("x");
    QTest::addColumn<MaybeKind>("error");
    QTest::addColumn<float>("result");
    const MaybeKind none;
    const MaybeKind overflow(Kind::Overflow);
    // The smallest value that rounds up to infinity: half an ulp above FLT_MAX.
    const long double threshold = std::ldexp(2.0L - std::ldexp(1.0L, -24), 127);

    QTest::newRow("2.65") << static_cast<long double>(2.65) << none << 2.65f;
    QTest::newRow("12.345") << static_cast<long double>(12.345) << none << 12.345f;
    QTest::newRow("tie down to even") << 1.0L + std::ldexp(1.0L, -24) << none << 1.0f;
    QTest::newRow("tie up to even") << 1.0L + 3 * std::ldexp(1.0L, -24) << none
                                    << 1.0f + std::ldexp(1.0f, -22);
    QTest::newRow("negative tie") << -(1.0L + std::ldexp(1.0L, -24)) << none << -1.0f;
    QTest::newRow("just above a tie") << 1.0L + std::ldexp(1.0L, -24) + std::ldexp(1.0L, -60)
                                      << none << 1.0f + std::ldexp(1.0f, -23);
    QTest::newRow("below threshold") << threshold - std::ldexp(1.0L, 80) << none << FLT_MAX;
    QTest::newRow("threshold") << threshold << overflow << 0.0f;
    QTest::newRow("1e39") << 1e39L << overflow << 0.0f;
    QTest::newRow("-1e39") << -1e39L << overflow << 0.0f;
    QTest::newRow("inf") << kInf << none << std::numeric_limits<float>::infinity();
    QTest::newRow("nan") << kNan << none << std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("denormal") << static_cast<long double>(FLT_TRUE_MIN) * 3 << none
                              << FLT_TRUE_MIN * 3;
    QTest::newRow("underflow to zero") << 1e-50L << none << 0.0f;
    QTest::newRow("negative underflow") << -1e-50L << none << -0.0f;
}

void FpuTest::toFloat()
{
    QFETCH(long double, x);
    QFETCH(MaybeKind, error);
    QFETCH(float, result);
    float got = 0;
    QCOMPARE(kindName(raisedBy([&] { got = calc::toFloat(x); })), kindName(error));
    if (!error)
        QVERIFY2(sameValue(got, result), qPrintable(describe(got)));
}

void FpuTest::toDouble_data()
{
    QTest::addColumn<long double>("x");
    QTest::addColumn<MaybeKind>("error");
    QTest::addColumn<double>("result");
    const MaybeKind none;
    const MaybeKind overflow(Kind::Overflow);
    const long double threshold = std::ldexp(2.0L - std::ldexp(1.0L, -53), 1023);

    QTest::newRow("tie down to even") << 1.0L + std::ldexp(1.0L, -53) << none << 1.0;
    QTest::newRow("tie up to even") << 1.0L + 3 * std::ldexp(1.0L, -53) << none
                                    << 1.0 + std::ldexp(1.0, -51);
    QTest::newRow("just below a tie") << 1.0L + std::ldexp(1.0L, -53) - std::ldexp(1.0L, -63)
                                      << none << 1.0;
    QTest::newRow("1/3") << 1.0L / 3.0L << none << 1.0 / 3.0;
    QTest::newRow("below threshold") << threshold - std::ldexp(1.0L, 960) << none << DBL_MAX;
    QTest::newRow("threshold") << threshold << overflow << 0.0;
    QTest::newRow("1e309") << 1e309L << overflow << 0.0;
    QTest::newRow("-1e309") << -1e309L << overflow << 0.0;
    QTest::newRow("inf") << -kInf << none << -std::numeric_limits<double>::infinity();
    QTest::newRow("nan") << kNan << none << std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("denormal") << static_cast<long double>(DBL_TRUE_MIN) * 5 << none
                              << DBL_TRUE_MIN * 5;
    QTest::newRow("underflow to zero") << 1e-400L << none << 0.0;
}

void FpuTest::toDouble()
{
    QFETCH(long double, x);
    QFETCH(MaybeKind, error);
    QFETCH(double, result);
    double got = 0;
    QCOMPARE(kindName(raisedBy([&] { got = calc::toDouble(x); })), kindName(error));
    if (!error)
        QVERIFY2(sameValue(got, result), qPrintable(describe(got)));
}

void FpuTest::roundToInt64_data()
{
    QTest::addColumn<long double>("x");
    QTest::addColumn<MaybeKind>("error");
    QTest::addColumn<qint64>("result");
    const MaybeKind none;
    const MaybeKind invalid(Kind::InvalidOperation);
    const long double two63 = std::ldexp(1.0L, 63);

    QTest::newRow("0.5") << 0.5L << none << qint64(0);
    QTest::newRow("1.5") << 1.5L << none << qint64(2);
    QTest::newRow("2.5") << 2.5L << none << qint64(2);
    QTest::newRow("3.5") << 3.5L << none << qint64(4);
    QTest::newRow("-0.5") << -0.5L << none << qint64(0);
    QTest::newRow("-1.5") << -1.5L << none << qint64(-2);
    QTest::newRow("-2.5") << -2.5L << none << qint64(-2);
    QTest::newRow("-2.6") << -2.6L << none << qint64(-3);
    QTest::newRow("just below a half") << 0.5L - std::ldexp(1.0L, -65) << none << qint64(0);
    QTest::newRow("just above a half") << 0.5L + std::ldexp(1.0L, -64) << none << qint64(1);
    QTest::newRow("leakage half") << 7812.5L << none << qint64(7812);
    QTest::newRow("2^52+1.5") << std::ldexp(1.0L, 52) + 1.5L << none
                              << (qint64(1) << 52) + 2;
    QTest::newRow("2^63-1") << two63 - 1 << none << std::numeric_limits<qint64>::max();
    QTest::newRow("2^63-1.5") << two63 - 1.5L << none << std::numeric_limits<qint64>::max() - 1;
    QTest::newRow("2^63-0.5 rounds out of range") << two63 - 0.5L << invalid << qint64(0);
    QTest::newRow("2^63") << two63 << invalid << qint64(0);
    QTest::newRow("-2^63+0.5") << -two63 + 0.5L << none << std::numeric_limits<qint64>::min();
    QTest::newRow("-2^63") << -two63 << invalid << qint64(0);
    QTest::newRow("1e30") << 1e30L << invalid << qint64(0);
    QTest::newRow("inf") << kInf << invalid << qint64(0);
    QTest::newRow("-inf") << -kInf << invalid << qint64(0);
    QTest::newRow("nan") << kNan << invalid << qint64(0);
    QTest::newRow("denormal") << LDBL_TRUE_MIN << none << qint64(0);
}

void FpuTest::roundToInt64()
{
    QFETCH(long double, x);
    QFETCH(MaybeKind, error);
    QFETCH(qint64, result);
    qint64 got = 0;
    QCOMPARE(kindName(raisedBy([&] { got = calc::roundToInt64(x); })), kindName(error));
    if (!error)
        QCOMPARE(got, result);
}

void FpuTest::roundToInt64IgnoresRoundingMode()
{
    // Round up on the x87, which a rounding built on the current mode would follow.
    setX87ControlWord(0x0B7F);
    const qint64 half = calc::roundToInt64(2.5L);
    const qint64 negative = calc::roundToInt64(-1.2L);
    calc::initFloatingPoint();
    QCOMPARE(half, qint64(2));
    QCOMPARE(negative, qint64(-1));
}

void FpuTest::roundDigits_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<int>("n");
    QTest::addColumn<MaybeKind>("error");
    QTest::addColumn<double>("result");
    const MaybeKind none;
    const MaybeKind invalid(Kind::InvalidOperation);
    const double inf = std::numeric_limits<double>::infinity();

    // Exact halves go to the even neighbour; 2.05 and 2.15 lie just below.
    QTest::newRow("0.25") << 0.25 << 1 << none << 0.2;
    QTest::newRow("0.75") << 0.75 << 1 << none << 0.8;
    QTest::newRow("2.05") << 2.05 << 1 << none << 2.0;
    QTest::newRow("2.15") << 2.15 << 1 << none << 2.1;
    // 0.45 lies just above; only the extended product shows it.
    QTest::newRow("0.45") << 0.45 << 1 << none << 0.5;
    QTest::newRow("2.65") << 2.65 << 1 << none << 2.6;
    QTest::newRow("2.25") << 2.25 << 1 << none << 2.2;
    QTest::newRow("2.75") << 2.75 << 1 << none << 2.8;
    QTest::newRow("-0.25") << -0.25 << 1 << none << -0.2;
    QTest::newRow("-0.75") << -0.75 << 1 << none << -0.8;
    QTest::newRow("-0.45") << -0.45 << 1 << none << -0.5;
    QTest::newRow("33.3333") << 33.3333 << 1 << none << 33.3;
    QTest::newRow("1.005, 2") << 1.005 << 2 << none << 1.0;
    QTest::newRow("123.456, 2") << 123.456 << 2 << none << 123.46;
    QTest::newRow("n=0, 2.5") << 2.5 << 0 << none << 2.0;
    QTest::newRow("n=0, 3.5") << 3.5 << 0 << none << 4.0;
    QTest::newRow("n=0, -2.5") << -2.5 << 0 << none << -2.0;
    // The integer in the middle has no sign, so -0.5 comes back as +0.
    QTest::newRow("n=0, -0.5") << -0.5 << 0 << none << 0.0;
    QTest::newRow("n=9") << 1.23456789012 << 9 << none << 1.23456789;
    // 10^10 wraps to 1410065408, so 1e-10 scales to about 0.14 and rounds to 0.
    QTest::newRow("n=10 wraps") << 1e-10 << 10 << none << 0.0;
    QTest::newRow("n=10 wraps, 1") << 1.0 << 10 << none << 1.0;
    // 10^31 wraps to -2^31: a tiny positive value comes back as -0.
    QTest::newRow("n=31 negative power") << std::ldexp(1.0, -32) << 31 << none << -0.0;
    QTest::newRow("n=31, 0.75") << 0.75 << 31 << none << 0.75;
    // From n = 32 on the power is 0 and the quotient is 0 / 0.
    QTest::newRow("n=32 zero power") << 1.0 << 32 << invalid << 0.0;
    QTest::newRow("n=255 zero power") << 1.0 << 255 << invalid << 0.0;
    QTest::newRow("large in range") << 9.2e17 << 1 << none << 9.2e17;
    QTest::newRow("large out of range") << 9.3e17 << 1 << invalid << 0.0;
    QTest::newRow("negative large out of range") << -9.3e17 << 1 << invalid << 0.0;
    QTest::newRow("2^62, n=0") << std::ldexp(1.0, 62) << 0 << none << std::ldexp(1.0, 62);
    QTest::newRow("2^63, n=0") << std::ldexp(1.0, 63) << 0 << invalid << 0.0;
    QTest::newRow("-2^63, n=0") << -std::ldexp(1.0, 63) << 0 << invalid << 0.0;
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << 1 << invalid << 0.0;
    QTest::newRow("inf") << inf << 1 << invalid << 0.0;
    QTest::newRow("-inf") << -inf << 1 << invalid << 0.0;
    QTest::newRow("denormal") << DBL_TRUE_MIN << 1 << none << 0.0;
}

void FpuTest::roundDigits()
{
    QFETCH(double, x);
    QFETCH(int, n);
    QFETCH(MaybeKind, error);
    QFETCH(double, result);
    double got = 0;
    QCOMPARE(kindName(raisedBy([&] { got = calc::RoundDigits(x, quint8(n)); })), kindName(error));
    if (!error) {
        QVERIFY2(std::bit_cast<std::uint64_t>(got) == std::bit_cast<std::uint64_t>(result),
                 qPrintable(describe(got)));
    }
}

QTEST_APPLESS_MAIN(FpuTest)
#include "fputest.moc"
