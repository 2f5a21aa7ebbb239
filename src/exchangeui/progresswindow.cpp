#include "progresswindow.h"

#include <QElapsedTimer>
#include <QProgressDialog>

#include <memory>

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
    // The bar moves at most every 50 ms: each move of a shown dialog lets
    // the events through and repaints it.
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    return [dialog = m_dialog.get(), clock](qint64 done, qint64 total) {
        const int step = total > 0 ? int(std::min<qint64>(kSteps, done * kSteps / total)) : 0;
        if (step != dialog->value() && (clock->elapsed() >= 50 || step == kSteps)) {
            dialog->setValue(step); // a modal progress dialog lets events through here
            clock->restart();
        }
        return !dialog->wasCanceled();
    };
}

} // namespace exchangeui
