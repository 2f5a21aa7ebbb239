// The support grid of the main window on a real store: its settings and
// columns, the red rows over the leakage limit and the selection colours
// (from rendered pixels), the overlay text at its offsets, the key table,
// the mouse rules, Ctrl+Delete and "Удалить опору".
#include "appfixture.h"

#include "data/regionalsettings.h"
#include "toolkit/application.h"
#include "toolkit/colors.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>

using toolkit::BoxButton;
using toolkit::DBGrid;
using toolkit::GridOption;

namespace {

SupportValues support(double km, int number, std::optional<double> leakage)
{
    SupportValues v;
    v.km = km;
    v.number = number;
    v.leakage = leakage;
    v.calculated = 2.5;
    return v;
}

void seedRun(Seeder &s, int count)
{
    const qint64 a = s.addSection(QStringLiteral("A"));
    s.addSection(QStringLiteral("B"));
    for (int i = 0; i < count; ++i)
        s.addSupport(a, support(i * 0.1, i + 1, i % 2 ? 10.0 : 50.0));
}

// The cell as the grid should have painted it: the background, then the
// text at its place in the column font.
QImage expectedCell(const QSize &size, const QColor &background, const QColor &textColor, const QFont &font,
                    const QString &text, bool overlay)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    QPainter p(&image);
    p.setFont(font);
    p.setPen(textColor);
    const QFontMetrics fm(font);
    const int x = size.width() - (overlay ? 4 : 3) - fm.horizontalAdvance(text);
    const int y = (overlay ? 0 : 2) + fm.ascent();
    p.drawText(QPoint(x, y), text);
    return image;
}

bool sameImage(QImage a, QImage b)
{
    a = a.convertToFormat(QImage::Format_RGB32);
    b = b.convertToFormat(QImage::Format_RGB32);
    return a == b;
}

void press(QWidget *w, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QTest::keyClick(w, key, mods);
}

} // namespace

class SupportGridTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void settings();
    void rowColours_data();
    void rowColours();
    void overlayText_data();
    void overlayText();
    void ordinaryRowsShowTheDisplayFormat();
    void selectionFollowsTheCurrentRow();
    void withTheFilterOnEveryRowButTheCurrentIsRed();
    void keys_data();
    void keys();
    void tabWalksTheColumns();
    void keysThatDoNothing();
    void enterAndDoubleClickEdit();
    void rightClickThenDelete();
    void ctrlDelete();
    void deleteOnAnEmptyView();
    void escapeCancels();
    void leavingCancelsAnEmptyInsertion();
    void model();
};

void SupportGridTest::init()
{
    RegionalSettings::instance().setDecimalSeparator(u',');
}

