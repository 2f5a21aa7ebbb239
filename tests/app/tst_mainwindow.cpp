// The main window on a real store: start-up, the window's bands and header
// boxes, the menus, the section list with its in-place editing, adding and
// deleting Sections, the section caption, the leakage filter switch and
// leaving. Keys and clicks are real events on the real window.
#include "appfixture.h"

#include "app/startup.h"
#include "toolkit/application.h"
#include "toolkit/bevel.h"
#include "toolkit/colors.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>

using toolkit::BoxButton;
using toolkit::BoxIcon;

namespace {

const QString kPrefix = QStringLiteral("Таблица опор участка ");

void seedThree(Seeder &s)
{
    const qint64 a = s.addSection(QStringLiteral("Москва-Тверь"));
    s.addSection(QStringLiteral("Участок 2"));
    s.addSection(QStringLiteral("Третий"));
    for (const auto &[km, number, leakage] : {std::tuple{1.0, 1, 55.0}, {2.0, 2, 10.0}, {3.0, 3, 70.0}}) {
        SupportValues v;
        v.km = km;
        v.number = number;
        v.leakage = leakage;
        s.addSupport(a, v);
    }
}

QWidget *focused()
{
    return QApplication::focusWidget();
}

void press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QWidget *w = focused();
    QVERIFY(w);
    QTest::keyClick(w, key, mods);
}

// Types text into whatever has the focus, Cyrillic included.
void type(const QString &text)
{
    for (QChar c : text) {
        QWidget *w = focused();
        QVERIFY(w);
        QKeyEvent down(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &down);
        QKeyEvent up(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &up);
    }
}

QStringList sectionNames(TForm1 &f)
{
    QStringList names;
    for (int row = 0; row < f.DBGrid2->model()->rowCount(); ++row)
        names << cellText(f.DBGrid2, row, 0);
    return names;
}

QString supportsFile(const TempAlias &home)
{
    return home.defaultFolder() + QStringLiteral("/base_kor.db");
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void startUpOnAFreshMachine();
    void startUpNamesTheFirstSection();
    void startUpFailsWithoutATable();
    void windowAndBands();
    void headerBoxes_data();
    void headerBoxes();
    void headerTexts();
    void menus();
    void sectionListSettings();
    void movingFollowsTheSection_data();
    void movingFollowsTheSection();
    void clickMovesToTheSection();
    void typingRenamesAndEnterPosts();
    void captionKeepsTheOldNameUntilAMove();
    void f2AndClickOpenTheEditor();
    void escapeOnceThenTwice();
    void editorIsLimitedTo20Characters();
    void enterWhileBrowsingDoesNothing();
    void leavingTheGridWritesButDoesNotPost();
    void addWithMenuAndEscape();
    void addWithMenuAndEnter();
    void insertKeyAndDownOnTheLastRow();
    void emptyNewRowIsDroppedWhenLeft();
    void ctrlDeleteRemovesTheSectionWithItsSupports();
    void deleteBoxAndNo_data();
    void deleteBoxAndNo();
    void deleteWithTheFilterOn();
    void deleteRefusedByTheFile();
    void deleteOnAnEmptyList();
    void filterSwitch();
    void leaving();
    void modelOfTheSectionList();
};

void MainWindowTest::startUpOnAFreshMachine()
{
    TempAlias home;
    ScriptedDialogs dialogs;
    bool shown = false;
    QString caption;
    int sections = -1;
    int supports = -1;
    const int code = startUp([&](TForm1 &f) -> int {
        shown = f.isVisible();
        caption = f.Label25->text();
        sections = f.DBGrid2->model()->rowCount() + f.Table2.RecordCount();
        supports = f.DBGrid1->model()->rowCount() + f.Table1.RecordCount();
        return 0;
    });
    QCOMPARE(code, 0);
    QVERIFY(shown);
    QCOMPARE(caption, kPrefix);
    QCOMPARE(sections, 0);
    QCOMPARE(supports, 0);
    QVERIFY(dialogs.boxes().isEmpty());
    // The default alias was made with the program's empty tables.
    QVERIFY(QFile::exists(home.defaultFolder() + QStringLiteral("/line.db")));
    QVERIFY(QFile::exists(supportsFile(home)));
}

void MainWindowTest::startUpNamesTheFirstSection()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    QCOMPARE(w.Label25->text(), kPrefix + QStringLiteral("Москва-Тверь"));
    QCOMPARE(w.Table2.RecNo(), 1);
    QCOMPARE(w.Table1.RecNo(), 1);
    QCOMPARE(w.Table1.RecordCount(), 3);
    QCOMPARE(sectionNames(w), QStringList({"Москва-Тверь", "Участок 2", "Третий"}));
    QCOMPARE(w.DBGrid1->gridModel()->currentRow(), 0);
    QCOMPARE(w.N14->isChecked(), false);
    QVERIFY(w.Table1.Filtered());
    QVERIFY(w.Table1.Filter().isEmpty());
}

