// The toolkit's data-aware grid on its own, over the program's cursors in a
// temporary alias: held controls, the painting hook reading the painted row,
// the option set, the cell editor's key filter, and the item model.
#include "data/kortables.h"
#include "data/regionalsettings.h"
#include "support/scripteddialogs.h"
#include "support/tempalias.h"
#include "toolkit/application.h"
#include "toolkit/dbedit.h"
#include "toolkit/dbgrid.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>

using toolkit::DBGrid;
using toolkit::GridColumn;
using toolkit::GridOption;

namespace {

// Counts the paints of a widget.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *w) { w->installEventFilter(this); }
    int paints = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

struct Fixture
{
    TempAlias home;
    ScriptedDialogs dialogs;
    KorTables db;
    DBGrid grid;

    explicit Fixture(int supports)
    {
        db.open();
        db.Table2.Append();
        db.Table2Line->SetAsString(QStringLiteral("S"));
        db.Table2.Post();
        for (int i = 0; i < supports; ++i) {
            db.Table1.Append();
            db.Table1Kilometr->SetAsFloat(i);
            db.Table1Nomeropory->SetAsInteger(100 + i);
            db.Table1Line->SetAsInteger(db.Table2N_line->AsInteger());
            db.Table1.Post();
        }
        db.Table1.First();
        GridColumn number;
        number.fieldName = QStringLiteral("Nomeropory");
        GridColumn km;
        km.fieldName = QStringLiteral("Kilometr");
        grid.setColumns({number, km});
        grid.setDataSource(&db.DataSource1);
        grid.resize(300, 200);
        grid.show();
        grid.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&grid));
        grid.setFocus();
    }
};

} // namespace

class DBGridTest : public QObject
{
    Q_OBJECT

private slots:
    void editsCountCharacters_data();
    void editsCountCharacters();
    void heldControlsRefreshOnceWhenReleased();
    void hookReadsThePaintedRow();
    void rowsFollowTheCursor();
    void options();
    void editorKeyFilterAndReadOnly();
    void model();
};

void DBGridTest::heldControlsRefreshOnceWhenReleased()
{
    Fixture f(5);
    PaintCounter counter(f.grid.viewport());
    QCoreApplication::processEvents();
    const int refreshes = f.grid.gridModel()->refreshCount();
    f.db.Table1.DisableControls();
    f.db.Table1.DisableControls(); // nested
    counter.paints = 0;
    for (int i = 0; i < 20; ++i) {
        f.db.Table1.Append();
        f.db.Table1Kilometr->SetAsFloat(100 + i);
        f.db.Table1Nomeropory->SetAsInteger(i);
        f.db.Table1Line->SetAsInteger(f.db.Table2N_line->AsInteger());
        f.db.Table1.Post();
        QCoreApplication::processEvents();
    }
    f.db.Table1.Last();
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 0);
    QCOMPARE(f.grid.model()->rowCount(), 5);
    QCOMPARE(f.grid.gridModel()->currentRow(), 0);
    f.db.Table1.EnableControls();
    QCOMPARE(f.grid.gridModel()->refreshCount(), refreshes);
    f.db.Table1.EnableControls();
    QCOMPARE(f.grid.gridModel()->refreshCount(), refreshes + 1);
    QCOMPARE(f.grid.model()->rowCount(), 25);
    QCOMPARE(f.grid.gridModel()->currentRow(), 24);
    QTRY_VERIFY(counter.paints >= 1);
    QCoreApplication::processEvents();
    QVERIFY(counter.paints <= 2);
    // Released without being held: nothing.
    f.db.Table1.EnableControls();
    QCOMPARE(f.grid.gridModel()->refreshCount(), refreshes + 1);
}

