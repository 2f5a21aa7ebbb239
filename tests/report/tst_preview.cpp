// The preview window offscreen, opened by the report as "Печать" opens it:
// its buttons and their states through generation, zoom and resizing, paging
// and its keys, the status bar, save and load of the page file (and PDF),
// refused files, closing during generation, a second "Печать", and the user
// changing the data while pages are made.
#include "reportfixture.h"
#include "support/scripteddialogs.h"

#include "data/regionalsettings.h"
#include "report/pagefile.h"
#include "report/previewwindow.h"
#include "toolkit/application.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <cmath>

namespace {

QSize pagePixels100(const QWidget &w)
{
    return QSize(int(std::lround(210.0 / 25.4 * w.logicalDpiX())), int(std::lround(297.0 / 25.4 * w.logicalDpiY())));
}

QImage picture(const report::ReportPage &page)
{
    QImage image(420, 594, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QPainter p(&image);
    report::renderPage(p, page, 2.0);
    return image;
}

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void windowAndButtons();
    void buttonStatesThroughGeneration();
    void zoomArithmetic_data();
    void zoomArithmetic();
    void zoomLimitsAndScroll();
    void resizing_data();
    void resizing();
    void paging_data();
    void paging();
    void progressPanel_data();
    void progressPanel();
    void saveThenLoad();
    void saveAsPdfAndPrintLoaded();
    void saveWhileGeneratingWritesNothing();
    void refusedFiles_data();
    void refusedFiles();
    void closingStopsGeneration_data();
    void closingStopsGeneration();
    void secondPrintBringsTheOpenPreview();
    void dataChangedWhileGenerating_data();
    void dataChangedWhileGenerating();
    void printFromPreview();
    // Last: once the program is quitting, Qt keeps every later event loop from running.
    void quittingEndsTheCommand();

private:
    QTemporaryDir m_dir;
};

void TestPreview::init()
{
    RegionalSettings::instance().setDecimalSeparator(u',');
    RegionalSettings::instance().setShortDateFormat(QStringLiteral("dd.MM.yyyy"));
    report::setReportToday(QDate(2024, 3, 5));
}

void TestPreview::windowAndButtons()
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(5);
    bool checked = false;
    auto opened = connect(f.form->QuickRep1, &QuickRep::previewOpened, this, [&](PreviewWindow *w) {
        checked = true;
        QCOMPARE(w->windowTitle(), QString("Print Preview"));
        QVERIFY(w->windowState() & Qt::WindowMaximized);
        QStringList names;
        QStringList hints;
        for (QAction *a : w->toolBar()->actions()) {
            names << (a->isSeparator() ? QStringLiteral("|") : a->objectName());
            if (!a->isSeparator())
                hints << (a == w->ExitButton ? a->text() : a->toolTip());
        }
        QCOMPARE(names, QStringList({"ZoomFit", "Zoom100", "ZoomToWidth", "|", "FirstPage", "PreviousPage",
                                     "ToolButton2", "LastPage", "|", "PrintSetup", "Print", "|", "SaveReport",
                                     "LoadReport", "|", "ExitButton"}));
        QCOMPARE(hints, QStringList({"Zoom to fit", "100%", "Zoom to width", "First page", "Previous page",
                                     "Next page", "Last page", "Printer setup", "Print", "Save Report",
                                     "Load Report", "&Close"}));
        // Three exclusive toggles, width down; the rest plain buttons.
        for (QAction *a : {w->ZoomFit, w->Zoom100, w->ZoomToWidth}) {
            QVERIFY(a->isCheckable());
            QVERIFY(a->actionGroup() && a->actionGroup()->isExclusive());
        }
        QVERIFY(w->ZoomToWidth->isChecked());
        QVERIFY(!w->ZoomFit->isChecked() && !w->Zoom100->isChecked());
        for (QAction *a : {w->FirstPage, w->PreviousPage, w->ToolButton2, w->LastPage, w->PrintSetup, w->Print,
                           w->SaveReport, w->LoadReport, w->ExitButton})
            QVERIFY(!a->isCheckable());
        auto *exit = qobject_cast<QToolButton *>(w->toolBar()->widgetForAction(w->ExitButton));
        QVERIFY(exit);
        QCOMPARE(exit->toolButtonStyle(), Qt::ToolButtonTextOnly);
        QCOMPARE(exit->text(), QString("&Close")); // the C underlined
        QVERIFY(!w->PrintSetup->isEnabled());
        QVERIFY(!w->Print->isEnabled());
        QCOMPARE(w->progressText(), QString("0%"));
        QCOMPARE(w->pageInfoText(), QString("Page"));
        QCOMPARE(w->pageCount(), 0);
    });
    QPointer<PreviewWindow> window;
    QVERIFY(withPreview(f, [&](PreviewWindow &w) {
        window = &w;
        // The pointer over each button: its hint is a tooltip, the status bar keeps its panels.
        for (QAction *a : w.toolBar()->actions()) {
            if (QWidget *button = w.toolBar()->widgetForAction(a); button && !a->isSeparator()) {
                QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), button->mapToGlobal(QPointF(2, 2)));
                QApplication::sendEvent(button, &enter);
                QCOMPARE(w.statusBar()->currentMessage(), QString());
            }
        }
        QTest::keyClick(&w, Qt::Key_C, Qt::AltModifier);
        QTRY_VERIFY(!window || window->isClosing());
    }));
    disconnect(opened);
    QVERIFY(checked);
    QVERIFY(!window);
}

