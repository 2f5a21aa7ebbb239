#include "supportimport.h"

#include "csvreader.h"
#include "sections.h"

#include "calc/leakage.h"
#include "data/errors.h"
#include "data/kortables.h"
#include "data/numberreader.h"

#include <QFile>
#include <QHash>

namespace exchange {

namespace {

// The sizes the field objects give the texts.
struct TextSizes
{
    int index;
    int type;
    int sectionName;
};

const TextSizes &textSizes()
{
    static const TextSizes sizes = [] {
        const KorTables layout; // never opened: only its field objects are asked
        return TextSizes{layout.Table1Index->Size(), layout.Table1Tipopory->Size(), layout.Table2Line->Size()};
    }();
    return sizes;
}

QString quoted(const QString &cell)
{
    QString shown = cell.size() > 40 ? cell.left(40) + QStringLiteral("…") : cell;
    return QStringLiteral("«%1»").arg(shown);
}

// Collects the problems of a check: every one counted, the first ones kept.
class Problems
{
public:
    explicit Problems(ImportPlan &plan) : m_plan(plan) {}
    void add(const QString &text)
    {
        ++m_plan.problemCount;
        if (m_plan.problems.size() < ImportPlan::kListedProblems)
            m_plan.problems.append(text);
    }
    void add(qint64 line, const QString &text) { add(QStringLiteral("строка %1: %2").arg(line).arg(text)); }

private:
    ImportPlan &m_plan;
};

// A support number: an optional sign and decimal digits, from -32768 to 32767.
std::optional<qint16> supportNumber(QStringView text)
{
    const bool negative = text.startsWith(u'-');
    if (negative || text.startsWith(u'+'))
        text = text.mid(1);
    if (text.isEmpty())
        return std::nullopt;
    int n = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        n = std::min(n * 10 + (c.unicode() - u'0'), 100000);
    }
    n = negative ? -n : n;
    if (n < -32768 || n > 32767)
        return std::nullopt;
    return qint16(n);
}

// The same text with the other decimal separator reads as a number: the
// user most likely chose the wrong one.
bool otherSeparatorReads(const QString &text, QChar decimal)
{
    const QChar other = decimal == u',' ? u'.' : u',';
    if (!text.contains(other))
        return false;
    try {
        return numread::readFloatText(text, other, QString()).has_value();
    } catch (const DatabaseError &) {
        return false;
    }
}

class RowChecker
{
public:
    RowChecker(const ImportSettings &settings, ImportPlan &plan)
        : m_settings(settings), m_plan(plan), m_problems(plan), m_sizes(textSizes())
    {
    }

    // Checks one record; appends its row to the plan when it has no problem.
    void check(const CsvRecord &record)
    {
        m_cut = 0;
        const QVector<Column> &columns = m_settings.columns;
        bool anyValue = false;
        for (int i = 0; i < columns.size() && i < record.fields.size(); ++i)
            if (columns[i] != Column::Skip && !record.fields[i].trimmed().isEmpty())
                anyValue = true;
        if (!anyValue) {
            ++m_plan.emptyRows;
            return;
        }

        SupportRow row;
        bool good = true;
        bool hasKilometr = false;
        bool hasNumber = false;
        for (int i = 0; i < columns.size(); ++i) {
            const Column column = columns[i];
            if (column == Column::Skip)
                continue;
            const QString cell = i < record.fields.size() ? record.fields[i] : QString();
            if (isTextColumn(column)) {
                if (cell.isEmpty())
                    continue;
                bool cut = false;
                const int size = column == Column::Index ? m_sizes.index : m_sizes.type;
                const QString text = intern(cutToSize(store::validText(cell), size, &cut));
                m_cut += cut ? 1 : 0;
                (column == Column::Index ? row.index : row.type) = text;
                continue;
            }
            const QString text = cell.trimmed();
            if (text.isEmpty())
                continue;
            if (column == Column::Nomeropory) {
                const std::optional<qint16> n = supportNumber(text);
                if (!n) {
                    problem(record.line, column,
                            QStringLiteral("%1 — не целое число от -32768 до 32767").arg(quoted(cell)));
                    good = false;
                    continue;
                }
                row.number = *n;
                hasNumber = true;
                continue;
            }
            std::optional<double> value;
            try {
                value = numread::readFloatText(text, m_settings.format.decimal, columnField(column));
            } catch (const DatabaseError &) {
            }
            if (!value) {
                problem(record.line, column,
                        otherSeparatorReads(text, m_settings.format.decimal)
                            ? QStringLiteral("%1 — не число с десятичным разделителем «%2»")
                                  .arg(quoted(cell), m_settings.format.decimal)
                            : QStringLiteral("%1 — не число").arg(quoted(cell)));
                good = false;
                continue;
            }
            switch (column) {
            case Column::Kilometr:
                row.kilometr = *value;
                hasKilometr = true;
                break;
            case Column::U_izmer:
                row.uIzmer = *value;
                row.present |= SupportRow::UIzmer;
                break;
            case Column::U_ras:
                row.uRas = *value;
                row.present |= SupportRow::URas;
                break;
            case Column::R_opory:
                row.rOpory = *value;
                row.present |= SupportRow::ROpory;
                break;
            case Column::I_opory:
                row.iOpory = *value;
                row.present |= SupportRow::IOpory;
                break;
            default:
                break;
            }
        }
        for (const Column required : {Column::Nomeropory, Column::Kilometr}) {
            const bool has = required == Column::Kilometr ? hasKilometr : hasNumber;
            if (!has && !m_failedColumns.contains(required)) {
                m_problems.add(record.line, QStringLiteral("нет значения в обязательном столбце «%1»")
                                                .arg(columnCaption(required)));
                good = false;
            }
        }
        m_failedColumns.clear();
        if (!good)
            return;
        if (qint64(m_plan.rows.size()) >= kMaxImportRows)
            throw ExchangeError(QStringLiteral("В файле больше %1 строк с опорами: столько за один раз не импортируется")
                                    .arg(kMaxImportRows));
        m_plan.rows.push_back(std::move(row));
        m_plan.cutTexts += m_cut;
    }

private:
    void problem(qint64 line, Column column, const QString &text)
    {
        m_failedColumns.append(column);
        m_problems.add(line, QStringLiteral("%1 (столбец «%2»)").arg(text, columnCaption(column)));
    }

