// The fill and clear panes on the real window and a real store, through
// clicks and typing: the pane's layout and tabs, the enable rule of the fill
// button, the fill's numbering and chainages (to the bit), its failures, and
// the clearing.
#include "appfixture.h"

#include "calc/fpu.h"
#include "store/view.h"
#include "data/regionalsettings.h"
#include "toolkit/application.h"
#include "toolkit/pagecontrol.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <bit>
#include <cstring>

using toolkit::BoxButton;

namespace {

void seedTwo(Seeder &s)
{
    const qint64 a = s.addSection(QStringLiteral("A"));
    const qint64 b = s.addSection(QStringLiteral("B"));
    SupportValues v;
    v.km = 5;
    v.number = 99;
    v.leakage = 60;
    s.addSupport(a, v);
    v.km = 6;
    v.leakage = 12;
    s.addSupport(a, v);
    v.km = 7;
    s.addSupport(b, v);
}

void setText(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

struct Run
{
    QString count = QStringLiteral("10");
    QString chainage = QStringLiteral("0");
    QString spacing = QStringLiteral("60");
    QString start = QStringLiteral("1");
    int scheme = 0;
};

// Opens the fill pane, types the values and clicks the button.
void fill(TForm1 &w, const Run &run)
{
    w.N6->trigger();
    setText(w.Edit1, run.chainage);
    setText(w.Edit3, run.spacing);
    setText(w.Edit4, run.start);
    setText(w.Edit2, run.count);
    QTest::mouseClick(w.RadioGroup1->button(run.scheme), Qt::LeftButton);
    QTest::mouseClick(w.Button1, Qt::LeftButton);
}

// The current Section's Supports as (number, chainage bits) in view order.
QList<std::pair<qint64, quint64>> supports(TForm1 &w)
{
    QList<std::pair<qint64, quint64>> list;
    w.Table1.First();
    while (!w.Table1.Eof()) {
        list << std::pair{w.Table1Nomeropory->AsInteger(), std::bit_cast<quint64>(w.Table1Kilometr->AsFloat())};
        w.Table1.Next();
    }
    w.Table1.First();
    return list;
}

quint64 bits(double d)
{
    return std::bit_cast<quint64>(d);
}

} // namespace

class FillPaneTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void paneAndTabs();
    void pageControls_data();
    void pageControls();
    void hotTabs();
    void enableRule_data();
    void enableRule();
    void minusIntoAnEmptyBoxReportsAtOnce();
    void defaults();
    void chainagesToTheBit();
    void numbering_data();
    void numbering();
    void spacing_data();
    void spacing();
    void badTexts_data();
    void badTexts();
    void numberReaching32768();
    void refusedSave();
    void fillWithTheFilterOn();
    void fillWithNoSection();
    void clearing();
    void clearingRefused();
    void clearingWithTheFilterOn();
    void clearingAnEmptySection();
};

void FillPaneTest::init()
{
    RegionalSettings::instance().setDecimalSeparator(u',');
}

