#pragma once

#include "dialogs.h"

#include <QString>
#include <QtGlobal>

#include <exception>

// The handler for an exception that escapes start-up before the event loop
// runs. The program's main is shaped as
//
//     toolkit::Application app(argc, argv);
//     try {
//         ...create the windows...
//         return app.exec();
//     } catch (const std::exception &e) {
//         return toolkit::lastChance(e);
//     }
//
// so the application object still exists while the box shows.
namespace toolkit {

// Where a code address lies: the file name (no folder) of the executable or
// shared library that contains it, and the address relative to that module's
// start. An address in no module (or null) gives the executable's name and
// the address itself.
struct CodeLocation
{
    QString module;
    quintptr offset = 0;
};
CodeLocation locateCode(const void *address);

// The C++ name of the exception's class ("store::StoreError").
QString exceptionTypeName(const std::exception &e);

// "Exception %s in module %s at %p.\n%s%s": the type name, the module name,
// the relative address as eight upper-case hexadecimal digits, the message,
// and "." unless the message is empty or already ends with ".".
QString lastChanceText(const QString &typeName, const QString &module, quintptr offset,
                       const QString &message);
// The box for an exception: caption "Application Error", the stop icon, "OK".
// The address is the throw site of the program's own errors and 0 for others.
BoxDescription lastChanceBox(const std::exception &e);

// Shows the box through the dialog seam and returns the exit code, 1.
int lastChance(const std::exception &e);

} // namespace toolkit
