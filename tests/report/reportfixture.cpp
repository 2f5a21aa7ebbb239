#include "reportfixture.h"

#include "report/previewwindow.h"
#include "report/pagefile.h"

#include <QtEndian>
#include <bit>

#include "store/tablefile.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QXmlStreamReader>

ReportFixture::ReportFixture()
{
    db = std::make_unique<KorTables>();
    db->open();
    form = std::make_unique<TQRListForm>(*db);
}

ReportFixture::~ReportFixture()
{
    form.reset();
    db.reset();
}

void ReportFixture::addSection(const QString &name)
{
    db->Table2.Append();
    db->Table2Line->SetAsString(name);
    db->Table2.Post();
}

void ReportFixture::addSupports(const std::vector<SupportRow> &rows)
{
    Table &t = db->Table1;
    {
        Table::BulkScope bulk(t);
        auto set = [](Field *f, const std::optional<double> &v) {
            if (v)
                f->SetAsFloat(*v);
        };
        for (const SupportRow &r : rows) {
            t.Append();
            db->Table1Kilometr->SetAsFloat(r.km);
            db->Table1Nomeropory->SetAsInteger(r.number);
            if (!r.index.isEmpty())
                db->Table1Index->SetAsString(r.index);
            if (!r.type.isEmpty())
                db->Table1Tipopory->SetAsString(r.type);
            set(db->Table1R_opory, r.resistance);
            set(db->Table1U_izmer, r.measured);
            set(db->Table1U_ras, r.calculated);
            set(db->Table1I_opory, r.current);
            t.Post();
        }
    }
    t.First();
}

void ReportFixture::addPlainSupports(int n)
{
    std::vector<SupportRow> rows;
    rows.reserve(std::size_t(n));
    for (int i = 1; i <= n; ++i) {
        SupportRow r;
        r.km = 100.0 + i;
        r.number = (i - 1) % 32767 + 1; // support numbers are smallints
        r.type = QStringLiteral("ЖБ");
        r.resistance = 200;
        r.calculated = 1.5;
        r.current = 7.5;
        rows.push_back(r);
    }
    addSupports(rows);
}

PdfPrintSystem::PdfPrintSystem(const QString &p) : path(p), m_previous(report::installPrintSystem(this)) {}

PdfPrintSystem::~PdfPrintSystem()
{
    report::installPrintSystem(m_previous);
}

std::unique_ptr<QPrinter> PdfPrintSystem::createPrinter()
{
    if (noPrinter)
        return nullptr;
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(path);
    return printer;
}

bool PdfPrintSystem::runPrintDialog(QPrinter &printer, int lastPage, QWidget *)
{
    ++dialogCalls;
    dialogLastPage = lastPage;
    dialogRangeShown = printer.printRange();
    if (!dialogAnswer)
        return false;
    if (dialogAnswer->first == 0) {
        printer.setPrintRange(QPrinter::AllPages);
    } else {
        printer.setPrintRange(QPrinter::PageRange);
        printer.setFromTo(dialogAnswer->first, dialogAnswer->second);
    }
    return true;
}

ScriptedFiles::ScriptedFiles() : m_previous(report::installFileDialogs(this)) {}

ScriptedFiles::~ScriptedFiles()
{
    report::installFileDialogs(m_previous);
}

QString ScriptedFiles::saveFileName(QWidget *, const QString &caption, const QString &filters, QString *selected)
{
    captions << caption;
    lastFilters = filters;
    if (selected)
        *selected = saveFilter.isEmpty() ? filters.section(QStringLiteral(";;"), 0, 0) : saveFilter;
    return path;
}

QString ScriptedFiles::openFileName(QWidget *, const QString &caption, const QString &filters)
{
    captions << caption;
    lastFilters = filters;
    return path;
}

QByteArray runTool(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        QTest::qFail(qPrintable(program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(p.readAllStandardError())),
                     __FILE__, __LINE__);
        return {};
    }
    return p.readAllStandardOutput();
}

namespace {

constexpr double kMmPerPoint = 25.4 / 72.0;

} // namespace

int pdfPageCount(const QString &path)
{
    const QString info = QString::fromUtf8(runTool(QStringLiteral("pdfinfo"), {path}));
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^Pages:\\s+(\\d+)"),
                                                         QRegularExpression::MultilineOption)
                                          .match(info);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

