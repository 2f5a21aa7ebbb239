#include "exportwriters.h"

#include "exchangeerror.h"
#include "zipedit.h"

#include "data/kortables.h"
#include "data/numberformat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <QTemporaryDir>

#include <xlsxwriter.h>

#include <array>
#include <charconv>
#include <clocale>
#include <locale.h>

namespace exchange {

std::optional<double> ExportRow::value(Column column) const
{
    switch (column) {
    case Column::Nomeropory:
        return number ? std::optional<double>(double(*number)) : std::nullopt;
    case Column::Kilometr:
        return kilometr;
    case Column::U_izmer:
        return uIzmer;
    case Column::U_ras:
        return uRas;
    case Column::R_opory:
        return rOpory;
    case Column::I_opory:
        return iOpory;
    default:
        return std::nullopt;
    }
}

bool ExportRow::overLimit() const
{
    return iOpory && *iOpory > kLeakageLimitMa;
}

ExportWriter::~ExportWriter() = default;

namespace {

QString fileLabel(const QString &path)
{
    return QStringLiteral("«%1»").arg(QFileInfo(path).fileName());
}

// Writes a file whole or not at all: QSaveFile keeps the old file until the
// new one is complete.
class SaveTarget
{
public:
    explicit SaveTarget(const QString &path) : m_file(path)
    {
        if (!m_file.open(QIODevice::WriteOnly))
            throw ExchangeError(QStringLiteral("Файл %1 не создаётся: %2").arg(fileLabel(path), m_file.errorString()));
    }
    void write(const QByteArray &bytes)
    {
        if (m_file.write(bytes) != bytes.size())
            fail();
    }
    void commit()
    {
        if (!m_file.commit())
            fail();
    }

private:
    [[noreturn]] void fail()
    {
        const QString why = m_file.errorString();
        m_file.cancelWriting();
        throw ExchangeError(QStringLiteral("Файл %1 не записан: %2").arg(fileLabel(m_file.fileName()), why));
    }
    QSaveFile m_file;
};

// ---------------------------------------------------------------- CSV

class CsvExport : public ExportWriter
{
public:
    CsvExport(const QString &path, char separator, QChar decimal, bool withSection)
        : m_target(path), m_separator(separator), m_decimal(decimal), m_withSection(withSection)
    {
        m_buffer.append("\xEF\xBB\xBF");
        QStringList headings;
        if (withSection)
            headings << sectionCaption();
        for (Column c : gridColumns())
            headings << columnCaption(c);
        for (int i = 0; i < headings.size(); ++i) {
            if (i > 0)
                m_buffer.append(m_separator);
            appendText(headings[i]);
        }
        m_buffer.append("\r\n");
    }

    void beginSection(const QString &name, qint64) override { m_section = name; }

    void row(const ExportRow &row) override
    {
        if (m_withSection) {
            appendText(m_section);
            m_buffer.append(m_separator);
        }
        if (row.number)
            m_buffer.append(QByteArray::number(*row.number));
        m_buffer.append(m_separator);
        appendText(row.index);
        m_buffer.append(m_separator);
        appendText(row.type);
        for (const auto &value : {row.kilometr, row.uIzmer, row.uRas, row.rOpory, row.iOpory}) {
            m_buffer.append(m_separator);
            if (value)
                m_buffer.append(numfmt::shortestText(*value, m_decimal).toUtf8());
        }
        m_buffer.append("\r\n");
        if (m_buffer.size() > (1 << 20)) {
            m_target.write(m_buffer);
            m_buffer.clear();
        }
    }

    void finish() override
    {
        m_target.write(m_buffer);
        m_buffer.clear();
        m_target.commit();
    }

private:
    void appendText(const QString &text)
    {
        const bool quote = text.contains(QLatin1Char(m_separator)) || text.contains(u'"') || text.contains(u'\n')
                           || text.contains(u'\r')
                           || (!text.isEmpty() && (text.front().isSpace() || text.back().isSpace()));
        if (!quote) {
            m_buffer.append(text.toUtf8());
            return;
        }
        QString doubled = text;
        doubled.replace(u'"', QStringLiteral("\"\""));
        m_buffer.append('"').append(doubled.toUtf8()).append('"');
    }

