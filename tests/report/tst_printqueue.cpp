// The hazard report printed the way a user prints it: the preview's "Print"
// and "Printer setup" on Qt's CUPS printer and the system's print dialog,
// driven with keys and the mouse, against a print system of the test's own
// whose printer keeps every job it is sent. Also the "Printing progress"
// window and its "Cancel", loaded page files, and no print queue at all.
#include "reportfixture.h"
#include "support/privatecups.h"
#include "support/scripteddialogs.h"

#include "data/regionalsettings.h"
#include "report/previewwindow.h"
#include "report/printprogress.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPrintDialog>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

namespace {

using Job = PrivateCups::Job;

// n Supports numbered 1..n; every seventh is over the leakage limit.
void addSupports(ReportFixture &f, int n)
{
    std::vector<SupportRow> rows;
    for (int i = 1; i <= n; ++i) {
        SupportRow r;
        r.km = 100.0 + i;
        r.number = i;
        r.type = QStringLiteral("ЖБ");
        r.resistance = 200;
        r.calculated = 1.5;
        r.current = i % 7 == 0 ? 41.0 : 7.5;
        rows.push_back(r);
    }
    f.addSupports(rows);
}

// The first row's support number of every page of a printed document.
QStringList firstNumbers(const QString &pdf)
{
    const auto words = pdfWords(pdf);
    QStringList firsts;
    for (int page = 1; page <= pdfPageCount(pdf); ++page) {
        const auto column = firstColumn(words, page);
        firsts << (column.empty() ? QString() : column.front().first);
    }
    return firsts;
}

QPushButton *buttonNamed(QWidget &parent, const QString &text)
{
    for (QPushButton *b : parent.findChildren<QPushButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
}

// Types a number into a spin box as a user does: select what is there, type.
void typeInto(QSpinBox *box, int value)
{
    QTest::mouseClick(box, Qt::LeftButton);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, QString::number(value));
}

// Answers the next print dialog once it is the active modal window: runs the
// steps on it, then confirms it with its "Print" button or closes it with
// Esc. A failed step closes it as well, so nothing waits for a user.
void answerPrintDialog(std::function<void(QPrintDialog &)> steps, bool confirm)
{
    auto tries = std::make_shared<int>(0);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [=] {
        auto *dialog = qobject_cast<QPrintDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            if (++*tries < 2000)
                QTimer::singleShot(5, *poll);
            return;
        }
        *poll = nullptr; // ends the cycle of the lambda holding itself
        steps(*dialog);
        if (!QTest::currentTestFailed() && confirm)
            QTest::mouseClick(buttonNamed(*dialog, QStringLiteral("&Print")), Qt::LeftButton);
        else
            QTest::keyClick(dialog, Qt::Key_Escape);
        if (dialog->isVisible())
            dialog->reject();
    };
    QTimer::singleShot(0, *poll);
}

} // namespace

class TestPrintQueue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void printsTheWholeReport();
    void printerSetup_data();
    void printerSetup();
    void progressAndCancel_data();
    void progressAndCancel();
    void loadedPagesPrintAsTheyAre();
    void noPrintQueue_data();
    void noPrintQueue();

private:
    // The jobs the printer received since the count given, once there is
    // one (or the time is up).
    QList<Job> jobsSince(int before) const { return m_cups.waitForJobs(before + 1).mid(before); }
    // The private scheduler with its two queues, whatever a test did to them.
    QString restorePrintSystem();

    PrivateCups m_cups;
    QTemporaryDir m_dir;
};

QString TestPrintQueue::restorePrintSystem()
{
    QString complaint = m_cups.start();
    if (complaint.isEmpty())
        complaint = m_cups.addQueue(QStringLiteral("korozia"));
    if (complaint.isEmpty())
        complaint = m_cups.addQueue(QStringLiteral("other"), false);
    return complaint;
}

