// The hazard report printed to PDF and read back with the poppler tools: page
// counts, where the rows, the footer and the first column's texts stand, the
// title, date and page numbers, the number texts, the bold rule, the empty
// view, the leakage filter, the print range and the printer's failures.
#include "reportfixture.h"
#include "support/scripteddialogs.h"

#include "data/regionalsettings.h"
#include "report/bandengine.h"
#include "report/printprogress.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace {

constexpr double kUnit = 25.4 / 96.0;

QString nextPdf(QTemporaryDir &dir)
{
    static int n = 0;
    return dir.filePath(QStringLiteral("report%1.pdf").arg(++n));
}

std::vector<PdfWord> wordsOn(const std::vector<PdfWord> &words, int page)
{
    std::vector<PdfWord> result;
    for (const PdfWord &w : words)
        if (w.page == page)
            result.push_back(w);
    return result;
}

const PdfWord *findWord(const std::vector<PdfWord> &words, int page, const QString &text)
{
    for (const PdfWord &w : words)
        if (w.page == page && w.text == text)
            return &w;
    return nullptr;
}

} // namespace

class TestReportPdf : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void pageCounts_data();
    void pageCounts();
    void rowPositions();
    void titleDateAndPageNumbers();
    void numberTexts();
    void boldRule();
    void emptyView();
    void filterOn();
    void firstColumnDesignation();
    void printRange_data();
    void printRange();
    void printerSetupCancelledChangesNothing();
    void noPrinter();
    void cancelAbandonsTheJob();
    void cursorLeftOnLastSupport();

private:
    QTemporaryDir m_dir;
};

void TestReportPdf::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // For looking at the pages by eye: REPORT_KEEP_PDF=1 keeps the files.
    if (qEnvironmentVariableIsSet("REPORT_KEEP_PDF")) {
        m_dir.setAutoRemove(false);
        qInfo("PDF files in %s", qPrintable(m_dir.path()));
    }
}

void TestReportPdf::init()
{
    RegionalSettings::instance().setDecimalSeparator(u',');
    RegionalSettings::instance().setShortDateFormat(QStringLiteral("dd.MM.yyyy"));
    report::setReportToday(QDate(2024, 3, 5));
}

void TestReportPdf::pageCounts_data()
{
    QTest::addColumn<int>("supports");
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("rowsOnLastPage");
    QTest::newRow("none") << 0 << 1 << 0;
    QTest::newRow("42 fill page 1") << 42 << 1 << 42;
    QTest::newRow("43 spill one row") << 43 << 2 << 1;
    QTest::newRow("89 fill page 2") << 89 << 2 << 47;
    QTest::newRow("90 need page 3") << 90 << 3 << 1;
}

void TestReportPdf::pageCounts()
{
    QFETCH(int, supports);
    QFETCH(int, pages);
    QFETCH(int, rowsOnLastPage);
    ReportFixture f;
    f.addSection(QStringLiteral("Участок"));
    f.addPlainSupports(supports);
    const QString pdf = nextPdf(m_dir);
    PdfPrintSystem printers(pdf);
    QVERIFY(f.form->QuickRep1->Print(nullptr));
    QCOMPARE(pdfPageCount(pdf), pages);

    const auto words = pdfWords(pdf);
    QCOMPARE(int(firstColumn(words, pages).size()), rowsOnLastPage);
    // Every page carries the date and its page number in the footer.
    for (int p = 1; p <= pages; ++p) {
        QVERIFY2(findWord(words, p, QStringLiteral("05.03.2024")), qPrintable(QString::number(p)));
        bool footer = false;
        for (const PdfWord &w : wordsOn(words, p))
            footer |= w.text == QString::number(p) && w.yMin > 279.0;
        QVERIFY2(footer, qPrintable(QString::number(p)));
    }
    // The column header is repeated on every later page.
    if (pages > 1)
        QVERIFY(findWord(words, pages, QStringLiteral("Пикетаж")));
}