void MainWindowTest::startUpFailsWithoutATable()
{
    TempAlias home;
    // A configured alias is used as it stands: its missing tables are an error.
    const QString folder = home.root() + QStringLiteral("/configured");
    QDir().mkpath(folder);
    home.configure(QStringLiteral("kor"), folder);
    ScriptedDialogs dialogs;
    dialogs.answer(BoxButton::Ok);
    bool ran = false;
    const int code = startUp([&](TForm1 &) -> int {
        ran = true;
        return 0;
    });
    QCOMPARE(code, 1);
    QVERIFY(!ran);
    QCOMPARE(dialogs.boxes().size(), 1);
    const toolkit::BoxDescription box = dialogs.boxes().first();
    QCOMPARE(box.caption, QStringLiteral("Application Error"));
    QCOMPARE(box.icon, BoxIcon::Error);
    QVERIFY2(box.text.startsWith(QStringLiteral("Exception store::StoreError in module ")), qPrintable(box.text));
    QVERIFY2(box.text.contains(QStringLiteral("line.db")) || box.text.contains(QStringLiteral("base_kor.db")),
             qPrintable(box.text));
    QVERIFY(QApplication::topLevelWidgets().isEmpty()
            || std::none_of(QApplication::topLevelWidgets().begin(), QApplication::topLevelWidgets().end(),
                            [](QWidget *w) { return w->isVisible(); }));
    QVERIFY(!QFile::exists(folder + QStringLiteral("/line.db")));
}

void MainWindowTest::windowAndBands()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    QCOMPARE(w.windowTitle(), QStringLiteral("Программа расчета тока утечки опор"));
    QCOMPARE(w.centralWidget()->size(), QSize(543, 556));
    const Qt::WindowFlags flags = w.windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(w.minimumSize() != w.maximumSize());
    QCOMPARE(w.palette().color(QPalette::Window), toolkit::clBtnFace());
    QCOMPARE(w.font().family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(w.font().pixelSize(), 11);
    // Centred on the screen when first shown.
    const QPoint centre = w.screen()->availableGeometry().center();
    QVERIFY2(std::abs(w.geometry().center().x() - centre.x()) <= 2 && std::abs(w.geometry().center().y() - centre.y()) <= 2,
             qPrintable(QStringLiteral("%1,%2").arg(w.geometry().center().x()).arg(w.geometry().center().y())));

    auto inClient = [&](QWidget *child) { return QRect(child->mapTo(w.centralWidget(), QPoint(0, 0)), child->size()); };
    QCOMPARE(inClient(w.Panel1), QRect(0, 0, 543, 157));
    QCOMPARE(inClient(w.Panel3), QRect(0, 157, 543, 57));
    QCOMPARE(inClient(w.DBGrid1), QRect(0, 214, 543, 556 - 214));
    QCOMPARE(inClient(w.DBGrid2), QRect(0, 0, 543, 157));
    QCOMPARE(w.Panel3->palette().color(QPalette::Window), toolkit::clInfoBk());

    // The bands follow the window's width and the support grid its height.
    w.resize(700, w.height() + 100);
    QTRY_COMPARE(inClient(w.DBGrid1).size(), QSize(700, 556 - 214 + 100));
    QCOMPARE(inClient(w.Panel3).size(), QSize(700, 57));
    QCOMPARE(w.Bevel9->width(), 700);
}

void MainWindowTest::headerBoxes_data()
{
    QTest::addColumn<QString>("bevel");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("labelWidth");
    QTest::addColumn<int>("firstColumn");
    QTest::addColumn<int>("lastColumn");
    QTest::newRow("number") << "Bevel6" << "Label11" << 0 << 70 << 67 << 0 << 1;
    QTest::newRow("type") << "Bevel5" << "Label12" << 70 << 47 << 44 << 2 << 2;
    QTest::newRow("chainage") << "Bevel4" << "Label13" << 117 << 64 << 60 << 3 << 3;
    QTest::newRow("measured") << "Bevel3" << "Label14" << 181 << 63 << 59 << 4 << 4;
    QTest::newRow("calculated") << "Bevel2" << "Label15" << 244 << 73 << 69 << 5 << 5;
    QTest::newRow("resistance") << "Bevel1" << "Label23" << 317 << 68 << 64 << 6 << 6;
    QTest::newRow("leakage") << "Bevel8" << "Label24" << 385 << 64 << 60 << 7 << 7;
}

void MainWindowTest::headerBoxes()
{
    QFETCH(QString, bevel);
    QFETCH(QString, label);
    QFETCH(int, x);
    QFETCH(int, width);
    QFETCH(int, labelWidth);
    QFETCH(int, firstColumn);
    QFETCH(int, lastColumn);
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    auto *box = w.Panel3->findChild<toolkit::Bevel *>(bevel);
    auto *text = w.Panel3->findChild<QLabel *>(label);
    QVERIFY(box && text);
    QCOMPARE(box->geometry(), QRect(x, 25, width, 32));
    QCOMPARE(box->shape(), toolkit::Bevel::Shape::Box);
    QCOMPARE(box->bevelStyle(), toolkit::Bevel::Style::Raised);
    QCOMPARE(text->geometry(), QRect(x + 2, 27, labelWidth, 26));
    QVERIFY(text->alignment().testFlag(Qt::AlignHCenter));
    QCOMPARE(text->font().pixelSize(), 11);
    // The box stands over its columns: their cells begin inside it and end
    // within one pixel (the grid line) of its right edge.
    auto columnLeft = [&](int c) {
        return w.DBGrid1->viewport()->mapTo(w.Panel3->parentWidget(), w.DBGrid1->cellRect(0, c).topLeft()).x();
    };
    const int left = columnLeft(firstColumn);
    const QRect last = w.DBGrid1->cellRect(0, lastColumn);
    const int right = columnLeft(lastColumn) + last.width(); // exclusive
    QVERIFY2(left >= x && left <= x + 2, qPrintable(QString::number(left)));
    QVERIFY2(right >= x + width - 1 && right <= x + width + 1, qPrintable(QString::number(right)));
}

