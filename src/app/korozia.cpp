#include "korozia.h"

#include "fillpane.h"
#include "sections.h"

#include "backupui/commands.h"
#include "exchangeui/exchangecommands.h"
#include "plot/profilewindow.h"
#include "report/print.h"
#include "report/previewwindow.h"

#include "data/numberformat.h"
#include "data/numberreader.h"
#include "toolkit/bevel.h"
#include "toolkit/colors.h"
#include "toolkit/dialogs.h"
#include "toolkit/guard.h"
#include "toolkit/pagecontrol.h"
#include "toolkit/placement.h"

#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

using toolkit::Bevel;
using toolkit::CellState;
using toolkit::CellStateFlag;
using toolkit::DBGrid;
using toolkit::GridColumn;
using toolkit::GridOption;

namespace {

// The client area the bands are laid out in.
constexpr int kClientWidth = 543;
constexpr int kClientHeight = 556;
constexpr int kTopPanelHeight = 157;
constexpr int kHeaderPanelHeight = 57;

QFont pixelFont(const QString &family, int pixels, bool bold = false)
{
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// Label texts are written with "\r" for their line breaks.
QString labelText(const QString &caption)
{
    QString text = caption;
    text.replace(u'\r', u'\n');
    return text;
}

QAction *menuItem(QWidget *owner, const char *name, const QString &caption)
{
    auto *action = new QAction(caption, owner);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

QAction *separator(QWidget *owner, const char *name)
{
    auto *action = new QAction(owner);
    action->setObjectName(QString::fromLatin1(name));
    action->setSeparator(true);
    return action;
}

} // namespace

TForm1::TForm1(const QString &alias, QWidget *parent)
    : QMainWindow(parent),
      m_tables(alias),
      Table1(m_tables.Table1),
      Table2(m_tables.Table2),
      DataSource1(m_tables.DataSource1),
      DataSource2(m_tables.DataSource2),
      Table2N_line(m_tables.Table2N_line),
      Table2Line(m_tables.Table2Line),
      Table1I(m_tables.Table1I),
      Table1Kilometr(m_tables.Table1Kilometr),
      Table1Nomeropory(m_tables.Table1Nomeropory),
      Table1Index(m_tables.Table1Index),
      Table1Tipopory(m_tables.Table1Tipopory),
      Table1R_opory(m_tables.Table1R_opory),
      Table1U_izmer(m_tables.Table1U_izmer),
      Table1U_ras(m_tables.Table1U_ras),
      Table1I_opory(m_tables.Table1I_opory),
      Table1Line(m_tables.Table1Line)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Программа расчета тока утечки опор"));
    // Close (with the window menu) and minimize, no maximize; the border resizes.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(pixelFont(QStringLiteral("MS Sans Serif"), 11));
    QPalette face = palette();
    face.setColor(QPalette::Window, toolkit::clBtnFace());
    setPalette(face);

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    auto *bands = new QVBoxLayout(client);
    bands->setContentsMargins(0, 0, 0, 0);
    bands->setSpacing(0);
    setCentralWidget(client);

    buildMenus();
    buildSectionList();
    buildHeaderPanel();
    buildSupportGrid();
    buildPanes();
    bands->addWidget(Panel1);
    bands->addWidget(Panel3);
    bands->addWidget(DBGrid1, 1);

    // The client area is what the bands fill; the menu bar comes on top of it.
    resize(kClientWidth, kClientHeight + MainMenu1->sizeHint().height());
    layout()->activate();
    resize(kClientWidth, kClientHeight + height() - centralWidget()->height());

    // The components are loaded: the cursors open, Table1 first.
    Table2.AfterScroll = [this](Table *t) { Table2AfterScroll(t); };
    m_tables.open();
    FormCreate();
}

TForm1::~TForm1()
{
    // The profile window and the grids let go of the cursors before the cursors go.
    delete m_plot.data();
    Table2.AfterScroll = nullptr;
    DBGrid1->setDataSource(nullptr);
    DBGrid2->setDataSource(nullptr);
}

QString TForm1::sectionCaptionPrefix()
{
    return QStringLiteral("Таблица опор участка ");
}

void TForm1::buildMenus()
{
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));

    N10 = menuItem(this, "N10", QStringLiteral("Печать"));
    N16 = separator(this, "N16");
    N4 = menuItem(this, "N4", QStringLiteral("Выход"));
    QMenu *file = MainMenu1->addMenu(QStringLiteral("Файл"));
    file->addActions({N10, N16, N4});

    N6 = menuItem(this, "N6", QStringLiteral("Заполнить..."));
    N7 = menuItem(this, "N7", QStringLiteral("Очистить..."));
    N17 = separator(this, "N17");
    N8 = menuItem(this, "N8", QStringLiteral("Расчитать"));
    QMenu *table = MainMenu1->addMenu(QStringLiteral("Таблица"));
    table->addActions({N6, N7, N17, N8});

    N14 = menuItem(this, "N14", QStringLiteral("Опоры с I>40 мА"));
    N14->setCheckable(true);
    QMenu *filter = MainMenu1->addMenu(QStringLiteral("Фильтр"));
    filter->addAction(N14);

    menuService = MainMenu1->addMenu(QStringLiteral("Сервис"));
    menuService->setObjectName(QStringLiteral("menuService"));
    actionPlot = menuItem(this, "actionPlot", QStringLiteral("График участка..."));
    actionImport = menuItem(this, "actionImport", QStringLiteral("Импорт опор..."));
    actionExport = menuItem(this, "actionExport", QStringLiteral("Экспорт..."));
    menuService->addAction(actionPlot);
    menuService->addSeparator();
    menuService->addActions({actionImport, actionExport});
    actionBackups = menuItem(this, "actionBackups", QStringLiteral("Резервные копии..."));
    actionCheckDatabase = menuItem(this, "actionCheckDatabase", QStringLiteral("Проверка базы..."));
    menuService->addSeparator();
    menuService->addActions({actionBackups, actionCheckDatabase});

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    N1 = menuItem(this, "N1", QStringLiteral("Добавить опору"));
    N12 = menuItem(this, "N12", QStringLiteral("Редактировать опору"));
    N2 = menuItem(this, "N2", QStringLiteral("Удалить опору"));
    PopupMenu1->addActions({N1, N12, N2});

    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    N11 = menuItem(this, "N11", QStringLiteral("Добавить"));
    N15 = menuItem(this, "N15", QStringLiteral("Удалить"));
    PopupMenu2->addActions({N11, N15});

    // "Печать" (the report), "Расчитать" (the calculation), "Добавить опору"
    // and "Редактировать опору" (the support editor) are connected by the
    // windows that carry those commands.
    toolkit::connectGuarded(N4, &QAction::triggered, this, &TForm1::N4Click);
    toolkit::connectGuarded(N2, &QAction::triggered, this, &TForm1::N2Click);
    toolkit::connectGuarded(N11, &QAction::triggered, this, &TForm1::N11Click);
    toolkit::connectGuarded(N15, &QAction::triggered, this, &TForm1::N15Click);
    toolkit::connectGuarded(N6, &QAction::triggered, this, &TForm1::N6Click);
    toolkit::connectGuarded(actionPlot, &QAction::triggered, this, &TForm1::actionPlotClick);
    toolkit::connectGuarded(N7, &QAction::triggered, this, &TForm1::N7Click);
    toolkit::connectGuarded(actionImport, &QAction::triggered, this, &TForm1::actionImportClick);
    toolkit::connectGuarded(actionExport, &QAction::triggered, this, &TForm1::actionExportClick);
    toolkit::connectGuarded(actionBackups, &QAction::triggered, this, &TForm1::actionBackupsClick);
    toolkit::connectGuarded(actionCheckDatabase, &QAction::triggered, this, &TForm1::actionCheckDatabaseClick);
    // A checkable item flips its own mark before it reports the click; the
    // filter switch reads the mark as it was and flips it itself.
    toolkit::connectGuarded(N14, &QAction::triggered, this, [this] {
        N14->setChecked(!N14->isChecked());
        N14Click();
    });
}