void FillPaneTest::paneAndTabs()
{
    WindowFixture f(seedTwo);
    TForm1 &w = f.form();
    QVERIFY(!w.PageControl1->isVisible());
    QCOMPARE(w.DBGrid2->width(), 543);
    w.N6->trigger();
    QVERIFY(w.PageControl1->isVisible());
    QCOMPARE(w.PageControl1->currentWidget(), w.TabSheet1);
    QVERIFY(w.PageControl1->isTabVisible(0));
    QVERIFY(!w.PageControl1->isTabVisible(1));
    QCOMPARE(w.PageControl1->tabText(0), QStringLiteral("Заполнить..."));
    QCOMPARE(w.PageControl1->tabText(1), QStringLiteral("Удаление..."));
    // At the right of the top panel; the section grid keeps the rest.
    QTRY_COMPARE(w.PageControl1->geometry(), QRect(543 - 271, 0, 271, 157));
    QCOMPARE(w.DBGrid2->geometry(), QRect(0, 0, 543 - 271, 157));
    w.N7->trigger();
    QCOMPARE(w.PageControl1->currentWidget(), w.TabSheet4);
    QVERIFY(!w.PageControl1->isTabVisible(0));
    QVERIFY(w.PageControl1->isTabVisible(1));
    QTest::mouseClick(w.Button3, Qt::LeftButton);
    QVERIFY(!w.PageControl1->isVisible());
    QVERIFY(!w.PageControl1->isTabVisible(0) && !w.PageControl1->isTabVisible(1));
    QTRY_COMPARE(w.DBGrid2->width(), 543);
    // The contents stay between uses.
    w.N6->trigger();
    setText(w.Edit1, QStringLiteral("3.5"));
    QTest::mouseClick(w.RadioGroup1->button(2), Qt::LeftButton);
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    QVERIFY(!w.PageControl1->isVisible());
    w.N6->trigger();
    QCOMPARE(w.Edit1->text(), QStringLiteral("3.5"));
    QCOMPARE(w.RadioGroup1->itemIndex(), 2);
    QCOMPARE(w.Table1.RecordCount(), 2);
}

void FillPaneTest::pageControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("place"); // an empty size: only the position is fixed
    QTest::addColumn<QString>("text");
    QTest::newRow("Label7") << "Label7" << QRect(2, 6, 0, 0) << "Начальный\nкилометр";
    QTest::newRow("Label9") << "Label9" << QRect(2, 38, 0, 0) << "Расстояние меж-\nду опорами, м";
    QTest::newRow("Label8") << "Label8" << QRect(2, 69, 0, 0) << "Количество\nопор";
    QTest::newRow("Label10") << "Label10" << QRect(2, 100, 0, 0) << "Начинать с\nномера - ";
    QTest::newRow("Edit1") << "Edit1" << QRect(97, 10, 50, 21) << "0";
    QTest::newRow("Edit3") << "Edit3" << QRect(97, 42, 50, 21) << "60";
    QTest::newRow("Edit2") << "Edit2" << QRect(97, 73, 50, 21) << "0";
    QTest::newRow("Edit4") << "Edit4" << QRect(97, 103, 50, 21) << "1";
    QTest::newRow("RadioGroup1") << "RadioGroup1" << QRect(152, 0, 106, 65) << "Нумерация опор";
    QTest::newRow("Button1") << "Button1" << QRect(152, 68, 108, 29) << "заполнить таблицу";
    QTest::newRow("Button2") << "Button2" << QRect(152, 104, 109, 25) << "Отменить";
    QTest::newRow("Label16") << "Label16" << QRect(15, 12, 0, 0) << "Все записи по выбранному участку";
    QTest::newRow("Label26") << "Label26" << QRect(64, 28, 0, 0) << "будут удалены!!!";
    QTest::newRow("Button4") << "Button4" << QRect(20, 72, 103, 33) << "Удалить";
    QTest::newRow("Button3") << "Button3" << QRect(158, 72, 85, 33) << "Отменить";
}

void FillPaneTest::pageControls()
{
    QFETCH(QString, name);
    QFETCH(QRect, place);
    QFETCH(QString, text);
    WindowFixture f(seedTwo);
    TForm1 &w = f.form();
    auto *widget = w.PageControl1->findChild<QWidget *>(name);
    QVERIFY(widget);
    if (place.isEmpty())
        QCOMPARE(widget->pos(), place.topLeft());
    else
        QCOMPARE(widget->geometry(), place);
    QString shown;
    if (auto *l = qobject_cast<QLabel *>(widget))
        shown = l->text();
    else if (auto *e = qobject_cast<QLineEdit *>(widget))
        shown = e->text();
    else if (auto *b = qobject_cast<QPushButton *>(widget))
        shown = b->text();
    else if (auto *g = qobject_cast<QGroupBox *>(widget))
        shown = g->title();
    QCOMPARE(shown, text);
    if (name == QLatin1String("Label16") || name == QLatin1String("Label26"))
        QCOMPARE(widget->font().pixelSize(), 13);
    if (QStringList({"Label7", "Label8", "Label9", "Label10"}).contains(name)) {
        // Two lines, broken at the line break.
        QVERIFY(widget->height() >= 2 * QFontMetrics(widget->font()).height());
    }
}

