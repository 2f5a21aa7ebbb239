#pragma once

#include "encoding.h"

#include <QByteArray>
#include <QStringList>

#include <deque>
#include <memory>
#include <optional>

class QIODevice;

namespace exchange {

// One record of a CSV file and the line of the file it starts on (1-based).
struct CsvRecord
{
    qint64 line = 0;
    QStringList fields;
};

// An RFC 4180 reader (libcsv in its strict mode) that streams a file: it
// reads the device in blocks and hands out one record at a time, so a file of
// any size costs only the records the caller keeps. Quoted fields may hold
// separators, doubled quotes and line breaks; blanks around an unquoted field
// are dropped; empty lines are skipped; lines may end in CR LF, LF or CR.
//
// Input that is not such a file ends the reading with an ExchangeError that
// names the line: a quote in the wrong place or never closed, a field longer
// than kMaxFieldBytes, more than kMaxFields fields, a zero byte (a binary file).
class CsvReader
{
public:
    static constexpr qsizetype kMaxFieldBytes = 64 * 1024;
    static constexpr int kMaxFields = 1000;

    // Reads from the device's current position, the start of the file.
    CsvReader(QIODevice &device, Encoding encoding, char separator);
    ~CsvReader();
    CsvReader(const CsvReader &) = delete;
    CsvReader &operator=(const CsvReader &) = delete;

    // The next record; false at the end of the file.
    bool next(CsvRecord &record);
    // The bytes of the device read so far.
    qint64 bytesRead() const { return m_bytesRead; }

private:
    void refill();
    void parsePiece();
    void finish();
    [[noreturn]] void fail(qint64 line, const QString &what) const;
    static void fieldDone(void *bytes, size_t size, void *reader);
    static void rowDone(int terminator, void *reader);

    struct Parser;
    QIODevice &m_device;
    Encoding m_encoding;
    std::unique_ptr<Parser> m_parser;
    FieldDecoder m_decoder;
    std::optional<QStringDecoder> m_utf16;

    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qint64 m_bytesRead = 0;
    bool m_started = false;
    bool m_eof = false;
    bool m_finished = false;

    qint64 m_line = 1;     // the line the next byte belongs to
    qint64 m_rowStart = 1; // the line the record being read began on
    bool m_rowOpen = false;
    bool m_rowEnded = false;
    bool m_pendingCr = false;
    bool m_tooManyFields = false;
    QStringList m_fields;
    std::deque<CsvRecord> m_ready;
};

} // namespace exchange
