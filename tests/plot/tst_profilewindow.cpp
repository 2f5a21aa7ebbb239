// The profile window through the main window's menu, offscreen: what its
// series hold, that it follows every change of the tables within one turn
// of the event loop without moving the grid, what a click, the wheel, the
// keys and dragging do, and the page it saves and prints.
#include "appfixture.h"
#include "reportfixture.h"

#include "data/regionalsettings.h"
#include "editor/add.h"
#include "plot/profilechart.h"
#include "plot/profilepage.h"
#include "plot/profileview.h"
#include "plot/profilewindow.h"
#include "toolkit/dbedit.h"

#include <QHelpEvent>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QTimer>
#include <QToolTip>
#include <QValueAxis>

using namespace plot;
using Runs = QList<QList<QPointF>>;

namespace {

const QString kNoValues = QStringLiteral("Нет расчетных значений — выполните «Расчитать»");

void seed(Seeder &s)
{
    const qint64 a = s.addSection(QStringLiteral("A"));
    auto support = [&](double km, int number, std::optional<double> measured, double calculated,
                       std::optional<double> resistance, std::optional<double> leakage, const QString &index = {}) {
        SupportValues v;
        v.km = km;
        v.number = number;
        v.measured = measured;
        v.calculated = calculated;
        v.resistance = resistance;
        v.leakage = leakage;
        v.index = index;
        s.addSupport(a, v);
    };
    support(10.00, 1, 2.0, 2.0, 200, 10.0);                  // measured
    support(10.06, 2, {}, 3.0, 200, 15.0, QStringLiteral("а")); // not measured
    support(10.12, 3, {}, 4.0, 200, {});                     // blank current
    support(10.18, 4, {}, 8.0, 200, 40.0);                   // at the limit, not over it
    support(10.24, 5, 8.0, 8.0, 199.99, 40.001);             // over it
    SupportValues plain;
    plain.km = 5;
    s.addSupport(s.addSection(QStringLiteral("B")), plain); // nothing calculated
}

Runs runsOf(const QList<QLineSeries *> &pool)
{
    Runs runs;
    for (QLineSeries *series : pool)
        if (series->count() > 0)
            runs << series->points();
    return runs;
}

QList<QPointF> flat(const Runs &runs)
{
    QList<QPointF> all;
    for (const QList<QPointF> &run : runs)
        all << run;
    return all;
}

// The current Section's stored values of a field, walked with the cursor.
QList<QPointF> stored(TForm1 &w, Field *field)
{
    QList<QPointF> points;
    for (w.Table1.First(); !w.Table1.Eof(); w.Table1.Next()) {
        if (!field->IsNull())
            points << QPointF(w.Table1Kilometr->AsFloat(), field->AsFloat());
    }
    return points;
}

struct Opened
{
    WindowFixture fixture{seed};
    TForm1 &w = fixture.form();
    ProfileWindow *window = nullptr;
    ProfileChart *chart = nullptr;
    ProfileView *view = nullptr;

    Opened()
    {
        w.createForms();
        w.actionPlot->trigger();
        window = w.findChild<ProfileWindow *>();
        if (!window || !QTest::qWaitForWindowExposed(window))
            return;
        chart = window->chart();
        view = window->view();
    }
    QPoint at(double km, double value, bool current) const { return view->positionOf(km, value, current).toPoint(); }
};

void send(QWidget *to, QEvent::Type type, QPoint at, Qt::MouseButtons buttons, Qt::KeyboardModifiers keys = {})
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, to->mapToGlobal(at), button, buttons, keys);
    QApplication::sendEvent(to, &event);
}

} // namespace

class ProfileWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { RegionalSettings::instance().setDecimalSeparator(u','); }
    void showsEverySupportOfTheSection();
    void followsTheTablesWithoutMovingTheGrid_data();
    void followsTheTablesWithoutMovingTheGrid();
    void aClickMakesTheSupportCurrent();
    void wheelKeysAndDraggingChooseTheStretch();
    void writesAndPrintsThePage_data();
    void writesAndPrintsThePage();
};

