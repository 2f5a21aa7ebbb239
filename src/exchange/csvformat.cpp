#include "csvformat.h"

#include "csvreader.h"
#include "exchangeerror.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

namespace exchange {

namespace {

constexpr qint64 kSample = 64 * 1024;
constexpr int kSampleRecords = 100;

QString fileLabel(const QString &path)
{
    return QStringLiteral("«%1»").arg(QFileInfo(path).fileName());
}

// The records of a sample in one separator; reading stops at the first
// error, which counts against the separator unless the sample was cut short
// in the middle of a record.
struct SampleRead
{
    QList<CsvRecord> records;
    bool failed = false;
    QString error;
};

SampleRead readSample(const QByteArray &sample, bool cut, Encoding encoding, char separator)
{
    QByteArray copy = sample;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    SampleRead result;
    try {
        CsvReader reader(buffer, encoding, separator);
        CsvRecord record;
        while (result.records.size() < kSampleRecords && reader.next(record))
            result.records.append(record);
    } catch (const ExchangeError &e) {
        result.failed = !cut || result.records.size() < 2;
        result.error = e.message();
    }
    // A record cut by the end of the sample says nothing about its fields.
    if (cut && result.records.size() > 1)
        result.records.removeLast();
    return result;
}

// How well a separator splits the records: the share of records with the
// most common number of fields, and that number.
struct Fit
{
    double share = 0;
    int fields = 0;
};

Fit fitOf(const SampleRead &read)
{
    if (read.failed || read.records.isEmpty())
        return {};
    QHash<int, int> counts;
    for (const CsvRecord &r : read.records)
        ++counts[int(r.fields.size())];
    Fit best;
    int bestCount = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > bestCount || (it.value() == bestCount && it.key() > best.fields)) {
            bestCount = it.value();
            best.fields = it.key();
        }
    best.share = double(bestCount) / double(read.records.size());
    return best;
}

const QRegularExpression &decimalNumber()
{
    static const QRegularExpression re(QStringLiteral("^\\s*[+-]?[0-9]*([.,])[0-9]+([eE][+-]?[0-9]+)?\\s*$"));
    return re;
}

bool looksNumeric(const QString &cell)
{
    static const QRegularExpression re(QStringLiteral("^\\s*[+-]?[0-9]*[.,]?[0-9]+([eE][+-]?[0-9]+)?\\s*$"));
    return re.match(cell).hasMatch();
}

} // namespace

QString separatorName(char separator)
{
    return separator == '\t' ? QStringLiteral("Tab") : QString(QLatin1Char(separator));
}

std::optional<char> separatorFromName(const QString &name)
{
    if (name == QLatin1String(";") || name == QLatin1String(","))
        return name.front().toLatin1();
    if (name == QLatin1String("\t") || name.compare(QLatin1String("tab"), Qt::CaseInsensitive) == 0
        || name == QLatin1String("\\t"))
        return '\t';
    return std::nullopt;
}

void checkImportFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw ExchangeError(QStringLiteral("Файл %1 не найден").arg(fileLabel(path)));
    if (info.isDir())
        throw ExchangeError(QStringLiteral("%1 — это папка, а не файл").arg(fileLabel(path)));
    if (info.size() > kMaxImportBytes)
        throw ExchangeError(QStringLiteral("Файл %1 слишком велик для импорта опор (%2 МБ; наибольший размер — %3 МБ)")
                                .arg(fileLabel(path))
                                .arg(info.size() / (1024 * 1024))
                                .arg(kMaxImportBytes / (1024 * 1024)));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ExchangeError(QStringLiteral("Файл %1 не открывается: %2").arg(fileLabel(path), file.errorString()));
}

CsvFormat detectFormat(const QString &path, QChar regionalDecimal)
{
    checkImportFile(path);
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray sample = file.read(kSample);
    if (sample.isEmpty())
        throw ExchangeError(QStringLiteral("Файл %1 пуст").arg(fileLabel(path)));
    return detectFormatOf(sample, !file.atEnd(), regionalDecimal);
}