void FillPaneTest::hotTabs()
{
    WindowFixture f(seedTwo);
    TForm1 &w = f.form();
    w.N6->trigger();
    toolkit::HotTrackTabBar *bar = w.PageControl1->hotTabBar();
    QTRY_VERIFY(bar->isVisible());
    const QRect tab = bar->tabRect(0);
    bar->repaint();
    const QImage plain = bar->grab(tab).toImage();
    QTest::mouseMove(bar, tab.center());
    QTRY_COMPARE(bar->hotTab(), 0);
    bar->repaint();
    QVERIFY(bar->grab(tab).toImage() != plain);
    QTest::mouseMove(w.DBGrid1, QPoint(5, 5));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(bar, &leave);
    QCOMPARE(bar->hotTab(), -1);
}

void FillPaneTest::enableRule_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("empty") << "" << false;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("5") << "5" << true;
    QTest::newRow("-5") << "-5" << false;
    QTest::newRow("$A") << "$A" << true;
    QTest::newRow("0x10") << "0x10" << true;
    QTest::newRow("  7") << "  7" << true;
}

void FillPaneTest::enableRule()
{
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    WindowFixture f(seedTwo);
    TForm1 &w = f.form();
    w.N6->trigger();
    QVERIFY(!w.Button1->isEnabled());
    // Whatever the texts typed on the way, none but the last decides.
    w.Edit2->setText(text);
    QCOMPARE(w.Button1->isEnabled(), enabled);
    QVERIFY(f.dialogs().boxes().isEmpty());
    // A text that is not a whole number: the error at once, the button as it was.
    for (const bool before : {false, true}) {
        w.Edit2->setText(before ? QStringLiteral("3") : QString());
        f.dialogs().answer(BoxButton::Ok);
        setText(w.Edit2, before ? QStringLiteral("3") : QString());
        QTest::keyClicks(w.Edit2, QStringLiteral("a"));
        QCOMPARE(f.dialogs().boxes().last().text, QStringLiteral("'%1a' is not a valid integer value.").arg(before ? "3" : ""));
        QCOMPARE(w.Button1->isEnabled(), before);
        f.dialogs().clear();
    }
}

void FillPaneTest::minusIntoAnEmptyBoxReportsAtOnce()
{
    WindowFixture f(seedTwo);
    TForm1 &w = f.form();
    w.N6->trigger();
    setText(w.Edit2, QStringLiteral("4"));
    QVERIFY(w.Button1->isEnabled());
    QTest::keyClick(w.Edit2, Qt::Key_Backspace);
    QVERIFY(!w.Button1->isEnabled());
    f.dialogs().answer(BoxButton::Ok);
    QTest::keyClick(w.Edit2, Qt::Key_Minus);
    QCOMPARE(f.dialogs().boxes().size(), 1);
    const toolkit::BoxDescription box = f.dialogs().boxes().first();
    QCOMPARE(box.text, QStringLiteral("'-' is not a valid integer value."));
    QCOMPARE(box.icon, toolkit::BoxIcon::Error);
    QCOMPARE(box.caption, toolkit::applicationTitle());
    QCOMPARE(w.Edit2->text(), QStringLiteral("-"));
    QVERIFY(!w.Button1->isEnabled());
}

