#include "pagefile.h"

#include <QBuffer>
#include <QDataStream>
#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace report {

namespace {

quint32 crc32Update(quint32 crc, const char *data, qsizetype size);

constexpr double kMaxCoordinateMm = 10000.0;
constexpr quint32 kKnownAlignment = Qt::AlignHorizontal_Mask | Qt::AlignVertical_Mask | Qt::TextDontClip;

void writeString(QDataStream &out, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    out << quint32(utf8.size());
    out.writeRawData(utf8.constData(), int(utf8.size()));
}

// The least a page, a font and an item take in the file: no count may claim
// more of them than the rest of the file can hold.
constexpr qint64 kMinPageBytes = 8 + 8 + 4 + 4;
constexpr qint64 kMinFontBytes = 4 + 8 + 1;
constexpr qint64 kMinItemBytes = 1 + 4 * 8 + 4;
constexpr qint64 kChunkBytes = qint64(1) << 20;

// Reads the payload field by field from a device, a chunk at a time, so that
// the file is never held whole in memory, and keeps the CRC-32 of what it has
// read. The first failure is kept and every later read gives zeros, so the
// decoder can check once per record.
class Reader
{
public:
    Reader(QIODevice &in, qint64 size) : m_in(in), m_size(size) {}

    bool ok() const { return m_error.isEmpty(); }
    const QString &error() const { return m_error; }
    void fail(const QString &why)
    {
        if (m_error.isEmpty())
            m_error = why;
    }
    qint64 remaining() const { return m_size - m_read + (m_end - m_next); }
    bool atEnd() const { return remaining() == 0; }

    template <typename T> T get()
    {
        if (!ok() || !need(sizeof(T)))
            return T{};
        quint64 bits = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            bits = bits << 8 | quint8(m_buffer[m_next + i]);
        m_next += qsizetype(sizeof(T));
        if constexpr (std::is_same_v<T, double>)
            return std::bit_cast<double>(bits);
        else
            return T(bits);
    }

    double coordinate()
    {
        const double v = get<double>();
        if (!std::isfinite(v) || std::abs(v) > kMaxCoordinateMm)
            fail(QStringLiteral("a position is out of range"));
        return v;
    }

    QString string()
    {
        const quint32 size = get<quint32>();
        if (!ok())
            return QString();
        if (size > kMaxStringBytes || qint64(size) > remaining()) {
            fail(QStringLiteral("a text is too long"));
            return QString();
        }
        if (!need(size))
            return QString();
        const QString text = QString::fromUtf8(m_buffer.constData() + m_next, qsizetype(size));
        m_next += qsizetype(size);
        return text;
    }

    // Reads what is left without keeping it, for the checksum of a file
    // whose reading failed; false when the device fails.
    bool drain()
    {
        m_next = m_end;
        while (m_read < m_size)
            if (!refill(std::min(kChunkBytes, m_size - m_read)))
                return false;
        m_next = m_end;
        return true;
    }
    // The CRC-32 of the bytes read so far (all of them once at the end).
    quint32 checksum()
    {
        consume();
        return m_crc ^ 0xFFFFFFFFu;
    }

private:
    // Makes n bytes available at m_next.
    bool need(qint64 n)
    {
        if (m_end - m_next >= n)
            return true;
        if (m_size - m_read < n - (m_end - m_next)) {
            fail(QStringLiteral("the file ends too early"));
            return false;
        }
        return refill(std::min(std::max(n, kChunkBytes), m_size - m_read + (m_end - m_next)));
    }
    bool refill(qint64 want)
    {
        consume();
        const qsizetype kept = m_end - m_next;
        std::memmove(m_buffer.data(), m_buffer.constData() + m_next, size_t(kept));
        if (m_buffer.size() < want)
            m_buffer.resize(qsizetype(want));
        const qint64 more = std::min(want - kept, m_size - m_read);
        const qint64 got = more > 0 ? m_in.read(m_buffer.data() + kept, more) : 0;
        m_next = 0;
        m_end = kept;
        m_hashed = 0;
        if (got != more) {
            fail(QStringLiteral("the file cannot be read to its end"));
            return false;
        }
        m_end += qsizetype(got);
        m_read += got;
        return true;
    }
    // Adds the bytes read from the buffer since the last call to the checksum.
    void consume()
    {
        m_crc = crc32Update(m_crc, m_buffer.constData() + m_hashed, m_next - m_hashed);
        m_hashed = m_next;
    }