CsvFormat detectFormatOf(const QByteArray &sample, bool cut, QChar regionalDecimal)
{
    CsvFormat format;
    format.encoding = detectEncoding(sample, !cut);

    // ";" and Tab never stand inside a number, "," may: it is the last choice.
    SampleRead chosen;
    Fit chosenFit;
    bool found = false;
    for (char separator : {';', '\t', ','}) {
        SampleRead read = readSample(sample, cut, format.encoding, separator);
        const Fit fit = fitOf(read);
        if (fit.fields >= 2 && fit.share >= 0.9) {
            format.separator = separator;
            chosen = std::move(read);
            found = true;
            break;
        }
        if (fit.fields >= 2 && fit.share > chosenFit.share) {
            chosenFit = fit;
            format.separator = separator;
            chosen = std::move(read);
        }
    }
    if (!found && chosenFit.fields < 2) {
        // One column, or no separator reads the file: say what is wrong with
        // it in the reader's own words.
        format.separator = ';';
        chosen = readSample(sample, cut, format.encoding, ';');
        if (chosen.failed)
            throw ExchangeError(chosen.error);
    }
    if (chosen.records.isEmpty())
        throw ExchangeError(QStringLiteral("В файле нет ни одной строки с данными"));

    // Headings: the first record names a column (or the Section's column).
    const QStringList &first = chosen.records.first().fields;
    format.headings = false;
    for (const QString &cell : first)
        if (columnForHeading(cell) != Column::Skip || cell.trimmed() == sectionCaption())
            format.headings = true;
    if (!format.headings && chosen.records.size() > 1) {
        // Headings of their own: no number in the first record, some in the second.
        const auto numbers = [](const QStringList &cells) {
            return std::count_if(cells.begin(), cells.end(), looksNumeric);
        };
        format.headings = numbers(first) == 0 && numbers(chosen.records[1].fields) > 0;
    }

    if (format.separator == ',') {
        format.decimal = u'.';
    } else {
        int points = 0;
        int commas = 0;
        for (qsizetype i = format.headings ? 1 : 0; i < chosen.records.size(); ++i)
            for (const QString &cell : chosen.records[i].fields) {
                const QRegularExpressionMatch m = decimalNumber().match(cell);
                if (m.hasMatch())
                    (m.captured(1) == QLatin1String(",") ? commas : points) += 1;
            }
        format.decimal = commas > points ? u',' : points > commas ? u'.' : regionalDecimal;
    }
    return format;
}

CsvPreview readPreview(const QString &path, const CsvFormat &format, int rows)
{
    checkImportFile(path);
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    CsvReader reader(file, format.encoding, format.separator);
    CsvPreview preview;
    CsvRecord record;
    bool headingsRead = !format.headings;
    while (preview.rows.size() < rows && reader.next(record)) {
        preview.columns = std::max(preview.columns, int(record.fields.size()));
        if (!headingsRead) {
            preview.headings = record.fields;
            headingsRead = true;
        } else {
            preview.rows.append(record.fields);
        }
    }
    return preview;
}

QVector<Column> defaultMapping(const CsvPreview &preview, bool headings)
{
    QVector<Column> mapping(preview.columns, Column::Skip);
    if (headings) {
        for (int i = 0; i < preview.columns && i < preview.headings.size(); ++i) {
            const Column column = columnForHeading(preview.headings[i]);
            // A column named twice keeps its first place.
            if (column != Column::Skip && !mapping.contains(column))
                mapping[i] = column;
        }
        return mapping;
    }
    const int offset = preview.columns > kColumnCount ? 1 : 0;
    for (int i = offset; i < preview.columns && i - offset < kColumnCount; ++i)
        mapping[i] = gridColumns()[i - offset];
    return mapping;
}

QStringList skippedHeadings(const CsvPreview &preview, const QVector<Column> &mapping)
{
    QStringList skipped;
    for (int i = 0; i < preview.headings.size() && i < mapping.size(); ++i) {
        const QString heading = preview.headings[i].trimmed();
        if (mapping[i] == Column::Skip && !heading.isEmpty() && heading != sectionCaption())
            skipped << heading;
    }
    return skipped;
}

} // namespace exchange