void MainWindowTest::headerTexts()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    const QList<std::pair<QLabel *, QString>> texts = {
        {w.Label11, QStringLiteral("Номер\nопоры")},      {w.Label12, QStringLiteral("Тип\nопоры")},
        {w.Label13, QStringLiteral("Пикетаж,\nкм")},      {w.Label14, QStringLiteral("Замер U,\nB")},
        {w.Label15, QStringLiteral("Расчетное\nU, B")},   {w.Label23, QStringLiteral("R опоры,\nОм")},
        {w.Label24, QStringLiteral("Ток утечки,\nмА")},
    };
    for (const auto &[label, text] : texts)
        QCOMPARE(label->text(), text);
    // The letters U, B and R are Latin; the volt sign is not the Cyrillic В.
    QCOMPARE(w.Label14->text().right(1).at(0).unicode(), ushort('B'));
    QCOMPARE(w.Label15->text().at(w.Label15->text().indexOf(u'\n') + 1).unicode(), ushort('U'));
    QCOMPARE(w.Label15->text().right(1).at(0).unicode(), ushort('B'));
    QCOMPARE(w.Label23->text().at(0).unicode(), ushort('R'));
    QVERIFY(!w.Label14->text().contains(QChar(0x0412)));

    QCOMPARE(w.Label25->geometry(), QRect(1, 1, 461, 21));
    QCOMPARE(w.Label25->alignment(), Qt::AlignCenter);
    QCOMPARE(w.Label25->font().pixelSize(), 13);
    QVERIFY(w.Label25->font().bold());
    QVERIFY(w.Label25->font().underline());
    QCOMPARE(w.Bevel9->geometry(), QRect(0, 0, 543, 25));
    QCOMPARE(w.Bevel9->shape(), toolkit::Bevel::Shape::BottomLine);
    QCOMPARE(w.Bevel9->bevelStyle(), toolkit::Bevel::Style::Lowered);
    // The lowered rule: shade over light on the last two rows of the upper band.
    const QImage rule = w.Panel3->grab(QRect(200, 23, 1, 2)).toImage();
    QCOMPARE(rule.pixelColor(0, 0).rgb(), toolkit::clBtnShadow().rgb());
    QCOMPARE(rule.pixelColor(0, 1).rgb(), toolkit::clBtnHighlight().rgb());
    // A raised box: lit top-left edge, shaded bottom-right edge.
    const QImage boxImage = w.Bevel4->grab().toImage();
    QCOMPARE(boxImage.pixelColor(10, 0).rgb(), toolkit::clBtnHighlight().rgb());
    QCOMPARE(boxImage.pixelColor(0, 10).rgb(), toolkit::clBtnHighlight().rgb());
    QCOMPARE(boxImage.pixelColor(10, 31).rgb(), toolkit::clBtnShadow().rgb());
    QCOMPARE(boxImage.pixelColor(63, 10).rgb(), toolkit::clBtnShadow().rgb());
}