    SaveTarget m_target;
    char m_separator;
    QChar m_decimal;
    bool m_withSection;
    QString m_section;
    QByteArray m_buffer;
};

// ---------------------------------------------------------------- XLSX

// libxlsxwriter writes numbers with the C library's printf, whose decimal
// separator follows LC_NUMERIC, which Qt sets from the user's locale (a
// comma in Russian settings would corrupt the workbook). Its calls run with
// the "C" numeric rules on this thread: the locale is made once per export,
// and each call only switches to it and back.
class CNumericLocale
{
public:
    CNumericLocale()
    {
        locale_t base = duplocale(uselocale(locale_t(nullptr)));
        m_c = base ? newlocale(LC_NUMERIC_MASK, "C", base) : locale_t(nullptr);
        if (!m_c && base)
            freelocale(base);
        if (!m_c)
            throw ExchangeError(QStringLiteral("Книга Excel не создаётся: нет числовых правил \"C\""));
    }
    ~CNumericLocale() { freelocale(m_c); } // the base went into m_c
    CNumericLocale(const CNumericLocale &) = delete;
    CNumericLocale &operator=(const CNumericLocale &) = delete;

    class Use
    {
    public:
        explicit Use(const CNumericLocale &c) : m_previous(uselocale(c.m_c)) {}
        ~Use() { uselocale(m_previous); }
        Use(const Use &) = delete;
        Use &operator=(const Use &) = delete;

    private:
        locale_t m_previous;
    };

private:
    locale_t m_c = nullptr;
};

// The three title lines of the hazard report.
const std::array<QString, 3> &titleLines()
{
    static const std::array<QString, 3> lines{QStringLiteral("Оценка опасности электрокоррозии"),
                                              QStringLiteral("арматуры железобетонных опор контактной сети"),
                                              QStringLiteral("по участку ")};
    return lines;
}

constexpr int kHeadingRow = 5;
constexpr lxw_row_t kMaxSheetRows = 1048576;

// A sheet name Excel takes: none of []:*?/\, no apostrophe at either end, at
// most 31 characters, not "History", unique whatever the letter case.
QString sheetName(const QString &sectionName, qint64 number, QSet<QString> &used)
{
    QString name = sectionName;
    for (QChar &c : name)
        if (QStringView(u"[]:*?/\\").contains(c) || c.category() == QChar::Other_Control)
            c = u'_';
    name = name.trimmed();
    while (name.startsWith(u'\''))
        name.remove(0, 1);
    while (name.endsWith(u'\''))
        name.chop(1);
    if (name.isEmpty())
        name = QStringLiteral("Участок %1").arg(number);
    const auto fit = [](const QString &text, int size) {
        QString cut = text;
        while (cut.toUcs4().size() > size)
            cut.chop(cut.back().isLowSurrogate() ? 2 : 1);
        return cut;
    };
    QString candidate = fit(name, 31);
    for (int k = 2; used.contains(candidate.toLower()); ++k) {
        const QString suffix = QStringLiteral(" (%1)").arg(k);
        candidate = fit(name, 31 - int(suffix.size())) + suffix;
    }
    used.insert(candidate.toLower());
    return candidate;
}

// The length of a number as its display format shows it.
int shownLength(double value, int decimals)
{
    char buffer[400];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return written.ec == std::errc() ? int(written.ptr - buffer) : 24;
}

void appendNumber(QByteArray &out, quint64 n)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(digits, end - digits);
}

// The data rows of a sheet as SpreadsheetML, as libxlsxwriter writes rows in
// its constant-memory mode (inline strings, styles by number, no spans), but
// with every number as the shortest text that reads back to the same double:
// libxlsxwriter's own "%.16G" drops the last digit of many doubles. They go
// to a file of their own as they come, and wait there until the workbook is
// put together.
class SheetRows
{
public:
    explicit SheetRows(const QString &path) : m_file(path)
    {
        if (!m_file.open(QIODevice::WriteOnly))
            fail();
    }

    void beginRow(lxw_row_t row)
    {
        m_row = row;
        m_rowDigits.clear();
        appendNumber(m_rowDigits, quint64(row) + 1);
        m_start = m_xml.size();
        m_cells = 0;
        m_xml.append("<row r=\"").append(m_rowDigits).append("\">");
    }

    // A row without a cell is not written.
    void endRow()
    {
        if (m_cells == 0) {
            m_xml.truncate(m_start);
            return;
        }
        m_xml.append("</row>");
        m_lastRow = m_row;
        if (m_xml.size() >= kFlushSize)
            flush();
    }

    void number(lxw_col_t col, double value, int style)
    {
        cellStart(col, style);
        char text[64];
        char *end = std::to_chars(text, text + sizeof text, value).ptr;
        for (char *p = text; p < end; ++p)
            *p = *p >= 'a' && *p <= 'z' ? char(*p - 'a' + 'A') : *p; // 1E+20, INF, as "%G" writes them
        m_xml.append("><v>").append(text, end - text).append("</v></c>");
    }