void FillPaneTest::defaults()
{
    WindowFixture f(seedTwo);
    TForm1 &w = f.form();
    w.Table2.Next(); // Section B with one Support at 7 km
    const int refreshes = w.DBGrid1->gridModel()->refreshCount();
    fill(w, Run{});
    QVERIFY(f.dialogs().boxes().isEmpty());
    QVERIFY(!w.PageControl1->isVisible());
    QCOMPARE(w.DBGrid1->gridModel()->refreshCount(), refreshes + 1);
    QCOMPARE(w.Table1.RecordCount(), 12);
    QCOMPARE(w.DBGrid1->model()->rowCount(), 12);
    const auto list = supports(w);
    for (int b = 0; b <= 10; ++b) {
        QCOMPARE(list.at(b).first, 2 + 2 * b);
        QCOMPARE(cellText(w.DBGrid1, b, 3), QStringLiteral("0,%1").arg(b * 60, 3, 10, QLatin1Char('0')));
    }
    w.Table1.First();
    QCOMPARE(w.Table1R_opory->AsFloat(), 200.0);
    QVERIFY(w.Table1Index->IsNull() && w.Table1Tipopory->IsNull() && w.Table1U_izmer->IsNull()
            && w.Table1U_ras->IsNull() && w.Table1I_opory->IsNull());
    QCOMPARE(w.Table1Line->AsInteger(), w.Table2N_line->AsInteger());
    QCOMPARE(list.last().first, 99); // the Support that was there is untouched
    // The Section A is untouched.
    w.Table2.First();
    QCOMPARE(w.Table1.RecordCount(), 2);
}

void FillPaneTest::chainagesToTheBit()
{
    WindowFixture f(seedTwo);
    TForm1 &w = f.form();
    w.Table2.Next();
    w.Table1.First();
    w.Table1.Delete();
    Run run;
    run.chainage = QStringLiteral("12.345");
    run.count = QStringLiteral("3");
    run.scheme = 1;
    fill(w, run);
    const QList<std::pair<qint64, quint64>> expected = {
        {1, bits(12.345000267028809)}, {3, bits(12.405000267028809)},
        {5, bits(12.465000267028808)}, {7, bits(12.525000267028808)}};
    QCOMPARE(supports(w), expected);
    QCOMPARE(cellText(w.DBGrid1, 0, 3), QStringLiteral("12,345"));
    QCOMPARE(cellText(w.DBGrid1, 3, 3), QStringLiteral("12,525"));
    // "0,1" (the regional separator, as the point) is the float nearest to 0.1.
    w.Table2.First();
    run = Run{};
    run.chainage = QStringLiteral("0,1");
    run.count = QStringLiteral("1");
    run.spacing = QStringLiteral("0");
    fill(w, run);
    w.Table1.First();
    QCOMPARE(bits(w.Table1Kilometr->AsFloat()), bits(0.10000000149011612));
    // The empty text is 0.
    run.chainage = QString();
    fill(w, run);
    w.Table1.First();
    QCOMPARE(w.Table1Kilometr->AsFloat(), 0.0);
    QVERIFY(f.dialogs().boxes().isEmpty());
}

void FillPaneTest::numbering_data()
{
    QTest::addColumn<int>("scheme");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QList<qint64>>("numbers");
    QTest::newRow("continuous from 7") << 2 << "7" << "2" << QList<qint64>{7, 8, 9};
    QTest::newRow("odd from -2") << 1 << "-2" << "3" << QList<qint64>{-1, 1, 3, 5};
    QTest::newRow("odd from -3") << 1 << "-3" << "1" << QList<qint64>{-3, -1};
    QTest::newRow("even from 0") << 0 << "0" << "2" << QList<qint64>{0, 2, 4};
    QTest::newRow("even from -3") << 0 << "-3" << "2" << QList<qint64>{-2, 0, 2};
    QTest::newRow("even from 5") << 0 << "5" << "1" << QList<qint64>{6, 8};
    QTest::newRow("odd from 4") << 1 << "4" << "1" << QList<qint64>{5, 7};
    QTest::newRow("continuous from -1") << 2 << "-1" << "2" << QList<qint64>{-1, 0, 1};
    QTest::newRow("hexadecimal start") << 2 << "$10" << "1" << QList<qint64>{16, 17};
}