void ProfileWindowTest::showsEverySupportOfTheSection()
{
    Opened o;
    QVERIFY(o.chart);
    o.w.Table1.SetRecNo(3);
    QCOMPARE(o.window->windowTitle(), QStringLiteral("График участка A"));
    QCOMPARE(runsOf(o.chart->calculatedSeries()),
             Runs({{{10.00, 2.0}, {10.06, 3.0}, {10.12, 4.0}, {10.18, 8.0}, {10.24, 8.0}}}));
    // The blank current breaks the line; 40 is not over the limit, 40.001 is.
    QCOMPARE(runsOf(o.chart->leakageSeries()), Runs({{{10.00, 10.0}, {10.06, 15.0}}, {{10.18, 40.0}, {10.24, 40.001}}}));
    QCOMPARE(o.chart->measuredSeries->points(), QList<QPointF>({{10.00, 2.0}, {10.24, 8.0}}));
    QCOMPARE(o.chart->overLimitSeries->points(), QList<QPointF>({{10.24, 40.001}}));
    const Interval whole = o.chart->stretch().whole();
    QVERIFY(whole.min < 10.00 && whole.max > 10.24 && whole.span() < 0.3);
    QCOMPARE(o.chart->limitSeries->points(), QList<QPointF>({{whole.min, 40.0}, {whole.max, 40.0}}));
    QCOMPARE(o.chart->limitSeries->pen().style(), Qt::DashLine);
    QCOMPARE(o.chart->limitSeries->pen().color(), QColor(255, 0, 0));
    QStringList legend;
    for (QLegendMarker *m : o.chart->legend()->markers())
        if (m->isVisible())
            legend << m->label();
    QCOMPARE(legend, QStringList({"Расчетное U", "Замер U", "Ток утечки", "Предел 40 мА"}));
    QCOMPARE(o.chart->axisChainage->titleText(), QStringLiteral("Пикетаж, км"));
    QCOMPARE(o.chart->axisPotential->titleText(), QStringLiteral("U, B"));
    QCOMPARE(o.chart->axisCurrent->titleText(), QStringLiteral("I, мА"));
    QVERIFY(o.chart->axisCurrent->max() > 40.001);
    QCOMPARE(o.chart->notice(), QString());

    // The leakage filter narrows the grid, not the profile; a second choice
    // of the menu raises the same window.
    o.w.N14->trigger();
    QCoreApplication::processEvents();
    QCOMPARE(o.w.Table1.RecordCount(), 1);
    QCOMPARE(flat(runsOf(o.chart->calculatedSeries())).size(), 5);
    o.w.actionPlot->trigger();
    QCOMPARE(o.w.findChildren<ProfileWindow *>().size(), 1);
}

enum class Change { Calculate, EditorPost, Delete, Clear, AnotherSection, Rename };

void ProfileWindowTest::followsTheTablesWithoutMovingTheGrid_data()
{
    QTest::addColumn<Change>("change");
    QTest::newRow("Расчитать") << Change::Calculate;
    QTest::newRow("a post in the editor") << Change::EditorPost;
    QTest::newRow("Удалить опору") << Change::Delete;
    QTest::newRow("the clear pane") << Change::Clear;
    QTest::newRow("another Section") << Change::AnotherSection;
    QTest::newRow("a rename") << Change::Rename;
}