void SupportGridTest::settings()
{
    WindowFixture f([](Seeder &s) { seedRun(s, 3); });
    DBGrid *g = f.form().DBGrid1;
    QCOMPARE(g->options(), GridOption::ColLines | GridOption::RowLines | GridOption::Tabs | GridOption::RowSelect
                               | GridOption::AlwaysShowSelection | GridOption::ConfirmDelete
                               | GridOption::CancelOnExit);
    QVERIFY(!g->horizontalHeader()->isVisible());
    QVERIFY(!g->verticalHeader()->isVisible());
    QCOMPARE(g->frameShadow(), QFrame::Sunken);
    const QFont font = g->font();
    QCOMPARE(font.family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(font.pixelSize(), 11);
    const QFontMetrics fm(font);
    QCOMPARE(g->cellRect(0, 0).height(), fm.height() + 4);
    const QStringList fields = {"Nomeropory", "Index", "Tipopory", "Kilometr", "U_izmer", "U_ras", "R_opory", "I_opory"};
    const QList<int> widths = {44, 23, 45, 63, 62, 72, 67, 10 * fm.horizontalAdvance(u'0') + 4};
    QCOMPARE(g->columns().size(), 8);
    for (int c = 0; c < 8; ++c) {
        QCOMPARE(g->columns().at(c).fieldName, fields.at(c));
        QCOMPARE(g->cellRect(0, c).width(), widths.at(c));
        QCOMPARE(g->columns().at(c).color->rgb(), toolkit::clAqua().rgb());
        QCOMPARE(g->model()->data(g->model()->index(0, c), Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask,
                 int(Qt::AlignRight));
        // Edge to edge with one grid line between.
        if (c > 0)
            QCOMPARE(g->cellRect(0, c).left(), g->cellRect(0, c - 1).left() + widths.at(c - 1) + 1);
    }
    QCOMPARE(g->columns().at(1).font->family(), QStringLiteral("Times New Roman"));
    QCOMPARE(g->columns().at(1).font->pixelSize(), 11);
    QVERIFY(!g->columns().at(0).font);
    QCOMPARE(g->color().rgb(), toolkit::clInfoBk().rgb());
    // The background shows below the last row and right of the last column.
    g->viewport()->repaint();
    const QImage view = g->viewport()->grab().toImage();
    QCOMPARE(view.pixelColor(5, view.height() - 2).rgb(), toolkit::clInfoBk().rgb());
    QCOMPARE(view.pixelColor(g->cellRect(0, 7).right() + 5, 3).rgb(), toolkit::clInfoBk().rgb());
}

void SupportGridTest::rowColours_data()
{
    QTest::addColumn<QVariant>("leakage");
    QTest::addColumn<bool>("red");
    QTest::newRow("40 exactly") << QVariant(40.0) << false;
    QTest::newRow("40.001") << QVariant(40.001) << true;
    QTest::newRow("40.05 shown as 40,0") << QVariant(40.05) << true;
    QTest::newRow("blank") << QVariant() << false;
    QTest::newRow("below") << QVariant(12.0) << false;
    QTest::newRow("far over") << QVariant(999.0) << true;
}

void SupportGridTest::rowColours()
{
    QFETCH(QVariant, leakage);
    QFETCH(bool, red);
    WindowFixture f([&](Seeder &s) {
        const qint64 a = s.addSection(QStringLiteral("A"));
        s.addSupport(a, support(1, 1, 5.0));
        s.addSupport(a, support(2, 2, leakage.isValid() ? std::optional(leakage.toDouble()) : std::nullopt));
    });
    DBGrid *g = f.form().DBGrid1;
    const QColor expected = red ? toolkit::clRed() : toolkit::clAqua();
    for (int c = 0; c < 8; ++c)
        QCOMPARE(cellPixel(g, 1, c).rgb(), expected.rgb());
    // The current row keeps the selection colours, red or not, focused or not.
    f.form().DBGrid2->setFocus();
    f.form().Table1.Last();
    QCOMPARE(cellPixel(g, 1, 3).rgb(), toolkit::clHighlight().rgb());
    g->setFocus();
    QCOMPARE(cellPixel(g, 1, 3).rgb(), toolkit::clHighlight().rgb());
    QCOMPARE(cellPixel(g, 0, 3).rgb(), toolkit::clAqua().rgb());
}

void SupportGridTest::overlayText_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("current");
    QTest::addColumn<QString>("text");
    QTest::newRow("number") << 0 << false << "7";
    QTest::newRow("letter") << 1 << false << "а";
    QTest::newRow("type") << 2 << false << "С1";
    QTest::newRow("chainage, 3 decimals") << 3 << false << "12.500";
    QTest::newRow("blank measured") << 4 << false << "";
    QTest::newRow("calculated, negative") << 5 << false << "-45.3";
    QTest::newRow("resistance, no grouping") << 6 << false << "1234.6";
    QTest::newRow("leakage just below 40.05") << 7 << false << " 40.0";
    QTest::newRow("current row: chainage") << 3 << true << "12.500";
    QTest::newRow("current row: leakage") << 7 << true << " 40.0";
}

void SupportGridTest::overlayText()
{
    QFETCH(int, column);
    QFETCH(bool, current);
    QFETCH(QString, text);
    WindowFixture f([](Seeder &s) {
        const qint64 a = s.addSection(QStringLiteral("A"));
        s.addSupport(a, support(1, 1, 5.0));
        SupportValues v = support(12.5, 7, 40.05);
        v.index = QStringLiteral("а");
        v.type = QStringLiteral("С1");
        v.calculated = -45.25;
        v.resistance = 1234.56;
        s.addSupport(a, v);
    });
    TForm1 &w = f.form();
    DBGrid *g = w.DBGrid1;
    if (current)
        w.Table1.Last();
    const QImage shown = cellImage(g, 1, column);
    const QFont font = column == 1 ? *g->columns().at(1).font : g->font();
    const QColor background = current ? toolkit::clHighlight() : toolkit::clRed();
    const QColor ink = current ? toolkit::clHighlightText() : toolkit::clWindowText();
    QVERIFY(sameImage(shown, expectedCell(shown.size(), background, ink, font, text, true)));
    // Not the display text at the ordinary place.
    if (!text.isEmpty()) {
        const QString display = cellText(g, 1, column);
        QVERIFY(!sameImage(shown, expectedCell(shown.size(), background, ink, font, display, false)));
    }
}

void SupportGridTest::ordinaryRowsShowTheDisplayFormat()
{
    WindowFixture f([](Seeder &s) {
        const qint64 a = s.addSection(QStringLiteral("A"));
        s.addSupport(a, support(1, 1, 5.0));
        SupportValues v = support(12.5, 7, 12.0);
        v.resistance = 1234.56;
        s.addSupport(a, v);
    });
    DBGrid *g = f.form().DBGrid1;
    const QList<std::pair<int, QString>> cells = {{0, "7"}, {3, "12,500"}, {4, ""}, {6, "1 234,6"}, {7, " 12,0"}};
    for (const auto &[column, text] : cells) {
        QCOMPARE(cellText(g, 1, column), text);
        const QImage shown = cellImage(g, 1, column);
        QVERIFY2(sameImage(shown, expectedCell(shown.size(), toolkit::clAqua(), toolkit::clWindowText(), g->font(),
                                               text, false)),
                 qPrintable(text));
    }
}

void SupportGridTest::selectionFollowsTheCurrentRow()
{
    WindowFixture f([](Seeder &s) { seedRun(s, 4); });
    TForm1 &w = f.form();
    DBGrid *g = w.DBGrid1;
    g->setFocus();
    QCOMPARE(cellPixel(g, 0, 0).rgb(), toolkit::clHighlight().rgb());
    QCOMPARE(cellPixel(g, 2, 0).rgb(), toolkit::clRed().rgb());
    press(g, Qt::Key_Down);
    press(g, Qt::Key_Down);
    QCOMPARE(cellPixel(g, 2, 0).rgb(), toolkit::clHighlight().rgb());
    QCOMPARE(cellPixel(g, 0, 0).rgb(), toolkit::clRed().rgb());
    QCOMPARE(cellPixel(g, 1, 0).rgb(), toolkit::clAqua().rgb());
}

void SupportGridTest::withTheFilterOnEveryRowButTheCurrentIsRed()
{
    WindowFixture f([](Seeder &s) { seedRun(s, 6); });
    TForm1 &w = f.form();
    w.N14->trigger();
    QCOMPARE(w.DBGrid1->model()->rowCount(), 3);
    QCOMPARE(cellPixel(w.DBGrid1, 0, 4).rgb(), toolkit::clHighlight().rgb());
    QCOMPARE(cellPixel(w.DBGrid1, 1, 4).rgb(), toolkit::clRed().rgb());
    QCOMPARE(cellPixel(w.DBGrid1, 2, 4).rgb(), toolkit::clRed().rgb());
}

void SupportGridTest::keys_data()
{
    QTest::addColumn<int>("start"); // 1-based
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("expected"); // a number or "top", "bottom", "page", "-page"
    const int none = 0;
    const int ctrl = Qt::ControlModifier;
    QTest::newRow("down") << 3 << int(Qt::Key_Down) << none << "4";
    QTest::newRow("right") << 3 << int(Qt::Key_Right) << none << "4";
    QTest::newRow("up") << 3 << int(Qt::Key_Up) << none << "2";
    QTest::newRow("left") << 3 << int(Qt::Key_Left) << none << "2";
    QTest::newRow("up at the first") << 1 << int(Qt::Key_Up) << none << "1";
    QTest::newRow("down at the last") << 60 << int(Qt::Key_Down) << none << "60";
    QTest::newRow("right at the last") << 60 << int(Qt::Key_Right) << none << "60";
    QTest::newRow("home") << 30 << int(Qt::Key_Home) << none << "1";
    QTest::newRow("ctrl+home") << 30 << int(Qt::Key_Home) << ctrl << "1";
    QTest::newRow("end") << 3 << int(Qt::Key_End) << none << "60";
    QTest::newRow("ctrl+end") << 3 << int(Qt::Key_End) << ctrl << "60";
    QTest::newRow("page down") << 2 << int(Qt::Key_PageDown) << none << "page";
    QTest::newRow("page up") << 50 << int(Qt::Key_PageUp) << none << "-page";
    QTest::newRow("page down near the end") << 58 << int(Qt::Key_PageDown) << none << "60";
    QTest::newRow("ctrl+up") << 30 << int(Qt::Key_Up) << ctrl << "top";
    QTest::newRow("ctrl+page up") << 30 << int(Qt::Key_PageUp) << ctrl << "top";
    QTest::newRow("ctrl+down") << 30 << int(Qt::Key_Down) << ctrl << "bottom";
    QTest::newRow("ctrl+page down") << 30 << int(Qt::Key_PageDown) << ctrl << "bottom";
}

void SupportGridTest::keys()
{
    QFETCH(int, start);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, expected);
    WindowFixture f([](Seeder &s) { seedRun(s, 60); });
    TForm1 &w = f.form();
    DBGrid *g = w.DBGrid1;
    g->setFocus();
    w.Table1.SetRecNo(start);
    const int visible = g->visibleRowCount();
    QVERIFY(visible > 5 && visible < 30);
    const int top = g->topRow();
    int target = 0;
    if (expected == QLatin1String("page"))
        target = start + visible;
    else if (expected == QLatin1String("-page"))
        target = start - visible;
    else if (expected == QLatin1String("top"))
        target = top + 1;
    else if (expected == QLatin1String("bottom"))
        target = top + visible;
    else
        target = expected.toInt();
    press(g, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(w.Table1.RecNo(), target);
    QCOMPARE(g->gridModel()->currentRow(), target - 1);
    QCOMPARE(w.Table1.RecordCount(), 60);
    QCOMPARE(w.Table1.State(), DataSetState::Browse);
    // The current row is in view.
    QVERIFY2(g->topRow() <= target - 1 && target - 1 < g->topRow() + g->visibleRowCount(), qPrintable(QStringLiteral("top %1 visible %2 viewport %3 stride %4").arg(g->topRow()).arg(g->visibleRowCount()).arg(g->viewport()->height()).arg(g->verticalHeader()->defaultSectionSize()) + QStringLiteral(" max %1 val %2").arg(g->verticalScrollBar()->maximum()).arg(g->verticalScrollBar()->value())));
    QVERIFY(g->hasFocus());
}

void SupportGridTest::tabWalksTheColumns()
{
    WindowFixture f([](Seeder &s) { seedRun(s, 3); });
    TForm1 &w = f.form();
    DBGrid *g = w.DBGrid1;
    g->setFocus();
    for (int c = 1; c < 8; ++c) {
        press(g, Qt::Key_Tab);
        QCOMPARE(g->selectedIndex(), c);
        QCOMPARE(w.Table1.RecNo(), 1);
    }
    press(g, Qt::Key_Tab);
    QCOMPARE(w.Table1.RecNo(), 2);
    QCOMPARE(g->selectedIndex(), 0);
    QVERIFY(g->hasFocus());
    press(g, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(w.Table1.RecNo(), 1);
    QCOMPARE(g->selectedIndex(), 7);
    QVERIFY(g->hasFocus());
}

void SupportGridTest::keysThatDoNothing()
{
    WindowFixture f([](Seeder &s) { seedRun(s, 3); });
    TForm1 &w = f.form();
    DBGrid *g = w.DBGrid1;
    g->setFocus();
    press(g, Qt::Key_Down);
    for (Qt::Key key : {Qt::Key_Delete, Qt::Key_Insert, Qt::Key_F2, Qt::Key_5, Qt::Key_A}) {
        press(g, key);
        QCOMPARE(w.Table1.State(), DataSetState::Browse);
        QCOMPARE(w.Table1.RecordCount(), 3);
        QCOMPARE(w.Table1.RecNo(), 2);
        QVERIFY(!g->editorMode());
    }
    press(g, Qt::Key_End);
    press(g, Qt::Key_Down);
    QCOMPARE(w.Table1.RecNo(), 3);
    QCOMPARE(g->model()->rowCount(), 3);
    QCOMPARE(w.Table1.State(), DataSetState::Browse);
    QVERIFY(f.dialogs().boxes().isEmpty());
}

void SupportGridTest::enterAndDoubleClickEdit()
{
    WindowFixture f([](Seeder &s) { seedRun(s, 3); });
    TForm1 &w = f.form();
    DBGrid *g = w.DBGrid1;
    QSignalSpy edits(w.N12, &QAction::triggered);
    g->setFocus();
    press(g, Qt::Key_Return);
    QCOMPARE(edits.size(), 1);
    QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, g->cellRect(2, 4).center());
    QCOMPARE(w.Table1.RecNo(), 3);
    QCOMPARE(edits.size(), 2);
    // Below the last row: the editor opens on the current support.
    QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, QPoint(20, g->viewport()->height() - 4));
    QCOMPARE(w.Table1.RecNo(), 3);
    QCOMPARE(edits.size(), 3);
}