void TestPreview::buttonStatesThroughGeneration()
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(100);
    QList<std::pair<int, bool>> seen; // page count, printing enabled
    QPointer<PreviewWindow> window;
    auto opened = connect(f.form->QuickRep1, &QuickRep::previewOpened, this, [&](PreviewWindow *w) {
        window = w;
        connect(w, &PreviewWindow::pageAdded, this, [&, w](int count) {
            seen << std::make_pair(count, w->Print->isEnabled() || w->PrintSetup->isEnabled());
            if (count == 1) {
                // Opened on page 1 at zoom to width as soon as it is there.
                QCOMPARE(w->currentPage(), 1);
                QCOMPARE(w->zoomMode(), PreviewWindow::ZoomMode::Width);
            }
        });
    });
    QString info;
    QVERIFY(withPreview(f, [&](PreviewWindow &w) {
        QVERIFY(w.Print->isEnabled());
        QVERIFY(w.PrintSetup->isEnabled());
        info = w.pageInfoText();
    }));
    disconnect(opened);
    QCOMPARE(seen, (QList<std::pair<int, bool>>{{1, false}, {2, false}, {3, false}}));
    QCOMPARE(info, QString("Page 1 of 3"));
    // Closed means destroyed; the cursor stands on the last Support.
    QVERIFY(!window);
    QCOMPARE(f.db->Table1.RecNo(), 100);
}

void TestPreview::zoomArithmetic_data()
{
    QTest::addColumn<QSize>("windowSize");
    QTest::newRow("landscape screen") << QSize(1200, 800);
    QTest::newRow("tall") << QSize(600, 1000);
    QTest::newRow("small") << QSize(300, 250);
}

void TestPreview::zoomArithmetic()
{
    QFETCH(QSize, windowSize);
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(3);
    QVERIFY(withPreview(f, [&](PreviewWindow &w) {
        w.showNormal();
        w.resize(windowSize);
        QCoreApplication::processEvents();
        const QSize page = pagePixels100(w);
        QCOMPARE(w.pagePixels(), page);
        const QSize area = w.pageArea()->maximumViewportSize();

        w.ZoomFit->trigger();
        const int fit = std::min(int(std::lround(double(area.width()) / page.width() * 95)),
                                 int(std::lround(double(area.height()) / page.height() * 95)));
        QCOMPARE(w.zoom(), fit);
        QVERIFY(w.ZoomFit->isChecked() && !w.ZoomToWidth->isChecked());
        QCOMPARE(w.imageSize(), QSize(int(std::lround(page.width() * fit / 100.0)) + 4,
                                      int(std::lround(page.height() * fit / 100.0)) + 4));
        // The whole page fits the area and stands in its middle.
        QVERIFY(w.imageSize().width() <= area.width() && w.imageSize().height() <= area.height());
        QWidget *image = w.pageArea()->widget();
        QVERIFY(std::abs(image->geometry().center().x() - w.pageArea()->viewport()->width() / 2) <= 1);

        w.Zoom100->trigger();
        QCOMPARE(w.zoom(), 100);
        QCOMPARE(w.imageSize(), page + QSize(4, 4));

        w.ZoomToWidth->trigger();
        QCOMPARE(w.zoom(), int(std::lround(double(area.width()) / page.width() * 90)));
    }));
}

