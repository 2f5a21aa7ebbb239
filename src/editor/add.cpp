#include "add.h"

#include "store/error.h"

#include "data/datasource.h"
#include "data/table.h"
#include "toolkit/dbedit.h"
#include "toolkit/dialogs.h"
#include "toolkit/guard.h"
#include "toolkit/placement.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {

const QString kNoChainage = QStringLiteral("Не указан пикетаж новой опоры!");
const QString kNoNumber = QStringLiteral("Не указан номер новой опоры!");
const QString kNoResistance = QStringLiteral("Не указано сопротивление новой опоры!");

QLabel *label(QWidget *parent, const QString &name, const QString &text, int x, int y)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    l->move(x, y);
    l->adjustSize();
    return l;
}

DBEdit *edit(QWidget *parent, const QString &name, DataSource *source, const QString &field, int x, int width)
{
    auto *e = new DBEdit(parent);
    e->setObjectName(name);
    e->setGeometry(x, 22, width, 21);
    e->SetDataSource(source);
    e->SetDataField(field);
    return e;
}

QPushButton *button(QWidget *parent, const QString &name, const QString &text, int x)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setGeometry(x, 52, 75, 25);
    // Neither button is the dialog's default button: Enter elsewhere does
    // not press it, while Enter on the focused button does. A click does not
    // take the focus from the edit being typed in (the post writes its text).
    b->setAutoDefault(true);
    b->setDefault(false);
    b->setFocusPolicy(Qt::TabFocus);
    return b;
}

} // namespace

TForm2::TForm2(DataSource *dataSource1, std::function<void()> runCalculation, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint),
      m_source(dataSource1), m_runCalculation(std::move(runCalculation))
{
    setObjectName(QStringLiteral("Form2"));
    setModal(true);
    setFixedSize(365, 85);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, 365, 85);

    Label1 = label(Panel1, QStringLiteral("Label1"), QStringLiteral("№ опоры"), 22, 8);
    Label2 = label(Panel1, QStringLiteral("Label2"), QStringLiteral("Тип опоры"), 94, 8);
    Label3 = label(Panel1, QStringLiteral("Label3"), QStringLiteral("Пикетаж"), 172, 9);
    Label5 = label(Panel1, QStringLiteral("Label5"), QStringLiteral("Замер U"), 248, 8);
    Label4 = label(Panel1, QStringLiteral("Label4"), QStringLiteral("R опоры"), 310, 8);

    DBEdit1 = edit(Panel1, QStringLiteral("DBEdit1"), m_source, QStringLiteral("Nomeropory"), 8, 55);
    DBEdit1->SetMaxLength(3);
    DBEdit2 = edit(Panel1, QStringLiteral("DBEdit2"), m_source, QStringLiteral("Index"), 64, 19);
    DBEdit2->SetUpperCase(true);
    DBEdit3 = edit(Panel1, QStringLiteral("DBEdit3"), m_source, QStringLiteral("Tipopory"), 88, 67);
    DBEdit4 = edit(Panel1, QStringLiteral("DBEdit4"), m_source, QStringLiteral("Kilometr"), 160, 69);
    DBEdit5 = edit(Panel1, QStringLiteral("DBEdit5"), m_source, QStringLiteral("U_izmer"), 232, 75);
    DBEdit6 = edit(Panel1, QStringLiteral("DBEdit6"), m_source, QStringLiteral("R_opory"), 310, 49);

    Button1 = button(Panel1, QStringLiteral("Button1"), QStringLiteral("Сохранить"), 8);
    Button2 = button(Panel1, QStringLiteral("Button2"), QStringLiteral("Отменить"), 286);

    QWidget *order[] = {DBEdit1, DBEdit2, DBEdit3, DBEdit4, DBEdit5, DBEdit6, Button1, Button2};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    for (DBEdit *e : {DBEdit1, DBEdit2, DBEdit3, DBEdit4, DBEdit5, DBEdit6})
        e->OnKeyPress = [this](DBEdit *sender, QKeyEvent *event) { return DBEdit1KeyPress(sender, event); };

    toolkit::connectGuarded(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    toolkit::connectGuarded(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
}

void TForm2::prepare(Mode mode)
{
    if (mode == Mode::Add) {
        setWindowTitle(QStringLiteral("Добавление новой опоры"));
        Button1->setText(QStringLiteral("добавить"));
    } else {
        setWindowTitle(QStringLiteral("Редактирование данных по опоре"));
        Button1->setText(QStringLiteral("Сохранить"));
    }
}

int TForm2::ShowModal()
{
    return exec();
}

void TForm2::showEvent(QShowEvent *event)
{
    if (!m_placed) {
        // The first time, centred on the whole desktop (all screens together);
        // afterwards where it was left.
        QRect desktop;
        for (const QScreen *screen : QGuiApplication::screens())
            desktop = desktop.united(screen->geometry());
        toolkit::centreWindow(this, desktop);
        m_placed = true;
    }
    QDialog::showEvent(event);
    toolkit::runGuarded([this] { FormShow(); });
}

void TForm2::FormShow()
{
    DBEdit1->setFocus(Qt::OtherFocusReason);
    DBEdit1->selectAll();
}

bool TForm2::DBEdit1KeyPress(DBEdit *, QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && !(event->modifiers() & ~(Qt::KeypadModifier))) {
        focusNextChild();
        return true;
    }
    return false;
}

void TForm2::Button1Click()
{
    const struct
    {
        DBEdit *edit;
        const QString &message;
    } checks[] = {{DBEdit4, kNoChainage}, {DBEdit1, kNoNumber}, {DBEdit6, kNoResistance}};
    for (const auto &check : checks) {
        if (check.edit->text().isEmpty()) {
            toolkit::beep();
            toolkit::messageDlg(check.message, toolkit::MessageKind::Error, toolkit::BoxButton::Ok);
            return;
        }
    }
    try {
        m_source->DataSet()->Post();
    } catch (const store::MissingReferenceError &) {
        // The Section was deleted by another user: the Support can be saved
        // nowhere, the cursors have moved on to an existing Section, and the
        // dialog would show a record it no longer edits.
        m_closing = true;
        QDialog::reject();
        m_closing = false;
        throw;
    }
    if (m_runCalculation)
        m_runCalculation();
    m_closing = true;
    accept();
    m_closing = false;
}

void TForm2::Button2Click()
{
    m_source->DataSet()->Cancel();
    m_closing = true;
    QDialog::reject();
    m_closing = false;
}

// The dialog has no close box; a close by the window system (Alt+F4) is the
// same as "Отменить", so the support cursor is never left editing behind a
// hidden dialog.
void TForm2::closeEvent(QCloseEvent *event)
{
    if (m_closing) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    toolkit::runGuarded([this] { Button2Click(); });
}

// Esc on a button is no cancel: the dialog has no cancel button.
void TForm2::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TForm2::reject()
{
    if (m_closing) {
        QDialog::reject();
        return;
    }
    toolkit::runGuarded([this] { Button2Click(); });
}
