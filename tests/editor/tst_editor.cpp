// The support editor with real key events on the real dialog, over a real
// store in a temporary alias; every box is answered by the scripted seam.
#include "calc/leakage.h"
#include "data/kortables.h"
#include "data/regionalsettings.h"
#include "editor/add.h"
#include "support/scripteddialogs.h"
#include "support/tempalias.h"
#include "toolkit/dbedit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

using toolkit::BoxButton;

namespace {

struct Fixture
{
    TempAlias home;
    ScriptedDialogs dialogs;
    std::unique_ptr<KorTables> db;
    std::unique_ptr<TForm2> form;
    int calculations = 0;

    explicit Fixture(QChar separator = QLatin1Char(','))
    {
        // The float keystroke set is taken when the field objects are made.
        RegionalSettings::instance().setDecimalSeparator(separator);
        db = std::make_unique<KorTables>();
        db->open();
        form = std::make_unique<TForm2>(&db->DataSource1, [this] {
            ++calculations;
            calc::calculateLeakage(*db, [](const QString &text) {
                toolkit::messageDlg(text, toolkit::MessageKind::Information, BoxButton::Ok);
            });
        });
        db->Table2.Append();
        db->Table2Line->SetAsString(QStringLiteral("Участок"));
        db->Table2.Post();
    }

    void addSupport(double km, int number, std::optional<double> measured, double r)
    {
        db->Table1.Append();
        db->Table1Kilometr->SetAsFloat(km);
        db->Table1Nomeropory->SetAsInteger(number);
        if (measured)
            db->Table1U_izmer->SetAsFloat(*measured);
        db->Table1R_opory->SetAsFloat(r);
        db->Table1.Post();
    }

    // What the two menu commands do before the dialog shows.
    void openAdd()
    {
        form->prepare(TForm2::Mode::Add);
        db->Table1.Insert();
        show();
    }
    void openEdit()
    {
        form->prepare(TForm2::Mode::Edit);
        db->Table1.Edit();
        show();
    }
    void show()
    {
        form->open();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QCoreApplication::processEvents();
    }

    QWidget *focus() const { return QApplication::focusWidget(); }
    // Typing, Cyrillic letters included (QTest's own keyClicks takes Latin-1 only).
    void type(const QString &text)
    {
        for (QChar c : text) {
            if (c.unicode() < 128) {
                QTest::keyClick(focus(), c.toLatin1());
                continue;
            }
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(focus(), &press);
            QApplication::sendEvent(focus(), &release);
        }
    }
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { QTest::keyClick(focus(), key, modifiers); }
    void save() { QTest::mouseClick(form->Button1, Qt::LeftButton); QCoreApplication::processEvents(); }
    QStringList boxTexts() const
    {
        QStringList texts;
        for (const auto &box : dialogs.boxes())
            texts << box.text;
        return texts;
    }
};

} // namespace

class TestEditor : public QObject
{
    Q_OBJECT

private slots:
    void titlesCaptionsAndFocus();
    void enterWalksTheEditsAndSaves();
    void checksInTheirOrder();
    void refusedKeys_data();
    void refusedKeys();
    void letterBecomesCapital();
    void commaTypedPointRefused();
    void innerBlankOfLargeResistance();
    void unreadableTextOnLeaving();
    void saveWithoutChangesStillCalculates();
    void cancelAddLeavesViewAsBefore();
    void cancelEditRestoresCommittedValues();
    void escapeReloadsTheEdit();
    void windowCloseIsCancel();
    void filterOnAddedSupportLeavesView();
    void failedCalculationKeepsDialogOpen();
    void numberEditsAlignment();
    void editOnEmptyViewAdds();
    void geometry();
};