    // Equal texts share one copy: a file repeats a handful of support types.
    QString intern(const QString &text)
    {
        auto it = m_texts.constFind(text);
        if (it != m_texts.constEnd())
            return *it;
        if (m_texts.size() < 10000)
            m_texts.insert(text, text);
        return text;
    }

    const ImportSettings &m_settings;
    ImportPlan &m_plan;
    Problems m_problems;
    const TextSizes &m_sizes;
    QList<Column> m_failedColumns;
    QHash<QString, QString> m_texts;
    qint64 m_cut = 0;
};

} // namespace

QString ImportPlan::problemReport() const
{
    QString report = problems.join(u'\n');
    if (problemCount > problems.size())
        report += QStringLiteral("\n… и ещё %1 (всего %2)")
                      .arg(countText(problemCount - problems.size(), QStringLiteral("ошибка"),
                                     QStringLiteral("ошибки"), QStringLiteral("ошибок")))
                      .arg(problemCount);
    return report;
}

ImportPlan checkImport(const QString &path, const ImportSettings &settings, const Progress &progress)
{
    ImportPlan plan;
    Problems problems(plan);
    // The columns first: without a chainage or a number no row can be written.
    for (const Column required : {Column::Nomeropory, Column::Kilometr})
        if (!settings.columns.contains(required))
            problems.add(QStringLiteral("Не выбран столбец «%1»: он обязателен").arg(columnCaption(required)));
    for (const Column column : gridColumns()) {
        QStringList places;
        for (int i = 0; i < settings.columns.size(); ++i)
            if (settings.columns[i] == column)
                places << QString::number(i + 1);
        if (places.size() > 1)
            problems.add(QStringLiteral("Поле «%1» выбрано для нескольких столбцов (%2)")
                             .arg(columnCaption(column), places.join(QStringLiteral(", "))));
    }
    if (!plan.ok())
        return plan;

    checkImportFile(path);
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const qint64 size = file.size();
    CsvReader reader(file, settings.format.encoding, settings.format.separator);
    RowChecker checker(settings, plan);
    // Room for the rows of a file with some 32 bytes a row: growing the list
    // row by row would move the rows read so far again and again.
    plan.rows.reserve(size_t(std::min(kMaxImportRows, size / 32)));
    CsvRecord record;
    bool first = true;
    qint64 records = 0;
    while (reader.next(record)) {
        if (first && settings.format.headings) {
            first = false;
            continue;
        }
        first = false;
        checker.check(record);
        if (++records % 1024 == 0 && progress && !progress(reader.bytesRead(), size))
            throw SilentAbort();
    }
    if (plan.ok() && plan.rows.empty())
        problems.add(QStringLiteral("В файле нет ни одной строки с опорами"));
    return plan;
}

