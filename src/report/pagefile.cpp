#include "pagefile.h"

#include <QDataStream>
#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <array>
#include <cmath>

namespace report {

namespace {

constexpr double kMaxCoordinateMm = 10000.0;
constexpr quint32 kKnownAlignment = Qt::AlignHorizontal_Mask | Qt::AlignVertical_Mask | Qt::TextDontClip;

void writeString(QDataStream &out, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    out << quint32(utf8.size());
    out.writeRawData(utf8.constData(), int(utf8.size()));
}

// Reads the payload field by field; the first failure is kept and every later
// read gives zeros, so the decoder can check once per record.
class Reader
{
public:
    explicit Reader(const QByteArray &payload) : m_in(payload), m_size(payload.size())
    {
        m_in.setByteOrder(QDataStream::BigEndian);
        m_in.setFloatingPointPrecision(QDataStream::DoublePrecision);
    }

    bool ok() const { return m_error.isEmpty() && m_in.status() == QDataStream::Ok; }
    const QString &error() const { return m_error; }
    void fail(const QString &why)
    {
        if (m_error.isEmpty())
            m_error = why;
    }
    qint64 remaining() const { return m_size - m_in.device()->pos(); }
    bool atEnd() const { return remaining() == 0; }

    template <typename T> T get()
    {
        T value{};
        if (!ok())
            return T{};
        m_in >> value;
        if (m_in.status() != QDataStream::Ok) {
            fail(QStringLiteral("the file ends too early"));
            return T{};
        }
        return value;
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
        QByteArray bytes(qsizetype(size), Qt::Uninitialized);
        if (m_in.readRawData(bytes.data(), int(size)) != int(size)) {
            fail(QStringLiteral("the file ends too early"));
            return QString();
        }
        return QString::fromUtf8(bytes);
    }

private:
    QDataStream m_in;
    qint64 m_size;
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
    if (in.ok() && fontCount > kMaxFontsPerPage)
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
    // Each item takes at least 37 bytes: the count cannot claim more items
    // than the rest of the file holds.
    if (in.ok() && (itemCount > kMaxItemsPerPage || qint64(itemCount) * 37 > in.remaining()))
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
    quint32 crc = 0xFFFFFFFFu;
    for (char ch : bytes)
        crc = table[(crc ^ quint8(ch)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

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

DecodedPages decodePages(const QByteArray &bytes)
{
    DecodedPages result;
    auto refuse = [&](const QString &why) {
        result.pages.clear();
        result.error = why;
        return result;
    };
    if (bytes.size() < kPageFileHeaderSize || !bytes.startsWith(QByteArray(kPageFileMagic, sizeof kPageFileMagic)))
        return refuse(QStringLiteral("it is not a saved report"));

    QDataStream header(bytes);
    header.setByteOrder(QDataStream::BigEndian);
    header.skipRawData(sizeof kPageFileMagic);
    quint16 version = 0, reserved = 0;
    quint32 length = 0, checksum = 0;
    header >> version >> reserved >> length >> checksum;
    if (version != kPageFileVersion)
        return refuse(QStringLiteral("it was saved in a format version (%1) this program does not read").arg(version));
    if (reserved != 0 || qint64(length) != bytes.size() - kPageFileHeaderSize)
        return refuse(QStringLiteral("it is damaged (its length is wrong)"));
    const QByteArray payload = bytes.mid(kPageFileHeaderSize);
    if (crc32(payload) != checksum)
        return refuse(QStringLiteral("it is damaged (its checksum is wrong)"));

    Reader in(payload);
    const quint32 pageCount = in.get<quint32>();
    if (in.ok() && (pageCount == 0 || pageCount > kMaxPages))
        in.fail(QStringLiteral("it holds no pages or too many"));
    for (quint32 i = 0; i < pageCount && in.ok(); ++i) {
        ReportPage page;
        if (!readPage(in, page))
            break;
        result.pages.push_back(std::move(page));
    }
    if (in.ok() && !in.atEnd())
        in.fail(QStringLiteral("there is data after the last page"));
    if (!in.ok())
        return refuse(QStringLiteral("it is damaged (%1)").arg(in.error().isEmpty() ? QStringLiteral("unreadable data") : in.error()));
    return result;
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
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("Cannot read the report file \"%1\": %2").arg(path, file.errorString());
    DecodedPages decoded = decodePages(bytes);
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