void TestPrintQueue::initTestCase()
{
    const QString complaint = restorePrintSystem();
    QVERIFY2(complaint.isEmpty(), qPrintable(complaint + u'\n' + m_cups.logTail()));
    QVERIFY(m_dir.isValid());
    // For looking at what the printer got: REPORT_KEEP_PDF=1 keeps the jobs.
    if (qEnvironmentVariableIsSet("REPORT_KEEP_PDF")) {
        m_cups.keepFolder();
        qInfo("print jobs in %s/out", qPrintable(m_cups.folder()));
    }
}

void TestPrintQueue::init()
{
    RegionalSettings::instance().setDecimalSeparator(u',');
    RegionalSettings::instance().setShortDateFormat(QStringLiteral("dd.MM.yyyy"));
    report::setReportToday(QDate(2024, 3, 5));
}

void TestPrintQueue::cleanup()
{
    const QString complaint = restorePrintSystem();
    QVERIFY2(complaint.isEmpty(), qPrintable(complaint));
}

void TestPrintQueue::printsTheWholeReport()
{
    ReportFixture f;
    f.addSection(QStringLiteral("Москва-Тверь"));
    f.form->QRLabel8->SetCaption(reportTitle(QStringLiteral("Москва-Тверь")));
    addSupports(f, 100);
    const int before = int(m_cups.printedJobs().size());
    QVERIFY(withPreview(f, [&](PreviewWindow &w) { w.Print->trigger(); }));
    const QList<Job> jobs = jobsSince(before);
    QCOMPARE(jobs.size(), 1);
    const Job &job = jobs[0];
    QCOMPARE(job.copies, 1);
    QCOMPARE(job.title, QString()); // the job has no document name
    QVERIFY2(job.options.contains(QStringLiteral("media=A4")), qPrintable(job.options));

    // All three pages, A4, every font in the document for the printer.
    QCOMPARE(pdfPageCount(job.document), 3);
    const QString info = QString::fromUtf8(runTool(QStringLiteral("pdfinfo"), {job.document}));
    QVERIFY2(QRegularExpression(QStringLiteral("Page size:\\s+595(\\.\\d+)? x (842|841\\.\\d+) pts")).match(info).hasMatch(),
             qPrintable(info));
    const QStringList fonts =
        QString::fromUtf8(runTool(QStringLiteral("pdffonts"), {job.document})).split(u'\n', Qt::SkipEmptyParts).mid(2);
    QVERIFY(!fonts.isEmpty());
    for (const QString &font : fonts) // the column "emb"
        QVERIFY2(font.section(QRegularExpression(QStringLiteral("\\s+")), -5, -5) == u"yes", qPrintable(font));

    // The title, the rows and the page numbers.
    const auto words = pdfWords(job.document);
    QStringList page1;
    for (const PdfWord &w : words)
        if (w.page == 1 && w.yMin < 40)
            page1 << w.text;
    QCOMPARE(page1.join(u' '), QString("Отчет от 05.03.2024 Оценка опасности электрокоррозии арматуры "
                                       "железобетонных опор контактной сети по участку Москва-Тверь"));
    QCOMPARE(firstNumbers(job.document), QStringList({"1", "43", "90"}));
    QCOMPARE(int(firstColumn(words, 2).size()), 47);
    for (int page = 1; page <= 3; ++page) {
        QStringList footer;
        for (const PdfWord &w : words)
            if (w.page == page && w.yMin > 279)
                footer << w.text;
        QCOMPARE(footer, QStringList{QString::number(page)});
    }
    // Over-limit rows bold, the others regular (page 1's rows).
    const auto texts = pdfTexts(job.document);
    for (int i = 0; i < 42; ++i) {
        const double top = 53.5 + 5.29 * i;
        int seen = 0;
        for (const PdfText &t : texts) {
            if (t.page != 1 || t.top < top || t.top > top + 5.0)
                continue;
            ++seen;
            QVERIFY2(t.bold == ((i + 1) % 7 == 0), qPrintable(QStringLiteral("row %1: %2").arg(i + 1).arg(t.text)));
        }
        QVERIFY(seen > 0);
    }
}