void TestEditor::titlesCaptionsAndFocus()
{
    Fixture f;
    f.addSupport(1.0, 1, 2.0, 200);
    f.openAdd();
    QCOMPARE(f.form->windowTitle(), QString("Добавление новой опоры"));
    QCOMPARE(f.form->Button1->text(), QString("добавить"));
    QCOMPARE(f.focus(), f.form->DBEdit1);
    QTest::mouseClick(f.form->Button2, Qt::LeftButton);
    QVERIFY(!f.form->isVisible());
    f.openEdit();
    QCOMPARE(f.form->windowTitle(), QString("Редактирование данных по опоре"));
    QCOMPARE(f.form->Button1->text(), QString("Сохранить"));
    QCOMPARE(f.focus(), f.form->DBEdit1);
    QCOMPARE(f.form->DBEdit1->text(), QString("1"));
    QCOMPARE(f.form->DBEdit4->text(), QString("1,000"));
    QTest::mouseClick(f.form->Button2, Qt::LeftButton);
}

void TestEditor::enterWalksTheEditsAndSaves()
{
    Fixture f;
    f.addSupport(11.0, 20, 3.0, 200);
    f.db->Table1.First();
    f.openAdd();
    f.type("12");
    const QList<QWidget *> order{f.form->DBEdit2, f.form->DBEdit3, f.form->DBEdit4, f.form->DBEdit5,
                                 f.form->DBEdit6, f.form->Button1};
    const QStringList texts{"а", "ЖБ", "10,5", "2,5", "150", ""};
    for (int i = 0; i < order.size(); ++i) {
        f.key(Qt::Key_Return);
        QCOMPARE(f.focus(), order[i]);
        if (!texts[i].isEmpty())
            f.type(texts[i]);
    }
    f.key(Qt::Key_Return); // on the save button: saves
    QVERIFY(!f.form->isVisible());
    QCOMPARE(f.calculations, 1);
    QCOMPARE(f.db->Table1.RecordCount(), 2);
    QCOMPARE(f.db->Table1.RecNo(), 1); // the new Support, first by its chainage
    QCOMPARE(f.db->Table1Nomeropory->AsInteger(), qint64(12));
    QCOMPARE(f.db->Table1Index->AsString(), QString("А"));
    QCOMPARE(f.db->Table1Tipopory->AsString(), QString("ЖБ"));
    QCOMPARE(f.db->Table1Kilometr->AsFloat(), 10.5);
    QCOMPARE(f.db->Table1R_opory->AsFloat(), 150.0);
    QCOMPARE(f.db->Table1U_ras->AsFloat(), 2.5);
    QCOMPARE(f.db->Table1I_opory->AsFloat(), 16.667);
}

void TestEditor::checksInTheirOrder()
{
    Fixture f;
    f.openAdd();
    const QStringList expected{"Не указан пикетаж новой опоры!", "Не указан номер новой опоры!",
                               "Не указано сопротивление новой опоры!"};
    for (int step = 0; step < 3; ++step) {
        f.dialogs.clear();
        f.dialogs.answer(BoxButton::Ok);
        f.save();
        QCOMPARE(f.boxTexts(), QStringList{expected[step]});
        QCOMPARE(f.dialogs.events(), (QStringList{"beep", "box"}));
        const auto &box = f.dialogs.boxes().first();
        QCOMPARE(box.caption, QString("Error"));
        QCOMPARE(box.icon, toolkit::BoxIcon::Error);
        QCOMPARE(box.buttons, QList<BoxButton>{BoxButton::Ok});
        QVERIFY(f.form->isVisible());
        QCOMPARE(f.db->Table1.State(), DataSetState::Insert);
        if (step == 0)
            f.form->DBEdit4->setText("1,5");
        if (step == 1)
            f.form->DBEdit1->setText("0");
    }
    QTest::mouseClick(f.form->Button2, Qt::LeftButton);
    QCOMPARE(f.db->Table1.RecordCount(), 0);
}