    QIODevice &m_in;
    qint64 m_size;
    qint64 m_read = 0; // bytes taken from the device
    QByteArray m_buffer;
    qsizetype m_next = 0, m_end = 0, m_hashed = 0;
    quint32 m_crc = 0xFFFFFFFFu;
    QString m_error;
};

bool readPage(Reader &in, ReportPage &page)
{
    const double width = in.coordinate();
    const double length = in.coordinate();
    if (in.ok() && (width < 10 || length < 10))
        in.fail(QStringLiteral("a page has no size"));
    page.paper = QSizeF(width, length);

    const quint32 fontCount = in.get<quint32>();
    if (in.ok() && (fontCount > kMaxFontsPerPage || qint64(fontCount) * kMinFontBytes > in.remaining()))
        in.fail(QStringLiteral("a page names too many fonts"));
    if (!in.ok())
        return false;
    page.fonts.reserve(fontCount);
    for (quint32 i = 0; i < fontCount && in.ok(); ++i) {
        PageFont font;
        font.family = in.string();
        font.pointSize = in.get<double>();
        const quint8 style = in.get<quint8>();
        if (in.ok() && (!std::isfinite(font.pointSize) || font.pointSize <= 0 || font.pointSize > 1000))
            in.fail(QStringLiteral("a font size is out of range"));
        if (in.ok() && (style & ~quint8(7)))
            in.fail(QStringLiteral("a font style is unknown"));
        font.bold = style & 1;
        font.italic = style & 2;
        font.underline = style & 4;
        page.fonts.push_back(font);
    }

    const quint32 itemCount = in.get<quint32>();
    if (in.ok() && (itemCount > kMaxItemsPerPage || qint64(itemCount) * kMinItemBytes > in.remaining()))
        in.fail(QStringLiteral("a page claims more items than the file holds"));
    if (!in.ok())
        return false;
    page.items.reserve(itemCount);
    for (quint32 i = 0; i < itemCount && in.ok(); ++i) {
        PageItem item;
        const quint8 kind = in.get<quint8>();
        if (in.ok() && kind > PageItem::Text)
            in.fail(QStringLiteral("a page item is of an unknown kind"));
        item.kind = PageItem::Kind(kind);
        const double x = in.coordinate();
        const double y = in.coordinate();
        const double w = in.coordinate();
        const double h = in.coordinate();
        if (in.ok() && (w < 0 || h < 0))
            in.fail(QStringLiteral("a page item has a negative size"));
        item.rect = QRectF(x, y, w, h);
        item.colour = in.get<quint32>();
        if (item.kind == PageItem::Text) {
            item.font = in.get<quint16>();
            item.alignment = in.get<quint16>();
            if (in.ok() && item.font >= page.fonts.size())
                in.fail(QStringLiteral("a text names a font the page does not have"));
            if (in.ok() && (item.alignment & ~kKnownAlignment))
                in.fail(QStringLiteral("a text has an unknown alignment"));
            item.text = in.string();
        }
        page.items.push_back(std::move(item));
    }
    return in.ok();
}

} // namespace

quint32 crc32(const QByteArray &bytes)
{
    return crc32Update(0xFFFFFFFFu, bytes.constData(), bytes.size()) ^ 0xFFFFFFFFu;
}

namespace {

quint32 crc32Update(quint32 crc, const char *data, qsizetype size)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    for (qsizetype i = 0; i < size; ++i)
        crc = table[(crc ^ quint8(data[i])) & 0xFF] ^ (crc >> 8);
    return crc;
}

} // namespace

QByteArray wrapPayload(const QByteArray &payload, quint16 version)
{
    QByteArray file;
    QDataStream out(&file, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::BigEndian);
    out.writeRawData(kPageFileMagic, sizeof kPageFileMagic);
    out << version << quint16(0) << quint32(payload.size()) << crc32(payload);
    out.writeRawData(payload.constData(), int(payload.size()));
    return file;
}

QByteArray encodePages(const std::vector<ReportPage> &pages)
{
    QByteArray payload;
    {
        QDataStream out(&payload, QIODevice::WriteOnly);
        out.setByteOrder(QDataStream::BigEndian);
        out.setFloatingPointPrecision(QDataStream::DoublePrecision);
        out << quint32(pages.size());
        for (const ReportPage &page : pages) {
            out << page.paper.width() << page.paper.height();
            out << quint32(page.fonts.size());
            for (const PageFont &font : page.fonts) {
                writeString(out, font.family);
                out << font.pointSize
                    << quint8((font.bold ? 1 : 0) | (font.italic ? 2 : 0) | (font.underline ? 4 : 0));
            }
            out << quint32(page.items.size());
            for (const PageItem &item : page.items) {
                out << quint8(item.kind) << item.rect.x() << item.rect.y() << item.rect.width()
                    << item.rect.height() << quint32(item.colour);
                if (item.kind == PageItem::Text) {
                    out << item.font << item.alignment;
                    writeString(out, item.text);
                }
            }
        }
    }
    return wrapPayload(payload);
}