void TestPreview::zoomLimitsAndScroll()
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(3);
    QVERIFY(withPreview(f, [&](PreviewWindow &w) {
        QVERIFY(w.setZoom(300));
        QCoreApplication::processEvents();
        w.pageArea()->horizontalScrollBar()->setValue(120);
        w.pageArea()->verticalScrollBar()->setValue(240);
        QVERIFY(w.pageArea()->verticalScrollBar()->value() > 0);
        QVERIFY(w.setZoom(250));
        QCOMPARE(w.pageArea()->horizontalScrollBar()->value(), 0);
        QCOMPARE(w.pageArea()->verticalScrollBar()->value(), 0);
        // Out of range: ignored.
        QVERIFY(!w.setZoom(1));
        QVERIFY(!w.setZoom(2001));
        QCOMPARE(w.zoom(), 250);
        QVERIFY(w.setZoom(2));
        QVERIFY(w.setZoom(2000));
        QCOMPARE(w.zoom(), 2000);
    }));
}

void TestPreview::resizing_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("width") << "width";
    QTest::newRow("fit") << "fit";
    QTest::newRow("100%") << "100";
}

void TestPreview::resizing()
{
    QFETCH(QString, mode);
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(3);
    QVERIFY(withPreview(f, [&](PreviewWindow &w) {
        w.showNormal();
        if (mode == u"fit")
            w.ZoomFit->trigger();
        else if (mode == u"100")
            w.Zoom100->trigger();
        else
            w.ZoomToWidth->trigger();
        const QSize page = pagePixels100(w);
        for (const QSize size : {QSize(900, 700), QSize(500, 400), QSize(1300, 600)}) {
            w.resize(size);
            QCoreApplication::processEvents();
            const QSize area = w.pageArea()->maximumViewportSize();
            if (mode == u"width") {
                // Nine tenths of the area's width, plus the 4-pixel border.
                const int z = int(std::lround(double(area.width()) / page.width() * 90));
                QCOMPARE(w.zoom(), z);
                QCOMPARE(w.imageSize().width(), int(std::lround(page.width() * z / 100.0)) + 4);
                QVERIFY(std::abs(w.imageSize().width() - 4 - 0.9 * area.width()) <= 0.01 * area.width() + 1);
            } else if (mode == u"fit") {
                QVERIFY(w.imageSize().width() <= area.width() && w.imageSize().height() <= area.height());
            } else {
                QCOMPARE(w.zoom(), 100);
            }
        }
    }));
}

void TestPreview::paging_data()
{
    QTest::addColumn<int>("supports");
    QTest::addColumn<QList<int>>("keys"); // key | modifier
    QTest::addColumn<QList<int>>("pages");
    const int ctrl = int(Qt::ControlModifier);
    QTest::newRow("page down, up") << 100 << QList<int>{Qt::Key_PageDown, Qt::Key_PageDown, Qt::Key_PageDown,
                                                        Qt::Key_PageUp}
                                   << QList<int>{2, 3, 3, 2};
    QTest::newRow("ctrl+page down from 1") << 100 << QList<int>{Qt::Key_PageDown | ctrl, Qt::Key_PageUp | ctrl}
                                           << QList<int>{3, 1};
    QTest::newRow("end, home") << 100 << QList<int>{Qt::Key_End, Qt::Key_Home, Qt::Key_PageUp} << QList<int>{3, 1, 1};
    QTest::newRow("single page") << 10
                                 << QList<int>{Qt::Key_PageDown, Qt::Key_End, Qt::Key_PageDown | ctrl, Qt::Key_PageUp,
                                               Qt::Key_Home}
                                 << QList<int>{1, 1, 1, 1, 1};
}

void TestPreview::paging()
{
    QFETCH(int, supports);
    QFETCH(QList<int>, keys);
    QFETCH(QList<int>, pages);
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(supports);
    QVERIFY(withPreview(f, [&](PreviewWindow &w) {
        w.activateWindow();
        w.pageArea()->setFocus();
        const int count = w.pageCount();
        for (int i = 0; i < keys.size(); ++i) {
            w.setZoom(400);
            w.pageArea()->verticalScrollBar()->setValue(100);
            const auto key = Qt::Key(keys[i] & ~int(Qt::KeyboardModifierMask));
            const auto modifiers = Qt::KeyboardModifiers(keys[i] & int(Qt::KeyboardModifierMask));
            const int before = w.currentPage();
            QTest::keyClick(w.pageArea(), key, modifiers);
            QCOMPARE(w.currentPage(), pages[i]);
            QCOMPARE(w.pageInfoText(), QStringLiteral("Page %1 of %2").arg(pages[i]).arg(count));
            if (pages[i] != before)
                QCOMPARE(w.pageArea()->verticalScrollBar()->value(), 0);
        }
        // The buttons page as the keys do.
        w.LastPage->trigger();
        QCOMPARE(w.currentPage(), count);
        w.PreviousPage->trigger();
        QCOMPARE(w.currentPage(), std::max(1, count - 1));
        w.ToolButton2->trigger();
        QCOMPARE(w.currentPage(), count);
        w.FirstPage->trigger();
        QCOMPARE(w.currentPage(), 1);
        w.showPage(0);
        w.showPage(count + 1);
        QCOMPARE(w.currentPage(), 1);
    }));
}