void FillPaneTest::numbering()
{
    QFETCH(int, scheme);
    QFETCH(QString, start);
    QFETCH(QString, count);
    QFETCH(QList<qint64>, numbers);
    WindowFixture f([](Seeder &s) { s.addSection(QStringLiteral("A")); });
    TForm1 &w = f.form();
    Run run;
    run.scheme = scheme;
    run.start = start;
    run.count = count;
    run.spacing = QStringLiteral("100");
    fill(w, run);
    QList<qint64> got;
    for (const auto &[number, km] : supports(w))
        got << number;
    QCOMPARE(got, numbers);
}

void FillPaneTest::spacing_data()
{
    QTest::addColumn<QString>("spacing");
    QTest::addColumn<QStringList>("chainages"); // in the support view's order
    QTest::newRow("backwards") << "-60" << QStringList{"0,880", "0,940", "1,000"};
    QTest::newRow("none") << "0" << QStringList{"1,000", "1,000", "1,000"};
    QTest::newRow("forwards") << "500" << QStringList{"1,000", "1,500", "2,000"};
}

void FillPaneTest::spacing()
{
    QFETCH(QString, spacing);
    QFETCH(QStringList, chainages);
    WindowFixture f([](Seeder &s) { s.addSection(QStringLiteral("A")); });
    TForm1 &w = f.form();
    Run run;
    run.chainage = QStringLiteral("1");
    run.spacing = spacing;
    run.count = QStringLiteral("2");
    fill(w, run);
    QStringList got;
    for (int row = 0; row < w.DBGrid1->model()->rowCount(); ++row)
        got << cellText(w.DBGrid1, row, 3);
    QCOMPARE(got, chainages);
}

void FillPaneTest::badTexts_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("spacing 6o") << "spacing" << "6o" << "'6o' is not a valid integer value.";
    QTest::newRow("start number empty") << "start" << "" << "'' is not a valid integer value.";
    QTest::newRow("start number 1.5") << "start" << "1.5" << "'1.5' is not a valid integer value.";
    QTest::newRow("count abc") << "count" << "abc" << "'abc' is not a valid integer value.";
    QTest::newRow("chainage with both separators") << "chainage" << "12,3.45"
                                                   << "'12,3.45' is not a valid floating point value.";
    QTest::newRow("chainage 1e") << "chainage" << "1e" << "'1e' is not a valid floating point value.";
    QTest::newRow("distance beyond 32 bits") << "spacing" << "1000000000"
                                             << "4 Supports at 1000000000 m apart reach 3000000000 m, beyond the "
                                                "range of a distance.";
}

void FillPaneTest::badTexts()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, message);
    WindowFixture f(seedTwo);
    TForm1 &w = f.form();
    Run run;
    run.count = QStringLiteral("3");
    if (field == QLatin1String("spacing"))
        run.spacing = text;
    else if (field == QLatin1String("start"))
        run.start = text;
    else if (field == QLatin1String("chainage"))
        run.chainage = text;
    w.N6->trigger();
    setText(w.Edit2, run.count);
    if (field == QLatin1String("count")) {
        f.dialogs().answer(BoxButton::Ok);
        w.Edit2->setText(text); // reported at the change; the button stays enabled
        QVERIFY(w.Button1->isEnabled());
        f.dialogs().clear();
        run.count = text;
    }
    const int refreshes = w.DBGrid1->gridModel()->refreshCount();
    f.dialogs().answer(BoxButton::Ok);
    setText(w.Edit1, run.chainage);
    setText(w.Edit3, run.spacing);
    setText(w.Edit4, run.start);
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    QCOMPARE(f.dialogs().boxes().size(), 1);
    QCOMPARE(f.dialogs().boxes().first().text, message);
    QVERIFY(w.PageControl1->isVisible());
    QCOMPARE(w.Table1.RecordCount(), 2);
    QCOMPARE(w.Table1.State(), DataSetState::Browse);
    // The grid follows the table again.
    QCOMPARE(w.DBGrid1->gridModel()->refreshCount(), refreshes + 1);
    w.Table1.Last();
    QCOMPARE(w.DBGrid1->gridModel()->currentRow(), 1);
}