void TestReportPdf::rowPositions()
{
    ReportFixture f;
    f.addSection(QStringLiteral("Пятьдесят опор"));
    f.form->QRLabel8->SetCaption(reportTitle(f.db->Table2Line->AsString()));
    f.addPlainSupports(50);
    const QString pdf = nextPdf(m_dir);
    PdfPrintSystem printers(pdf);
    QVERIFY(f.form->QuickRep1->Print(nullptr));
    const auto words = pdfWords(pdf);

    // The data texts stand 2 units below their row's top edge.
    const double textOffset = 2 * kUnit;
    const auto page1 = firstColumn(words, 1);
    QCOMPARE(int(page1.size()), 42);
    QCOMPARE(page1.front().first, QString("1"));
    QVERIFY2(std::abs(page1.front().second - textOffset - 53.5) <= 0.2, qPrintable(QString::number(page1.front().second)));
    // Rows follow each other 5.3 mm apart.
    QVERIFY(std::abs(page1.back().second - textOffset - (53.5 + 41 * 5.3)) <= 0.2);

    const auto page2 = firstColumn(words, 2);
    QCOMPARE(int(page2.size()), 8);
    QCOMPARE(page2.front().first, QString("43"));
    QVERIFY2(std::abs(page2.front().second - textOffset - 27.8) <= 0.2, qPrintable(QString::number(page2.front().second)));

    // The footer's top edge at 279.0 mm on both pages, its text 1 unit below.
    for (int p = 1; p <= 2; ++p) {
        const PdfWord *number = nullptr;
        for (const PdfWord &w : words)
            if (w.page == p && w.text == QString::number(p) && w.yMin > 270 && w.xMin > 12.7 + 300 * kUnit)
                number = &w;
        QVERIFY(number);
        QVERIFY2(std::abs(number->yMin - kUnit - 279.0) <= 0.2, qPrintable(QString::number(number->yMin)));
        QVERIFY(std::abs(number->xMin - (12.7 + 328 * kUnit)) <= 0.3);
    }
}

void TestReportPdf::titleDateAndPageNumbers()
{
    ReportFixture f;
    f.addSection(QStringLiteral("Москва-Тверь"));
    f.addPlainSupports(3);
    f.form->QRLabel8->SetCaption(reportTitle(f.db->Table2Line->AsString()));
    const QString pdf = nextPdf(m_dir);
    PdfPrintSystem printers(pdf);
    QVERIFY(f.form->QuickRep1->Print(nullptr));
    const auto words = pdfWords(pdf);

    QStringList page1;
    for (const PdfWord &w : words)
        page1 << w.text;
    const QString all = page1.join(u' ');
    QVERIFY2(all.startsWith(QStringLiteral("Отчет от 05.03.2024 Оценка опасности электрокоррозии арматуры "
                                           "железобетонных опор контактной сети по участку Москва-Тверь")),
             qPrintable(all));
    // The date's right edge at 693 units; the title centred on the band.
    const PdfWord *date = findWord(words, 1, QStringLiteral("05.03.2024"));
    QVERIFY(date);
    QVERIFY2(std::abs(date->xMax - (12.7 + 693 * kUnit)) <= 0.3, qPrintable(QString::number(date->xMax)));
    QVERIFY(std::abs(date->yMin - (12.7 + 8 * kUnit)) <= 0.2);
    const PdfWord *first = findWord(words, 1, QStringLiteral("Оценка"));
    const PdfWord *last = findWord(words, 1, QStringLiteral("электрокоррозии"));
    QVERIFY(first && last);
    QVERIFY2(std::abs((first->xMin + last->xMax) / 2 - 105.0) <= 0.5,
             qPrintable(QString::number((first->xMin + last->xMax) / 2)));
    QVERIFY(std::abs(first->yMin - (21.4 + 12 * kUnit)) <= 0.2);

    // Another date format and another day.
    RegionalSettings::instance().setShortDateFormat(QStringLiteral("d/M/yy"));
    report::setReportToday(QDate(2025, 12, 31));
    const QString pdf2 = nextPdf(m_dir);
    printers.path = pdf2;
    QVERIFY(f.form->QuickRep1->Print(nullptr));
    QVERIFY(findWord(pdfWords(pdf2), 1, QStringLiteral("31/12/25")));
}

