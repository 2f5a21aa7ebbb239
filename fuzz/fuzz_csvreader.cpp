// Any bytes as a file to import: the detection settles on a format or says
// why it cannot, and the reader then hands out records whose lines rise and
// whose fields stay within the reader's limits, or stops with its message.
// Records it reads from UTF-8 bytes come back the same when written as the
// export writes them and read again.
#include "exchange/csvformat.h"
#include "exchange/csvreader.h"
#include "exchange/exchangeerror.h"
#include "fuzzcheck.h"

#include <QBuffer>

using namespace exchange;

namespace {

QList<CsvRecord> readAll(const QByteArray &bytes, Encoding encoding, char separator, QString *error)
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QList<CsvRecord> records;
    try {
        CsvReader reader(buffer, encoding, separator);
        CsvRecord record;
        while (reader.next(record))
            records.append(record);
    } catch (const ExchangeError &e) {
        *error = e.message();
    }
    return records;
}

QByteArray written(const QList<CsvRecord> &records, char separator)
{
    QByteArray out;
    for (const CsvRecord &r : records) {
        for (qsizetype i = 0; i < r.fields.size(); ++i) {
            if (i > 0)
                out.append(separator);
            QString f = r.fields[i];
            f.replace(u'"', QStringLiteral("\"\""));
            out.append('"').append(f.toUtf8()).append('"');
        }
        out.append("\r\n");
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    CsvFormat format;
    try {
        format = detectFormatOf(bytes, false, u',');
    } catch (const ExchangeError &e) {
        FUZZ_CHECK(!e.message().isEmpty(), "a refusal without a message");
        return 0;
    }
    FUZZ_CHECK(format.separator == ';' || format.separator == ',' || format.separator == '\t', "separator %d",
               format.separator);
    FUZZ_CHECK(format.decimal == u',' || format.decimal == u'.', "decimal separator");

    QString error;
    const QList<CsvRecord> records = readAll(bytes, format.encoding, format.separator, &error);
    qint64 line = 0;
    for (const CsvRecord &r : records) {
        FUZZ_CHECK(r.line > line, "record lines go %lld then %lld", line, r.line);
        line = r.line;
        FUZZ_CHECK(r.fields.size() >= 1 && r.fields.size() <= CsvReader::kMaxFields, "%lld fields",
                   qint64(r.fields.size()));
        for (const QString &f : r.fields)
            FUZZ_CHECK(f.size() <= CsvReader::kMaxFieldBytes, "a field of %lld characters", qint64(f.size()));
    }
    FUZZ_CHECK(error.isEmpty() || error.startsWith(QStringLiteral("строка ")) || error.startsWith(QStringLiteral("Это ")),
               "message '%s'", qPrintable(error));

    // What was read from UTF-8 comes back unchanged through the writer's quoting.
    if (format.encoding == Encoding::Utf8 && error.isEmpty() && !records.isEmpty()) {
        QString again;
        const QList<CsvRecord> back = readAll(written(records, format.separator), Encoding::Utf8, format.separator, &again);
        FUZZ_CHECK(again.isEmpty(), "written records not read again: %s", qPrintable(again));
        FUZZ_CHECK(back.size() == records.size(), "%lld records became %lld", qint64(records.size()),
                   qint64(back.size()));
        for (qsizetype i = 0; i < back.size(); ++i)
            FUZZ_CHECK(back[i].fields == records[i].fields, "record %lld changed", qint64(i));
    }
    return 0;
}
