#include "zipedit.h"

#include "exchangeerror.h"

#include <QtEndian>

#include <zlib.h>

#include <vector>

namespace exchange {

namespace {

constexpr quint32 kLocalHeader = 0x04034b50;
constexpr quint32 kCentralHeader = 0x02014b50;
constexpr quint32 kEndOfCentral = 0x06054b50;

[[noreturn]] void broken(const QString &why)
{
    throw ExchangeError(QStringLiteral("Книга Excel не собрана: %1").arg(why));
}

class Reader
{
public:
    explicit Reader(const QByteArray &data) : m_data(data) {}
    quint16 u16(qsizetype at) const
    {
        need(at, 2);
        return qFromLittleEndian<quint16>(m_data.constData() + at);
    }
    quint32 u32(qsizetype at) const
    {
        need(at, 4);
        return qFromLittleEndian<quint32>(m_data.constData() + at);
    }
    QByteArray bytes(qsizetype at, qsizetype size) const
    {
        need(at, size);
        return m_data.mid(at, size);
    }
    void need(qsizetype at, qsizetype size) const
    {
        if (at < 0 || size < 0 || at > m_data.size() || size > m_data.size() - at)
            broken(QStringLiteral("архив короче, чем записано в нём самом"));
    }

private:
    const QByteArray &m_data;
};

void put16(QByteArray &out, quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void put32(QByteArray &out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

QByteArray inflateRaw(const QByteArray &data, quint32 size)
{
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        broken(QStringLiteral("zlib не начинает распаковку"));
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    const int rc = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    if (rc != Z_STREAM_END || z.total_out != size)
        broken(QStringLiteral("часть архива не распаковывается"));
    return out;
}

QByteArray deflateRaw(const QByteArray &data)
{
    z_stream z{};
    // The fastest level: a workbook's XML still shrinks to a fraction, and the
    // rewrite stays a small part of an export.
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        broken(QStringLiteral("zlib не начинает сжатие"));
    QByteArray out(qsizetype(deflateBound(&z, uLong(data.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    const int rc = deflate(&z, Z_FINISH);
    const uLong written = z.total_out;
    deflateEnd(&z);
    if (rc != Z_STREAM_END)
        broken(QStringLiteral("часть архива не сжимается"));
    out.truncate(qsizetype(written));
    return out;
}

} // namespace

QByteArray editZip(const QByteArray &zip, const std::function<bool(const QString &name)> &wants,
                   const std::function<std::optional<QByteArray>(const QString &name, const QByteArray &content)> &edit)
{
    const Reader in(zip);
    // The end record sits at the very end: libxlsxwriter writes no comment.
    qsizetype end = -1;
    for (qsizetype at = zip.size() - 22; at >= 0 && at >= zip.size() - 22 - 65535; --at)
        if (in.u32(at) == kEndOfCentral) {
            end = at;
            break;
        }
    if (end < 0)
        broken(QStringLiteral("нет оглавления архива"));
    const quint16 entries = in.u16(end + 10);
    qsizetype central = in.u32(end + 16);

    QByteArray out;
    out.reserve(zip.size() + zip.size() / 8);
    QByteArray directory;
    for (quint16 e = 0; e < entries; ++e) {
        if (in.u32(central) != kCentralHeader)
            broken(QStringLiteral("оглавление архива повреждено"));
        quint16 flags = in.u16(central + 8);
        quint16 method = in.u16(central + 10);
        const quint16 time = in.u16(central + 12);
        const quint16 date = in.u16(central + 14);
        quint32 crc = in.u32(central + 16);
        quint32 packed = in.u32(central + 20);
        quint32 size = in.u32(central + 24);
        const quint16 nameLength = in.u16(central + 28);
        const quint16 extraLength = in.u16(central + 30);
        const quint16 commentLength = in.u16(central + 32);
        const quint32 local = in.u32(central + 42);
        const QByteArray name = in.bytes(central + 46, nameLength);
        central += 46 + nameLength + extraLength + commentLength;

        if (in.u32(local) != kLocalHeader)
            broken(QStringLiteral("запись архива повреждена"));
        const qsizetype dataAt = local + 30 + in.u16(local + 26) + in.u16(local + 28);
        QByteArray data = in.bytes(dataAt, packed);

        const QString entryName = QString::fromUtf8(name);
        if (wants(entryName)) {
            if (method != 0 && method != Z_DEFLATED)
                broken(QStringLiteral("неизвестный способ сжатия"));
            const QByteArray content = method == 0 ? data : inflateRaw(data, size);
            if (std::optional<QByteArray> changed = edit(entryName, content)) {
                size = quint32(changed->size());
                crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(changed->constData()), uInt(changed->size())));
                data = deflateRaw(*changed);
                packed = quint32(data.size());
                method = Z_DEFLATED;
            }
        }
        // Sizes and checksum go in the header itself: no data descriptor follows.
        flags &= ~quint16(0x0008);

        const quint32 offset = quint32(out.size());
        put32(out, kLocalHeader);
        put16(out, 20);
        put16(out, flags);
        put16(out, method);
        put16(out, time);
        put16(out, date);
        put32(out, crc);
        put32(out, packed);
        put32(out, size);
        put16(out, nameLength);
        put16(out, 0);
        out.append(name);
        out.append(data);

        put32(directory, kCentralHeader);
        put16(directory, 20);
        put16(directory, 20);
        put16(directory, flags);
        put16(directory, method);
        put16(directory, time);
        put16(directory, date);
        put32(directory, crc);
        put32(directory, packed);
        put32(directory, size);
        put16(directory, nameLength);
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, offset);
        directory.append(name);
    }
    const quint32 directoryAt = quint32(out.size());
    out.append(directory);
    put32(out, kEndOfCentral);
    put16(out, 0);
    put16(out, 0);
    put16(out, entries);
    put16(out, entries);
    put32(out, quint32(directory.size()));
    put32(out, directoryAt);
    put16(out, 0);
    return out;
}

} // namespace exchange
