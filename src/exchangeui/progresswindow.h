#pragma once

#include "exchange/exchangeerror.h"

#include <QString>

#include <memory>

class QProgressDialog;
class QWidget;

namespace exchangeui {

// The progress of a long import or export: a window-modal bar with "Отмена"
// that shows itself only when the work takes more than half a second.
class ProgressWindow
{
public:
    ProgressWindow(QWidget *parent, const QString &label);
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow &) = delete;
    ProgressWindow &operator=(const ProgressWindow &) = delete;

    // Moves the bar; false once the user has pressed "Отмена".
    exchange::Progress progress();
    QProgressDialog *dialog() const { return m_dialog.get(); }

    static constexpr int kShowAfterMs = 500;

private:
    std::unique_ptr<QProgressDialog> m_dialog;
};

} // namespace exchangeui