void TestPrintQueue::printerSetup_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<int>("from"); // 0: the range is left alone
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("copies");
    QTest::addColumn<bool>("choices"); // Collate off, Reverse on, odd pages only
    QTest::addColumn<QString>("printer"); // empty: the one the dialog offers
    QTest::addColumn<QStringList>("printed"); // the first row of each printed page
    QTest::addColumn<int>("jobCopies");
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QStringList>("options"); // of the job; "-x": x is not one
    const QStringList all{"1", "43", "90"};
    const QStringList plain{"-Collate", "-page-set=odd"};
    QTest::newRow("pages 2 to 3") << true << 2 << 3 << 1 << false << "" << QStringList{"43", "90"} << 1 << "korozia"
                                  << plain;
    QTest::newRow("two copies") << true << 0 << 0 << 2 << false << "" << all << 2 << "korozia"
                                << QStringList{"Collate", "-page-set=odd"};
    QTest::newRow("two copies, other choices") << true << 0 << 0 << 2 << true << "" << QStringList{"90", "43", "1"}
                                               << 2 << "korozia" << QStringList{"-Collate", "page-set=odd"};
    QTest::newRow("other printer") << true << 0 << 0 << 1 << false << "other" << all << 1 << "other" << plain;
    QTest::newRow("cancelled") << false << 3 << 3 << 3 << true << "other" << all << 1 << "korozia" << plain;
}