void TForm1::buildSectionList()
{
    Panel1 = new QWidget(centralWidget());
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(kTopPanelHeight);
    auto *row = new QHBoxLayout(Panel1);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    DBGrid2 = new DBGrid(Panel1);
    DBGrid2->setObjectName(QStringLiteral("DBGrid2"));
    DBGrid2->setFont(pixelFont(QStringLiteral("Courier New"), 16, true));
    DBGrid2->setColor(toolkit::clMoneyGreen());
    DBGrid2->setTitleFont(pixelFont(QStringLiteral("Times New Roman"), 16));
    DBGrid2->setOptions(GridOption::Titles | GridOption::Editing | GridOption::ColumnResize | GridOption::ColLines
                        | GridOption::RowLines | GridOption::Tabs | GridOption::ConfirmDelete);
    GridColumn name;
    name.fieldName = QStringLiteral("Line");
    name.width = 251;
    name.title = QStringLiteral("Название участка");
    name.titleFont = pixelFont(QStringLiteral("Times New Roman"), 16);
    DBGrid2->setColumns({name});
    DBGrid2->setPopupMenu(PopupMenu2);
    DBGrid2->OnKeyPress = [this](QChar &key) { DBGrid2KeyPress(key); };
    // Ctrl+Delete takes the Section's Supports with it, as "Удалить" does:
    // left behind, they would sit in the table where no Section shows them.
    DBGrid2->OnDeleteRecord = [this] { deleteSection(); };
    DBGrid2->setDataSource(&DataSource2);
    row->addWidget(DBGrid2, 1);
}