void MainWindowTest::menus()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    QStringList titles;
    QList<QStringList> items;
    for (QAction *menu : w.MainMenu1->actions()) {
        titles << menu->text();
        QStringList names;
        for (QAction *item : menu->menu()->actions())
            names << (item->isSeparator() ? QStringLiteral("-") : item->text());
        items << names;
    }
    QCOMPARE(titles, QStringList({"Файл", "Таблица", "Фильтр", "Сервис"}));
    QCOMPARE(items.at(0), QStringList({"Печать", "-", "Выход"}));
    QCOMPARE(items.at(1), QStringList({"Заполнить...", "Очистить...", "-", "Расчитать"}));
    QCOMPARE(items.at(2), QStringList({"Опоры с I>40 мА"}));
    QCOMPARE(items.at(3), QStringList({"График участка...", "-", "Импорт опор...", "Экспорт...", "-",
                                       "Резервные копии...", "Проверка базы..."}));
    QCOMPARE(w.menuService->actions().first(), w.actionPlot);
    QCOMPARE(w.menuService->actions().mid(5), QList<QAction *>({w.actionBackups, w.actionCheckDatabase}));
    QCOMPARE(w.actionBackups->objectName(), QStringLiteral("actionBackups"));
    QCOMPARE(w.actionCheckDatabase->objectName(), QStringLiteral("actionCheckDatabase"));
    QCOMPARE(w.MainMenu1->actions().at(0)->menu()->actions().at(0), w.N10);
    QCOMPARE(w.MainMenu1->actions().at(0)->menu()->actions().at(2), w.N4);
    QCOMPARE(w.MainMenu1->actions().at(1)->menu()->actions().at(3), w.N8);
    QVERIFY(w.N16->isSeparator() && w.N17->isSeparator());
    QCOMPARE(w.PopupMenu1->actions(), QList<QAction *>({w.N1, w.N12, w.N2}));
    QCOMPARE(w.PopupMenu2->actions(), QList<QAction *>({w.N11, w.N15}));
    QCOMPARE(w.N1->text(), QStringLiteral("Добавить опору"));
    QCOMPARE(w.N12->text(), QStringLiteral("Редактировать опору"));
    QCOMPARE(w.N2->text(), QStringLiteral("Удалить опору"));
    QCOMPARE(w.N11->text(), QStringLiteral("Добавить"));
    QCOMPARE(w.N15->text(), QStringLiteral("Удалить"));
    QVERIFY(w.N14->isCheckable());
    for (QAction *a : w.findChildren<QAction *>())
        QVERIFY2(a->shortcut().isEmpty(), qPrintable(a->text()));
    QCOMPARE(w.DBGrid1->popupMenu(), w.PopupMenu1);
    QCOMPARE(w.DBGrid2->popupMenu(), w.PopupMenu2);
}

void MainWindowTest::sectionListSettings()
{
    WindowFixture f(seedThree);
    toolkit::DBGrid *g = f.form().DBGrid2;
    using toolkit::GridOption;
    QCOMPARE(g->options(), GridOption::Titles | GridOption::Editing | GridOption::ColumnResize | GridOption::ColLines
                               | GridOption::RowLines | GridOption::Tabs | GridOption::ConfirmDelete);
    QCOMPARE(g->columns().size(), 1);
    QCOMPARE(g->columns().at(0).fieldName, QStringLiteral("Line"));
    QCOMPARE(g->cellRect(0, 0).width(), 251);
    QCOMPARE(g->columns().at(0).title, QStringLiteral("Название участка"));
    QCOMPARE(g->columns().at(0).titleFont->family(), QStringLiteral("Times New Roman"));
    QCOMPARE(g->columns().at(0).titleFont->pixelSize(), 16);
    QCOMPARE(g->font().family(), QStringLiteral("Courier New"));
    QCOMPARE(g->font().pixelSize(), 16);
    QVERIFY(g->font().bold());
    QVERIFY(g->horizontalHeader()->isVisible());
    QCOMPARE(g->horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
    QVERIFY(!g->verticalHeader()->isVisible());
    QCOMPARE(g->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Название участка"));
    // Money green behind the rows and below them.
    QCOMPARE(cellPixel(g, 1, 0, QPoint(240, 2)).rgb(), toolkit::clMoneyGreen().rgb());
    const QImage below = g->viewport()->grab(QRect(5, g->viewport()->height() - 3, 1, 1)).toImage();
    QCOMPARE(below.pixelColor(0, 0).rgb(), toolkit::clMoneyGreen().rgb());
    // And in the title row, right of the title.
    const QHeaderView *titles = g->horizontalHeader();
    const QImage right = titles->viewport()->grab(QRect(titles->length() + 5, titles->height() / 2, 1, 1)).toImage();
    QCOMPARE(right.pixelColor(0, 0).rgb(), toolkit::clMoneyGreen().rgb());
}

void MainWindowTest::movingFollowsTheSection_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("start"); // 1-based
    QTest::addColumn<int>("expected");
    QTest::newRow("down") << int(Qt::Key_Down) << 0 << 1 << 2;
    QTest::newRow("up") << int(Qt::Key_Up) << 0 << 2 << 1;
    QTest::newRow("end") << int(Qt::Key_End) << 0 << 1 << 3;
    QTest::newRow("ctrl+end") << int(Qt::Key_End) << int(Qt::ControlModifier) << 1 << 3;
    QTest::newRow("home") << int(Qt::Key_Home) << 0 << 3 << 1;
    QTest::newRow("ctrl+home") << int(Qt::Key_Home) << int(Qt::ControlModifier) << 3 << 1;
    QTest::newRow("page down") << int(Qt::Key_PageDown) << 0 << 1 << 3;
    QTest::newRow("page up") << int(Qt::Key_PageUp) << 0 << 3 << 1;
    QTest::newRow("tab") << int(Qt::Key_Tab) << 0 << 1 << 2;
    QTest::newRow("shift+tab") << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << 2 << 1;
}

void MainWindowTest::movingFollowsTheSection()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, start);
    QFETCH(int, expected);
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    w.DBGrid2->setFocus();
    w.Table2.SetRecNo(start);
    press(Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(w.Table2.RecNo(), expected);
    QCOMPARE(w.DBGrid2->gridModel()->currentRow(), expected - 1);
    const QStringList names = {"Москва-Тверь", "Участок 2", "Третий"};
    QCOMPARE(w.Label25->text(), kPrefix + names.at(expected - 1));
    // The support grid follows the current Section.
    QCOMPARE(w.Table1.RecordCount(), expected == 1 ? 3 : 0);
    QCOMPARE(w.DBGrid1->model()->rowCount(), expected == 1 ? 3 : 0);
    QCOMPARE(w.Table2.RecordCount(), 3);
}