void SupportGridTest::rightClickThenDelete()
{
    WindowFixture f([](Seeder &s) { seedRun(s, 4); });
    TForm1 &w = f.form();
    DBGrid *g = w.DBGrid1;
    const QString third = cellText(g, 2, 0);
    clickCell(g, 2, 3, Qt::RightButton);
    QCOMPARE(w.Table1.RecNo(), 3);
    openContextMenu(g, 2);
    QTRY_VERIFY(w.PopupMenu1->isVisible());
    w.PopupMenu1->hide();
    w.N2->trigger();
    QVERIFY(f.dialogs().boxes().isEmpty());
    QCOMPARE(w.Table1.RecordCount(), 3);
    QCOMPARE(w.Table1.RecNo(), 3); // the one that followed
    QCOMPARE(cellText(g, 2, 0), QStringLiteral("4"));
    QVERIFY(third == QStringLiteral("3"));
    // The last one deleted: the one before it becomes current.
    w.N2->trigger();
    QCOMPARE(w.Table1.RecNo(), 2);
    QCOMPARE(g->gridModel()->currentRow(), 1);
}

void SupportGridTest::ctrlDelete()
{
    WindowFixture f([](Seeder &s) { seedRun(s, 3); });
    TForm1 &w = f.form();
    DBGrid *g = w.DBGrid1;
    g->setFocus();
    press(g, Qt::Key_Down);
    f.dialogs().answer(BoxButton::Cancel);
    press(g, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(f.dialogs().boxes().size(), 1);
    const toolkit::BoxDescription box = f.dialogs().boxes().first();
    QCOMPARE(box.caption, QStringLiteral("Confirm"));
    QCOMPARE(box.icon, toolkit::BoxIcon::Question);
    QCOMPARE(box.text, QStringLiteral("Delete record?"));
    QCOMPARE(box.buttons, QList<BoxButton>({BoxButton::Ok, BoxButton::Cancel}));
    QCOMPARE(box.cancelButton, BoxButton::Cancel);
    QCOMPARE(w.Table1.RecordCount(), 3);
    f.dialogs().answer(BoxButton::Ok);
    press(g, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(w.Table1.RecordCount(), 2);
    QCOMPARE(w.Table1Nomeropory->AsInteger(), 3);
    // Nothing is recalculated: the neighbours keep their values.
    QCOMPARE(w.Table1U_ras->AsFloat(), 2.5);
    w.Table1.First();
    QCOMPARE(w.Table1U_ras->AsFloat(), 2.5);
}

void SupportGridTest::deleteOnAnEmptyView()
{
    WindowFixture f([](Seeder &s) { s.addSection(QStringLiteral("A")); });
    TForm1 &w = f.form();
    w.DBGrid1->setFocus();
    press(w.DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
    QVERIFY(f.dialogs().boxes().isEmpty());
    f.dialogs().answer(BoxButton::Ok);
    w.N2->trigger();
    QCOMPARE(f.dialogs().boxes().size(), 1);
    QCOMPARE(f.dialogs().boxes().first().text,
             QStringLiteral("Table1: Cannot perform this operation on an empty dataset."));
    QCOMPARE(f.dialogs().boxes().first().icon, toolkit::BoxIcon::Error);
}

void SupportGridTest::escapeCancels()
{
    WindowFixture f([](Seeder &s) { seedRun(s, 3); });
    TForm1 &w = f.form();
    DBGrid *g = w.DBGrid1;
    g->setFocus();
    w.Table1.Insert();
    QCOMPARE(g->model()->rowCount(), 4);
    press(g, Qt::Key_Escape);
    QCOMPARE(w.Table1.State(), DataSetState::Browse);
    QCOMPARE(g->model()->rowCount(), 3);
    w.Table1.Edit();
    w.Table1U_izmer->SetAsFloat(9);
    press(g, Qt::Key_Escape);
    QCOMPARE(w.Table1.State(), DataSetState::Browse);
    QVERIFY(w.Table1U_izmer->IsNull());
}

void SupportGridTest::leavingCancelsAnEmptyInsertion()
{
    WindowFixture f([](Seeder &s) { seedRun(s, 3); });
    TForm1 &w = f.form();
    w.DBGrid1->setFocus();
    w.Table1.Append();
    w.DBGrid2->setFocus();
    QCOMPARE(w.Table1.State(), DataSetState::Browse);
    QCOMPARE(w.DBGrid1->model()->rowCount(), 3);
    // One with a value entered stays.
    w.DBGrid1->setFocus();
    w.Table1.Append();
    w.Table1Nomeropory->SetAsInteger(5);
    w.DBGrid2->setFocus();
    QCOMPARE(w.Table1.State(), DataSetState::Insert);
}

void SupportGridTest::model()
{
    WindowFixture f([](Seeder &s) { seedRun(s, 5); });
    TForm1 &w = f.form();
    QAbstractItemModelTester tester(w.DBGrid1->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    w.DBGrid1->setFocus();
    press(w.DBGrid1, Qt::Key_End);
    w.N2->trigger();
    w.N14->trigger();
    w.Table1.Insert();
    w.Table1.Cancel();
    w.N14->trigger();
    w.Table2.Next();
    w.Table2.First();
    QCOMPARE(w.DBGrid1->model()->rowCount(), 4);
}

int main(int argc, char **argv)
{
    toolkit::Application app(argc, argv);
    SupportGridTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_supportgrid.moc"