void TestPreview::progressPanel_data()
{
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("steps of five") << QList<int>{3, 5, 9, 10, 16, 20} << QStringList{"0%", "5%", "5%", "10%", "16%", "16%"};
    QTest::newRow("few rows") << QList<int>{33, 66, 100} << QStringList{"33%", "66%", ""};
    QTest::newRow("zero empties") << QList<int>{50, 0, 4, 5} << QStringList{"50%", "", "", "5%"};
}

void TestPreview::progressPanel()
{
    QFETCH(QList<int>, values);
    QFETCH(QStringList, texts);
    ReportFixture f;
    PreviewWindow w(f.form->QuickRep1);
    QCOMPARE(w.progressText(), QString("0%"));
    for (int i = 0; i < values.size(); ++i) {
        w.reportProgress(values[i]);
        QCOMPARE(w.progressText(), texts[i]);
    }
}

void TestPreview::saveThenLoad()
{
    ReportFixture f;
    f.addSection(QStringLiteral("Сохранение"));
    f.form->QRLabel8->SetCaption(reportTitle(QStringLiteral("Сохранение")));
    f.addPlainSupports(50);
    ScriptedFiles files;
    files.path = m_dir.filePath(QStringLiteral("saved"));
    QVERIFY(withPreview(f, [&](PreviewWindow &w) {
        const std::vector<report::ReportPage> made = w.pages();
        w.SaveReport->trigger();
        QVERIFY(QFile::exists(files.path + QStringLiteral(".krp")));
        QCOMPARE(files.captions, QStringList{"Save report"});
        QVERIFY(files.lastFilters.contains(QStringLiteral("*.pdf")));

        files.path += QStringLiteral(".krp");
        w.LastPage->trigger();
        w.LoadReport->trigger();
        QCOMPARE(files.captions.last(), QString("Load report"));
        QVERIFY(w.isLoaded());
        QVERIFY(w.pages() == made);
        QCOMPARE(picture(w.pages()[1]), picture(made[1]));
        QCOMPARE(w.currentPage(), 1);
        QCOMPARE(w.pageInfoText(), QString("Page 1 of 2"));
        QVERIFY(!w.PrintSetup->isEnabled());
        QVERIFY(w.Print->isEnabled());
    }));
}

void TestPreview::saveAsPdfAndPrintLoaded()
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(100);
    ScriptedFiles files;
    const QString pdf = m_dir.filePath(QStringLiteral("mail"));
    const QString printed = m_dir.filePath(QStringLiteral("printed.pdf"));
    PdfPrintSystem printers(printed);
    // The range in force when the preview's report was generated: pages 2 to 3.
    f.form->QuickRep1->printSettings().allPages = false;
    f.form->QuickRep1->printSettings().fromPage = 2;
    f.form->QuickRep1->printSettings().toPage = 3;
    QVERIFY(withPreview(f, [&](PreviewWindow &w) {
        files.path = pdf;
        files.saveFilter = QStringLiteral("PDF documents (*.pdf)");
        w.SaveReport->trigger();
        QCOMPARE(pdfPageCount(pdf + QStringLiteral(".pdf")), 3);
        const auto words = pdfWords(pdf + QStringLiteral(".pdf"));
        QVERIFY(std::any_of(words.begin(), words.end(), [](const PdfWord &x) { return x.page == 3 && x.text == "100"; }));

        files.saveFilter.clear();
        files.path = m_dir.filePath(QStringLiteral("pages.krp"));
        w.SaveReport->trigger();
        w.LoadReport->trigger();
        QVERIFY(w.isLoaded());
        // Printing changes to all pages after loading do not matter: the
        // loaded pages print within the range of this preview's report.
        f.form->QuickRep1->printSettings().allPages = true;
        w.Print->trigger();
        QCOMPARE(pdfPageCount(printed), 2);
        const auto p = pdfWords(printed);
        QVERIFY(std::any_of(p.begin(), p.end(), [](const PdfWord &x) { return x.page == 1 && x.text == "43"; }));
    }));
}