void TForm1::buildHeaderPanel()
{
    Panel3 = new QWidget(centralWidget());
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFixedHeight(kHeaderPanelHeight);
    Panel3->setAutoFillBackground(true);
    QPalette info = Panel3->palette();
    info.setColor(QPalette::Window, toolkit::clInfoBk());
    Panel3->setPalette(info);
    Panel3->installEventFilter(this);

    // The upper band: the section caption over a lowered rule.
    Bevel9 = new Bevel(Bevel::Shape::BottomLine, Bevel::Style::Lowered, Panel3);
    Bevel9->setObjectName(QStringLiteral("Bevel9"));
    Bevel9->setGeometry(0, 0, kClientWidth, 25);
    Label25 = new QLabel(sectionCaptionPrefix(), Panel3);
    Label25->setObjectName(QStringLiteral("Label25"));
    Label25->setGeometry(1, 1, 461, 21);
    Label25->setAlignment(Qt::AlignCenter);
    QFont caption = pixelFont(QStringLiteral("MS Sans Serif"), 13, true);
    caption.setUnderline(true);
    Label25->setFont(caption);

    // The lower band: seven raised boxes edge to edge, each over its columns.
    struct Box
    {
        Bevel *&bevel;
        const char *bevelName;
        QLabel *&label;
        const char *labelName;
        int x;
        int width;
        int labelWidth;
    };
    const Box boxes[] = {
        {Bevel6, "Bevel6", Label11, "Label11", 0, 70, 67},   {Bevel5, "Bevel5", Label12, "Label12", 70, 47, 44},
        {Bevel4, "Bevel4", Label13, "Label13", 117, 64, 60}, {Bevel3, "Bevel3", Label14, "Label14", 181, 63, 59},
        {Bevel2, "Bevel2", Label15, "Label15", 244, 73, 69}, {Bevel1, "Bevel1", Label23, "Label23", 317, 68, 64},
        {Bevel8, "Bevel8", Label24, "Label24", 385, 64, 60},
    };
    for (const Box &box : boxes) {
        box.bevel = new Bevel(Bevel::Shape::Box, Bevel::Style::Raised, Panel3);
        box.bevel->setObjectName(QString::fromLatin1(box.bevelName));
        box.bevel->setGeometry(box.x, 25, box.width, 32);
    }
    for (const Box &box : boxes) {
        box.label = new QLabel(Panel3);
        box.label->setObjectName(QString::fromLatin1(box.labelName));
        box.label->setGeometry(box.x + 2, 27, box.labelWidth, 26);
        box.label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    }
}

void TForm1::buildSupportGrid()
{
    DBGrid1 = new DBGrid(centralWidget());
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    const QFont gridFont = pixelFont(QStringLiteral("MS Sans Serif"), 11);
    DBGrid1->setFont(gridFont);
    DBGrid1->setColor(toolkit::clInfoBk());
    DBGrid1->setOptions(GridOption::ColLines | GridOption::RowLines | GridOption::Tabs | GridOption::RowSelect
                        | GridOption::AlwaysShowSelection | GridOption::ConfirmDelete | GridOption::CancelOnExit);
    const int leakageWidth = 10 * QFontMetrics(gridFont).horizontalAdvance(u'0') + 4;
    const std::pair<const char *, int> fields[] = {
        {"Nomeropory", 44}, {"Index", 23}, {"Tipopory", 45}, {"Kilometr", 63},
        {"U_izmer", 62},    {"U_ras", 72}, {"R_opory", 67},  {"I_opory", leakageWidth},
    };
    QList<GridColumn> columns;
    for (const auto &[field, width] : fields) {
        GridColumn column;
        column.fieldName = QString::fromLatin1(field);
        column.width = width;
        column.color = toolkit::clAqua();
        column.alignment = Qt::AlignRight;
        if (column.fieldName == QLatin1String("Index"))
            column.font = pixelFont(QStringLiteral("Times New Roman"), 11);
        columns << column;
    }
    DBGrid1->setColumns(columns);
    DBGrid1->setPopupMenu(PopupMenu1);
    DBGrid1->OnDrawColumnCell = [this](QPainter &p, const QRect &r, const GridColumn &c, CellState s) {
        DBGrid1DrawColumnCell(p, r, c, s);
    };
    DBGrid1->OnKeyPress = [this](QChar &key) { DBGrid1KeyPress(key); };
    DBGrid1->OnDblClick = [this] { DBGrid1DblClick(); };
    DBGrid1->OnDeleteRecord = [this] { N2Click(); };
    DBGrid1->setDataSource(&DataSource1);
}