void DBGridTest::hookReadsThePaintedRow()
{
    Fixture f(6);
    f.db.Table1.SetRecNo(3);
    QList<std::pair<int, qint64>> seen; // (row from the rectangle, number read)
    f.grid.OnDrawColumnCell = [&](QPainter &, const QRect &rect, const GridColumn &column, toolkit::CellState state) {
        if (column.fieldName != QLatin1String("Nomeropory"))
            return;
        const int row = f.grid.rowAt(rect.center().y());
        seen << std::pair{row, f.db.Table1Nomeropory->AsInteger()};
        QCOMPARE(state.testFlag(toolkit::CellStateFlag::Selected), row == 2);
    };
    f.grid.viewport()->repaint();
    QCOMPARE(seen.size(), 6);
    for (const auto &[row, number] : seen)
        QCOMPARE(number, 100 + row);
    // Painting moved nothing.
    QCOMPARE(f.db.Table1.RecNo(), 3);
    QCOMPARE(f.db.Table1Nomeropory->AsInteger(), 102);
}

void DBGridTest::rowsFollowTheCursor()
{
    Fixture f(4);
    f.db.Table1.Last();
    QCOMPARE(f.grid.gridModel()->currentRow(), 3);
    f.db.Table1.Insert();
    QCOMPARE(f.grid.model()->rowCount(), 5);
    QCOMPARE(f.grid.gridModel()->currentRow(), 3);
    f.db.Table1.Cancel();
    QCOMPARE(f.grid.model()->rowCount(), 4);
    f.db.Table1.Delete();
    QCOMPARE(f.grid.model()->rowCount(), 3);
    QCOMPARE(f.grid.gridModel()->currentRow(), 2);
    f.db.Table1.Edit();
    f.db.Table1Nomeropory->SetAsInteger(7);
    QCOMPARE(f.grid.model()->data(f.grid.model()->index(2, 0)).toString(), QStringLiteral("7"));
    f.db.Table1.Cancel();
    QCOMPARE(f.grid.model()->data(f.grid.model()->index(2, 0)).toString(), QStringLiteral("102"));
    f.grid.setDataSource(nullptr);
    QCOMPARE(f.grid.model()->rowCount(), 0);
}