void TestPreview::saveWhileGeneratingWritesNothing()
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(200);
    ScriptedFiles files;
    files.path = m_dir.filePath(QStringLiteral("early.krp"));
    bool tried = false;
    auto opened = connect(f.form->QuickRep1, &QuickRep::previewOpened, this, [&](PreviewWindow *w) {
        connect(w, &PreviewWindow::pageAdded, this, [&, w](int count) {
            if (count == 1 && !tried) {
                tried = true;
                QVERIFY(!w->isFinished());
                w->SaveReport->trigger();
            }
        });
    });
    QVERIFY(withPreview(f, [](PreviewWindow &) {}));
    disconnect(opened);
    QVERIFY(tried);
    QVERIFY(!QFile::exists(files.path));
    QVERIFY(files.captions.isEmpty());
}

void TestPreview::refusedFiles_data()
{
    QTest::addColumn<QByteArray>("bytes"); // empty: no file at all
    QTest::addColumn<QString>("message");
    std::vector<report::ReportPage> pages(1);
    pages[0].text(QRectF(10, 10, 20, 5), report::PageFont{QStringLiteral("Arial"), 10}, Qt::AlignLeft, "x", 0);
    const QByteArray good = report::encodePages(pages);
    QByteArray flipped = good;
    flipped[good.size() - 1] = char(flipped[good.size() - 1] ^ 0x20);
    QByteArray newer = good;
    newer[9] = 2;
    QTest::newRow("missing") << QByteArray() << "File does not exist";
    QTest::newRow("not ours") << QByteArray("%PDF-1.4 this is something else entirely") << "it is not a saved report";
    QTest::newRow("cut short") << good.left(good.size() - 3) << "its length is wrong";
    QTest::newRow("damaged byte") << flipped << "its checksum is wrong";
    QTest::newRow("newer version") << newer << "format version (2)";
}

void TestPreview::refusedFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(60);
    ScriptedDialogs dialogs;
    ScriptedFiles files;
    files.path = m_dir.filePath(QStringLiteral("refused-%1.krp").arg(QTest::currentDataTag()));
    if (!bytes.isEmpty()) {
        QFile file(files.path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    dialogs.answer(toolkit::BoxButton::Ok);
    QVERIFY(withPreview(f, [&](PreviewWindow &w) {
        w.ToolButton2->trigger();
        const std::vector<report::ReportPage> before = w.pages();
        w.LoadReport->trigger();
        QCOMPARE(dialogs.boxes().size(), 1);
        const toolkit::BoxDescription &box = dialogs.boxes()[0];
        QCOMPARE(box.icon, toolkit::BoxIcon::None);
        QCOMPARE(box.caption, toolkit::applicationTitle());
        QCOMPARE(box.buttons, QList<toolkit::BoxButton>{toolkit::BoxButton::Ok});
        QVERIFY2(box.text.contains(message), qPrintable(box.text));
        // The pages shown stay as they were.
        QVERIFY(!w.isLoaded());
        QVERIFY(w.pages() == before);
        QCOMPARE(w.currentPage(), 2);
        QVERIFY(w.PrintSetup->isEnabled());
    }));
}

void TestPreview::closingStopsGeneration_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Esc") << "esc";
    QTest::newRow("Close button") << "button";
    QTest::newRow("close box") << "box";
}

void TestPreview::closingStopsGeneration()
{
    QFETCH(QString, how);
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(500);
    QPointer<PreviewWindow> window;
    auto opened = connect(f.form->QuickRep1, &QuickRep::previewOpened, this, [&](PreviewWindow *w) {
        window = w;
        connect(w, &PreviewWindow::pageAdded, this, [&, w](int count) {
            if (count != 1)
                return;
            // The user closes the window while later pages are still being made.
            QTimer::singleShot(0, w, [w, how] {
                if (how == u"esc")
                    QTest::keyClick(w, Qt::Key_Escape);
                else if (how == u"button")
                    w->ExitButton->trigger();
                else
                    w->close();
            });
        });
    });
    f.form->QuickRep1->Preview();
    disconnect(opened);
    QVERIFY(!window);
    QVERIFY(!f.form->QuickRep1->isGenerating());
    // Stopped before the next row: page 1's 42 rows and perhaps the one after.
    QVERIFY2(f.db->Table1.RecNo() < 50, qPrintable(QString::number(f.db->Table1.RecNo())));
}