namespace {

// Reads a page file from a device holding size bytes: the header, then the
// payload behind it a chunk at a time.
DecodedPages decodeFrom(QIODevice &in, qint64 size)
{
    DecodedPages result;
    auto refuse = [&](const QString &why) {
        result.pages.clear();
        result.error = why;
        return result;
    };
    const QByteArray head = in.read(kPageFileHeaderSize);
    if (size < kPageFileHeaderSize || head.size() != kPageFileHeaderSize
        || !head.startsWith(QByteArray(kPageFileMagic, sizeof kPageFileMagic)))
        return refuse(QStringLiteral("it is not a saved report"));
    auto number = [&](int at, int bytes) {
        quint32 n = 0;
        for (int i = 0; i < bytes; ++i)
            n = n << 8 | quint8(head[at + i]);
        return n;
    };
    const quint32 version = number(8, 2);
    const quint32 reserved = number(10, 2);
    const quint32 length = number(12, 4);
    const quint32 checksum = number(16, 4);
    if (version != kPageFileVersion)
        return refuse(QStringLiteral("it was saved in a format version (%1) this program does not read").arg(version));
    if (reserved != 0 || qint64(length) != size - kPageFileHeaderSize)
        return refuse(QStringLiteral("it is damaged (its length is wrong)"));

    Reader reader(in, length);
    const quint32 pageCount = reader.get<quint32>();
    if (reader.ok() && (pageCount == 0 || pageCount > kMaxPages || qint64(pageCount) * kMinPageBytes > reader.remaining()))
        reader.fail(QStringLiteral("it holds no pages or too many"));
    if (reader.ok())
        result.pages.reserve(pageCount);
    for (quint32 i = 0; i < pageCount && reader.ok(); ++i) {
        ReportPage page;
        if (!readPage(reader, page))
            break;
        result.pages.push_back(std::move(page));
    }
    if (reader.ok() && !reader.atEnd())
        reader.fail(QStringLiteral("there is data after the last page"));
    if (!reader.ok()) {
        // A damaged byte is told as such, whatever it made of the page it fell in.
        const QString error = reader.error();
        result.pages.clear();
        result.pages.shrink_to_fit();
        if (reader.drain() && reader.checksum() != checksum)
            return refuse(QStringLiteral("it is damaged (its checksum is wrong)"));
        return refuse(QStringLiteral("it is damaged (%1)").arg(error.isEmpty() ? QStringLiteral("unreadable data") : error));
    }
    if (reader.checksum() != checksum)
        return refuse(QStringLiteral("it is damaged (its checksum is wrong)"));
    return result;
}

} // namespace

DecodedPages decodePages(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return decodeFrom(buffer, bytes.size());
}

QString writePageFile(const QString &path, const std::vector<ReportPage> &pages)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    const QByteArray bytes = encodePages(pages);
    if (file.write(bytes) != bytes.size())
        return file.errorString();
    if (!file.commit())
        return file.errorString();
    return QString();
}

QString readPageFile(const QString &path, std::vector<ReportPage> &pages)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("Cannot open the report file \"%1\": %2").arg(path, file.errorString());
    if (file.size() > kMaxPageFileBytes)
        return QStringLiteral("Cannot load \"%1\": it is not a saved report (it is far too large).").arg(path);
    DecodedPages decoded = decodeFrom(file, file.size());
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("Cannot read the report file \"%1\": %2").arg(path, file.errorString());
    if (!decoded.error.isEmpty())
        return QStringLiteral("Cannot load \"%1\": %2.").arg(path, decoded.error);
    pages = std::move(decoded.pages);
    return QString();
}

QString writePdf(const QString &path, const std::vector<ReportPage> &pages)
{
    if (pages.empty())
        return QStringLiteral("there are no pages to write");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    {
        QPdfWriter writer(&file);
        writer.setResolution(1200);
        writer.setTitle(QString());
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setPageSize(QPageSize(pages.front().paper, QPageSize::Millimeter));
        QPainter painter;
        if (!painter.begin(&writer))
            return QStringLiteral("the PDF could not be started");
        const double pixelsPerMm = writer.resolution() / 25.4;
        for (std::size_t i = 0; i < pages.size(); ++i) {
            if (i > 0) {
                writer.setPageSize(QPageSize(pages[i].paper, QPageSize::Millimeter));
                if (!writer.newPage())
                    return QStringLiteral("a new page could not be begun");
            }
            renderPage(painter, pages[i], pixelsPerMm);
        }
        if (!painter.end())
            return QStringLiteral("the PDF could not be finished");
    }
    if (!file.commit())
        return file.errorString();
    return QString();
}

} // namespace report
