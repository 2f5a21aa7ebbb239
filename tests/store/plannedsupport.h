#pragma once

// The Supports that the kill test's child posts, each wholly determined by
// its sequence number, so that whatever is found on disk after a kill can be
// checked against what the child meant to write. The sequence number is the
// whole part of the chainage.

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <bit>
#include <cmath>
#include <optional>

struct PlannedSupport
{
    double kilometr = 0;
    qint64 number = 0;
    QString index;
    QString type;
    std::optional<double> resistance, measured, calculated, leakage;

    // One line of text that tells two Supports apart exactly: doubles by
    // their bits, texts by their UTF-8 bytes, blanks as "-".
    QString describe() const
    {
        auto real = [](const std::optional<double> &v) {
            return v ? QString::number(std::bit_cast<quint64>(*v), 16) : QStringLiteral("-");
        };
        auto text = [](const QString &s) {
            return s.isEmpty() ? QStringLiteral("-") : QString::fromLatin1(s.toUtf8().toHex());
        };
        return QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
            .arg(real(kilometr))
            .arg(number)
            .arg(text(index), text(type), real(resistance), real(measured), real(calculated), real(leakage));
    }

    static std::optional<double> fromVariant(const QVariant &v)
    {
        if (!v.isValid() || v.isNull())
            return std::nullopt;
        return v.toDouble();
    }
};

namespace planned {

inline quint64 mix(quint64 x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// A double in [0, 1) with a full 53-bit significand.
inline double unit(quint64 h)
{
    return double(h >> 11) * 0x1p-53;
}

inline std::optional<double> real(quint64 h, double scale, double offset)
{
    switch (h % 8) {
    case 0:
    case 1:
        return std::nullopt;
    case 2:
        // Whole numbers, which SQLite keeps as integers inside the file. It
        // keeps no sign of a zero that way (nor does any text of the program
        // show one), so -0.0 is planned as 0.0.
        return std::round(offset + scale * unit(mix(h))) + 0.0;
    case 3:
        return unit(mix(h)) * 1e-300; // tiny values, far from the usual magnitudes
    default:
        return offset + scale * unit(mix(h));
    }
}

} // namespace planned

inline PlannedSupport plannedSupport(qint64 seq)
{
    using namespace planned;
    const quint64 h = mix(quint64(seq) * 0x100000001b3ULL);
    PlannedSupport p;
    p.kilometr = double(seq) + 0.75 * unit(h);
    p.number = qint64(mix(h + 1) % 65536) - 32768;
    static const char *const letters[] = {"", "а", "Б", "x"};
    static const char *const types[] = {"", "ЖБК", "С", "СК1"};
    p.index = QString::fromUtf8(letters[mix(h + 2) % 4]);
    p.type = QString::fromUtf8(types[mix(h + 3) % 4]);
    p.resistance = real(mix(h + 4), 1000, 1);
    p.measured = real(mix(h + 5), 20, -10);
    p.calculated = real(mix(h + 6), 20, -10);
    p.leakage = real(mix(h + 7), 100, 0);
    return p;
}
