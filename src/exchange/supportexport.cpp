#include "supportexport.h"

#include "exportwriters.h"
#include "sections.h"

#include "data/kortables.h"

#include <QFileInfo>

namespace exchange {

std::optional<ExportFormat> formatForPath(const QString &path, char csvSeparator)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("xlsx"))
        return ExportFormat::Xlsx;
    if (suffix == QLatin1String("csv"))
        return csvSeparator == ',' ? ExportFormat::CsvComma : ExportFormat::CsvSemicolon;
    return std::nullopt;
}

namespace {

std::unique_ptr<ExportWriter> makeWriter(const ExportRequest &request, bool withSection)
{
    switch (request.format) {
    case ExportFormat::Xlsx:
        return xlsxWriter(request.path, request.dateLine);
    case ExportFormat::CsvSemicolon:
        return csvWriter(request.path, ';', request.regionalDecimal, withSection);
    case ExportFormat::CsvComma:
        return csvWriter(request.path, ',', u'.', withSection);
    }
    return {};
}

// Reads the Supports a cursor offers through its field objects, row by row,
// without moving it.
class RowReader
{
public:
    explicit RowReader(const Table &supports)
        : m_table(supports), m_number(field("Nomeropory")), m_index(field("Index")), m_type(field("Tipopory")),
          m_kilometr(field("Kilometr")), m_uIzmer(field("U_izmer")), m_uRas(field("U_ras")),
          m_rOpory(field("R_opory")), m_iOpory(field("I_opory"))
    {
    }

    int rows() const { return m_table.RecordCount(); }

    // Calls sink with every Support the cursor offers, in its order.
    void readAll(const std::function<void(const ExportRow &)> &sink) const
    {
        m_table.forEachRecord([&] { sink(read()); });
    }

private:
    ExportRow read() const
    {
        ExportRow row;
        if (!m_number->IsNull())
            row.number = m_number->AsInteger();
        row.index = m_index->AsString();
        row.type = m_type->AsString();
        row.kilometr = value(m_kilometr);
        row.uIzmer = value(m_uIzmer);
        row.uRas = value(m_uRas);
        row.rOpory = value(m_rOpory);
        row.iOpory = value(m_iOpory);
        return row;
    }

    const Field *field(const char *name) const { return m_table.FieldByName(QString::fromLatin1(name)); }
    static std::optional<double> value(const Field *f)
    {
        return f->IsNull() ? std::nullopt : std::optional<double>(f->AsFloat());
    }

    const Table &m_table;
    const Field *m_number, *m_index, *m_type, *m_kilometr, *m_uIzmer, *m_uRas, *m_rOpory, *m_iOpory;
};

// Counts rows against a total and asks the progress whether to go on.
class Ticker
{
public:
    Ticker(const Progress &progress, qint64 total) : m_progress(progress), m_total(total) {}
    void tick()
    {
        if (++m_done % 512 == 0 && m_progress && !m_progress(m_done, m_total))
            throw SilentAbort();
    }
    qint64 done() const { return m_done; }

private:
    const Progress &m_progress;
    qint64 m_total;
    qint64 m_done = 0;
};

void writeRows(const RowReader &reader, ExportWriter &writer, Ticker &ticker)
{
    reader.readAll([&](const ExportRow &row) {
        writer.row(row);
        ticker.tick();
    });
}

} // namespace

qint64 exportView(const Table &supports, const QString &sectionName, const ExportRequest &request,
                  const Progress &progress)
{
    const RowReader reader(supports);
    Ticker ticker(progress, reader.rows());
    std::unique_ptr<ExportWriter> writer = makeWriter(request, false);
    writer->beginSection(sectionName, 0);
    writeRows(reader, *writer, ticker);
    writer->finish();
    return ticker.done();
}

qint64 exportSections(const QString &alias, std::optional<qint64> section, const ExportRequest &request,
                      const Progress &progress)
{
    KorTables db(alias);
    db.open();
    QList<SectionInfo> sections;
    if (section) {
        if (!db.Table2.Locate(*section))
            throw ExchangeError(QStringLiteral("Участка №%1 нет").arg(*section));
        sections.append({*section, db.Table2Line->AsString()});
    } else {
        sections = listSections(db);
    }
    qint64 total = 0;
    for (const SectionInfo &s : sections) {
        db.Table2.Locate(s.number);
        total += db.Table1.RecordCount();
    }
    const RowReader reader(db.Table1);
    Ticker ticker(progress, total);
    std::unique_ptr<ExportWriter> writer = makeWriter(request, !section);
    for (const SectionInfo &s : sections) {
        if (!db.Table2.Locate(s.number))
            throw ExchangeError(QStringLiteral("Участок «%1» удалён во время экспорта").arg(s.name));
        writer->beginSection(s.name, s.number);
        writeRows(reader, *writer, ticker);
    }
    writer->finish();
    return ticker.done();
}

} // namespace exchange