void TestPrintQueue::printerSetup()
{
    QFETCH(bool, confirm);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, copies);
    QFETCH(bool, choices);
    QFETCH(QString, printer);
    QFETCH(QStringList, printed);
    QFETCH(int, jobCopies);
    QFETCH(QString, queue);
    QFETCH(QStringList, options);
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    addSupports(f, 100);
    const int before = int(m_cups.printedJobs().size());
    bool offered = false;
    QVERIFY(withPreview(f, [&](PreviewWindow &w) {
        answerPrintDialog(
            [&](QPrintDialog &d) {
                auto *printers = d.findChild<QComboBox *>(QStringLiteral("printers"));
                QVERIFY(printers);
                QCOMPARE(printers->currentText(), QString("korozia")); // the default queue
                QCOMPARE(printers->findText(QStringLiteral("Print to File (PDF)")), -1);
                QTest::mouseClick(buttonNamed(d, QStringLiteral("&Options >>")), Qt::LeftButton);
                auto *tabs = d.findChild<QTabWidget *>(QStringLiteral("tabs"));
                QVERIFY(tabs && tabs->isVisible());
                const int copiesTab = tabs->indexOf(d.findChild<QWidget *>(QStringLiteral("copiesTab")));
                QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(copiesTab).center());
                auto *range = d.findChild<QRadioButton *>(QStringLiteral("printRange"));
                auto *fromBox = d.findChild<QSpinBox *>(QStringLiteral("from"));
                auto *toBox = d.findChild<QSpinBox *>(QStringLiteral("to"));
                auto *copiesBox = d.findChild<QSpinBox *>(QStringLiteral("copies"));
                QVERIFY(range && fromBox && toBox && copiesBox && range->isVisible());
                // All pages to begin with; the range offered is 1 to the last page.
                QVERIFY(d.findChild<QRadioButton *>(QStringLiteral("printAll"))->isChecked());
                QVERIFY(!d.findChild<QRadioButton *>(QStringLiteral("printSelection"))->isVisible());
                QCOMPARE(fromBox->minimum(), 1);
                QCOMPARE(toBox->maximum(), 3);
                QCOMPARE(fromBox->value(), 1);
                QCOMPARE(toBox->value(), 3);
                offered = true;
                if (!printer.isEmpty()) {
                    QTest::mouseClick(printers, Qt::LeftButton); // opens the list
                    QTest::keyClick(printers->view(), Qt::Key_End);
                    QTest::keyClick(printers->view(), Qt::Key_Return);
                    QCOMPARE(printers->currentText(), printer);
                }
                if (from > 0) {
                    QTest::mouseClick(range, Qt::LeftButton, {}, QPoint(4, range->height() / 2));
                    QVERIFY(range->isChecked());
                    typeInto(toBox, to);
                    typeInto(fromBox, from);
                }
                typeInto(copiesBox, copies);
                QCOMPARE(copiesBox->value(), copies);
                if (choices) {
                    auto *collate = d.findChild<QCheckBox *>(QStringLiteral("collate"));
                    auto *reverse = d.findChild<QCheckBox *>(QStringLiteral("reverse"));
                    auto *pageSet = d.findChild<QComboBox *>(QStringLiteral("pageSetCombo"));
                    QVERIFY(collate && collate->isChecked() && reverse && pageSet);
                    QTest::mouseClick(collate, Qt::LeftButton, {}, QPoint(4, collate->height() / 2));
                    QTest::mouseClick(reverse, Qt::LeftButton, {}, QPoint(4, reverse->height() / 2));
                    QTest::mouseClick(pageSet, Qt::LeftButton);
                    QTest::keyClick(pageSet->view(), Qt::Key_Down);
                    QTest::keyClick(pageSet->view(), Qt::Key_Return);
                    QCOMPARE(pageSet->currentText(), QString("Odd Pages"));
                    QVERIFY(!collate->isChecked() && reverse->isChecked());
                }
            },
            confirm);
        w.PrintSetup->trigger();
        w.Print->trigger();
    }));
    QVERIFY(offered);
    const QList<Job> jobs = jobsSince(before);
    QCOMPARE(jobs.size(), 1);
    QCOMPARE(jobs[0].copies, jobCopies);
    QCOMPARE(jobs[0].queue, queue);
    QCOMPARE(firstNumbers(jobs[0].document), printed);
    const QStringList given = jobs[0].options.split(u' ');
    for (const QString &option : options)
        QVERIFY2(option.startsWith(u'-') ? !given.contains(option.mid(1)) : given.contains(option),
                 qPrintable(option + QStringLiteral(" in ") + jobs[0].options));
}

void TestPrintQueue::progressAndCancel_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("to the end") << false;
    QTest::newRow("Cancel") << true;
}

void TestPrintQueue::progressAndCancel()
{
    QFETCH(bool, cancel);
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    addSupports(f, 400);
    const int before = int(m_cups.printedJobs().size());
    const int jobsKnown = int(m_cups.allJobs().size());
    QList<int> bar;
    QStringList lines;
    QString caption;
    bool onTop = false;
    QVERIFY(withPreview(f, [&](PreviewWindow &w) {
        // Watches the window from the moment it appears.
        auto watch = std::make_shared<std::function<void()>>();
        *watch = [&, watch] {
            for (QWidget *top : QApplication::topLevelWidgets()) {
                auto *progress = qobject_cast<PrintProgressDialog *>(top);
                if (!progress || !progress->isVisible())
                    continue;
                caption = progress->windowTitle();
                onTop = progress->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
                connect(progress->bar(), &QProgressBar::valueChanged, progress, [&, progress](int value) {
                    bar << value;
                    lines << progress->line()->text();
                    if (cancel && value == 20)
                        QTimer::singleShot(0, progress, [progress] {
                            QTest::mouseClick(progress->cancelButton(), Qt::LeftButton);
                        });
                });
                *watch = nullptr;
                return;
            }
            QTimer::singleShot(0, *watch);
        };
        QTimer::singleShot(0, *watch);
        w.Print->trigger();
        QVERIFY(w.Print->isEnabled());
    }));
    QCOMPARE(caption, QString("Printing progress"));
    QVERIFY(onTop);
    QList<int> steps;
    QStringList texts;
    for (int p = 5; p <= (cancel ? 20 : 100); p += 5) {
        steps << p;
        texts << QStringLiteral("%1%  Completed").arg(p);
    }
    QCOMPARE(bar, steps);
    QCOMPARE(lines, texts);
    if (cancel) {
        // Stopped at the next row, and nothing reached the print system.
        QVERIFY2(f.db->Table1.RecNo() < 100, qPrintable(QString::number(f.db->Table1.RecNo())));
        QCOMPARE(m_cups.allJobs().size(), jobsKnown);
        QCOMPARE(m_cups.printedJobs().size(), before);
    } else {
        const QList<Job> jobs = jobsSince(before);
        QCOMPARE(jobs.size(), 1);
        QCOMPARE(pdfPageCount(jobs[0].document), 9);
    }
}