void TestEditor::refusedKeys_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("beeps");
    QTest::newRow("number: blank and letter") << "DBEdit1" << "1 a2" << "12" << 2;
    QTest::newRow("number: three characters") << "DBEdit1" << "9999" << "999" << 0;
    QTest::newRow("number: signs") << "DBEdit1" << "-99" << "-99" << 0;
    QTest::newRow("chainage: blank and letter") << "DBEdit4" << "1 x2" << "12" << 2;
    QTest::newRow("chainage: exponent") << "DBEdit4" << "1e2E+" << "1e2E+" << 0;
    QTest::newRow("type: anything, three") << "DBEdit3" << "a b?" << "a b" << 0;
    QTest::newRow("letter: one") << "DBEdit2" << "xy" << "X" << 0;
}

void TestEditor::refusedKeys()
{
    QFETCH(QString, edit);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(int, beeps);
    Fixture f;
    f.openAdd();
    auto *box = f.form->findChild<DBEdit *>(edit);
    box->setFocus();
    f.type(typed);
    QCOMPARE(box->text(), shown);
    QCOMPARE(f.dialogs.beeps(), beeps);
    QTest::mouseClick(f.form->Button2, Qt::LeftButton);
}

void TestEditor::letterBecomesCapital()
{
    Fixture f;
    f.openAdd();
    f.form->DBEdit2->setFocus();
    f.type("б");
    QCOMPARE(f.form->DBEdit2->text(), QString("Б"));
    QTest::mouseClick(f.form->Button2, Qt::LeftButton);
}

void TestEditor::commaTypedPointRefused()
{
    Fixture f;
    f.openAdd();
    f.type("7");
    f.form->DBEdit4->setFocus();
    f.type("12.5"); // the point beeps
    QCOMPARE(f.dialogs.beeps(), 1);
    QCOMPARE(f.form->DBEdit4->text(), QString("125"));
    f.form->DBEdit4->clear();
    f.type("12,5");
    f.form->DBEdit6->setFocus();
    f.type("200");
    f.dialogs.answer(BoxButton::Ok); // nothing measured: the calculation says so
    f.save();
    QVERIFY(!f.form->isVisible());
    QCOMPARE(f.boxTexts().last(), QString("Нет замера на первой опоре!"));
    QCOMPARE(f.db->Table1Kilometr->AsFloat(), 12.5);
}

void TestEditor::innerBlankOfLargeResistance()
{
    Fixture f;
    f.addSupport(1.0, 1, 2.0, 1500);
    f.addSupport(2.0, 2, 3.0, 200);
    f.db->Table1.First();
    f.openEdit();
    QCOMPARE(f.form->DBEdit6->text(), QString("1 500,0"));
    f.save(); // untouched: not read back, saved as it was
    QVERIFY(!f.form->isVisible());
    QCOMPARE(f.db->Table1R_opory->AsFloat(), 1500.0);

    f.db->Table1.First();
    f.openEdit();
    f.form->DBEdit6->setFocus();
    f.key(Qt::Key_End);
    f.key(Qt::Key_Backspace);
    f.type("5"); // "1 500,5"
    f.dialogs.answer(BoxButton::Ok);
    f.save();
    QCOMPARE(f.boxTexts(), QStringList{"'1 500,5' is not a valid floating point value for field 'R_opory'"});
    QVERIFY(f.form->isVisible());
    QCOMPARE(f.db->Table1.State(), DataSetState::Edit);
    QCOMPARE(f.calculations, 1);
    f.form->DBEdit6->setText("1500,5");
    f.dialogs.clear();
    // setText is no typing: mark the edit as changed the way the user would
    f.form->DBEdit6->setFocus();
    f.key(Qt::Key_End);
    f.type("0");
    f.key(Qt::Key_Backspace);
    f.save();
    QVERIFY(!f.form->isVisible());
    QCOMPARE(f.db->Table1R_opory->AsFloat(), 1500.5);
}