void MainWindowTest::clickMovesToTheSection()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    clickCell(w.DBGrid2, 2, 0);
    QCOMPARE(w.Table2.RecNo(), 3);
    QVERIFY(w.DBGrid2->hasFocus());
    QVERIFY(!w.DBGrid2->editorMode());
    clickCell(w.DBGrid2, 1, 0, Qt::RightButton);
    QCOMPARE(w.Table2.RecNo(), 2);
    openContextMenu(w.DBGrid2, 1);
    QTRY_VERIFY(w.PopupMenu2->isVisible());
    w.PopupMenu2->hide();
    // Below the last row nothing moves.
    QTest::mouseClick(w.DBGrid2->viewport(), Qt::LeftButton, {}, QPoint(10, w.DBGrid2->viewport()->height() - 3));
    QCOMPARE(w.Table2.RecNo(), 2);
    QCOMPARE(w.Table2.State(), DataSetState::Browse);
}

void MainWindowTest::typingRenamesAndEnterPosts()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    w.DBGrid2->setFocus();
    type(QStringLiteral("Новый"));
    QVERIFY(w.DBGrid2->editorMode());
    QCOMPARE(w.DBGrid2->inplaceEditor()->text(), QStringLiteral("Новый"));
    QCOMPARE(w.Table2.State(), DataSetState::Edit);
    // Typing alone writes nothing into the field yet.
    QCOMPARE(w.Table2Line->AsString(), QStringLiteral("Москва-Тверь"));
    press(Qt::Key_Return);
    QCOMPARE(w.Table2.State(), DataSetState::Browse);
    QCOMPARE(w.Table2Line->AsString(), QStringLiteral("Новый"));
    // Enter neither opens nor closes the cell editor.
    QVERIFY(w.DBGrid2->editorMode());
    // The name is in the store.
    f.close();
    Seeder s;
    QCOMPARE(s.db().Table2Line->AsString(), QStringLiteral("Новый"));
}

void MainWindowTest::captionKeepsTheOldNameUntilAMove()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    w.DBGrid2->setFocus();
    press(Qt::Key_F2);
    QWidget *editor = focused();
    QCOMPARE(editor, w.DBGrid2->inplaceEditor());
    static_cast<QLineEdit *>(editor)->selectAll();
    type(QStringLiteral("Другое"));
    press(Qt::Key_Return);
    QCOMPARE(w.Table2Line->AsString(), QStringLiteral("Другое"));
    QCOMPARE(w.Label25->text(), kPrefix + QStringLiteral("Москва-Тверь"));
    press(Qt::Key_Down);
    QCOMPARE(w.Label25->text(), kPrefix + QStringLiteral("Участок 2"));
    QVERIFY(!w.DBGrid2->editorMode());
    press(Qt::Key_Up);
    QCOMPARE(w.Label25->text(), kPrefix + QStringLiteral("Другое"));
    QCOMPARE(cellText(w.DBGrid2, 0, 0), QStringLiteral("Другое"));
}

void MainWindowTest::f2AndClickOpenTheEditor()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    w.DBGrid2->setFocus();
    press(Qt::Key_F2);
    QVERIFY(w.DBGrid2->editorMode());
    QCOMPARE(w.DBGrid2->inplaceEditor()->text(), QStringLiteral("Москва-Тверь"));
    QCOMPARE(w.Table2.State(), DataSetState::Edit);
    QCOMPARE(w.DBGrid2->inplaceEditor()->geometry(), w.DBGrid2->cellRect(0, 0));
    // Moving away with nothing typed leaves the Section as it was.
    press(Qt::Key_Down);
    QCOMPARE(w.Table2.State(), DataSetState::Browse);
    QVERIFY(!w.DBGrid2->editorMode());
    QCOMPARE(w.Table2.RecNo(), 2);
    // A click on another row moves; a click on the current cell opens the editor.
    clickCell(w.DBGrid2, 1, 0);
    QVERIFY(w.DBGrid2->editorMode());
    QCOMPARE(w.DBGrid2->inplaceEditor()->text(), QStringLiteral("Участок 2"));
    QCOMPARE(w.Table2.State(), DataSetState::Edit);
}

