// A user's session from an empty alias to a printed report, through real key
// and mouse events on the real windows: a Section added and named, a run of
// Supports filled in, three measurements typed in the support editor, the red
// rows, the leakage filter, the report printed to PDF from its preview; then
// the program is closed and started again, and every value is still there.
#include "appfixture.h"

#include "data/regionalsettings.h"
#include "editor/add.h"
#include "report/previewwindow.h"
#include "report/printseams.h"
#include "toolkit/colors.h"
#include "toolkit/dbedit.h"
#include "toolkit/dbgrid.h"
#include "toolkit/pagecontrol.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>
#include <bit>

using toolkit::BoxButton;

namespace {

// Typing as a keyboard does, Cyrillic letters included; with no widget,
// each key goes where the focus is at that moment (a first letter may open
// a cell editor that takes the rest).
void type(QWidget *target, const QString &text)
{
    for (QChar c : text) {
        QWidget *widget = target ? target : QApplication::focusWidget();
        if (c.unicode() < 128) {
            QTest::keyClick(widget, c.toLatin1());
            continue;
        }
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QApplication::sendEvent(widget, &release);
    }
}

void retype(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    type(edit, text);
}

QAction *actionByText(const QList<QAction *> &actions, const QString &text)
{
    for (QAction *a : actions)
        if (a->text() == text)
            return a;
    return nullptr;
}

// A click on a main menu title, then on one of its items.
void chooseFromMenu(QMenuBar *bar, const QString &title, const QString &item)
{
    QAction *menu = actionByText(bar->actions(), title);
    QVERIFY2(menu, qPrintable(title));
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu).center());
    auto *popup = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    QVERIFY2(popup, qPrintable(title));
    QAction *entry = actionByText(popup->actions(), item);
    QVERIFY2(entry, qPrintable(item));
    QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(entry).center());
}

// A right click on a grid row, as the window system delivers it, then a
// click on an item of the popup menu that opens.
void chooseFromPopup(toolkit::DBGrid *grid, int row, const QString &item)
{
    // The right press, then the context menu event the window system sends with it.
    const QPoint at = grid->cellRect(row, 0).isValid() ? grid->cellRect(row, 0).center() : QPoint(20, 10);
    QTest::mousePress(grid->viewport(), Qt::RightButton, {}, at);
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, grid->viewport()->mapToGlobal(at));
    QApplication::sendEvent(grid->viewport(), &menuEvent);
    QTest::mouseRelease(grid->viewport(), Qt::RightButton, {}, at);
    auto *popup = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    QVERIFY(popup);
    QAction *entry = actionByText(popup->actions(), item);
    QVERIFY2(entry, qPrintable(item));
    QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(entry).center());
}

// The printer of the test: every print job goes to one PDF file.
class PdfPrintSystem : public report::PrintSystem
{
public:
    explicit PdfPrintSystem(QString path) : m_path(std::move(path)) {}
    std::unique_ptr<QPrinter> createPrinter() override
    {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(m_path);
        return printer;
    }

private:
    QString m_path;
};

struct Stored
{
    QList<quint64> bits; // every float field, to the bit (blank: a marker)
    QStringList texts;   // the other fields
    bool operator==(const Stored &) const = default;
};

Stored snapshot(TForm1 &w)
{
    Stored s;
    Table &t = w.Table1;
    t.First();
    for (int row = 0; row < t.DisplayRowCount(); ++row) {
        Table::RowScope scope(t, row);
        for (Field *f : {w.Table1Kilometr, w.Table1R_opory, w.Table1U_izmer, w.Table1U_ras, w.Table1I_opory})
            s.bits << (f->IsNull() ? ~quint64(0) : std::bit_cast<quint64>(f->AsFloat()));
        s.texts << w.Table1Nomeropory->AsString() + '|' + w.Table1Index->AsString() + '|'
                       + w.Table1Tipopory->AsString() + '|' + w.Table1Line->AsString();
    }
    return s;
}

QString run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TypicalUseTest : public QObject
{
    Q_OBJECT

private slots:
    void fromEmptyAliasToPrintedReportAndBack();
};

