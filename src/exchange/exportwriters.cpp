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
#include <bit>
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

// The shortest text that reads back to the same double, as XML wants a
// number (the point, an exponent with "e").
QByteArray fullDigits(double value)
{
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QByteArray(buffer, qsizetype(written.ptr - buffer));
}

// Whether libxlsxwriter's "%.16G" reads back to the same double.
bool sixteenDigitsSuffice(double value)
{
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 16);
    double back = 0;
    std::from_chars(buffer, written.ptr, back);
    return std::bit_cast<quint64>(back) == std::bit_cast<quint64>(value);
}

// The length of a number as its display format shows it.
int shownLength(double value, int decimals)
{
    char buffer[400];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return written.ec == std::errc() ? int(written.ptr - buffer) : 24;
}

quint64 cellKey(lxw_row_t row, lxw_col_t col)
{
    return quint64(row) << 16 | col;
}

// "AB12" as libxlsxwriter writes a cell's reference.
std::optional<quint64> parseReference(const char *p, const char *end)
{
    quint64 col = 0;
    quint64 row = 0;
    const char *q = p;
    for (; q < end && *q >= 'A' && *q <= 'Z'; ++q)
        col = col * 26 + quint64(*q - 'A' + 1);
    if (q == p)
        return std::nullopt;
    const char *digits = q;
    for (; q < end && *q >= '0' && *q <= '9'; ++q)
        row = row * 10 + quint64(*q - '0');
    if (q == digits || q == end || *q != '"' || col == 0 || row == 0)
        return std::nullopt;
    return cellKey(lxw_row_t(row - 1), lxw_col_t(col - 1));
}

// Writes the full texts of the numbers that need all 17 digits over the
// 16-digit ones in a sheet's XML.
QByteArray restoreDigits(const QByteArray &xml, const QHash<quint64, QByteArray> &fixes)
{
    QByteArray out;
    out.reserve(xml.size() + fixes.size() * 4);
    static const QByteArray cellStart("<c r=\"");
    qsizetype at = 0;
    while (true) {
        const qsizetype cell = xml.indexOf(cellStart, at);
        if (cell < 0)
            break;
        const qsizetype ref = cell + cellStart.size();
        const std::optional<quint64> key = parseReference(xml.constData() + ref, xml.constData() + xml.size());
        const auto fix = key ? fixes.constFind(*key) : fixes.constEnd();
        if (fix == fixes.constEnd()) {
            out.append(xml.constData() + at, ref - at);
            at = ref;
            continue;
        }
        const qsizetype close = xml.indexOf("</c>", ref);
        const qsizetype v = xml.indexOf("<v>", ref);
        const qsizetype vEnd = v < 0 ? -1 : xml.indexOf("</v>", v);
        if (close < 0 || v < 0 || vEnd < 0 || v > close)
            throw ExchangeError(QStringLiteral("Книга Excel не собрана: ячейка числа не найдена"));
        out.append(xml.constData() + at, v + 3 - at);
        out.append(*fix);
        at = vEnd;
    }
    out.append(xml.constData() + at, xml.size() - at);
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
        m_fixes.emplace_back();
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
        m_row = kHeadingRow + 1;
    }

    void row(const ExportRow &row) override
    {
        if (m_row >= kMaxSheetRows)
            throw ExchangeError(QStringLiteral("На листе Excel не больше %1 строк").arg(kMaxSheetRows));
        const CNumericLocale::Use c(m_locale);
        const bool red = row.overLimit();
        lxw_col_t col = 0;
        for (Column column : gridColumns()) {
            lxw_format *format = m_formats[red ? 1 : 0][size_t(kind(column))];
            if (isTextColumn(column)) {
                const QString &text = column == Column::Index ? row.index : row.type;
                if (!text.isEmpty()) {
                    writeString(m_row, col, text, format);
                    m_widths[col] = std::max(m_widths[col], int(text.size()));
                } else if (red) {
                    worksheet_write_blank(m_sheet, m_row, col, format);
                }
            } else if (const std::optional<double> v = row.value(column)) {
                worksheet_write_number(m_sheet, m_row, col, *v, format);
                if (!sixteenDigitsSuffice(*v))
                    m_fixes.back().insert(cellKey(m_row, col), fullDigits(*v));
                const int decimals = column == Column::Kilometr ? 3 : column == Column::Nomeropory ? 0 : 1;
                m_widths[col] = std::max(m_widths[col], shownLength(*v, decimals));
            } else if (red) {
                worksheet_write_blank(m_sheet, m_row, col, format);
            }
            ++col;
        }
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
        const bool anyFix = std::any_of(m_fixes.begin(), m_fixes.end(), [](const auto &f) { return !f.isEmpty(); });
        if (anyFix) {
            zip = editZip(
                zip,
                [&](const QString &name) { return fixesOf(name) != nullptr; },
                [&](const QString &name, const QByteArray &xml) -> std::optional<QByteArray> {
                    return restoreDigits(xml, *fixesOf(name));
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

    void writeString(lxw_row_t row, lxw_col_t col, const QString &text, lxw_format *format)
    {
        worksheet_write_string(m_sheet, row, col, text.toUtf8().constData(), format);
    }

    void endSheet()
    {
        if (!m_sheet)
            return;
        for (lxw_col_t col = 0; col < lxw_col_t(kColumnCount); ++col)
            worksheet_set_column(m_sheet, col, col, std::min(60, m_widths[col] + 2), nullptr);
        m_sheet = nullptr;
    }

    const QHash<quint64, QByteArray> *fixesOf(const QString &entry) const
    {
        static const QString prefix = QStringLiteral("xl/worksheets/sheet");
        if (!entry.startsWith(prefix) || !entry.endsWith(QLatin1String(".xml")))
            return nullptr;
        bool ok = false;
        const int index = entry.mid(prefix.size(), entry.size() - prefix.size() - 4).toInt(&ok) - 1;
        if (!ok || index < 0 || size_t(index) >= m_fixes.size() || m_fixes[size_t(index)].isEmpty())
            return nullptr;
        return &m_fixes[size_t(index)];
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
    lxw_row_t m_row = 0;
    std::array<int, kColumnCount> m_widths{};
    QSet<QString> m_usedNames{QStringLiteral("history")};
    std::vector<QHash<quint64, QByteArray>> m_fixes; // per sheet, in order
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