void FillPaneTest::numberReaching32768()
{
    WindowFixture f(seedTwo);
    TForm1 &w = f.form();
    f.dialogs().answer(BoxButton::Ok);
    Run run;
    run.scheme = 2;
    run.start = QStringLiteral("32765");
    run.count = QStringLiteral("5");
    run.chainage = QStringLiteral("100");
    fill(w, run);
    QCOMPARE(f.dialogs().boxes().size(), 1);
    QCOMPARE(f.dialogs().boxes().first().text,
             QStringLiteral("32768 is not a valid value for field 'Nomeropory'. The allowed range is -32768 to 32767."));
    QVERIFY(w.PageControl1->isVisible());
    // The Supports before it are kept; the one being filled goes at the next move.
    QCOMPARE(w.Table1.RecordCount(), 2 + 3);
    QCOMPARE(w.Table1.State(), DataSetState::Insert);
    QCOMPARE(w.DBGrid1->model()->rowCount(), 6);
    w.DBGrid1->setFocus();
    QTest::keyClick(w.DBGrid1, Qt::Key_Home);
    QCOMPARE(w.Table1.State(), DataSetState::Browse);
    QCOMPARE(w.DBGrid1->model()->rowCount(), 5);
    QCOMPARE(cellText(w.DBGrid1, 4, 0), QStringLiteral("32767"));
    f.close();
    QCOMPARE(storedSupports(), 3 + 3);
}

// The file refuses the fill's commit and refuses it again when the run is
// written once more: the user hears of it, the pane stays on view, and the
// grid shows the Section as the file holds it, without the lost run.
void FillPaneTest::refusedSave()
{
    WindowFixture f(seedTwo);
    TForm1 &w = f.form();
    f.dialogs().answer(BoxButton::Ok);
    f.home.refuseCommits("base_kor.db", 2);
    Run run;
    run.count = QStringLiteral("4");
    fill(w, run);
    QCOMPARE(f.dialogs().boxes().size(), 1);
    QVERIFY2(f.dialogs().boxes().first().text.contains("'base_kor.db'"),
             qPrintable(f.dialogs().boxes().first().text));
    QVERIFY(w.PageControl1->isVisible());
    QVERIFY(!w.Table1.ControlsDisabled());
    QCOMPARE(w.Table1.State(), DataSetState::Browse);
    QCOMPARE(w.Table1.RecordCount(), 2);
    QCOMPARE(w.DBGrid1->model()->rowCount(), 2);
    f.close();
    QCOMPARE(storedSupports(), 3);
}

void FillPaneTest::fillWithTheFilterOn()
{
    WindowFixture f(seedTwo);
    TForm1 &w = f.form();
    w.N14->trigger();
    QCOMPARE(w.Table1.RecordCount(), 1);
    fill(w, Run{});
    QCOMPARE(w.Table1.RecordCount(), 1);
    QCOMPARE(w.DBGrid1->model()->rowCount(), 1);
    w.N14->trigger();
    QCOMPARE(w.Table1.RecordCount(), 13);
}

// Supports under no Section would be seen by no one: the fill is refused,
// nothing is written and the pane stays.
void FillPaneTest::fillWithNoSection()
{
    WindowFixture f;
    TForm1 &w = f.form();
    f.dialogs().answer(BoxButton::Ok);
    Run run;
    run.count = QStringLiteral("2");
    fill(w, run);
    QCOMPARE(f.dialogs().boxes().size(), 1);
    QCOMPARE(f.dialogs().boxes().first().text, QString("There is no section to fill: add a section first."));
    QVERIFY(w.PageControl1->isVisible());
    QVERIFY(!w.Table1.ControlsDisabled());
    QCOMPARE(w.Table1.State(), DataSetState::Browse);
    f.close();
    QCOMPARE(storedSupports(), 0);
}

