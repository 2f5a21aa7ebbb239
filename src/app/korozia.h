#pragma once

#include "data/kortables.h"
#include "toolkit/dbgrid.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QMenu;
class QMenuBar;
class QPainter;
class TForm2;
class TQRListForm;

namespace toolkit {
class Bevel;
class PageControl;
class RadioGroup;
}

// The main window: the section list over the header panel and the support
// grid, the menus, and the fill and clear panes. It owns the two cursors
// (KorTables) for the whole run; every other window works on the same ones
// through the public members below.
class TForm1 : public QMainWindow
{
    Q_OBJECT

    // First, so that the references below can be bound to it.
    KorTables m_tables;

public:
    // Builds the window, opens Table1 and then Table2 of the alias and runs
    // FormCreate. A table that cannot be opened throws the store's error.
    explicit TForm1(const QString &alias = QStringLiteral("kor"), QWidget *parent = nullptr);
    ~TForm1() override;

    KorTables &tables() { return m_tables; }

    // The cursors, their data sources and field objects.
    Table &Table1;
    Table &Table2;
    DataSource &DataSource1;
    DataSource &DataSource2;
    Field *const Table2N_line;
    Field *const Table2Line;
    Field *const Table1I;
    Field *const Table1Kilometr;
    Field *const Table1Nomeropory;
    Field *const Table1Index;
    Field *const Table1Tipopory;
    Field *const Table1R_opory;
    Field *const Table1U_izmer;
    Field *const Table1U_ras;
    Field *const Table1I_opory;
    Field *const Table1Line;

    // The three bands.
    QWidget *Panel1 = nullptr;
    QWidget *Panel3 = nullptr;
    toolkit::DBGrid *DBGrid2 = nullptr;
    toolkit::DBGrid *DBGrid1 = nullptr;

    // The header panel.
    QLabel *Label25 = nullptr;
    QLabel *Label11 = nullptr;
    QLabel *Label12 = nullptr;
    QLabel *Label13 = nullptr;
    QLabel *Label14 = nullptr;
    QLabel *Label15 = nullptr;
    QLabel *Label23 = nullptr;
    QLabel *Label24 = nullptr;
    toolkit::Bevel *Bevel1 = nullptr;
    toolkit::Bevel *Bevel2 = nullptr;
    toolkit::Bevel *Bevel3 = nullptr;
    toolkit::Bevel *Bevel4 = nullptr;
    toolkit::Bevel *Bevel5 = nullptr;
    toolkit::Bevel *Bevel6 = nullptr;
    toolkit::Bevel *Bevel8 = nullptr;
    toolkit::Bevel *Bevel9 = nullptr;

    // The fill and clear panes: two pages of one tabbed pane at the right
    // of the top panel, hidden at start.
    toolkit::PageControl *PageControl1 = nullptr;
    QWidget *TabSheet1 = nullptr; // "Заполнить..."
    QLabel *Label7 = nullptr;
    QLabel *Label9 = nullptr;
    QLabel *Label8 = nullptr;
    QLabel *Label10 = nullptr;
    QLineEdit *Edit1 = nullptr; // start chainage, km
    QLineEdit *Edit3 = nullptr; // spacing, m
    QLineEdit *Edit2 = nullptr; // count
    QLineEdit *Edit4 = nullptr; // start number
    toolkit::RadioGroup *RadioGroup1 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;
    QWidget *TabSheet4 = nullptr; // "Удаление..."
    QLabel *Label16 = nullptr;
    QLabel *Label26 = nullptr;
    QPushButton *Button4 = nullptr;
    QPushButton *Button3 = nullptr;

    // The menus. N12 is also raised by Enter and a double-click in the
    // support grid; the support editor clicks N8 after a save.
    QMenuBar *MainMenu1 = nullptr;
    QAction *N10 = nullptr; // "Печать"
    QAction *N16 = nullptr; // separator
    QAction *N4 = nullptr;  // "Выход"
    QAction *N6 = nullptr;  // "Заполнить..."
    QAction *N7 = nullptr;  // "Очистить..."
    QAction *N17 = nullptr; // separator
    QAction *N8 = nullptr;  // "Расчитать"
    QAction *N14 = nullptr; // "Опоры с I>40 мА", with its check mark
    QMenu *menuService = nullptr;     // "Сервис"
    QAction *actionPlot = nullptr;    // "График участка..."
    QAction *actionImport = nullptr;  // "Импорт опор..."
    QAction *actionExport = nullptr;  // "Экспорт..."
    QAction *actionBackups = nullptr;       // "Резервные копии..."
    QAction *actionCheckDatabase = nullptr; // "Проверка базы..."
    QMenu *PopupMenu1 = nullptr;
    QAction *N1 = nullptr;  // "Добавить опору"
    QAction *N12 = nullptr; // "Редактировать опору"
    QAction *N2 = nullptr;  // "Удалить опору"
    QMenu *PopupMenu2 = nullptr;
    QAction *N11 = nullptr; // "Добавить"
    QAction *N15 = nullptr; // "Удалить"

    // Handlers.
    void FormCreate();
    void Table2AfterScroll(Table *DataSet);
    void N2Click();
    void N4Click();
    void N11Click();
    void N14Click();
    void N15Click();
    void DBGrid2KeyPress(QChar &Key);
    void DBGrid1KeyPress(QChar &Key);
    void DBGrid1DblClick();
    void N6Click();
    void N7Click();
    void actionImportClick();
    void actionExportClick();
    void actionBackupsClick();
    void actionCheckDatabaseClick();
    void Edit2Change();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void DBGrid1DrawColumnCell(QPainter &painter, const QRect &rect, const toolkit::GridColumn &column,
                               toolkit::CellState state);

    // The commands of the other windows: the calculation, the support
    // editor and the report.
    void N8Click();
    void N1Click();
    void N12Click();
    void N10Click();
    // "График участка...": the profile of the current Section beside the window.
    void actionPlotClick();
    // Creates the report form and then the support editor, both hidden, and
    // connects the commands that lead to them (start-up, after FormCreate).
    void createForms();
    // A Section being added or renamed in the section list is posted (or,
    // with nothing typed, dropped) before a command adds Supports to it, so
    // that they receive its key: a Support with no Section is lost to the user.
    void settleSection();
    // After the support editor or a pane closes: the main window takes the
    // keyboard again, with the support grid focused, so that Enter reopens
    // the editor at once. The window manager does not always give it back
    // (a box shown just before a dialog closes leaves no window focused), and
    // a hidden pane would hand its focus on to the section list.
    void returnToSupportGrid();
    TQRListForm *QRListForm() const { return m_report.get(); }
    TForm2 *Form2 = nullptr;

    // "Таблица опор участка ", the section caption without the name.
    static QString sectionCaptionPrefix();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildMenus();
    // "Удалить" of a Section and Ctrl+Delete in the section list, once confirmed:
    // a backup first, then the Section with all of its Supports.
    void deleteSection();
    void buildSectionList();
    void buildHeaderPanel();
    void buildSupportGrid();
    void buildPanes();
    void hidePane();

    bool m_placed = false;
    std::unique_ptr<TQRListForm> m_report;
    QPointer<QWidget> m_plot;
};
