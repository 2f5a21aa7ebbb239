#include "progresswindow.h"

#include <QProgressDialog>

namespace exchangeui {

namespace {
constexpr int kSteps = 1000;
}

ProgressWindow::ProgressWindow(QWidget *parent, const QString &label)
    : m_dialog(std::make_unique<QProgressDialog>(label, QStringLiteral("Отмена"), 0, kSteps, parent))
{
    m_dialog->setObjectName(QStringLiteral("ImportExportProgress"));
    m_dialog->setWindowTitle(label);
    m_dialog->setWindowModality(Qt::WindowModal);
    m_dialog->setMinimumDuration(kShowAfterMs);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    m_dialog->setValue(0);
}

ProgressWindow::~ProgressWindow() = default;

exchange::Progress ProgressWindow::progress()
{
    return [dialog = m_dialog.get()](qint64 done, qint64 total) {
        const int step = total > 0 ? int(std::min<qint64>(kSteps, done * kSteps / total)) : 0;
        if (step != dialog->value())
            dialog->setValue(step); // a modal progress dialog lets events through here
        return !dialog->wasCanceled();
    };
}

} // namespace exchangeui