void TestReportPdf::numberTexts()
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    SupportRow r;
    r.km = 12.5;
    r.number = 7;
    r.type = QStringLiteral("ЖБК");
    r.resistance = 1234.5;
    r.calculated = -3.25;
    r.current = 0.15;
    f.addSupports({r});
    const QString pdf = nextPdf(m_dir);
    PdfPrintSystem printers(pdf);
    QVERIFY(f.form->QuickRep1->Print(nullptr));

    // The words of the only row, left to right; U измереное is blank.
    std::vector<PdfWord> row;
    for (const PdfWord &w : pdfWords(pdf))
        if (w.yMin > 53.5 && w.yMin < 58.8)
            row.push_back(w);
    std::sort(row.begin(), row.end(), [](const PdfWord &a, const PdfWord &b) { return a.xMin < b.xMin; });
    QStringList texts;
    for (const PdfWord &w : row)
        texts << w.text;
    QCOMPARE(texts, QStringList({"7", "ЖБК", "12,500", "-", "3,3", "1", "234,5", "0,1"}));
    // Nothing in the column of the measured potential (302..401 units).
    for (const PdfWord &w : row)
        QVERIFY(w.xMax < 12.7 + 302 * kUnit || w.xMin > 12.7 + 401 * kUnit);
    // Right-aligned numbers end 2 units before their box's right edge.
    QVERIFY(std::abs(row[2].xMax - (12.7 + 300 * kUnit)) <= 0.3);
    QVERIFY(std::abs(row.back().xMax - (12.7 + 696 * kUnit)) <= 0.3);
}

void TestReportPdf::boldRule()
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    const std::vector<std::optional<double>> currents = {40.0, 40.001, 40.05, 40.5, std::nullopt, 12.0, 55.0};
    const std::vector<bool> bold = {false, true, true, true, false, false, true};
    std::vector<SupportRow> rows;
    for (std::size_t i = 0; i < currents.size(); ++i) {
        SupportRow r;
        r.km = double(i);
        r.number = int(i) + 1;
        r.index = QStringLiteral("б");
        r.type = QStringLiteral("ЖБ");
        r.resistance = 200;
        r.measured = 3;
        r.calculated = 8;
        r.current = currents[i];
        rows.push_back(r);
    }
    f.addSupports(rows);
    const QString pdf = nextPdf(m_dir);
    PdfPrintSystem printers(pdf);
    QVERIFY(f.form->QuickRep1->Print(nullptr));

    const auto texts = pdfTexts(pdf);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const double top = 53.5 + 5.3 * double(i);
        int seen = 0;
        for (const PdfText &t : texts) {
            if (t.page != 1 || t.top < top || t.top > top + 5.0)
                continue;
            ++seen;
            QVERIFY2(t.bold == bold[i], qPrintable(QStringLiteral("row %1: \"%2\"").arg(i + 1).arg(t.text)));
        }
        QVERIFY2(seen > 0, qPrintable(QString::number(i + 1)));
    }
    // The displayed current does not decide: 40,001 and 40,05 both show 40,0.
    int shown400 = 0;
    for (const PdfWord &w : pdfWords(pdf))
        shown400 += w.text == QStringLiteral("40,0");
    QCOMPARE(shown400, 3);
    // The title, captions, date and page number are never touched by the rule.
    for (const PdfText &t : texts)
        if (t.text == QStringLiteral("Пикетаж") || t.text.startsWith(QStringLiteral("Отчет")))
            QVERIFY(!t.bold);
}

void TestReportPdf::emptyView()
{
    ReportFixture f;
    f.addSection(QStringLiteral("Пусто"));
    f.form->QRLabel8->SetCaption(reportTitle(f.db->Table2Line->AsString()));
    const QString pdf = nextPdf(m_dir);
    PdfPrintSystem printers(pdf);
    QVERIFY(f.form->QuickRep1->Print(nullptr));
    QCOMPARE(pdfPageCount(pdf), 1);
    QStringList texts;
    for (const PdfWord &w : pdfWords(pdf))
        texts << w.text;
    QCOMPARE(texts.join(u' '), QStringLiteral("Отчет от 05.03.2024 Оценка опасности электрокоррозии арматуры "
                                               "железобетонных опор контактной сети по участку Пусто 1"));

    // One row of seven empty boxes where the column header would stand.
    const auto pages = generatePages(*f.form->QuickRep1);
    QCOMPARE(int(pages.size()), 1);
    std::vector<QRectF> boxes;
    for (const report::PageItem &item : pages[0].items)
        if (item.kind == report::PageItem::Box)
            boxes.push_back(item.rect);
    QCOMPARE(int(boxes.size()), 7);
    for (const QRectF &b : boxes) {
        QVERIFY(std::abs(b.top() - 47.1) < 1e-9);
        QVERIFY(std::abs(b.height() - 20 * kUnit) < 1e-9);
    }
}