void MainWindowTest::escapeOnceThenTwice()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    w.DBGrid2->setFocus();
    type(QStringLiteral("xyz"));
    press(Qt::Key_Escape);
    // The first Esc undoes the typing; the record is still being edited.
    QVERIFY(w.DBGrid2->editorMode());
    QCOMPARE(w.DBGrid2->inplaceEditor()->text(), QStringLiteral("Москва-Тверь"));
    QCOMPARE(w.Table2.State(), DataSetState::Edit);
    press(Qt::Key_Escape);
    QCOMPARE(w.Table2.State(), DataSetState::Browse);
    QVERIFY(!w.DBGrid2->editorMode());
    QCOMPARE(w.Table2Line->AsString(), QStringLiteral("Москва-Тверь"));
    QVERIFY(w.DBGrid2->hasFocus());
    // A text left in the field by leaving the grid is undone by one Esc.
    type(QStringLiteral("abc"));
    w.DBGrid1->setFocus();
    QCOMPARE(w.Table2Line->AsString(), QStringLiteral("abc"));
    w.DBGrid2->setFocus();
    press(Qt::Key_Escape);
    QCOMPARE(w.Table2.State(), DataSetState::Browse);
    QCOMPARE(w.Table2Line->AsString(), QStringLiteral("Москва-Тверь"));
}

void MainWindowTest::editorIsLimitedTo20Characters()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    w.DBGrid2->setFocus();
    type(QStringLiteral("123456789012345678901234"));
    QCOMPARE(w.DBGrid2->inplaceEditor()->text(), QStringLiteral("12345678901234567890"));
    press(Qt::Key_Return);
    QCOMPARE(w.Table2Line->AsString(), QStringLiteral("12345678901234567890"));
}

void MainWindowTest::enterWhileBrowsingDoesNothing()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    w.DBGrid2->setFocus();
    press(Qt::Key_Return);
    QCOMPARE(w.Table2.State(), DataSetState::Browse);
    QVERIFY(!w.DBGrid2->editorMode());
    QCOMPARE(w.Table2.RecNo(), 1);
    QVERIFY(f.dialogs().boxes().isEmpty());
}

void MainWindowTest::leavingTheGridWritesButDoesNotPost()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    w.DBGrid2->setFocus();
    type(QStringLiteral("Q"));
    w.DBGrid1->setFocus();
    QCOMPARE(w.Table2.State(), DataSetState::Edit);
    QCOMPARE(w.Table2Line->AsString(), QStringLiteral("Q"));
    QVERIFY(!w.DBGrid2->editorMode());
    {
        Seeder s; // another reader sees the stored name unchanged
        QCOMPARE(s.db().Table2Line->AsString(), QStringLiteral("Москва-Тверь"));
    }
    // A move settles it.
    w.DBGrid2->setFocus();
    press(Qt::Key_Down);
    QCOMPARE(w.Table2.State(), DataSetState::Browse);
    QCOMPARE(cellText(w.DBGrid2, 0, 0), QStringLiteral("Q"));
}

void MainWindowTest::addWithMenuAndEscape()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    w.DBGrid2->setFocus();
    press(Qt::Key_Down);
    w.N11->trigger();
    QCOMPARE(w.Table2.State(), DataSetState::Insert);
    QCOMPARE(w.DBGrid2->gridModel()->currentRow(), 1);
    QCOMPARE(sectionNames(w), QStringList({"Москва-Тверь", "", "Участок 2", "Третий"}));
    QCOMPARE(w.Label25->text(), kPrefix);
    QCOMPARE(w.DBGrid1->model()->rowCount(), 0);
    type(QStringLiteral("Н"));
    press(Qt::Key_Escape);
    QCOMPARE(w.Table2.State(), DataSetState::Insert);
    press(Qt::Key_Escape);
    QCOMPARE(w.Table2.State(), DataSetState::Browse);
    QCOMPARE(sectionNames(w), QStringList({"Москва-Тверь", "Участок 2", "Третий"}));
    QCOMPARE(w.Label25->text(), kPrefix + QStringLiteral("Участок 2"));
    // Without typing, one Esc removes the new row.
    w.N11->trigger();
    press(Qt::Key_Escape);
    QCOMPARE(w.Table2.RecordCount(), 3);
    QCOMPARE(w.DBGrid2->model()->rowCount(), 3);
    QCOMPARE(w.Label25->text(), kPrefix + QStringLiteral("Участок 2"));
}

void MainWindowTest::addWithMenuAndEnter()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    w.DBGrid2->setFocus();
    w.N11->trigger();
    type(QStringLiteral("Новый участок"));
    press(Qt::Key_Return);
    QCOMPARE(w.Table2.State(), DataSetState::Browse);
    QCOMPARE(w.Table2Line->AsString(), QStringLiteral("Новый участок"));
    QCOMPARE(w.Table2N_line->AsInteger(), 4);
    // It takes its place in the table's order: the last.
    QCOMPARE(sectionNames(w).last(), QStringLiteral("Новый участок"));
    QCOMPARE(w.Table2.RecNo(), 4);
    QCOMPARE(w.DBGrid2->gridModel()->currentRow(), 3);
    QVERIFY(w.DBGrid2->editorMode());
    QCOMPARE(w.DBGrid2->inplaceEditor()->geometry(), w.DBGrid2->cellRect(3, 0));
}

