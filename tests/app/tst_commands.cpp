// The main window's commands that lead into the other windows, through the
// real menu items and keys: the support editor in both modes, "Расчитать"
// and "Печать" with its preview.
#include "appfixture.h"

#include "app/sections.h"

#include "data/regionalsettings.h"
#include "editor/add.h"
#include "report/previewwindow.h"
#include "toolkit/dbedit.h"
#include "toolkit/dbgrid.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

using toolkit::BoxButton;

namespace {

void seed(Seeder &s)
{
    const qint64 a = s.addSection(QStringLiteral("Гомель-Жлобин"));
    SupportValues v;
    for (int i = 0; i < 3; ++i) {
        v.km = 10.0 + i * 0.1;
        v.number = i + 1;
        v.measured = i == 1 ? std::nullopt : std::optional<double>(2.0 + i);
        s.addSupport(a, v);
    }
}

// Runs `step` from the event loop once the modal window of the command is up.
void whenShown(const std::function<void()> &step)
{
    QTimer::singleShot(0, [step] { step(); });
}

// Once the support editor is up: types a number, a chainage and a
// resistance, and saves.
void typeNewSupport(TForm1 &w, const char *number, const char *km, const char *resistance)
{
    whenShown([&w, number, km, resistance] {
        TForm2 *d = w.Form2;
        QTest::keyClicks(d->DBEdit1, number);
        QTest::keyClicks(d->DBEdit4, km);
        QTest::keyClicks(d->DBEdit6, resistance);
        QTest::mouseClick(d->Button1, Qt::LeftButton);
    });
}

} // namespace

class CommandsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { RegionalSettings::instance().setDecimalSeparator(u','); }
    void enterOpensTheEditorOnTheCurrentSupport();
    void addThroughThePopupMenuPostsAndCalculates();
    void calculateFromTheMenu();
    void calculateWithoutMeasurementInforms();
    void printOpensThePreviewAndReturnsWhenClosed_data();
    void printOpensThePreviewAndReturnsWhenClosed();
    void aNewSectionIsPostedBeforeSupportsJoinIt_data();
    void aNewSectionIsPostedBeforeSupportsJoinIt();
    void anotherCopyDeletedTheSection_data();
    void anotherCopyDeletedTheSection();
};

void CommandsTest::enterOpensTheEditorOnTheCurrentSupport()
{
    WindowFixture f(seed);
    TForm1 &w = f.form();
    w.createForms();
    w.Table1.SetRecNo(2);
    QString title, number;
    DataSetState state = DataSetState::Browse;
    whenShown([&] {
        title = w.Form2->windowTitle();
        number = w.Form2->DBEdit1->text();
        state = w.Table1.State();
        QTest::mouseClick(w.Form2->Button2, Qt::LeftButton);
    });
    w.DBGrid1->setFocus();
    QTest::keyClick(w.DBGrid1, Qt::Key_Return);
    QCOMPARE(title, QString("Редактирование данных по опоре"));
    QCOMPARE(number, QString("2"));
    QCOMPARE(state, DataSetState::Edit);
    QVERIFY(!w.Form2->isVisible());
    QCOMPARE(w.Table1.State(), DataSetState::Browse);
}

void CommandsTest::addThroughThePopupMenuPostsAndCalculates()
{
    WindowFixture f(seed);
    TForm1 &w = f.form();
    w.createForms();
    typeNewSupport(w, "7", "10,05", "100");
    w.N1->trigger();
    QVERIFY(!w.Form2->isVisible());
    QCOMPARE(w.Table1.RecordCount(), 4);
    QCOMPARE(w.Table1Nomeropory->AsInteger(), qint64(7));
    QCOMPARE(w.Table1Kilometr->AsFloat(), 10.05);
    QCOMPARE(w.Table1R_opory->AsFloat(), 100.0);
    // The calculation ran: 2.0 at 10.0 and 4.0 at 10.2 give 2.5 at 10.05.
    QCOMPARE(w.Table1U_ras->AsFloat(), 2.5);
    QCOMPARE(w.Table1I_opory->AsFloat(), 25.0);
}

void CommandsTest::calculateFromTheMenu()
{
    WindowFixture f(seed);
    TForm1 &w = f.form();
    w.createForms();
    w.N8->trigger();
    QVERIFY(f.dialogs().boxes().isEmpty());
    w.Table1.SetRecNo(2);
    QCOMPARE(w.Table1U_ras->AsFloat(), 3.0);
    QCOMPARE(w.Table1I_opory->AsFloat(), 15.0);
}

void CommandsTest::calculateWithoutMeasurementInforms()
{
    WindowFixture f([](Seeder &s) {
        const qint64 a = s.addSection(QStringLiteral("A"));
        SupportValues v;
        s.addSupport(a, v);
    });
    TForm1 &w = f.form();
    w.createForms();
    f.dialogs().answer(BoxButton::Ok);
    w.N8->trigger();
    QCOMPARE(f.dialogs().boxes().size(), 1);
    QCOMPARE(f.dialogs().boxes().first().caption, QString("Information"));
    QCOMPARE(f.dialogs().boxes().first().text, QString("Нет замера на первой опоре!"));
}

void CommandsTest::printOpensThePreviewAndReturnsWhenClosed_data()
{
    QTest::addColumn<int>("supports");
    QTest::newRow("one page") << 3;
    QTest::newRow("four pages") << 150;
}

