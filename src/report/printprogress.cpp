#include "printprogress.h"

#include "toolkit/guard.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

PrintProgressDialog::PrintProgressDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("PrintProgress"));
    setWindowTitle(QStringLiteral("Printing progress"));
    auto *layout = new QVBoxLayout(this);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_line = new QLabel(lineText(0), this);
    m_line->setAlignment(Qt::AlignCenter);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("Cancel"));
    layout->addWidget(m_bar);
    layout->addWidget(m_line);
    layout->addWidget(m_cancel, 0, Qt::AlignHCenter);
    toolkit::connectGuarded(m_cancel, &QPushButton::clicked, this, [this] { m_cancelled = true; });
    setMinimumWidth(280);
}

QString PrintProgressDialog::lineText(int percent)
{
    return QString::number(percent) + QStringLiteral("%  Completed");
}

void PrintProgressDialog::setProgress(int percent)
{
    percent = std::clamp(percent, 0, 100);
    if (percent / 5 == m_shown / 5)
        return;
    m_shown = percent;
    m_line->setText(lineText(percent));
    m_bar->setValue(percent);
}

void PrintProgressDialog::reject()
{
    m_cancelled = true;
}