    void text(lxw_col_t col, const QString &value, int style)
    {
        const QByteArray utf8 = value.toUtf8();
        cellStart(col, style);
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n'; };
        const bool preserve = !utf8.isEmpty() && (blank(utf8.front()) || blank(utf8.back()));
        m_xml.append(preserve ? " t=\"inlineStr\"><is><t xml:space=\"preserve\">" : " t=\"inlineStr\"><is><t>");
        for (const char c : utf8) {
            if (c == '&') {
                m_xml.append("&amp;");
            } else if (c == '<') {
                m_xml.append("&lt;");
            } else if (c == '>') {
                m_xml.append("&gt;");
            } else if (c >= 0 && c < 0x20 && c != '\t' && c != '\n') {
                // A control character has no place in XML: Excel's escape.
                static const char hex[] = "0123456789ABCDEF";
                const char escaped[] = {'_', 'x', '0', '0', hex[c >> 4], hex[c & 15], '_'};
                m_xml.append(escaped, sizeof escaped);
            } else {
                m_xml.append(c);
            }
        }
        m_xml.append("</t></is></c>");
    }

    void blank(lxw_col_t col, int style)
    {
        cellStart(col, style);
        m_xml.append("/>");
    }

    // Writes what is left; the last row written, nullopt when there was none.
    std::optional<lxw_row_t> close()
    {
        flush();
        if (!m_file.flush())
            fail();
        m_file.close();
        return m_lastRow;
    }

    QString path() const { return m_file.fileName(); }

private:
    static constexpr qsizetype kFlushSize = 1 << 20;

    void flush()
    {
        if (m_file.write(m_xml) != m_xml.size())
            fail();
        m_xml.clear();
    }

    [[noreturn]] void fail()
    {
        throw ExchangeError(QStringLiteral("Книга Excel не собрана: %1").arg(m_file.errorString()));
    }

    void cellStart(lxw_col_t col, int style)
    {
        ++m_cells;
        m_xml.append("<c r=\"").append(char('A' + col)).append(m_rowDigits).append('"');
        if (style != 0) {
            m_xml.append(" s=\"");
            appendNumber(m_xml, quint64(style));
            m_xml.append('"');
        }
    }

    QFile m_file;
    QByteArray m_xml;
    QByteArray m_rowDigits;
    lxw_row_t m_row = 0;
    qsizetype m_start = 0;
    int m_cells = 0;
    std::optional<lxw_row_t> m_lastRow;
};

// The file of a sheet's data rows.
struct RowFile
{
    QString path;
    lxw_row_t lastRow = 0;
};

// Puts the data rows into the sheet libxlsxwriter wrote with the title and
// heading rows alone, and widens its dimension to take them in.
QByteArray withRows(const QByteArray &sheet, const QByteArray &rows, lxw_row_t lastRow)
{
    static const QByteArray dimensionStart("<dimension ref=\"");
    const qsizetype end = sheet.indexOf("</sheetData>");
    const qsizetype dimension = sheet.indexOf(dimensionStart);
    const qsizetype dimensionEnd = dimension < 0 ? -1 : sheet.indexOf('"', dimension + dimensionStart.size());
    if (end < 0 || dimensionEnd < 0 || dimensionEnd > end)
        throw ExchangeError(QStringLiteral("Книга Excel не собрана: нет данных листа"));
    QByteArray out;
    out.reserve(sheet.size() + rows.size() + 16);
    out.append(sheet.constData(), dimension);
    out.append(dimensionStart).append("A1:").append(char('A' + kColumnCount - 1));
    appendNumber(out, quint64(lastRow) + 1);
    out.append(sheet.constData() + dimensionEnd, end - dimensionEnd);
    out.append(rows);
    out.append(sheet.constData() + end, sheet.size() - end);
    return out;
}

class XlsxExport : public ExportWriter
{
public:
    XlsxExport(const QString &path, const QString &dateLine) : m_path(path), m_dateLine(dateLine)
    {
        // The workbook goes to a temporary file first; the target is written
        // only once the workbook is complete.
        if (!m_temp.isValid())
            throw ExchangeError(QStringLiteral("Нет места для временных файлов: %1").arg(m_temp.errorString()));
        SaveTarget probe(path); // a target that cannot be written is told before any work
        m_tempFile = m_temp.filePath(QStringLiteral("book.xlsx")).toLocal8Bit();
        m_tempDir = QDir::toNativeSeparators(m_temp.path()).toLocal8Bit();
        const CNumericLocale::Use c(m_locale);
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        options.tmpdir = m_tempDir.data();
        m_book = workbook_new_opt(m_tempFile.constData(), &options);
        if (!m_book)
            throw ExchangeError(QStringLiteral("Книга Excel не создаётся"));
        makeFormats();
    }