void CommandsTest::printOpensThePreviewAndReturnsWhenClosed()
{
    QFETCH(int, supports);
    WindowFixture f([supports](Seeder &s) {
        const qint64 a = s.addSection(QStringLiteral("Гомель-Жлобин"));
        SupportValues v;
        for (int i = 0; i < supports; ++i) {
            v.km = 10.0 + i * 0.1;
            v.number = i + 1;
            s.addSupport(a, v);
        }
    });
    TForm1 &w = f.form();
    w.createForms();
    QString caption;
    qsizetype packedBytes = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            auto *preview = qobject_cast<PreviewWindow *>(top);
            if (preview && preview->isVisible() && preview->isFinished()) {
                caption = top->windowTitle();
                packedBytes = preview->packedBytes();
                poll.stop();
                top->close();
            }
        }
    });
    poll.start(20);
    w.N10->trigger();
    QCOMPARE(caption, QString("Print Preview"));
    // Generation walked the support view and left it on the last Support,
    // and the windows that follow it show that Support.
    QCOMPARE(w.Table1.RecNo(), supports);
    QCOMPARE(w.DBGrid1->gridModel()->currentRow(), supports - 1);
    QCOMPARE(w.Form2->DBEdit1->text(), QString::number(supports));
    // The preview keeps its pages packed: a long report costs well under
    // half a kilobyte a Support.
    if (supports > 100)
        QVERIFY2(packedBytes > 0 && packedBytes < supports * 512, qPrintable(QString::number(packedBytes)));
}

void CommandsTest::aNewSectionIsPostedBeforeSupportsJoinIt_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("section");
    QTest::addColumn<int>("supports");
    QTest::newRow("named") << "Uchastok" << "Uchastok" << 1;
    QTest::newRow("nothing typed") << "" << "Гомель-Жлобин" << 4;
}

// Without it the new Support would get a blank Section and vanish from
// every view of the program.
void CommandsTest::aNewSectionIsPostedBeforeSupportsJoinIt()
{
    QFETCH(QString, typed);
    QFETCH(QString, section);
    QFETCH(int, supports);
    WindowFixture f(seed);
    TForm1 &w = f.form();
    w.createForms();
    w.N11->trigger(); // "Добавить": a new Section, being inserted
    w.DBGrid2->setFocus();
    // The first letter opens the cell editor, which takes the rest.
    for (QChar c : typed)
        QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
    typeNewSupport(w, "5", "3", "100");
    f.dialogs().answer(BoxButton::Ok); // the new first Support is not measured: the calculation says so
    w.N1->trigger();
    QCOMPARE(w.Table2.State(), DataSetState::Browse);
    QCOMPARE(w.Table2Line->AsString(), section);
    QCOMPARE(w.Table1.RecordCount(), supports);
    w.Table1.Last();
    QCOMPARE(w.Table1Line->AsInteger(), w.Table2N_line->AsInteger());
    QCOMPARE(storedSupports(), 4);
    QCOMPARE(f.dialogs().boxes().last().text, QStringLiteral("Нет замера на первой опоре!"));
}

void CommandsTest::anotherCopyDeletedTheSection_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("message");
    QTest::newRow("fill") << "fill" << "The section was deleted by another user.";
    QTest::newRow("add a support") << "add" << "The section was deleted by another user.";
    QTest::newRow("edit a support") << "edit" << "The record was deleted by another user.";
    // The stale Section is still marked in the list, on the row of the one
    // after it: a click there would open that row's name for editing.
    QTest::newRow("click on the marked row") << "click" << "The record was deleted by another user.";
}

// Another copy deletes the Section this window shows. Whatever this window
// does next writes nothing under the deleted Section, and the section list,
// the caption and the support grid move on to an existing Section together,
// as after a deletion of its own.
void CommandsTest::anotherCopyDeletedTheSection()
{
    QFETCH(QString, command);
    QFETCH(QString, message);
    WindowFixture f([](Seeder &s) {
        auto at = [](double km) {
            SupportValues v;
            v.km = km;
            return v;
        };
        const qint64 a = s.addSection(QStringLiteral("A"));
        s.addSupport(a, at(1.0));
        s.addSupport(a, at(2.0));
        s.addSupport(s.addSection(QStringLiteral("B")), at(3.0));
        s.addSection(QStringLiteral("C"));
    });
    TForm1 &w = f.form();
    w.createForms();
    QCOMPARE(w.Label25->text(), TForm1::sectionCaptionPrefix() + "A");
    {
        KorTables other; // the other copy, on the first Section
        other.open();
        deleteSectionWithSupports(other);
    }
    f.dialogs().answer(BoxButton::Ok);
    if (command == "fill") {
        w.N6->trigger();
        w.Edit2->setText(QStringLiteral("2"));
        QTest::mouseClick(w.Button1, Qt::LeftButton);
    } else if (command == "add") {
        typeNewSupport(w, "5", "3", "100");
        w.N1->trigger();
    } else if (command == "edit") {
        // Should the editor open all the same, it is cancelled; the timer
        // goes with this row, whether it fired or not.
        QTimer cancel;
        cancel.setSingleShot(true);
        connect(&cancel, &QTimer::timeout, [&] { QTest::mouseClick(w.Form2->Button2, Qt::LeftButton); });
        cancel.start(0);
        w.N12->trigger();
    } else {
        clickCell(w.DBGrid2, 0, 0);
    }
    QVERIFY(!w.Form2->isVisible());
    QStringList shown;
    for (const auto &box : f.dialogs().boxes())
        shown << box.text;
    QCOMPARE(shown.join(" | "), message);
    QCOMPARE(w.Table2Line->AsString(), QString("B"));
    QCOMPARE(w.Label25->text(), TForm1::sectionCaptionPrefix() + "B");
    QCOMPARE(w.Table1.State(), DataSetState::Browse);
    QCOMPARE(w.Table1.RecordCount(), 1);
    QCOMPARE(w.DBGrid1->model()->rowCount(), 1);
    QCOMPARE(w.Table1Kilometr->AsFloat(), 3.0);
    QCOMPARE(storedSupports(), 1);
}

QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"