void FillPaneTest::clearing()
{
    WindowFixture f(seedTwo);
    TForm1 &w = f.form();
    w.N7->trigger();
    const int refreshes = w.DBGrid1->gridModel()->refreshCount();
    QTest::mouseClick(w.Button4, Qt::LeftButton);
    QVERIFY(f.dialogs().boxes().isEmpty());
    QVERIFY(!w.PageControl1->isVisible());
    QVERIFY(!w.PageControl1->isTabVisible(1));
    QCOMPARE(w.Table1.RecordCount(), 0);
    QCOMPARE(w.DBGrid1->model()->rowCount(), 0);
    QVERIFY(w.DBGrid1->gridModel()->refreshCount() >= refreshes + 1);
    QCOMPARE(w.Table2.RecordCount(), 2); // the Section itself stays
    w.Table2.Next();
    QCOMPARE(w.Table1.RecordCount(), 1); // and the other Section's Supports
}

// The file refuses the clearing's commit twice: every Support is still there,
// in the file and in the grid, and the user is told.
void FillPaneTest::clearingRefused()
{
    WindowFixture f(seedTwo);
    TForm1 &w = f.form();
    f.dialogs().answer(BoxButton::Ok);
    w.N7->trigger();
    f.home.refuseCommits("base_kor.db", 2);
    QTest::mouseClick(w.Button4, Qt::LeftButton);
    QCOMPARE(f.dialogs().boxes().size(), 1);
    QVERIFY2(f.dialogs().boxes().first().text.contains("'base_kor.db'"),
             qPrintable(f.dialogs().boxes().first().text));
    QVERIFY(!w.Table1.ControlsDisabled());
    QCOMPARE(w.Table1.RecordCount(), 2);
    QCOMPARE(w.DBGrid1->model()->rowCount(), 2);
    f.close();
    QCOMPARE(storedSupports(), 3);
}

void FillPaneTest::clearingWithTheFilterOn()
{
    WindowFixture f(seedTwo);
    TForm1 &w = f.form();
    w.N14->trigger();
    QCOMPARE(w.Table1.RecordCount(), 1);
    w.N7->trigger();
    QTest::mouseClick(w.Button4, Qt::LeftButton);
    QVERIFY(!w.Table1.Filtered());
    QVERIFY(w.Table1.Filter().isEmpty());
    QVERIFY(w.N14->isChecked()); // the mark is left as it was
    QCOMPARE(w.Table1.RecordCount(), 0);
    f.close();
    QCOMPARE(storedSupports(), 1);
    // The switch follows its mark: off and unmarked, then on and marked.
    WindowFixture g(nullptr);
    g.form().N14->setChecked(true);
    g.form().Table1.SetFiltered(false);
    g.form().N14->trigger();
    QVERIFY(!g.form().Table1.Filtered());
    QVERIFY(!g.form().N14->isChecked());
    g.form().N14->trigger();
    QVERIFY(g.form().Table1.Filtered());
    QVERIFY(g.form().N14->isChecked());
}

void FillPaneTest::clearingAnEmptySection()
{
    WindowFixture f([](Seeder &s) { s.addSection(QStringLiteral("Empty")); });
    TForm1 &w = f.form();
    w.N7->trigger();
    QTest::mouseClick(w.Button4, Qt::LeftButton);
    QVERIFY(f.dialogs().boxes().isEmpty());
    QVERIFY(!w.PageControl1->isVisible());
    QCOMPARE(w.Table1.RecordCount(), 0);
}

int main(int argc, char **argv)
{
    toolkit::Application app(argc, argv);
    calc::initFloatingPoint();
    FillPaneTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fillpane.moc"
