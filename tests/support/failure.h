#pragma once

#include "store/error.h"

#include <QString>
#include <functional>

// The message of the program's error that the call raises, or "<no error>".
inline QString failure(const std::function<void()> &call)
{
    try {
        call();
    } catch (const SystemError &e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}