void ProfileWindowTest::followsTheTablesWithoutMovingTheGrid()
{
    QFETCH(Change, change);
    Opened o;
    QVERIFY(o.chart);
    TForm1 &w = o.w;
    w.Table1.SetRecNo(2);
    switch (change) {
    case Change::Calculate:
        w.N8->trigger();
        break;
    case Change::EditorPost:
        QTimer::singleShot(0, [&] {
            w.Form2->DBEdit6->selectAll();
            QTest::keyClicks(w.Form2->DBEdit6, "100");
            QTest::mouseClick(w.Form2->Button1, Qt::LeftButton);
        });
        w.N12->trigger();
        break;
    case Change::Delete:
        w.N2->trigger();
        break;
    case Change::Clear:
        w.N7->trigger();
        QTest::mouseClick(w.Button4, Qt::LeftButton);
        break;
    case Change::AnotherSection:
        w.Table2.Next();
        break;
    case Change::Rename:
        w.Table2.Edit();
        w.Table2Line->SetAsString(QStringLiteral("Новое имя"));
        w.Table2.Post();
        break;
    }
    const int row = w.Table1.RecNo();
    QCoreApplication::processEvents(); // one turn of the event loop
    QCOMPARE(w.Table1.RecNo(), row);
    QCOMPARE(o.window->windowTitle(), QStringLiteral("График участка ") + w.Table2Line->AsString());
    const Runs calculated = runsOf(o.chart->calculatedSeries());
    const Runs leakage = runsOf(o.chart->leakageSeries());
    QCOMPARE(o.chart->notice(), calculated.isEmpty() && leakage.isEmpty() ? kNoValues : QString());
    QCOMPARE(flat(calculated), stored(w, w.Table1U_ras));
    QCOMPARE(flat(leakage), stored(w, w.Table1I_opory));
    QCOMPARE(o.chart->measuredSeries->points(), stored(w, w.Table1U_izmer));
}

void ProfileWindowTest::aClickMakesTheSupportCurrent()
{
    Opened o;
    QVERIFY(o.chart);
    QWidget *viewport = o.view->viewport();
    const QPoint second = o.at(10.06, 15.0, true);
    send(viewport, QEvent::MouseMove, second, Qt::NoButton);
    const QString tip = QStringLiteral("№ 2а, 10,060 км: U = 3,0 B, R = 200,0 Ом, I = 15,0 мА");
    QTRY_COMPARE(QToolTip::text(), tip);
    // The pointer rests: the application asks for a tooltip, which must not take it away.
    QHelpEvent rest(QEvent::ToolTip, second, viewport->mapToGlobal(second));
    QApplication::sendEvent(viewport, &rest);
    QTest::qWait(500); // a tooltip being taken away goes after 300 ms
    QCOMPARE(QToolTip::text(), tip);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, second);
    QCOMPARE(o.w.Table1Nomeropory->AsInteger(), qint64(2));
    QTest::mouseClick(viewport, Qt::LeftButton, {}, o.at(10.24, 8.0, false));
    QCOMPARE(o.w.Table1Nomeropory->AsInteger(), qint64(5));

    // Hidden by the leakage filter: the grid cannot show it, so it stays put.
    o.w.N14->trigger();
    QCoreApplication::processEvents();
    o.w.Table1.First();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, second);
    QCOMPARE(o.w.Table1Nomeropory->AsInteger(), qint64(5));
    QVERIFY2(o.window->statusText().contains(QStringLiteral("скрыта фильтром")), qPrintable(o.window->statusText()));
}