void DBGridTest::options()
{
    Fixture f(3);
    f.grid.setOptions(GridOption::Titles | GridOption::Indicator | GridOption::ColLines);
    QVERIFY(f.grid.horizontalHeader()->isVisible());
    QVERIFY(f.grid.verticalHeader()->isVisible());
    QCOMPARE(f.grid.horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    QCOMPARE(f.grid.cellRect(0, 0).height(), f.grid.defaultRowHeight());
    f.grid.setOptions(GridOption::RowLines | GridOption::ColumnResize | GridOption::Titles);
    QVERIFY(!f.grid.verticalHeader()->isVisible());
    QCOMPARE(f.grid.horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
    QCOMPARE(f.grid.cellRect(0, 0).width(), 64);
    // Without Tabs, Tab leaves the grid's cells alone.
    QTest::keyClick(&f.grid, Qt::Key_Tab);
    QCOMPARE(f.grid.selectedIndex(), 0);
    // Without Editing, typing and F2 open nothing; without ConfirmDelete,
    // Ctrl+Delete deletes at once.
    QTest::keyClick(&f.grid, Qt::Key_5);
    QTest::keyClick(&f.grid, Qt::Key_F2);
    QVERIFY(!f.grid.editorMode());
    QTest::keyClick(&f.grid, Qt::Key_Delete, Qt::ControlModifier);
    QVERIFY(f.dialogs.boxes().isEmpty());
    QCOMPARE(f.db.Table1.RecordCount(), 2);
}

void DBGridTest::editsCountCharacters_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("kept");
    const QString grin = QString::fromUtf8("\xF0\x9F\x98\x80"); // two UTF-16 units
    QTest::newRow("an emoji letter") << "Index" << grin + "x" << grin;
    QTest::newRow("three emoji types") << "Tipopory" << grin.repeated(5) << grin.repeated(3);
    QTest::newRow("letters") << "Tipopory" << "ЖБК-1" << "ЖБК";
}

// An edit box bound to a text field takes as many characters as the field
// object keeps, counted as characters: never half of an emoji.
void DBGridTest::editsCountCharacters()
{
    QFETCH(QString, field);
    QFETCH(QString, pasted);
    QFETCH(QString, kept);
    Fixture f(1);
    DBEdit edit;
    edit.SetDataSource(&f.db.DataSource1);
    edit.SetDataField(field);
    f.db.Table1.Edit();
    edit.insert(pasted);
    QCOMPARE(edit.text(), kept);
    f.db.Table1.Cancel();
}

void DBGridTest::editorKeyFilterAndReadOnly()
{
    Fixture f(2);
    f.grid.setOptions(GridOption::Editing | GridOption::Tabs | GridOption::ColLines | GridOption::RowLines);
    // A smallint field refuses a letter with a beep and opens nothing.
    QTest::keyClick(&f.grid, Qt::Key_Q);
    QCOMPARE(f.dialogs.beeps(), 1);
    QVERIFY(!f.grid.editorMode());
    QCOMPARE(f.db.Table1.State(), DataSetState::Browse);
    QTest::keyClick(&f.grid, Qt::Key_7);
    QVERIFY(f.grid.editorMode());
    QCOMPARE(f.grid.inplaceEditor()->text(), QStringLiteral("7"));
    QTest::keyClick(f.grid.inplaceEditor(), Qt::Key_Down); // writes and posts by moving
    QCOMPARE(f.db.Table1.RecNo(), 2);
    f.db.Table1.First();
    QCOMPARE(f.db.Table1Nomeropory->AsInteger(), 7);
    // A text that the field refuses: the error box, the record stays in editing.
    f.dialogs.answer(toolkit::BoxButton::Ok);
    QTest::keyClick(&f.grid, Qt::Key_F2);
    f.grid.inplaceEditor()->setText(QStringLiteral("99999"));
    QTest::keyClick(f.grid.inplaceEditor(), Qt::Key_A, Qt::NoModifier); // an edit by the user
    QTest::keyClick(f.grid.inplaceEditor(), Qt::Key_Backspace);
    QTest::keyClick(f.grid.inplaceEditor(), Qt::Key_Down);
    QCOMPARE(f.dialogs.boxes().size(), 1);
    QVERIFY2(f.dialogs.boxes().first().text.startsWith(QStringLiteral("99999 is not a valid value for field")),
             qPrintable(f.dialogs.boxes().first().text));
    QCOMPARE(f.db.Table1.State(), DataSetState::Edit);
    QCOMPARE(f.db.Table1.RecNo(), 1);
    QTest::keyClick(f.grid.inplaceEditor(), Qt::Key_Escape);
    QTest::keyClick(&f.grid, Qt::Key_Escape);
    QCOMPARE(f.db.Table1.State(), DataSetState::Browse);
    QCOMPARE(f.db.Table1Nomeropory->AsInteger(), 7);
    // A read-only field opens no editor.
    f.db.Table1Nomeropory->SetReadOnly(true);
    QTest::keyClick(&f.grid, Qt::Key_F2);
    QVERIFY(!f.grid.editorMode());
    f.db.Table1Nomeropory->SetReadOnly(false);
}

void DBGridTest::model()
{
    RegionalSettings::instance().setDecimalSeparator(u'.');
    Fixture f(3);
    QAbstractItemModelTester tester(f.grid.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    f.db.Table1.Append();
    f.db.Table1.Cancel();
    f.db.Table1.Delete();
    f.db.Table1.SetFilter(QStringLiteral("I_opory >40"));
    QCOMPARE(f.grid.model()->rowCount(), 0);
    f.db.Table1.SetFilter(QString());
    QCOMPARE(f.grid.model()->rowCount(), 2);
    QCOMPARE(f.grid.model()->columnCount(), 2);
    QCOMPARE(f.grid.model()->data(f.grid.model()->index(1, 1)).toString(), QStringLiteral("2.000"));
}

int main(int argc, char **argv)
{
    toolkit::Application app(argc, argv);
    DBGridTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dbgrid.moc"
