#include "lastchance.h"

#include "application.h"
#include "store/error.h"

#include <QFileInfo>

#include <cxxabi.h>
#include <dlfcn.h>
#include <link.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace toolkit {

CodeLocation locateCode(const void *address)
{
    const QString executable = QFileInfo(executablePath()).fileName();
    if (!address)
        return {executable, 0};
    Dl_info info{};
    link_map *map = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void **>(&map), RTLD_DL_LINKMAP) == 0
        || !info.dli_fbase) {
        return {executable, reinterpret_cast<quintptr>(address)};
    }
    const quintptr offset =
        reinterpret_cast<quintptr>(address) - reinterpret_cast<quintptr>(info.dli_fbase);
    // The dynamic linker names the main program by its argv[0] (or not at
    // all); the executable's real file name is the one to show.
    if (!map || !map->l_name || map->l_name[0] == '\0' || !info.dli_fname)
        return {executable, offset};
    return {QFileInfo(QFile::decodeName(info.dli_fname)).fileName(), offset};
}

QString exceptionTypeName(const std::exception &e)
{
    const char *mangled = typeid(e).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void *)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return QString::fromUtf8(status == 0 && demangled ? demangled.get() : mangled);
}

QString lastChanceText(const QString &typeName, const QString &module, quintptr offset,
                       const QString &message)
{
    const QString address = QString::number(offset, 16).toUpper().rightJustified(8, u'0');
    QString text = QStringLiteral("Exception %1 in module %2 at %3.\n%4")
                       .arg(typeName, module, address, message);
    if (!message.isEmpty() && !message.endsWith(u'.'))
        text += u'.';
    return text;
}

BoxDescription lastChanceBox(const std::exception &e)
{
    const auto *error = dynamic_cast<const SystemError *>(&e);
    const CodeLocation where = locateCode(error ? error->site() : nullptr);
    const QString message = error ? error->message() : QString::fromUtf8(e.what());
    return BoxDescription{QStringLiteral("Application Error"),
                          BoxIcon::Error,
                          lastChanceText(exceptionTypeName(e), where.module, where.offset, message),
                          {BoxButton::Ok},
                          BoxButton::Ok,
                          BoxButton::Ok};
}

int lastChance(const std::exception &e)
{
    try {
        const BoxDescription box = lastChanceBox(e);
        // Also on the error output, for a start-up that nobody watches.
        qCritical("%s: %s", qPrintable(box.caption), qPrintable(box.text));
        dialogs().show(box);
    } catch (const std::exception &failure) {
        // Nothing is left to show it with; the exit code still says it failed.
        qCritical("Cannot show the last-chance box (%s): %s", failure.what(), e.what());
    }
    return 1;
}

} // namespace toolkit
