// "Импорт опор..." and "Экспорт..." from the real menu of the main window,
// through the real import dialog and the real save dialog (driven without
// blocking; the file dialogs of the menu commands answer through their seam).
#include "appfixture.h"

#include "calc/fpu.h"
#include "data/regionalsettings.h"
#include "exchangeui/exportfiledialog.h"
#include "exchangeui/filechooser.h"
#include "exchangeui/importdialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringEncoder>
#include <QTableWidget>
#include <QTimer>

using exchange::Column;
using exchangeui::ExportChoice;
using exchangeui::ImportDialog;
using toolkit::BoxButton;

namespace {

// The file dialogs' answers, given by the test.
class ScriptedChooser : public exchangeui::FileChooser
{
public:
    ScriptedChooser() : m_previous(exchangeui::installFileChooser(this)) {}
    ~ScriptedChooser() override { exchangeui::installFileChooser(m_previous); }
    std::optional<QString> importFile(QWidget *) override { return importPath; }
    std::optional<ExportChoice> exportFile(QWidget *, const QString &suggested) override
    {
        suggestedName = suggested;
        return exportChoice;
    }

    std::optional<QString> importPath;
    std::optional<ExportChoice> exportChoice;
    QString suggestedName;

private:
    exchangeui::FileChooser *m_previous;
};

void seed(Seeder &s)
{
    const qint64 a = s.addSection(QStringLiteral("Гомель"));
    const double leakages[] = {12.5, 55.25, 40.0, 41.0};
    for (int i = 0; i < 4; ++i) {
        SupportValues v;
        v.km = 10 + i * 0.06;
        v.number = i + 1;
        v.leakage = leakages[i];
        v.type = QStringLiteral("ЖБК");
        s.addSupport(a, v);
    }
    s.addSupports(s.addSection(QStringLiteral("Жлобин")), 3);
}

// Runs `step` on the import dialog once it is up; closes it whatever happens.
void onImportDialog(const std::function<void(ImportDialog *)> &step)
{
    QTimer::singleShot(0, [step] {
        auto *dialog = qobject_cast<ImportDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        step(dialog);
        if (dialog->isVisible() && QTest::currentTestFailed())
            dialog->reject();
    });
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

QStringList csvLines(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    QString text = QString::fromUtf8(f.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

} // namespace

class ExchangeUiTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { calc::initFloatingPoint(); }
    void init() { RegionalSettings::instance().setDecimalSeparator(u','); }
    void serviceMenuHoldsImportAndExport();
    void importIntoANewSectionAndCalculate();
    void problemsKeepTheDialogOpenAndWriteNothing();
    void exportFromTheMenu_data();
    void exportFromTheMenu();
    void saveDialogGivesTypeAndSections();
};

void ExchangeUiTest::serviceMenuHoldsImportAndExport()
{
    WindowFixture f(seed, false);
    TForm1 &w = f.form();
    QCOMPARE(w.MainMenu1->actions().last()->menu(), w.menuService);
    QCOMPARE(w.menuService->objectName(), QStringLiteral("menuService"));
    const QList<QAction *> items = w.menuService->actions();
    QCOMPARE(items.mid(items.indexOf(w.actionImport), 2), QList<QAction *>({w.actionImport, w.actionExport}));
    QCOMPARE(w.actionImport->objectName(), QStringLiteral("actionImport"));
    QCOMPARE(w.actionExport->objectName(), QStringLiteral("actionExport"));
}

void ExchangeUiTest::importIntoANewSectionAndCalculate()
{
    WindowFixture f(seed);
    TForm1 &w = f.form();
    ScriptedChooser chooser;
    QTemporaryDir dir;
    // A spreadsheet saved on a Russian desktop: Windows-1251, ";" and decimal commas.
    chooser.importPath = writeFile(
        dir, QStringLiteral("Речица-Калинковичи 2026.csv"),
        QStringEncoder("windows-1251")
            .encode(QStringLiteral("Номер опоры;Примечание;Пикетаж;Замер U, В;R опоры, Ом\r\n"
                                   "1;начало;20,000;2,0;200\r\n2;;20,060;;200\r\n"
                                   "3;;20,120;;200\r\n4;конец;20,180;3,2;200\r\n")));
    bool checked = false;
    onImportDialog([&](ImportDialog *d) {
        QCOMPARE(d->encodingBox->currentText(), QStringLiteral("Windows-1251"));
        QCOMPARE(d->separatorBox->currentText(), QStringLiteral(";"));
        QCOMPARE(d->decimalBox->currentText(), QStringLiteral(","));
        QVERIFY(d->headingsBox->isChecked());
        QCOMPARE(d->preview->rowCount(), 5); // the field choices and four rows
        QList<Column> mapped;
        for (QComboBox *box : d->columnBoxes)
            mapped << Column(box->currentData().toInt());
        QCOMPARE(mapped, QList<Column>({Column::Nomeropory, Column::Skip, Column::Kilometr, Column::U_izmer,
                                        Column::R_opory}));
        QVERIFY(d->currentTarget->isChecked());
        QCOMPARE(d->currentTarget->text(), QStringLiteral("текущий участок «Гомель»"));
        QCOMPARE(d->newName->text(), QStringLiteral("Речица-Калинковичи 2")); // cut to 20
        QVERIFY(d->calculateBox->isChecked());
        d->newTarget->click();
        d->newName->setText(QStringLiteral("Речица"));
        checked = true;
        d->importButton->click();
    });
    f.dialogs().answer(BoxButton::Ok); // the summary
    w.menuService->setActiveAction(w.actionImport);
    w.actionImport->trigger();
    QVERIFY(checked);

    QCOMPARE(f.dialogs().boxes().size(), 1);
    QCOMPARE(f.dialogs().boxes().first().text, QStringLiteral("Импортировано опор: 4 (участок «Речица», новый)."));
    QCOMPARE(w.Label25->text(), TForm1::sectionCaptionPrefix() + QStringLiteral("Речица"));
    QCOMPARE(w.Table2.RecNo(), 3);
    QCOMPARE(w.Table1.RecordCount(), 4);
    QCOMPARE(w.DBGrid1->model()->rowCount(), 4);
    // "Расчитать" ran on the new Section: 2.0 to 3.2 V over four Supports of 200 Ω.
    QStringList leakage;
    for (int row = 0; row < 4; ++row)
        leakage << cellText(w.DBGrid1, row, 7);
    QCOMPARE(leakage, QStringList({" 10,0", " 12,0", " 14,0", " 16,0"}));
    QCOMPARE(storedSupports(), 11);
}

void ExchangeUiTest::problemsKeepTheDialogOpenAndWriteNothing()
{
    WindowFixture f(seed);
    TForm1 &w = f.form();
    ScriptedChooser chooser;
    QTemporaryDir dir;
    chooser.importPath = writeFile(dir, QStringLiteral("bad.csv"),
                                   QByteArray("Пикетаж, км;№ опоры;Тип опоры\n1,5;1;ЖБ\n1,6;два;ЖБ\n1,7;3;ЖБ\n"));
    QString problems;
    bool stillOpen = false;
    onImportDialog([&](ImportDialog *d) {
        d->replaceBox->setChecked(true);
        d->importButton->click();
        problems = d->problemsView->toPlainText();
        stillOpen = d->isVisible() && d->problemsView->isVisible();
        // Taking the bad column as the support type does not help: the
        // number is required.
        d->columnBoxes[1]->setCurrentIndex(d->columnBoxes[1]->findData(int(Column::Skip)));
        d->importButton->click();
        problems += QLatin1Char('\n') + d->problemsView->toPlainText();
        d->cancelButton->click();
    });
    const int before = storedSupports();
    w.actionImport->trigger();
    QVERIFY(stillOpen);
    QCOMPARE(problems, QStringLiteral("строка 3: «два» — не целое число от -32768 до 32767 (столбец «№ опоры»)\n"
                                      "Не выбран столбец «№ опоры»: он обязателен"));
    QVERIFY(f.dialogs().boxes().isEmpty());
    QCOMPARE(storedSupports(), before);
    QCOMPARE(w.Table1.RecordCount(), 4);
}

void ExchangeUiTest::exportFromTheMenu_data()
{
    QTest::addColumn<bool>("filtered");
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("all");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("the grid's rows with the leakage filter on")
        << true << int(exchange::ExportFormat::CsvSemicolon) << false
        << QStringList{"№ опоры;Индекс;Тип опоры;Пикетаж, км;Замер U, B;Расчетное U, B;R опоры, Ом;Ток утечки, мА",
                       "2;;ЖБК;10,06;;;200;55,25", "4;;ЖБК;10,18;;;200;41"};
    QTest::newRow("every Section, commas")
        << true << int(exchange::ExportFormat::CsvComma) << true
        << QStringList{"Участок,№ опоры,Индекс,Тип опоры,\"Пикетаж, км\",\"Замер U, B\",\"Расчетное U, B\","
                       "\"R опоры, Ом\",\"Ток утечки, мА\"",
                       "Гомель,1,,ЖБК,10,,,200,12.5", "Гомель,2,,ЖБК,10.06,,,200,55.25",
                       "Гомель,3,,ЖБК,10.12,,,200,40", "Гомель,4,,ЖБК,10.18,,,200,41",
                       "Жлобин,0,,,0,,1.5,200,55.5", "Жлобин,1,,,0.1,,1.5,200,12.25",
                       "Жлобин,2,,,0.2,,1.5,200,12.25"};
}

void ExchangeUiTest::exportFromTheMenu()
{
    QFETCH(bool, filtered);
    QFETCH(int, format);
    QFETCH(bool, all);
    QFETCH(QStringList, expected);
    WindowFixture f(seed);
    TForm1 &w = f.form();
    if (filtered)
        w.N14->trigger();
    ScriptedChooser chooser;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.csv"));
    writeFile(dir, QStringLiteral("out.csv"), "the old file");
    chooser.exportChoice = ExportChoice{path, exchange::ExportFormat(format), all};
    w.Table1.Last();
    const int row = w.Table1.RecNo();
    w.actionExport->trigger();
    QCOMPARE(chooser.suggestedName, QStringLiteral("Гомель"));
    QCOMPARE(csvLines(path), expected);
    // The grid did not move.
    QCOMPARE(w.Table1.RecNo(), row);
    QVERIFY(f.dialogs().boxes().isEmpty());
}

void ExchangeUiTest::saveDialogGivesTypeAndSections()
{
    QTemporaryDir dir;
    exchangeui::ExportFileDialog dialog(nullptr, QStringLiteral("Гомель"));
    dialog.setDirectory(dir.path());
    dialog.open();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.nameFilters(), QStringList({"Книга Excel (*.xlsx)", "CSV, разделитель «;» (*.csv)",
                                                "CSV, разделитель «,» (*.csv)"}));
    QVERIFY(dialog.currentSection->isChecked());
    dialog.selectNameFilter(exchangeui::ExportFileDialog::commaCsvFilter());
    emit dialog.filterSelected(exchangeui::ExportFileDialog::commaCsvFilter());
    dialog.allSections->click();
    // Typed over the suggested name, as a user does.
    auto *name = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QVERIFY(name);
    QCOMPARE(name->text(), QStringLiteral("Гомель.csv")); // the suggested name took the type's extension
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("all-sections"));
    dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Save)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const ExportChoice choice = dialog.choice();
    QCOMPARE(choice.path, dir.filePath(QStringLiteral("all-sections.csv")));
    QCOMPARE(choice.format, exchange::ExportFormat::CsvComma);
    QVERIFY(choice.allSections);
}

QTEST_MAIN(ExchangeUiTest)
#include "tst_exchangeui.moc"