void TestReportPdf::filterOn()
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    std::vector<SupportRow> rows;
    for (int i = 0; i < 100; ++i) {
        SupportRow r;
        r.km = i;
        r.number = i + 1;
        r.current = (i % 10 == 3) ? 41.0 + i : 20.0;
        rows.push_back(r);
    }
    f.addSupports(rows);
    f.db->Table1.SetFilter(kLeakageFilter);
    const QString pdf = nextPdf(m_dir);
    PdfPrintSystem printers(pdf);
    QVERIFY(f.form->QuickRep1->Print(nullptr));
    QCOMPARE(pdfPageCount(pdf), 1);
    QStringList numbers;
    for (const auto &[text, top] : firstColumn(pdfWords(pdf), 1))
        numbers << text;
    QCOMPARE(numbers, QStringList({"4", "14", "24", "34", "44", "54", "64", "74", "84", "94"}));
    int rowTexts = 0;
    for (const PdfText &t : pdfTexts(pdf))
        if (t.top > 53.5 && t.top < 279.0) {
            ++rowTexts;
            QVERIFY2(t.bold, qPrintable(t.text));
        }
    QCOMPARE(rowTexts, 30); // number, chainage and current of ten rows
}

void TestReportPdf::firstColumnDesignation()
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    SupportRow r;
    r.number = 12;
    r.index = QStringLiteral("а");
    f.addSupports({r});
    const auto pages = generatePages(*f.form->QuickRep1);
    const report::PageItem *number = nullptr;
    const report::PageItem *letter = nullptr;
    for (const report::PageItem &item : pages[0].items) {
        if (item.kind != report::PageItem::Text)
            continue;
        if (item.text == QStringLiteral("12"))
            number = &item;
        if (item.text == QStringLiteral("а"))
            letter = &item;
    }
    QVERIFY(number && letter);
    QVERIFY(number->alignment & Qt::AlignRight);
    QVERIFY(std::abs(number->rect.right() - (12.7 + 78 * kUnit)) < 1e-9);
    QVERIFY(letter->alignment & Qt::AlignLeft);
    QVERIFY(std::abs(letter->rect.left() - (12.7 + 80 * kUnit)) < 1e-9);

    const QString pdf = nextPdf(m_dir);
    PdfPrintSystem printers(pdf);
    QVERIFY(f.form->QuickRep1->Print(nullptr));
    // In the PDF the number ends at 78 units and the letter starts at 80, on one line.
    const auto words = pdfWords(pdf);
    const PdfWord *n = findWord(words, 1, QStringLiteral("12"));
    const PdfWord *l = findWord(words, 1, QStringLiteral("а"));
    QVERIFY(n && l);
    QVERIFY2(std::abs(n->xMax - (12.7 + 78 * kUnit)) <= 0.2, qPrintable(QString::number(n->xMax)));
    QVERIFY2(std::abs(l->xMin - (12.7 + 80 * kUnit)) <= 0.2, qPrintable(QString::number(l->xMin)));
    QVERIFY(std::abs(n->yMin - l->yMin) < 0.01);
}

void TestReportPdf::printRange_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QStringList>("firstNumbers"); // the first row of each printed page
    QTest::newRow("all pages") << 0 << 0 << QStringList{"1", "43", "90"};
    QTest::newRow("page 1") << 1 << 1 << QStringList{"1"};
    QTest::newRow("pages 2-3") << 2 << 3 << QStringList{"43", "90"};
    QTest::newRow("page 3") << 3 << 3 << QStringList{"90"};
}

void TestReportPdf::printRange()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QStringList, firstNumbers);
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(100);
    QuickRep &rep = *f.form->QuickRep1;
    QVERIFY(rep.printSettings().allPages); // the range starts as every page
    const QString pdf = nextPdf(m_dir);
    PdfPrintSystem printers(pdf);
    printers.dialogAnswer = std::make_pair(from, to);
    QVERIFY(rep.PrinterSetup(3, nullptr));
    QCOMPARE(printers.dialogLastPage, 3);
    QCOMPARE(printers.dialogRangeShown, QPrinter::AllPages);
    QCOMPARE(rep.printSettings().allPages, from == 0);

    QVERIFY(rep.Print(nullptr));
    QCOMPARE(pdfPageCount(pdf), int(firstNumbers.size()));
    const auto words = pdfWords(pdf);
    QStringList firsts;
    for (int p = 1; p <= int(firstNumbers.size()); ++p)
        firsts << firstColumn(words, p).front().first;
    QCOMPARE(firsts, firstNumbers);

    // The range stays in force for the next print.
    const QString again = nextPdf(m_dir);
    printers.path = again;
    QVERIFY(rep.Print(nullptr));
    QCOMPARE(pdfPageCount(again), int(firstNumbers.size()));
}