void TypicalUseTest::fromEmptyAliasToPrintedReportAndBack()
{
    RegionalSettings::instance().setDecimalSeparator(u',');
    RegionalSettings::instance().setShortDateFormat(QStringLiteral("dd.MM.yyyy"));
    QTemporaryDir out;
    const QString pdf = out.filePath(QStringLiteral("report.pdf"));
    PdfPrintSystem printer(pdf);
    report::installPrintSystem(&printer);
    report::setReportToday(QDate(2026, 12, 9));

    WindowFixture f;
    TForm1 &w = f.form();
    w.createForms();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // "Добавить" in the section list's context menu, a name, Enter.
    chooseFromPopup(w.DBGrid2, 0, QStringLiteral("Добавить"));
    QCOMPARE(w.Table2.State(), DataSetState::Insert);
    w.DBGrid2->setFocus();
    type(nullptr, QStringLiteral("Гомель-Жлобин"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(w.Table2.State(), DataSetState::Browse);
    QCOMPARE(w.Table2Line->AsString(), QStringLiteral("Гомель-Жлобин"));

    // "Заполнить...": 11 Supports from 12.345 km, 60 m apart, odd numbers.
    chooseFromMenu(w.MainMenu1, QStringLiteral("Таблица"), QStringLiteral("Заполнить..."));
    QVERIFY(w.PageControl1->isVisible());
    retype(w.Edit1, QStringLiteral("12.345"));
    retype(w.Edit3, QStringLiteral("60"));
    retype(w.Edit2, QStringLiteral("10"));
    retype(w.Edit4, QStringLiteral("1"));
    QTest::mouseClick(w.RadioGroup1->button(1), Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(w.Button1->isEnabled());
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    QVERIFY(!w.PageControl1->isVisible());
    QCOMPARE(w.Table1.RecordCount(), 11);
    w.Table1.First();
    QCOMPARE(std::bit_cast<quint64>(w.Table1Kilometr->AsFloat()), std::bit_cast<quint64>(12.345000267028809));

    // Three measurements through the support editor: Enter on the row, the
    // potential and the resistance typed, saved (each save calculates).
    struct Measurement
    {
        int row;
        QString potential;
        QString resistance;
    };
    const QList<Measurement> measurements{{0, "2", "200"}, {10, "12", "200"}, {5, "10", "150"}};
    f.dialogs().answer(BoxButton::Ok); // the first save: no measurement at the last Support yet
    for (const Measurement &m : measurements) {
        QTest::mouseClick(w.DBGrid1->viewport(), Qt::LeftButton, {}, w.DBGrid1->cellRect(m.row, 3).center());
        QCOMPARE(w.Table1.RecNo(), m.row + 1);
        bool shown = false;
        QTimer::singleShot(0, [&] {
            TForm2 *d = w.Form2;
            shown = d->isVisible() && d->windowTitle() == QStringLiteral("Редактирование данных по опоре");
            retype(d->DBEdit5, m.potential);
            retype(d->DBEdit6, m.resistance);
            QTest::mouseClick(d->Button1, Qt::LeftButton);
        });
        w.DBGrid1->setFocus();
        QTest::keyClick(w.DBGrid1, Qt::Key_Return);
        QVERIFY(shown);
        QVERIFY(!w.Form2->isVisible());
    }
    QCOMPARE(f.dialogs().boxes().size(), 1);
    QCOMPARE(f.dialogs().boxes().first().text, QStringLiteral("Нет замера на последней опоре!"));

    // Red rows exactly where the leakage current is over the limit.
    w.Table1.First();
    QTest::mouseClick(w.DBGrid1->viewport(), Qt::LeftButton, {}, w.DBGrid1->cellRect(0, 3).center());
    int over = 0;
    for (int row = 1; row < 11; ++row) {
        bool isOver;
        {
            Table::RowScope scope(w.Table1, row);
            isOver = w.Table1I_opory->AsFloat() > 40;
        }
        over += isOver ? 1 : 0;
        QCOMPARE(cellPixel(w.DBGrid1, row, 2), isOver ? toolkit::clRed() : toolkit::clAqua());
    }
    QCOMPARE(over, 7);

    // "Опоры с I>40 мА" narrows the grid to them, and a second choice widens it again.
    chooseFromMenu(w.MainMenu1, QStringLiteral("Фильтр"), QStringLiteral("Опоры с I>40 мА"));
    QVERIFY(w.N14->isChecked());
    QCOMPARE(w.Table1.RecordCount(), 7);
    QCOMPARE(w.DBGrid1->model()->rowCount(), 7);
    chooseFromMenu(w.MainMenu1, QStringLiteral("Фильтр"), QStringLiteral("Опоры с I>40 мА"));
    QCOMPARE(w.Table1.RecordCount(), 11);

    // "Печать": the preview opens; its Print writes the PDF; Close ends the command.
    bool printed = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            auto *preview = qobject_cast<PreviewWindow *>(top);
            if (!preview || !preview->isVisible() || !preview->isFinished() || preview->isBusy())
                continue;
            auto *bar = preview->findChild<QToolBar *>();
            if (!printed) {
                printed = true;
                QTest::mouseClick(bar->widgetForAction(preview->Print), Qt::LeftButton);
            } else {
                poll.stop();
                QTest::mouseClick(bar->widgetForAction(preview->ExitButton), Qt::LeftButton);
            }
        }
    });
    poll.start(50);
    chooseFromMenu(w.MainMenu1, QStringLiteral("Файл"), QStringLiteral("Печать"));
    QTRY_VERIFY(!poll.isActive());
    QTRY_VERIFY(QFile::exists(pdf));

    const QString text = run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    QVERIFY2(text.contains(QStringLiteral("по участку Гомель-Жлобин")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("Отчет от 09.12.2026")));
    QVERIFY(text.contains(QStringLiteral("12,345")));
    QVERIFY(text.contains(QStringLiteral("12,945")));
    const QString fonts = run(QStringLiteral("pdffonts"), {pdf});
    QVERIFY2(fonts.contains(QStringLiteral("Bold")), qPrintable(fonts));
    // Bold exactly on the seven rows over the limit: the number texts in the
    // bold face are those of the Supports numbered 9 to 21.
    const QString xml = run(QStringLiteral("pdftohtml"), {QStringLiteral("-xml"), QStringLiteral("-i"),
                                                          QStringLiteral("-stdout"), QStringLiteral("-q"), pdf});
    QVERIFY(!xml.isEmpty());
    // pdftohtml marks a text in a bold face with <b>; the support numbers
    // stand in the first column, left of 200 points at its scale.
    QStringList boldNumbers, regularNumbers;
    const QRegularExpression textEl(
        QStringLiteral("<text top=\"\\d+\" left=\"(\\d+)\"[^>]*>(<b>)?(\\d+)(?:</b>)?</text>"));
    for (const auto &m : textEl.globalMatch(xml)) {
        if (m.captured(1).toInt() >= 200)
            continue;
        (m.captured(2).isEmpty() ? regularNumbers : boldNumbers) << m.captured(3);
    }
    QCOMPARE(boldNumbers.size() + regularNumbers.size(), 11);
    for (const char *n : {"9", "11", "13", "15", "17", "19", "21"})
        QVERIFY2(boldNumbers.contains(n), qPrintable(boldNumbers.join(',')));
    for (const char *n : {"1", "3", "5", "7"})
        QVERIFY2(!boldNumbers.contains(n), qPrintable(boldNumbers.join(',')));

    // Closed and started again on the same alias: every value is still there.
    const Stored before = snapshot(w);
    w.close();
    f.close();
    f.open();
    TForm1 &again = f.form();
    QCOMPARE(again.Table2Line->AsString(), QStringLiteral("Гомель-Жлобин"));
    QCOMPARE(again.Table1.RecordCount(), 11);
    QVERIFY(snapshot(again) == before);
    report::installPrintSystem(nullptr);
    report::setReportToday(std::nullopt);
}

QTEST_MAIN(TypicalUseTest)
#include "tst_typicaluse.moc"