void MainWindowTest::insertKeyAndDownOnTheLastRow()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    w.DBGrid2->setFocus();
    press(Qt::Key_Down);
    press(Qt::Key_Insert);
    QCOMPARE(w.Table2.State(), DataSetState::Insert);
    QCOMPARE(sectionNames(w), QStringList({"Москва-Тверь", "", "Участок 2", "Третий"}));
    press(Qt::Key_Up); // nothing typed: the row goes, the row above it is current
    QCOMPARE(w.Table2.State(), DataSetState::Browse);
    QCOMPARE(w.Table2.RecNo(), 1);
    QCOMPARE(w.Table2.RecordCount(), 3);

    press(Qt::Key_End);
    press(Qt::Key_Down);
    QCOMPARE(w.Table2.State(), DataSetState::Insert);
    QCOMPARE(w.DBGrid2->gridModel()->currentRow(), 3);
    press(Qt::Key_Down); // an empty new row at the end: nothing
    QCOMPARE(w.Table2.State(), DataSetState::Insert);
    QCOMPARE(w.DBGrid2->model()->rowCount(), 4);
    type(QStringLiteral("Четвертый"));
    press(Qt::Key_Down); // posts, and adds the next one after it
    QCOMPARE(w.Table2.RecordCount(), 4);
    QCOMPARE(w.Table2.State(), DataSetState::Insert);
    QCOMPARE(sectionNames(w), QStringList({"Москва-Тверь", "Участок 2", "Третий", "Четвертый", ""}));
    press(Qt::Key_Up);
    QCOMPARE(w.Table2.State(), DataSetState::Browse);
    QCOMPARE(w.Label25->text(), kPrefix + QStringLiteral("Четвертый"));
    // Tab on the last row adds one as well.
    press(Qt::Key_Tab);
    QCOMPARE(w.Table2.State(), DataSetState::Insert);
}

void MainWindowTest::emptyNewRowIsDroppedWhenLeft()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    w.DBGrid2->setFocus();
    press(Qt::Key_Insert);
    clickCell(w.DBGrid2, 2, 0);
    QCOMPARE(w.Table2.State(), DataSetState::Browse);
    QCOMPARE(w.Table2.RecordCount(), 3);
    QCOMPARE(w.Label25->text(), kPrefix + QStringLiteral("Участок 2"));
    // A new row with a name typed is posted by the move.
    press(Qt::Key_Insert);
    type(QStringLiteral("N"));
    press(Qt::Key_Down);
    QCOMPARE(w.Table2.RecordCount(), 4);
}

void MainWindowTest::ctrlDeleteRemovesTheSectionWithItsSupports()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    w.DBGrid2->setFocus();
    f.dialogs().answer(BoxButton::Cancel);
    press(Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(f.dialogs().boxes().size(), 1);
    const toolkit::BoxDescription box = f.dialogs().boxes().first();
    QCOMPARE(box.caption, QStringLiteral("Confirm"));
    QCOMPARE(box.icon, BoxIcon::Question);
    QCOMPARE(box.text, QStringLiteral("Delete record?"));
    QCOMPARE(box.buttons, QList<BoxButton>({BoxButton::Ok, BoxButton::Cancel}));
    QCOMPARE(w.Table2.RecordCount(), 3);
    QCOMPARE(w.Table1.RecordCount(), 3);

    f.dialogs().answer(BoxButton::Ok);
    press(Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(w.Table2.RecordCount(), 2);
    QCOMPARE(w.Label25->text(), kPrefix + QStringLiteral("Участок 2"));
    f.close();
    // No Support of the deleted Section is left behind anywhere in the table.
    QCOMPARE(storedSupports(), 0);
}

void MainWindowTest::deleteBoxAndNo_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("No") << int(BoxButton::No);
    QTest::newRow("close box") << int(BoxButton::Cancel);
}

void MainWindowTest::deleteBoxAndNo()
{
    QFETCH(int, answer);
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    f.dialogs().answer(BoxButton(answer));
    w.N15->trigger();
    QCOMPARE(f.dialogs().boxes().size(), 1);
    const toolkit::BoxDescription box = f.dialogs().boxes().first();
    QCOMPARE(box.caption, QStringLiteral("Warning"));
    QCOMPARE(box.icon, BoxIcon::Warning);
    QCOMPARE(box.text, QStringLiteral("Удалить все опоры на участке \rМосква-Тверь ?"));
    QCOMPARE(box.buttons, QList<BoxButton>({BoxButton::No, BoxButton::Ok}));
    QCOMPARE(box.defaultButton, BoxButton::Ok);
    QCOMPARE(box.cancelButton, BoxButton::No);
    QCOMPARE(w.Table2.RecordCount(), 3);
    QCOMPARE(w.Table1.RecordCount(), 3);
    QCOMPARE(w.Label25->text(), kPrefix + QStringLiteral("Москва-Тверь"));
}

void MainWindowTest::deleteWithTheFilterOn()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    w.N14->trigger();
    QVERIFY(w.N14->isChecked());
    QCOMPARE(w.Table1.RecordCount(), 2); // the one at 10 mA is hidden
    f.dialogs().answer(BoxButton::Ok);
    w.N15->trigger();
    QCOMPARE(w.Table2.RecordCount(), 2);
    QCOMPARE(w.Table2.RecNo(), 1);
    QCOMPARE(w.Label25->text(), kPrefix + QStringLiteral("Участок 2"));
    QVERIFY(w.N14->isChecked());
    QVERIFY(w.Table1.Filtered());
    QCOMPARE(w.Table1.Filter(), kLeakageFilter);
    QCOMPARE(w.DBGrid1->model()->rowCount(), 0);
    // Deleting the last Section makes the one before it current.
    w.Table2.Last();
    f.dialogs().answer(BoxButton::Ok);
    w.N15->trigger();
    QCOMPARE(w.Label25->text(), kPrefix + QStringLiteral("Участок 2"));
    f.close();
    QCOMPARE(storedSupports(), 0);
    Seeder s;
    QCOMPARE(s.db().Table2.RecordCount(), 1);
}