void TestReportPdf::printerSetupCancelledChangesNothing()
{
    ReportFixture f;
    QuickRep &rep = *f.form->QuickRep1;
    PdfPrintSystem printers(nextPdf(m_dir));
    printers.dialogAnswer = std::make_pair(2, 2);
    QVERIFY(rep.PrinterSetup(4, nullptr));
    const PrintSettings before = rep.printSettings();
    printers.dialogAnswer.reset();
    QVERIFY(!rep.PrinterSetup(4, nullptr));
    QCOMPARE(printers.dialogRangeShown, QPrinter::PageRange); // the range in force is offered
    QCOMPARE(rep.printSettings(), before);
    QCOMPARE(printers.dialogCalls, 2);
}

void TestReportPdf::noPrinter()
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(5);
    ScriptedDialogs dialogs;
    const QString pdf = nextPdf(m_dir);
    PdfPrintSystem printers(pdf);
    printers.noPrinter = true;
    dialogs.answer(toolkit::BoxButton::Ok);
    QVERIFY(!f.form->QuickRep1->Print(nullptr));
    dialogs.answer(toolkit::BoxButton::Ok);
    QVERIFY(!f.form->QuickRep1->PrinterSetup(1, nullptr));
    QCOMPARE(dialogs.boxes().size(), 2);
    QCOMPARE(dialogs.boxes()[0].icon, toolkit::BoxIcon::Error);
    QVERIFY2(dialogs.boxes()[0].text.startsWith(QStringLiteral("No printer is installed")),
             qPrintable(dialogs.boxes()[0].text));
    QVERIFY(!QFile::exists(pdf));

    // A printer that cannot be started (a PDF into a folder that does not exist).
    printers.noPrinter = false;
    printers.path = m_dir.filePath(QStringLiteral("no/such/folder/report.pdf"));
    dialogs.answer(toolkit::BoxButton::Ok);
    QVERIFY(!f.form->QuickRep1->Print(nullptr));
    QCOMPARE(dialogs.boxes().size(), 3);
    QVERIFY2(dialogs.boxes()[2].text.startsWith(QStringLiteral("The printer could not be started")),
             qPrintable(dialogs.boxes()[2].text));
    // The cursor did not move through the view for nothing.
}

void TestReportPdf::cancelAbandonsTheJob()
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(300);
    const QString pdf = nextPdf(m_dir);
    PdfPrintSystem printers(pdf);
    QString caption;
    QString line;
    int shownRows = -1;
    // Once the job is under way, the user presses "Cancel".
    std::function<void()> pressCancel = [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *progress = qobject_cast<PrintProgressDialog *>(w);
            if (!progress || !progress->isVisible())
                continue;
            if (progress->bar()->value() < 20) {
                QTimer::singleShot(1, pressCancel);
                return;
            }
            caption = progress->windowTitle();
            line = progress->line()->text();
            shownRows = f.db->Table1.RecNo();
            QTest::mouseClick(progress->cancelButton(), Qt::LeftButton);
            return;
        }
        QTimer::singleShot(1, pressCancel);
    };
    QTimer::singleShot(0, pressCancel);
    QVERIFY(!f.form->QuickRep1->Print(nullptr));
    QCOMPARE(caption, QString("Printing progress"));
    QVERIFY2(line.endsWith(QStringLiteral("%  Completed")), qPrintable(line));
    QCOMPARE(line.section(u'%', 0, 0).toInt() % 5, 0);
    // Generation stopped at the next row; the job is gone.
    QVERIFY(shownRows > 0 && shownRows < 300);
    QCOMPARE(f.db->Table1.RecNo(), shownRows);
    QVERIFY(!QFile::exists(pdf));
    QCOMPARE(PrintProgressDialog::lineText(35), QString("35%  Completed"));
}

void TestReportPdf::cursorLeftOnLastSupport()
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(60);
    f.db->Table1.SetRecNo(10);
    const auto pages = generatePages(*f.form->QuickRep1);
    QCOMPARE(int(pages.size()), 2);
    QCOMPARE(f.db->Table1.RecNo(), 60);
    QCOMPARE(f.db->Table1Nomeropory->AsInteger(), 60);
}

QTEST_MAIN(TestReportPdf)
#include "tst_reportpdf.moc"
