#include "guard.h"

#include "dialogs.h"
#include "store/error.h"

#include <QtGlobal>

#include <exception>

namespace toolkit {

namespace {

// The error box itself must not fail the caller: if it cannot be shown, the
// message still reaches the log.
void showGuardedErrorBox(const QString &message) noexcept
{
    try {
        showErrorBox(message);
    } catch (const std::exception &e) {
        qCritical("Cannot show the error box (%s): %s", e.what(), qUtf8Printable(message));
    } catch (...) {
        qCritical("Cannot show the error box: %s", qUtf8Printable(message));
    }
}

} // namespace

QString unknownExceptionText()
{
    return QStringLiteral("Unknown exception");
}

void showCurrentException() noexcept
{
    try {
        throw;
    } catch (const SilentAbort &) {
        // The command has ended on purpose; its own message, if any, is shown.
    } catch (const SystemError &e) {
        showGuardedErrorBox(e.message());
    } catch (const std::exception &e) {
        showGuardedErrorBox(QString::fromUtf8(e.what()));
    } catch (...) {
        showGuardedErrorBox(unknownExceptionText());
    }
}

void runGuarded(const std::function<void()> &handler) noexcept
{
    try {
        handler();
    } catch (...) {
        showCurrentException();
    }
}

} // namespace toolkit
