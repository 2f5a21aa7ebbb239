// The main window's commands that lead into the other windows: "Расчитать",
// "Добавить опору", "Редактировать опору" and "Печать".
#include "korozia.h"

#include "calc/leakage.h"
#include "editor/add.h"
#include "report/print.h"
#include "report/quickrep.h"
#include "toolkit/dialogs.h"
#include "toolkit/guard.h"

#include <QAction>

void TForm1::createForms()
{
    m_report = std::make_unique<TQRListForm>(m_tables);
    // The editor runs the calculation after a save as a click of N8 would,
    // but with its errors left to the save, which then keeps the dialog open.
    Form2 = new TForm2(&DataSource1, [this] { N8Click(); }, this);
    Form2->hide();

    toolkit::connectGuarded(N8, &QAction::triggered, this, &TForm1::N8Click);
    toolkit::connectGuarded(N1, &QAction::triggered, this, &TForm1::N1Click);
    toolkit::connectGuarded(N12, &QAction::triggered, this, &TForm1::N12Click);
    toolkit::connectGuarded(N10, &QAction::triggered, this, &TForm1::N10Click);
}

void TForm1::settleSection()
{
    if (Table2.State() != DataSetState::Insert && Table2.State() != DataSetState::Edit)
        return;
    DBGrid2->commitEditor();
    if (Table2.Modified())
        Table2.Post();
    else
        Table2.Cancel();
}

void TForm1::N8Click()
{
    calc::calculateLeakage(m_tables, [](const QString &text) {
        toolkit::messageDlg(text, toolkit::MessageKind::Information, toolkit::BoxButton::Ok);
    });
}

void TForm1::N1Click()
{
    settleSection();
    Form2->prepare(TForm2::Mode::Add);
    Table1.Insert();
    Form2->ShowModal();
    returnToSupportGrid();
}

void TForm1::N12Click()
{
    settleSection();
    Form2->prepare(TForm2::Mode::Edit);
    Table1.Edit();
    Form2->ShowModal();
    returnToSupportGrid();
}

void TForm1::N10Click()
{
    m_report->QRLabel8->SetCaption(reportTitle(Table2Line->AsString()));
    m_report->QuickRep1->Preview();
}
