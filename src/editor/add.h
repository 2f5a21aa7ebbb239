#pragma once

#include <QDialog>
#include <functional>

class DataSource;
class DBEdit;
class QLabel;
class QPushButton;
class QKeyEvent;

// The support editor: a modal dialog whose six edits are bound to the
// current record of the support cursor, so it edits the very Support the
// support grid shows. Saving posts the Support and runs the calculation for
// the whole Section; cancelling drops the pending change.
class TForm2 : public QDialog
{
    Q_OBJECT
public:
    enum class Mode { Add, Edit };

    // runCalculation runs "Расчитать" as a click of its menu item does, with
    // its errors left as exceptions (a failed calculation keeps the dialog open).
    TForm2(DataSource *dataSource1, std::function<void()> runCalculation, QWidget *parent = nullptr);

    // The title and the save button's caption of a mode.
    void prepare(Mode mode);
    int ShowModal();

    void FormShow();
    bool DBEdit1KeyPress(DBEdit *sender, QKeyEvent *event);
    void Button1Click();
    void Button2Click();

    QWidget *Panel1;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5;
    DBEdit *DBEdit1, *DBEdit2, *DBEdit3, *DBEdit4, *DBEdit5, *DBEdit6;
    QPushButton *Button1, *Button2;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void reject() override;

private:
    DataSource *m_source;
    std::function<void()> m_runCalculation;
    bool m_placed = false;
    bool m_closing = false;
};