void TestPreview::secondPrintBringsTheOpenPreview()
{
    ReportFixture f;
    f.addSection(QStringLiteral("Первый"));
    f.addPlainSupports(5);
    f.form->QRLabel8->SetCaption(reportTitle(QStringLiteral("Первый")));
    QVERIFY(withPreview(f, [&](PreviewWindow &w) {
        const auto before = w.pages();
        // "Печать" again: the main window sets its title, then asks for the preview.
        f.form->QRLabel8->SetCaption(reportTitle(QStringLiteral("Второй")));
        f.form->QuickRep1->Preview();
        QCOMPARE(f.form->QRLabel8->Caption(), reportTitle(QStringLiteral("Первый")));
        int previews = 0;
        for (QWidget *top : QApplication::topLevelWidgets())
            previews += qobject_cast<PreviewWindow *>(top) != nullptr;
        QCOMPARE(previews, 1);
        QCOMPARE(f.form->QuickRep1->previewWindow(), &w);
        QVERIFY(w.pages() == before);
    }));
    QCOMPARE(reportTitle(QStringLiteral("X")),
             QString("Оценка опасности электрокоррозии\rарматуры железобетонных опор контактной сети\rпо участку X"));
}

void TestPreview::dataChangedWhileGenerating_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("other Section") << "section";
    QTest::newRow("Supports deleted") << "delete";
    QTest::newRow("all Supports deleted") << "delete all";
    QTest::newRow("filter switched on") << "filter";
}

void TestPreview::dataChangedWhileGenerating()
{
    QFETCH(QString, change);
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(150);
    f.addSection(QStringLiteral("B"));
    f.addPlainSupports(20);
    f.db->Table2.First();
    int finalPages = -1;
    auto opened = connect(f.form->QuickRep1, &QuickRep::previewOpened, this, [&](PreviewWindow *w) {
        connect(w, &PreviewWindow::pageAdded, this, [&, w](int count) {
            if (count != 1)
                return;
            QTimer::singleShot(0, w, [&] {
                Table &t = f.db->Table1;
                if (change == u"section") {
                    f.db->Table2.Next();
                } else if (change == u"delete") {
                    for (int i = 0; i < 30; ++i)
                        t.Delete();
                } else if (change == u"delete all") {
                    while (!t.IsEmpty())
                        t.Delete();
                } else {
                    t.SetFilter(kLeakageFilter);
                }
            });
        });
    });
    QVERIFY(withPreview(f, [&](PreviewWindow &w) { finalPages = w.pageCount(); }));
    disconnect(opened);
    QVERIFY(finalPages >= 1);
    QVERIFY(!f.form->QuickRep1->isGenerating());
}

void TestPreview::quittingEndsTheCommand()
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(3);
    QPointer<PreviewWindow> window;
    QVERIFY(withPreview(f, [&](PreviewWindow &w) {
        window = &w;
        QCoreApplication::exit(0); // the program is shutting down
    }));
    QVERIFY(!window);
}

void TestPreview::printFromPreview()
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    f.addPlainSupports(100);
    const QString pdf = m_dir.filePath(QStringLiteral("from-preview.pdf"));
    PdfPrintSystem printers(pdf);
    QVERIFY(withPreview(f, [&](PreviewWindow &w) {
        // Supports edited after the preview was made appear in the printout only.
        Table &t = f.db->Table1;
        t.First();
        t.Edit();
        f.db->Table1Nomeropory->SetAsInteger(777);
        t.Post();
        w.Print->trigger();
        QCOMPARE(pdfPageCount(pdf), 3); // every page: the range starts as all pages
        const auto words = pdfWords(pdf);
        QVERIFY(std::any_of(words.begin(), words.end(), [](const PdfWord &x) { return x.text == "777"; }));
        QVERIFY(!w.pages()[0].texts().contains(QStringLiteral("777")));
        QVERIFY(w.Print->isEnabled());

        printers.dialogAnswer = std::make_pair(2, 2);
        w.PrintSetup->trigger();
        QCOMPARE(printers.dialogLastPage, 3);
        w.Print->trigger();
        QCOMPARE(pdfPageCount(pdf), 1);
    }));
}

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