std::vector<PdfWord> pdfWords(const QString &path)
{
    std::vector<PdfWord> words;
    QXmlStreamReader xml(runTool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), path, QStringLiteral("-")}));
    int page = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == u"page") {
            ++page;
        } else if (xml.name() == u"word") {
            const auto a = xml.attributes();
            PdfWord w{page,
                      a.value(QStringLiteral("xMin")).toDouble() * kMmPerPoint,
                      a.value(QStringLiteral("yMin")).toDouble() * kMmPerPoint,
                      a.value(QStringLiteral("xMax")).toDouble() * kMmPerPoint,
                      a.value(QStringLiteral("yMax")).toDouble() * kMmPerPoint,
                      xml.readElementText()};
            words.push_back(w);
        }
    }
    return words;
}

std::vector<PdfText> pdfTexts(const QString &path)
{
    std::vector<PdfText> texts;
    const QByteArray out = runTool(QStringLiteral("pdftohtml"),
                               {QStringLiteral("-xml"), QStringLiteral("-i"), QStringLiteral("-stdout"),
                                QStringLiteral("-q"), path});
    QXmlStreamReader xml(out);
    int page = 0;
    double pageHeight = 1;
    double pageHeightMm = 297;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == u"page") {
            ++page;
            pageHeight = xml.attributes().value(QStringLiteral("height")).toDouble();
        } else if (xml.name() == u"text") {
            const double top = xml.attributes().value(QStringLiteral("top")).toDouble() / pageHeight * pageHeightMm;
            bool bold = false;
            QString text;
            int depth = 1;
            while (depth > 0 && !xml.atEnd()) {
                xml.readNext();
                if (xml.isStartElement()) {
                    ++depth;
                    if (xml.name() == u"b")
                        bold = true;
                } else if (xml.isEndElement()) {
                    --depth;
                } else if (xml.isCharacters()) {
                    text += xml.text();
                }
            }
            texts.push_back({page, top, text.trimmed(), bold});
        }
    }
    return texts;
}

std::vector<std::pair<QString, double>> firstColumn(const std::vector<PdfWord> &words, int page)
{
    constexpr double kUnit = 25.4 / 96.0;
    std::vector<std::pair<QString, double>> result;
    static const QRegularExpression number(QStringLiteral("^\\d+$"));
    for (const PdfWord &w : words)
        if (w.page == page && w.xMax < 12.7 + 79 * kUnit && w.yMin > 27.8 && w.yMin < 279 && number.match(w.text).hasMatch())
            result.emplace_back(w.text, w.yMin);
    std::sort(result.begin(), result.end(), [](const auto &a, const auto &b) { return a.second < b.second; });
    return result;
}

bool withPreview(ReportFixture &f, const std::function<void(PreviewWindow &)> &body)
{
    QPointer<PreviewWindow> window;
    auto opened = QObject::connect(f.form->QuickRep1, &QuickRep::previewOpened,
                                   [&](PreviewWindow *w) { window = w; });
    bool ran = false;
    std::function<void()> poll = [&] {
        if (window && window->isFinished()) {
            ran = true;
            body(*window);
            if (window && !window->isClosing())
                window->close();
        } else {
            QTimer::singleShot(2, poll);
        }
    };
    QTimer::singleShot(0, poll);
    f.form->QuickRep1->Preview();
    QObject::disconnect(opened);
    return ran;
}

namespace {

class CollectingSink : public report::PageSink
{
public:
    std::vector<report::ReportPage> pages;
    void pageFinished(report::ReportPage &&page, int) override { pages.push_back(std::move(page)); }
};

} // namespace

std::vector<report::ReportPage> generatePages(QuickRep &report)
{
    CollectingSink sink;
    QuickRep::Hooks hooks;
    hooks.processEvents = false;
    report.generate(sink, hooks);
    return std::move(sink.pages);
}

QByteArray smallestItemsPageFile(quint32 pages, quint32 itemsPerPage)
{
    auto be = [](auto v) {
        QByteArray b(sizeof v, 0);
        qToBigEndian(v, b.data());
        return b;
    };
    QByteArray item = QByteArray(1, char(report::PageItem::Box));
    for (double v : {10.0, 20.0, 30.0, 5.0})
        item += be(std::bit_cast<quint64>(v));
    item += be(quint32(0xff000000));
    const QByteArray page = be(std::bit_cast<quint64>(210.0)) + be(std::bit_cast<quint64>(297.0)) + be(quint32(0))
                            + be(itemsPerPage) + item.repeated(itemsPerPage);
    return report::wrapPayload(be(pages) + page.repeated(pages));
}