void TestEditor::unreadableTextOnLeaving()
{
    Fixture f;
    f.addSupport(1.0, 1, 2.0, 200);
    f.openEdit();
    f.form->DBEdit4->setFocus();
    f.form->DBEdit4->selectAll();
    f.type("1,2,3");
    f.dialogs.answer(BoxButton::Ok);
    f.key(Qt::Key_Tab);
    QTRY_COMPARE(f.dialogs.boxes().size(), 1);
    QCOMPARE(f.boxTexts(), QStringList{"'1,2,3' is not a valid floating point value for field 'Kilometr'"});
    QTRY_COMPARE(f.focus(), f.form->DBEdit4);
    QCOMPARE(f.form->DBEdit4->selectedText(), QString("1,2,3"));
    QCOMPARE(f.db->Table1Kilometr->AsFloat(), 1.0);
    QTest::mouseClick(f.form->Button2, Qt::LeftButton);
}

void TestEditor::saveWithoutChangesStillCalculates()
{
    Fixture f;
    f.addSupport(1.0, 1, 2.0, 200);
    f.addSupport(1.5, 2, std::nullopt, 200);
    f.addSupport(2.0, 3, 3.0, 200);
    f.db->Table1.SetRecNo(2);
    f.openEdit();
    f.save();
    QVERIFY(!f.form->isVisible());
    QCOMPARE(f.calculations, 1);
    QCOMPARE(f.db->Table1.RecNo(), 2);
    QCOMPARE(f.db->Table1U_ras->AsFloat(), 2.5);
}

void TestEditor::cancelAddLeavesViewAsBefore()
{
    Fixture f;
    f.addSupport(1.0, 1, 2.0, 200);
    f.addSupport(2.0, 2, 3.0, 200);
    f.db->Table1.SetRecNo(2);
    f.openAdd();
    f.type("5");
    f.key(Qt::Key_Tab);
    QTest::mouseClick(f.form->Button2, Qt::LeftButton);
    QVERIFY(!f.form->isVisible());
    QCOMPARE(f.db->Table1.RecordCount(), 2);
    QCOMPARE(f.db->Table1.DisplayRowCount(), 2);
    QCOMPARE(f.db->Table1.RecNo(), 2);
    QCOMPARE(f.calculations, 0);
}

void TestEditor::cancelEditRestoresCommittedValues()
{
    Fixture f;
    f.addSupport(1.0, 1, 2.0, 200);
    f.openEdit();
    f.form->DBEdit3->setFocus();
    f.type("С1");
    f.key(Qt::Key_Tab); // written into the field
    QCOMPARE(f.db->Table1Tipopory->AsString(), QString("С1"));
    QTest::mouseClick(f.form->Button2, Qt::LeftButton);
    QCOMPARE(f.db->Table1.State(), DataSetState::Browse);
    QVERIFY(f.db->Table1Tipopory->IsNull());
}

void TestEditor::escapeReloadsTheEdit()
{
    Fixture f;
    f.addSupport(1.0, 7, 2.0, 200);
    f.openEdit();
    f.type("9");
    QCOMPARE(f.form->DBEdit1->text(), QString("9"));
    f.key(Qt::Key_Escape);
    QVERIFY(f.form->isVisible());
    QCOMPARE(f.form->DBEdit1->text(), QString("7"));
    QCOMPARE(f.form->DBEdit1->selectedText(), QString("7"));
    QTest::mouseClick(f.form->Button2, Qt::LeftButton);
}

void TestEditor::windowCloseIsCancel()
{
    Fixture f;
    f.addSupport(1.0, 1, 2.0, 200);
    f.openAdd();
    f.type("4");
    f.form->close(); // what Alt+F4 asks of the window
    QVERIFY(!f.form->isVisible());
    QCOMPARE(f.db->Table1.State(), DataSetState::Browse);
    QCOMPARE(f.db->Table1.RecordCount(), 1);
    QVERIFY(!f.form->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!f.form->windowFlags().testFlag(Qt::WindowSystemMenuHint));
}