void ProfileWindowTest::wheelKeysAndDraggingChooseTheStretch()
{
    Opened o;
    QVERIFY(o.chart);
    QWidget *viewport = o.view->viewport();
    const Interval whole = o.chart->stretch().whole();

    // The wheel zooms around the pointer: the chainage under it stays there.
    const QPoint third = o.at(10.12, 4.0, false);
    QWheelEvent wheel(third, viewport->mapToGlobal(third), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &wheel);
    QVERIFY(o.chart->stretch().shown().span() < whole.span() * 0.9);
    QVERIFY(std::abs(o.view->positionOf(10.12, 4.0, false).x() - third.x()) <= 1);

    QTest::keyClick(o.view, Qt::Key_Home);
    QVERIFY(o.chart->stretch().showsWhole());

    // Shift and a drag: the band's stretch.
    const int from = o.at(10.06, 3.0, false).x();
    const int to = o.at(10.18, 8.0, false).x();
    const int y = o.at(10.12, 0.5, false).y();
    send(viewport, QEvent::MouseButtonPress, {from, y}, Qt::LeftButton, Qt::ShiftModifier);
    send(viewport, QEvent::MouseMove, {to, y}, Qt::LeftButton, Qt::ShiftModifier);
    send(viewport, QEvent::MouseButtonRelease, {to, y}, Qt::NoButton, Qt::ShiftModifier);
    const double pixel = whole.span() / o.chart->plotArea().width();
    QVERIFY(std::abs(o.chart->stretch().shown().min - 10.06) < 2 * pixel);
    QVERIFY(std::abs(o.chart->stretch().shown().max - 10.18) < 2 * pixel);

    // A drag pans: the chainage under the pointer follows it.
    const Interval before = o.chart->stretch().shown();
    send(viewport, QEvent::MouseButtonPress, {from + 100, y}, Qt::LeftButton);
    send(viewport, QEvent::MouseMove, {from + 60, y}, Qt::LeftButton);
    send(viewport, QEvent::MouseButtonRelease, {from + 60, y}, Qt::NoButton);
    const double moved = o.chart->stretch().shown().min - before.min;
    QVERIFY(std::abs(moved - 40 * before.span() / o.chart->plotArea().width()) < 1e-6);
    QCOMPARE(o.chart->stretch().shown().span(), before.span());

    QTest::keyClick(o.view, Qt::Key_Plus);
    QVERIFY(std::abs(o.chart->stretch().shown().span() - before.span() / 2) < 1e-9);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(viewport->width() / 2, 5));
    QVERIFY(o.chart->stretch().showsWhole());
}

void ProfileWindowTest::writesAndPrintsThePage_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("PNG") << "profile.png";
    QTest::newRow("SVG") << "profile.svg";
    QTest::newRow("PDF") << "profile.pdf";
    QTest::newRow("print") << "printed.pdf";
    QTest::newRow("a folder that is not there") << "missing/profile.pdf";
}

void ProfileWindowTest::writesAndPrintsThePage()
{
    QFETCH(QString, name);
    Opened o;
    QVERIFY(o.chart);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    ScriptedFiles files;
    files.path = path;
    PdfPrintSystem printer(path);
    printer.dialogAnswer = std::pair(0, 0);
    if (name.startsWith("missing"))
        o.fixture.dialogs().answer(toolkit::BoxButton::Ok);
    (name == "printed.pdf" ? o.window->actionPrint : o.window->actionSaveAs)->trigger();
    if (name.startsWith("missing")) {
        QCOMPARE(o.fixture.dialogs().boxes().size(), 1);
        QVERIFY(o.fixture.dialogs().boxes().first().text.startsWith(QStringLiteral("График не сохранен")));
        QVERIFY(!QFile::exists(path));
        return;
    }
    QVERIFY(o.fixture.dialogs().boxes().isEmpty());
    const QStringList title = o.window->pageTitle();
    QCOMPARE(title, QStringList({"Оценка опасности электрокоррозии", "арматуры железобетонных опор контактной сети",
                                 "по участку A"}));
    if (name.endsWith(".png")) {
        const QImage image(path);
        const QPointF offset = imageLayout(*o.chart, title).chart.topLeft();
        const PlotGeometry g = o.chart->geometry();
        auto pixel = [&](double km, double mA) {
            return image.pixelColor((offset + QPointF(g.xOf(km), g.yOf(mA, g.current))).toPoint());
        };
        QCOMPARE(pixel(10.24, 40.001), QColor(255, 0, 0));
        QVERIFY(pixel(10.06, 15.0) != QColor(255, 0, 0));
    } else if (name.endsWith(".svg")) {
        QFile svg(path);
        QVERIFY(svg.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(svg.readAll());
        for (const QString &line : title)
            QVERIFY2(text.contains(line), qPrintable(line));
    } else {
        QString words;
        bool landscape = false;
        for (const PdfWord &word : pdfWords(path)) {
            words += word.text + QLatin1Char(' ');
            landscape = landscape || word.xMax > 215; // beyond the width of a portrait A4 sheet
        }
        for (const QString &line : title)
            QVERIFY2(words.contains(line), qPrintable(words));
        QVERIFY(landscape);
    }
}

QTEST_MAIN(ProfileWindowTest)
#include "tst_profilewindow.moc"