void TForm1::buildPanes()
{
    PageControl1 = new toolkit::PageControl(Panel1);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setFixedWidth(271);
    PageControl1->hide();
    static_cast<QHBoxLayout *>(Panel1->layout())->addWidget(PageControl1);

    auto label = [](QWidget *page, const char *name, int x, int y) {
        auto *l = new QLabel(page);
        l->setObjectName(QString::fromLatin1(name));
        l->move(x, y);
        return l;
    };
    auto edit = [](QWidget *page, const char *name, const QRect &place, const QString &text) {
        auto *e = new QLineEdit(text, page);
        e->setObjectName(QString::fromLatin1(name));
        e->setGeometry(place);
        return e;
    };
    auto button = [](QWidget *page, const char *name, const QRect &place, const QString &text) {
        auto *b = new QPushButton(text, page);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(place);
        b->setAutoDefault(false);
        return b;
    };

    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    // The rules framing the four rows of labels and boxes.
    for (int top : {5, 36, 66, 97, 127}) {
        auto *rule = new Bevel(Bevel::Shape::TopLine, Bevel::Style::Lowered, TabSheet1);
        rule->setGeometry(2, top, 145, 2);
    }
    Label7 = label(TabSheet1, "Label7", 2, 6);
    Label9 = label(TabSheet1, "Label9", 2, 38);
    Label8 = label(TabSheet1, "Label8", 2, 69);
    Label10 = label(TabSheet1, "Label10", 2, 100);
    Edit1 = edit(TabSheet1, "Edit1", QRect(97, 10, 50, 21), QStringLiteral("0"));
    Edit3 = edit(TabSheet1, "Edit3", QRect(97, 42, 50, 21), QStringLiteral("60"));
    Edit2 = edit(TabSheet1, "Edit2", QRect(97, 73, 50, 21), QStringLiteral("0"));
    Edit4 = edit(TabSheet1, "Edit4", QRect(97, 103, 50, 21), QStringLiteral("1"));
    RadioGroup1 = new toolkit::RadioGroup(QStringLiteral("Нумерация опор"),
                                          {QStringLiteral("Четные"), QStringLiteral("Нечетные"),
                                           QStringLiteral("Сплошная")},
                                          TabSheet1);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    RadioGroup1->setGeometry(152, 0, 106, 65);
    RadioGroup1->setItemIndex(0);
    Button1 = button(TabSheet1, "Button1", QRect(152, 68, 108, 29), QStringLiteral("заполнить таблицу"));
    Button1->setEnabled(false);
    Button2 = button(TabSheet1, "Button2", QRect(152, 104, 109, 25), QStringLiteral("Отменить"));
    QWidget::setTabOrder(Edit1, Edit3);
    QWidget::setTabOrder(Edit3, Edit2);
    QWidget::setTabOrder(Edit2, Edit4);
    QWidget::setTabOrder(Edit4, RadioGroup1->button(0));
    QWidget::setTabOrder(RadioGroup1->button(0), Button1);
    QWidget::setTabOrder(Button1, Button2);
    PageControl1->addTab(TabSheet1, QStringLiteral("Заполнить..."));

    TabSheet4 = new QWidget;
    TabSheet4->setObjectName(QStringLiteral("TabSheet4"));
    const QFont warning = pixelFont(QStringLiteral("MS Sans Serif"), 13);
    Label16 = label(TabSheet4, "Label16", 15, 12);
    Label16->setFont(warning);
    Label16->setText(QStringLiteral("Все записи по выбранному участку"));
    Label16->adjustSize();
    Label26 = label(TabSheet4, "Label26", 64, 28);
    Label26->setFont(warning);
    Label26->setText(QStringLiteral("будут удалены!!!"));
    Label26->adjustSize();
    Button4 = button(TabSheet4, "Button4", QRect(20, 72, 103, 33), QStringLiteral("Удалить"));
    Button3 = button(TabSheet4, "Button3", QRect(158, 72, 85, 33), QStringLiteral("Отменить"));
    QWidget::setTabOrder(Button4, Button3);
    PageControl1->addTab(TabSheet4, QStringLiteral("Удаление..."));

    toolkit::connectGuarded(Edit2, &QLineEdit::textChanged, this, &TForm1::Edit2Change);
    toolkit::connectGuarded(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    toolkit::connectGuarded(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    toolkit::connectGuarded(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    toolkit::connectGuarded(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
}

// ---------------------------------------------------------------- start-up

void TForm1::FormCreate()
{
    Table1.SetActive(true);
    Table2.SetActive(true);
    Label11->setText(labelText(QStringLiteral("Номер\rопоры")));
    Label12->setText(labelText(QStringLiteral("Тип\rопоры")));
    Label13->setText(labelText(QStringLiteral("Пикетаж,\rкм")));
    // U, B and R are Latin letters; "Ом" and "мА" are Cyrillic.
    Label14->setText(labelText(QStringLiteral("Замер U,\rB")));
    Label15->setText(labelText(QStringLiteral("Расчетное\rU, B")));
    Label23->setText(labelText(QStringLiteral("R опоры,\rОм")));
    Label24->setText(labelText(QStringLiteral("Ток утечки,\rмА")));
    Label7->setText(labelText(QStringLiteral("Начальный\rкилометр")));
    Label9->setText(labelText(QStringLiteral("Расстояние меж-\rду опорами, м")));
    Label8->setText(labelText(QStringLiteral("Количество\rопор")));
    Label10->setText(labelText(QStringLiteral("Начинать с\rномера - ")));
    for (QLabel *label : {Label7, Label9, Label8, Label10})
        label->adjustSize();
}

void TForm1::showEvent(QShowEvent *event)
{
    if (!m_placed && !event->spontaneous()) {
        // Centred on the screen when first shown.
        m_placed = true;
        if (QScreen *s = screen())
            toolkit::centreWindow(this, s->availableGeometry());
        // Values another tool wrote that cannot be read are named once, over
        // the window, and read as blank; the rest of the data is usable.
        QTimer::singleShot(0, this, [this] {
            toolkit::runGuarded([this] {
                for (const QString &text : m_tables.unreadableValues())
                    toolkit::messageDlg(text, toolkit::MessageKind::Warning, toolkit::BoxButton::Ok);
            });
        });
    }
    QMainWindow::showEvent(event);
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // Closing the main window ends the program: an open report preview goes
    // with it (its generation stops), so "Печать" returns and the event loop
    // can end.
    if (m_report)
        if (PreviewWindow *preview = m_report->QuickRep1->previewWindow())
            preview->close();
    QMainWindow::closeEvent(event);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    // The rule under the caption runs the whole width of the header panel.
    if (watched == Panel3 && event->type() == QEvent::Resize)
        Bevel9->setGeometry(0, 0, Panel3->width(), 25);
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------- sections

void TForm1::Table2AfterScroll(Table *)
{
    Label25->setText(sectionCaptionPrefix() + Table2Line->Text());
}

void TForm1::N4Click()
{
    close();
}

void TForm1::N11Click()
{
    Table2.Insert();
}

void TForm1::N14Click()
{
    Table1.SetFilter(kLeakageFilter);
    Table1.SetFiltered(!N14->isChecked());
    N14->setChecked(!N14->isChecked());
}

void TForm1::N15Click()
{
    const QString question =
        QStringLiteral("Удалить все опоры на участке \r") + Table2Line->Text() + QStringLiteral(" ?");
    const toolkit::BoxButton answer =
        toolkit::messageDlg(question, toolkit::MessageKind::Warning, toolkit::BoxButton::No | toolkit::BoxButton::Ok);
    // No, and a box closed from its title bar, delete nothing.
    if (answer != toolkit::BoxButton::Ok)
        return;
    deleteSection();
}

void TForm1::deleteSection()
{
    const backup::Reason reason{backup::Reason::Kind::SectionDeletion, Table2Line->Text()};
    if (!backupui::backupBefore(Table2.DatabaseName(), reason))
        return;
    deleteSectionWithSupports(m_tables);
}

void TForm1::DBGrid2KeyPress(QChar &Key)
{
    if (Key != u'\r')
        return;
    Key = QChar();
    if (Table2.State() == DataSetState::Insert)
        Table2.Post();
    if (Table2.State() == DataSetState::Edit)
        Table2.Post();
}

// ---------------------------------------------------------------- supports

void TForm1::N2Click()
{
    Table1.Delete();
}

void TForm1::DBGrid1KeyPress(QChar &Key)
{
    if (Key != u'\r')
        return;
    Key = QChar();
    N12->trigger();
}

void TForm1::DBGrid1DblClick()
{
    N12->trigger();
}

void TForm1::DBGrid1DrawColumnCell(QPainter &painter, const QRect &rect, const GridColumn &column, CellState state)
{
    const Field *field = Table1.FieldByName(column.fieldName);
    QString text;
    if (field->isFloat()) {
        if (!field->Text().isEmpty())
            text = numfmt::overlayText(field->AsFloat(),
                                       column.fieldName == QLatin1String("Kilometr") ? 3 : 1);
    } else {
        text = field->AsString();
    }
    if (!overLeakageLimit(Table1I_opory))
        return;
    painter.fillRect(rect, state.testFlag(CellStateFlag::Selected) ? toolkit::clHighlight() : toolkit::clRed());
    // In the font and colour the default painting chose, 4 pixels in from
    // the right and at the very top, not clipped.
    const QFontMetrics fm(painter.font());
    painter.drawText(QPoint(rect.left() + rect.width() - 4 - fm.horizontalAdvance(text), rect.top() + fm.ascent()),
                     text);
}

// ---------------------------------------------------------------- fill and clear panes

void TForm1::N6Click()
{
    PageControl1->setTabVisible(0, true);
    PageControl1->setTabVisible(1, false);
    PageControl1->setCurrentWidget(TabSheet1);
    PageControl1->show();
}

void TForm1::N7Click()
{
    PageControl1->setTabVisible(0, false);
    PageControl1->setTabVisible(1, true);
    PageControl1->setCurrentWidget(TabSheet4);
    PageControl1->show();
}

// ---------------------------------------------------------------- import and export

void TForm1::actionImportClick()
{
    settleSection();
    exchangeui::importSupports(this, m_tables);
}

void TForm1::actionExportClick()
{
    settleSection();
    exchangeui::exportSupports(this, m_tables);
}

// ---------------------------------------------------------------- backups and the check

void TForm1::actionBackupsClick()
{
    settleSection();
    backupui::showBackups(this, m_tables);
}

void TForm1::actionCheckDatabaseClick()
{
    settleSection();
    backupui::showDatabaseCheck(this, m_tables);
}

void TForm1::hidePane()
{
    // The focus leaves the pane before it hides, so it never passes through the section list.
    returnToSupportGrid();
    PageControl1->setTabVisible(0, false);
    PageControl1->setTabVisible(1, false);
    PageControl1->hide();
}

void TForm1::returnToSupportGrid()
{
    activateWindow();
    DBGrid1->setFocus(Qt::OtherFocusReason);
}

void TForm1::Edit2Change()
{
    if (Edit2->text().isEmpty()) {
        Button1->setEnabled(false);
        return;
    }
    // A text that is not a whole number is reported and the button keeps its state.
    Button1->setEnabled(numread::readWholeNumber(Edit2->text()) > 0);
}

void TForm1::Button1Click()
{
    settleSection();
    fillSupports(m_tables, {Edit2->text(), Edit1->text(), Edit3->text(), Edit4->text(), RadioGroup1->itemIndex()});
    // The tabs stay as they are; the next "Заполнить..." or "Очистить..." sets them.
    returnToSupportGrid();
    PageControl1->hide();
}

void TForm1::Button2Click()
{
    hidePane();
}

void TForm1::Button3Click()
{
    hidePane();
}

void TForm1::actionPlotClick()
{
    m_plot = plot::openProfileWindow(m_tables, this);
}

void TForm1::Button4Click()
{
    // Answered "&No" after a failed backup: the pane stays, nothing is deleted.
    const backup::Reason reason{backup::Reason::Kind::Clearing, Table2Line->Text()};
    if (!backupui::backupBefore(Table2.DatabaseName(), reason))
        return;
    clearSupports(m_tables);
    hidePane();
}