    ~XlsxExport() override
    {
        if (m_book) {
            const CNumericLocale::Use c(m_locale);
            workbook_close(m_book);
        }
    }

    void beginSection(const QString &name, qint64 number) override
    {
        const CNumericLocale::Use c(m_locale);
        endSheet();
        m_sheet = workbook_add_worksheet(m_book, sheetName(name, number, m_usedNames).toUtf8().constData());
        if (!m_sheet)
            throw ExchangeError(QStringLiteral("Лист для участка «%1» не создаётся").arg(name));
        ++m_sheets;
        m_rows = std::make_unique<SheetRows>(m_temp.filePath(QStringLiteral("rows%1.xml").arg(m_sheets)));
        m_widths.fill(0);
        const std::array<QString, 3> &title = titleLines();
        for (int i = 0; i < 3; ++i)
            writeString(lxw_row_t(i), 0, i == 2 ? title[size_t(i)] + name : title[size_t(i)], m_bold);
        writeString(3, 0, m_dateLine, nullptr);
        int col = 0;
        for (Column column : gridColumns()) {
            const QString caption = columnCaption(column);
            writeString(kHeadingRow, lxw_col_t(col), caption, m_heading);
            m_widths[size_t(col)] = int(caption.size());
            ++col;
        }
        worksheet_freeze_panes(m_sheet, kHeadingRow + 1, 0);
        // The styles are numbered in the order of their first use, as when
        // libxlsxwriter writes the rows itself.
        lxw_format_get_xf_index(m_bold);
        lxw_format_get_xf_index(m_heading);
        m_row = kHeadingRow + 1;
    }

    void row(const ExportRow &row) override
    {
        if (m_row >= kMaxSheetRows)
            throw ExchangeError(QStringLiteral("На листе Excel не больше %1 строк").arg(kMaxSheetRows));
        const int red = row.overLimit() ? 1 : 0;
        m_rows->beginRow(m_row);
        lxw_col_t col = 0;
        for (Column column : gridColumns()) {
            const Kind k = kind(column);
            if (k == Text) {
                const QString &text = column == Column::Index ? row.index : row.type;
                if (!text.isEmpty()) {
                    m_rows->text(col, text, style(red, k));
                    m_widths[col] = std::max(m_widths[col], int(text.size()));
                } else if (red) {
                    m_rows->blank(col, style(red, k));
                }
            } else if (const std::optional<double> v = row.value(column)) {
                m_rows->number(col, *v, style(red, k));
                const int decimals = k == Chainage ? 3 : k == Whole ? 0 : 1;
                m_widths[col] = std::max(m_widths[col], shownLength(*v, decimals));
            } else if (red) {
                m_rows->blank(col, style(red, k));
            }
            ++col;
        }
        m_rows->endRow();
        ++m_row;
    }

    void finish() override
    {
        {
            const CNumericLocale::Use c(m_locale);
            if (!m_sheet)
                beginSection(QStringLiteral("Участки"), 0);
            endSheet();
            const lxw_error error = workbook_close(m_book);
            m_book = nullptr;
            if (error != LXW_NO_ERROR)
                throw ExchangeError(QStringLiteral("Книга Excel не записана: %1").arg(QString::fromUtf8(lxw_strerror(error))));
        }
        QFile built(QString::fromLocal8Bit(m_tempFile));
        if (!built.open(QIODevice::ReadOnly))
            throw ExchangeError(QStringLiteral("Книга Excel не прочитана: %1").arg(built.errorString()));
        QByteArray zip = built.readAll();
        built.close();
        if (!m_rowFiles.isEmpty()) {
            zip = editZip(
                zip, [&](const QString &name) { return rowsOf(name) != nullptr; },
                [&](const QString &name, const QByteArray &xml) -> std::optional<QByteArray> {
                    const RowFile &rows = *rowsOf(name);
                    QFile file(rows.path);
                    if (!file.open(QIODevice::ReadOnly))
                        throw ExchangeError(
                            QStringLiteral("Книга Excel не собрана: %1").arg(file.errorString()));
                    return withRows(xml, file.readAll(), rows.lastRow);
                });
        }
        SaveTarget target(m_path);
        target.write(zip);
        target.commit();
    }

private:
    enum Kind { Whole, Chainage, Value, Text };
    static Kind kind(Column column)
    {
        if (column == Column::Nomeropory)
            return Whole;
        if (column == Column::Kilometr)
            return Chainage;
        return isTextColumn(column) ? Text : Value;
    }