// The file refuses to save the deletion of the Supports, and refuses it again
// when it is written once more: the Section stays with all of its Supports,
// in the file and on the screen, and the user is told.
void MainWindowTest::deleteRefusedByTheFile()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    f.dialogs().answer(BoxButton::Ok);
    f.dialogs().answer(BoxButton::Ok);
    f.home.refuseCommits("base_kor.db", 2);
    w.N15->trigger();
    QCOMPARE(f.dialogs().boxes().size(), 2);
    const toolkit::BoxDescription error = f.dialogs().boxes().at(1);
    QCOMPARE(error.icon, BoxIcon::Error);
    QVERIFY2(error.text.contains("'base_kor.db'"), qPrintable(error.text));
    QCOMPARE(w.Table2.RecordCount(), 3);
    QCOMPARE(w.Label25->text(), kPrefix + QStringLiteral("Москва-Тверь"));
    QVERIFY(!w.Table1.ControlsDisabled());
    QCOMPARE(w.Table1.RecordCount(), 3);
    QCOMPARE(w.DBGrid1->model()->rowCount(), 3);
    f.close();
    Seeder s;
    QCOMPARE(s.db().Table2.RecordCount(), 3);
}

void MainWindowTest::deleteOnAnEmptyList()
{
    WindowFixture f;
    TForm1 &w = f.form();
    QCOMPARE(w.Label25->text(), kPrefix);
    f.dialogs().answer(BoxButton::Ok);
    f.dialogs().answer(BoxButton::Ok);
    w.N15->trigger();
    QCOMPARE(f.dialogs().boxes().size(), 2);
    QCOMPARE(f.dialogs().boxes().at(0).text, QStringLiteral("Удалить все опоры на участке \r ?"));
    const toolkit::BoxDescription error = f.dialogs().boxes().at(1);
    QCOMPARE(error.icon, BoxIcon::Error);
    QCOMPARE(error.caption, toolkit::applicationTitle());
    QCOMPARE(error.text, QStringLiteral("Table2: Cannot perform this operation on an empty dataset."));
    // The window goes on working.
    w.N11->trigger();
    QCOMPARE(w.Table2.State(), DataSetState::Insert);
}

void MainWindowTest::filterSwitch()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    w.DBGrid1->setFocus();
    press(Qt::Key_End);
    QCOMPARE(w.Table1.RecNo(), 3);
    w.N14->trigger();
    QVERIFY(w.N14->isChecked());
    QVERIFY(w.Table1.Filtered());
    QCOMPARE(w.Table1.Filter(), QStringLiteral("I_opory >40"));
    QCOMPARE(w.Table1.RecordCount(), 2);
    QCOMPARE(w.Table1.RecNo(), 1);
    QCOMPARE(w.DBGrid1->model()->rowCount(), 2);
    press(Qt::Key_End);
    w.N14->trigger();
    QVERIFY(!w.N14->isChecked());
    QVERIFY(!w.Table1.Filtered());
    QCOMPARE(w.Table1.RecordCount(), 3);
    QCOMPARE(w.Table1.RecNo(), 1);
    QCOMPARE(w.DBGrid1->gridModel()->currentRow(), 0);
    // The switch follows its mark alone.
    w.Table1.SetFiltered(true);
    w.N14->trigger(); // unmarked: on, and marked
    QVERIFY(w.N14->isChecked());
    QVERIFY(w.Table1.Filtered());
}

void MainWindowTest::leaving()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    w.DBGrid2->setFocus();
    type(QStringLiteral("never posted"));
    w.N4->trigger();
    QVERIFY(!w.isVisible());
    f.close();
    Seeder s;
    QCOMPARE(s.db().Table2Line->AsString(), QStringLiteral("Москва-Тверь"));

    WindowFixture g(nullptr);
    g.form().close();
    QVERIFY(!g.form().isVisible());
}

void MainWindowTest::modelOfTheSectionList()
{
    WindowFixture f(seedThree);
    TForm1 &w = f.form();
    QAbstractItemModelTester tester(w.DBGrid2->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    w.DBGrid2->setFocus();
    press(Qt::Key_Insert);
    type(QStringLiteral("x"));
    press(Qt::Key_Down);
    press(Qt::Key_End);
    press(Qt::Key_Down);
    press(Qt::Key_Escape);
    f.dialogs().answer(BoxButton::Ok);
    w.N15->trigger();
    QCOMPARE(w.DBGrid2->model()->rowCount(), w.Table2.RecordCount());
}

int main(int argc, char **argv)
{
    toolkit::Application app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
