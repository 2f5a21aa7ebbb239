#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

// The window shown on top while the report goes to the printer: a bar from 0
// to 100, the line "NN%  Completed" under it, and "Cancel", which abandons
// the job. Both follow the progress each time it reaches a multiple of 5.
class PrintProgressDialog : public QDialog
{
    Q_OBJECT
public:
    explicit PrintProgressDialog(QWidget *parent = nullptr);

    void setProgress(int percent);
    bool cancelled() const { return m_cancelled; }

    QProgressBar *bar() const { return m_bar; }
    QLabel *line() const { return m_line; }
    QPushButton *cancelButton() const { return m_cancel; }

    static QString lineText(int percent);

protected:
    void reject() override; // Esc and the close box cancel as the button does

private:
    QProgressBar *m_bar;
    QLabel *m_line;
    QPushButton *m_cancel;
    int m_shown = 0;
    bool m_cancelled = false;
};