void TestEditor::filterOnAddedSupportLeavesView()
{
    Fixture f;
    f.addSupport(1.0, 1, 20.0, 200);
    f.addSupport(2.0, 2, 30.0, 200);
    calc::calculateLeakage(*f.db, [](const QString &) {});
    f.db->Table1.SetFilter(kLeakageFilter);
    QCOMPARE(f.db->Table1.RecordCount(), 2);
    f.openAdd();
    f.type("3");
    f.form->DBEdit4->setFocus();
    f.type("3");
    f.form->DBEdit6->setFocus();
    f.type("200");
    f.save();
    QVERIFY(!f.form->isVisible());
    QCOMPARE(f.db->Table1.RecordCount(), 2); // its current is blank: not in the filtered view
    QCOMPARE(f.calculations, 1);
}

void TestEditor::failedCalculationKeepsDialogOpen()
{
    Fixture f;
    f.addSupport(1.0, 1, 2.0, 200);
    f.addSupport(2.0, 2, 3.0, 200);
    f.openAdd();
    f.type("3");
    f.form->DBEdit4->setFocus();
    f.type("1,5");
    f.form->DBEdit6->setFocus();
    f.type("0");
    f.dialogs.answer(BoxButton::Ok);
    f.save();
    QCOMPARE(f.boxTexts(), QStringList{"Floating point division by zero."});
    QVERIFY(f.form->isVisible());
    QCOMPARE(f.db->Table1.RecordCount(), 3); // the Support is saved
    QTest::mouseClick(f.form->Button2, Qt::LeftButton);
    QVERIFY(!f.form->isVisible());
    QCOMPARE(f.db->Table1.State(), DataSetState::Browse);
}

void TestEditor::numberEditsAlignment()
{
    Fixture f;
    f.openAdd();
    QVERIFY(f.form->DBEdit1->alignment() & Qt::AlignLeft); // has the focus
    QVERIFY(f.form->DBEdit4->alignment() & Qt::AlignRight);
    QVERIFY(f.form->DBEdit3->alignment() & Qt::AlignLeft);
    f.form->DBEdit4->setFocus();
    QVERIFY(f.form->DBEdit4->alignment() & Qt::AlignLeft);
    QVERIFY(f.form->DBEdit1->alignment() & Qt::AlignRight);
    QTest::mouseClick(f.form->Button2, Qt::LeftButton);
}

void TestEditor::editOnEmptyViewAdds()
{
    Fixture f;
    f.openEdit();
    QCOMPARE(f.db->Table1.State(), DataSetState::Insert);
    f.type("1");
    f.form->DBEdit4->setFocus();
    f.type("1");
    f.form->DBEdit5->setFocus();
    f.type("2");
    f.form->DBEdit6->setFocus();
    f.type("100");
    f.dialogs.answer(BoxButton::Ok); // one measured Support: the calculation fails
    f.save();
    QCOMPARE(f.db->Table1.RecordCount(), 1);
    QCOMPARE(f.boxTexts(), QStringList{"Invalid floating point operation."});
    QTest::mouseClick(f.form->Button2, Qt::LeftButton);
}

void TestEditor::geometry()
{
    Fixture f;
    f.openAdd();
    QCOMPARE(f.form->size(), QSize(365, 85));
    const QList<QPair<QWidget *, QRect>> edits{
        {f.form->DBEdit1, {8, 22, 55, 21}},   {f.form->DBEdit2, {64, 22, 19, 21}},
        {f.form->DBEdit3, {88, 22, 67, 21}},  {f.form->DBEdit4, {160, 22, 69, 21}},
        {f.form->DBEdit5, {232, 22, 75, 21}}, {f.form->DBEdit6, {310, 22, 49, 21}},
        {f.form->Button1, {8, 52, 75, 25}},   {f.form->Button2, {286, 52, 75, 25}}};
    for (const auto &[widget, rect] : edits)
        QCOMPARE(widget->geometry(), rect);
    QCOMPARE(f.form->Label3->pos(), QPoint(172, 9));
    QCOMPARE(f.form->Label4->text(), QString("R опоры"));
    QCOMPARE(f.form->Label5->text(), QString("Замер U"));
    QTest::mouseClick(f.form->Button2, Qt::LeftButton);
}

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