namespace {

// Writes checked rows straight into the Supports' table, as the cursor's post
// would write them (the field objects' checks were made by the check of the
// file): the cursor does not follow the rows one by one, so the view's keys
// are not kept and its rows not cached for records nobody looks at here.
class RowWriter
{
public:
    RowWriter(KorTables &db, qint64 section)
        : m_table(db.Table1), m_blank(m_table.blankRecord()),
          m_kilometr(db.Table1Kilometr->fieldNo()), m_number(db.Table1Nomeropory->fieldNo()),
          m_index(db.Table1Index->fieldNo()), m_type(db.Table1Tipopory->fieldNo()),
          m_uIzmer(db.Table1U_izmer->fieldNo()), m_uRas(db.Table1U_ras->fieldNo()),
          m_rOpory(db.Table1R_opory->fieldNo()), m_iOpory(db.Table1I_opory->fieldNo())
    {
        m_blank[db.Table1Line->fieldNo()] = section;
    }

    void write(const SupportRow &row)
    {
        store::Record record = m_blank;
        record[m_number] = qint64(row.number);
        record[m_kilometr] = row.kilometr;
        if (!row.index.isEmpty())
            record[m_index] = row.index;
        if (!row.type.isEmpty())
            record[m_type] = row.type;
        if (row.present & SupportRow::UIzmer)
            record[m_uIzmer] = row.uIzmer;
        if (row.present & SupportRow::URas)
            record[m_uRas] = row.uRas;
        if (row.present & SupportRow::ROpory)
            record[m_rOpory] = row.rOpory;
        if (row.present & SupportRow::IOpory)
            record[m_iOpory] = row.iOpory;
        m_table.writeRecord(record);
    }

private:
    Table &m_table;
    store::Record m_blank;
    int m_kilometr, m_number, m_index, m_type, m_uIzmer, m_uRas, m_rOpory, m_iOpory;
};

} // namespace

ImportResult writeImport(const QString &alias, const ImportPlan &plan, const ImportTarget &target,
                         const Progress &progress)
{
    if (!plan.ok())
        throw ExchangeError(QStringLiteral("В файле есть ошибки: ничего не записано"));
    KorTables db(alias);
    db.open();
    ImportResult result;
    if (target.section) {
        if (!db.Table2.Locate(*target.section))
            throw ExchangeError(
                QStringLiteral("Участка №%1 больше нет (его удалили?): ничего не записано").arg(*target.section));
    } else {
        db.Table2.Append();
        db.Table2Line->SetAsString(cutToSize(target.newSectionName, db.Table2Line->Size()));
        db.Table2.Post();
        result.created = true;
    }
    result.section = db.Table2N_line->AsInteger();
    result.sectionName = db.Table2Line->AsString();

    try {
        // A Support keeps its Section's number in a smallint field.
        numread::checkSmallintRange(double(result.section), db.Table1Line->FieldName());
        const qint64 total = qint64(plan.rows.size()) + (target.replace ? db.Table1.RecordCount() : 0);
        qint64 done = 0;
        const auto tick = [&] {
            if (++done % 256 == 0 && progress && !progress(done, total))
                throw SilentAbort();
        };
        Table::TransactionScope transaction(db.Table1);
        if (target.replace) {
            db.Table1.First();
            while (db.Table1.RecordCount() > 0) {
                db.Table1.Delete();
                ++result.deleted;
                tick();
            }
        }
        RowWriter writer(db, result.section);
        for (const SupportRow &row : plan.rows) {
            writer.write(row);
            tick();
        }
        if (progress && !progress(total, total))
            throw SilentAbort();
        transaction.commit();
        result.written = qint64(plan.rows.size());
    } catch (...) {
        if (result.created && db.Table2.Locate(result.section)) {
            try {
                db.Table2.Delete();
            } catch (const SystemError &e) {
                qWarning("%s", e.what());
            }
        }
        throw;
    }
    return result;
}

void calculateSection(const QString &alias, qint64 section, const std::function<void(const QString &)> &inform)
{
    KorTables db(alias);
    db.open();
    if (!db.Table2.Locate(section))
        throw ExchangeError(QStringLiteral("Участка №%1 больше нет: расчёт не выполнен").arg(section));
    calc::calculateLeakage(db, inform);
}

QString importSummary(const ImportPlan &plan, const ImportResult &result)
{
    QStringList lines;
    lines << QStringLiteral("Импортировано опор: %1 (участок «%2»%3).")
                 .arg(result.written)
                 .arg(result.sectionName, result.created ? QStringLiteral(", новый") : QString());
    if (result.deleted > 0)
        lines << QStringLiteral("Прежних опор участка удалено: %1.").arg(result.deleted);
    if (plan.cutTexts > 0)
        lines << QStringLiteral("Текстов обрезано по размеру поля: %1.").arg(plan.cutTexts);
    if (plan.emptyRows > 0)
        lines << QStringLiteral("Пустых строк пропущено: %1.").arg(plan.emptyRows);
    return lines.join(u'\r');
}

} // namespace exchange
