#include "csvreader.h"

#include "exchangeerror.h"

#include <QIODevice>

#include <csv.h>

#include <cstring>

namespace exchange {

namespace {

constexpr qint64 kBlock = 256 * 1024;
// Pieces end at a line break, so that every record starts at a known line,
// or after this many bytes, so that a line without breaks is still checked
// for its length as it goes.
constexpr qsizetype kMaxPiece = 64 * 1024;

} // namespace

struct CsvReader::Parser
{
    csv_parser p{};
};

CsvReader::CsvReader(QIODevice &device, Encoding encoding, char separator)
    : m_device(device), m_encoding(encoding), m_parser(std::make_unique<Parser>()), m_decoder(encoding)
{
    if (csv_init(&m_parser->p, CSV_STRICT | CSV_STRICT_FINI) != 0)
        throw ExchangeError(QStringLiteral("Не удалось начать чтение CSV"));
    csv_set_delim(&m_parser->p, static_cast<unsigned char>(separator));
    csv_set_blk_size(&m_parser->p, 4096);
}

CsvReader::~CsvReader()
{
    csv_free(&m_parser->p);
}

void CsvReader::fail(qint64 line, const QString &what) const
{
    throw ExchangeError(QStringLiteral("строка %1: %2").arg(line).arg(what));
}

void CsvReader::fieldDone(void *bytes, size_t size, void *reader)
{
    // Called from C: nothing may be thrown here.
    auto *self = static_cast<CsvReader *>(reader);
    if (self->m_fields.size() >= kMaxFields) {
        self->m_tooManyFields = true;
        return;
    }
    self->m_fields.append(self->m_decoder.decode(static_cast<const char *>(bytes), size));
}

void CsvReader::rowDone(int, void *reader)
{
    auto *self = static_cast<CsvReader *>(reader);
    self->m_ready.push_back(CsvRecord{self->m_rowStart, std::move(self->m_fields)});
    self->m_fields = QStringList();
    self->m_rowEnded = true;
}

void CsvReader::refill()
{
    if (m_pos > 0) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    QByteArray block(kBlock, Qt::Uninitialized);
    const qint64 got = m_device.read(block.data(), kBlock);
    if (got < 0)
        throw ExchangeError(QStringLiteral("Файл не читается: %1").arg(m_device.errorString()));
    if (got == 0) {
        m_eof = true;
        return;
    }
    block.truncate(got);
    m_bytesRead += got;

    const bool first = !m_started;
    m_started = true;
    if (m_encoding == Encoding::Utf16) {
        if (first) {
            // The byte order mark decides the order; Windows writes little-endian.
            const bool bigEndian = block.startsWith("\xFE\xFF");
            if (bigEndian || block.startsWith("\xFF\xFE"))
                block.remove(0, 2);
            m_utf16.emplace(bigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE);
        }
        block = QString(m_utf16->decode(block)).toUtf8();
    } else if (first && m_encoding != Encoding::Windows1251 && block.startsWith("\xEF\xBB\xBF")) {
        block.remove(0, 3);
    }

    // A zero byte has no place in text: this is some other kind of file.
    if (const char *zero = static_cast<const char *>(std::memchr(block.constData(), 0, size_t(block.size())))) {
        qint64 line = m_line;
        for (qsizetype i = m_pos; i < m_buffer.size(); ++i)
            line += m_buffer[i] == '\n';
        for (const char *p = block.constData(); p < zero; ++p)
            line += *p == '\n';
        throw ExchangeError(
            QStringLiteral("Это не текстовый файл CSV: в строке %1 двоичные данные (нулевой байт)").arg(line));
    }
    m_buffer.append(block);
}

void CsvReader::parsePiece()
{
    const char *data = m_buffer.constData();
    const qsizetype limit = std::min(m_buffer.size(), m_pos + kMaxPiece);
    qsizetype end = m_pos;
    bool lineEnd = false;
    while (end < limit) {
        const char c = data[end++];
        if (c == '\n' || c == '\r') {
            lineEnd = true;
            break;
        }
    }
    const char *piece = data + m_pos;
    const qsizetype size = end - m_pos;
    // The LF of a CR LF pair: the line was counted at its CR.
    const bool secondHalf = m_pendingCr && size == 1 && piece[0] == '\n';
    m_pendingCr = false;

    if (!m_rowOpen)
        m_rowStart = m_line;
    m_rowEnded = false;
    const size_t used = csv_parse(&m_parser->p, piece, size_t(size), &CsvReader::fieldDone, &CsvReader::rowDone, this);
    if (used < size_t(size)) {
        if (csv_error(&m_parser->p) == CSV_EPARSE)
            fail(m_line, QStringLiteral("кавычка не на месте (поле в кавычках должно быть в них целиком, "
                                        "а кавычка внутри него — удвоена)"));
        fail(m_rowStart, QStringLiteral("не хватает памяти, чтобы прочитать поле"));
    }
    if (m_tooManyFields)
        fail(m_rowStart, QStringLiteral("больше %1 полей").arg(kMaxFields));
    if (m_rowEnded) {
        m_rowOpen = false;
    } else if (!m_rowOpen) {
        for (qsizetype i = 0; i < size && !m_rowOpen; ++i)
            m_rowOpen = piece[i] != '\n' && piece[i] != '\r' && piece[i] != ' ' && piece[i] != '\t';
    }
    if (qsizetype(csv_get_buffer_size(&m_parser->p)) > kMaxFieldBytes)
        fail(m_rowStart, QStringLiteral("поле длиннее %1 КБ — возможно, не закрыта кавычка").arg(kMaxFieldBytes / 1024));

    m_pos = end;
    if (lineEnd && !secondHalf) {
        ++m_line;
        m_pendingCr = piece[size - 1] == '\r';
    }
}

void CsvReader::finish()
{
    m_finished = true;
    m_rowEnded = false;
    if (csv_fini(&m_parser->p, &CsvReader::fieldDone, &CsvReader::rowDone, this) != 0)
        fail(m_rowStart, QStringLiteral("кавычка открыта и не закрыта до конца файла"));
    if (m_tooManyFields)
        fail(m_rowStart, QStringLiteral("больше %1 полей").arg(kMaxFields));
}

bool CsvReader::next(CsvRecord &record)
{
    while (m_ready.empty()) {
        if (m_finished)
            return false;
        if (m_pos < m_buffer.size()) {
            parsePiece();
            continue;
        }
        if (!m_eof)
            refill();
        if (m_eof && m_pos >= m_buffer.size())
            finish();
    }
    record = std::move(m_ready.front());
    m_ready.pop_front();
    return true;
}

} // namespace exchange