void TestPrintQueue::loadedPagesPrintAsTheyAre()
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    addSupports(f, 100);
    // The range in force when the preview's report is made: pages 2 to 3.
    PrintSettings &settings = f.form->QuickRep1->printSettings();
    settings.allPages = false;
    settings.fromPage = 2;
    settings.toPage = 3;
    ScriptedFiles files;
    files.path = m_dir.filePath(QStringLiteral("pages.krp"));
    const int before = int(m_cups.printedJobs().size());
    QVERIFY(withPreview(f, [&](PreviewWindow &w) {
        w.SaveReport->trigger();
        // The data changes and the range is widened after the pages were made.
        Table &t = f.db->Table1;
        t.SetRecNo(43);
        t.Edit();
        f.db->Table1Nomeropory->SetAsInteger(777);
        t.Post();
        settings.allPages = true;
        w.LoadReport->trigger();
        QVERIFY(w.isLoaded());
        w.Print->trigger();
    }));
    const QList<Job> jobs = jobsSince(before);
    QCOMPARE(jobs.size(), 1);
    QCOMPARE(firstNumbers(jobs[0].document), QStringList({"43", "90"}));
}

void TestPrintQueue::noPrintQueue_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("message"); // how both boxes begin
    QTest::newRow("no queue") << "no queue" << "No printer is installed";
    QTest::newRow("no print system") << "stopped" << "No printer is installed";
    QTest::newRow("chosen printer gone") << "gone" << "The printer \"other\" chosen in the printer setup";
}

void TestPrintQueue::noPrintQueue()
{
    QFETCH(QString, state);
    QFETCH(QString, message);
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    addSupports(f, 10);
    if (state == u"stopped") {
        m_cups.stop();
    } else {
        QCOMPARE(m_cups.removeQueue(QStringLiteral("other")), QString());
        if (state == u"no queue")
            QCOMPARE(m_cups.removeQueue(QStringLiteral("korozia")), QString());
        else
            f.form->QuickRep1->printSettings().printerName = QStringLiteral("other");
    }
    const int before = int(m_cups.printedJobs().size());
    ScriptedDialogs dialogs;
    QElapsedTimer clock;
    QVERIFY(withPreview(f, [&](PreviewWindow &w) {
        clock.start();
        dialogs.answer(toolkit::BoxButton::Ok);
        w.Print->trigger();
        if (state != u"gone") {
            dialogs.answer(toolkit::BoxButton::Ok);
            w.PrintSetup->trigger();
        }
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(w.Print->isEnabled());
    }));
    QCOMPARE(dialogs.boxes().size(), state == u"gone" ? 1 : 2);
    for (const toolkit::BoxDescription &box : dialogs.boxes()) {
        QCOMPARE(box.icon, toolkit::BoxIcon::Error);
        QVERIFY2(box.text.startsWith(message), qPrintable(box.text));
    }
    QCOMPARE(m_cups.printedJobs().size(), before);
}

QTEST_MAIN(TestPrintQueue)
#include "tst_printqueue.moc"