    void makeFormats()
    {
        m_bold = workbook_add_format(m_book);
        format_set_bold(m_bold);
        m_heading = workbook_add_format(m_book);
        format_set_bold(m_heading);
        format_set_bottom(m_heading, LXW_BORDER_THIN);
        for (int red = 0; red < 2; ++red) {
            for (int k = 0; k < 4; ++k) {
                lxw_format *f = workbook_add_format(m_book);
                if (k == Whole)
                    format_set_num_format(f, "0");
                else if (k == Chainage)
                    format_set_num_format(f, "0.000");
                else if (k == Value)
                    format_set_num_format(f, "0.0");
                if (red) {
                    format_set_bold(f);
                    format_set_pattern(f, LXW_PATTERN_SOLID);
                    format_set_bg_color(f, LXW_COLOR_RED);
                }
                m_formats[size_t(red)][size_t(k)] = f;
            }
        }
    }

    // The number of a data cell's style, given by libxlsxwriter at its first use.
    int style(int red, Kind k)
    {
        int &index = m_styles[size_t(red)][size_t(k)];
        if (index < 0)
            index = lxw_format_get_xf_index(m_formats[size_t(red)][size_t(k)]);
        return index;
    }

    void writeString(lxw_row_t row, lxw_col_t col, const QString &text, lxw_format *format)
    {
        worksheet_write_string(m_sheet, row, col, text.toUtf8().constData(), format);
    }

    // Sets the sheet's column widths and closes the file of its data rows.
    void endSheet()
    {
        if (!m_sheet)
            return;
        for (lxw_col_t col = 0; col < lxw_col_t(kColumnCount); ++col)
            worksheet_set_column(m_sheet, col, col, std::min(60, m_widths[col] + 2), nullptr);
        m_sheet = nullptr;
        const std::unique_ptr<SheetRows> rows = std::move(m_rows);
        if (const std::optional<lxw_row_t> last = rows->close())
            m_rowFiles.insert(m_sheets, RowFile{rows->path(), *last});
    }

    // The data rows of a sheet of the archive ("xl/worksheets/sheet3.xml").
    const RowFile *rowsOf(const QString &entry) const
    {
        static const QString prefix = QStringLiteral("xl/worksheets/sheet");
        if (!entry.startsWith(prefix) || !entry.endsWith(QLatin1String(".xml")))
            return nullptr;
        bool ok = false;
        const int index = entry.mid(prefix.size(), entry.size() - prefix.size() - 4).toInt(&ok);
        const auto found = ok ? m_rowFiles.constFind(index) : m_rowFiles.constEnd();
        return found == m_rowFiles.constEnd() ? nullptr : &*found;
    }

    QString m_path;
    QString m_dateLine;
    CNumericLocale m_locale;
    QTemporaryDir m_temp;
    QByteArray m_tempFile;
    QByteArray m_tempDir;
    lxw_workbook *m_book = nullptr;
    lxw_worksheet *m_sheet = nullptr;
    lxw_format *m_bold = nullptr;
    lxw_format *m_heading = nullptr;
    std::array<std::array<lxw_format *, 4>, 2> m_formats{};
    std::array<std::array<int, 4>, 2> m_styles{{{-1, -1, -1, -1}, {-1, -1, -1, -1}}};
    lxw_row_t m_row = 0;
    std::array<int, kColumnCount> m_widths{};
    QSet<QString> m_usedNames{QStringLiteral("history")};
    std::unique_ptr<SheetRows> m_rows; // the data rows of the sheet being written
    int m_sheets = 0;           // the sheets begun so far
    QHash<int, RowFile> m_rowFiles; // by sheet number, from 1
};

} // namespace

std::unique_ptr<ExportWriter> csvWriter(const QString &path, char separator, QChar decimal, bool withSection)
{
    return std::make_unique<CsvExport>(path, separator, decimal, withSection);
}

std::unique_ptr<ExportWriter> xlsxWriter(const QString &path, const QString &dateLine)
{
    return std::make_unique<XlsxExport>(path, dateLine);
}

} // namespace exchange
