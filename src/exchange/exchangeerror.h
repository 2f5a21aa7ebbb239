#pragma once

#include "store/error.h"

#include <QString>
#include <QtGlobal>

#include <functional>

namespace exchange {

// A file the import cannot read or the export cannot write: the message says
// what is wrong in the user's words, and nothing has been written.
class ExchangeError : public SystemError
{
public:
    using SystemError::SystemError;
};

// Told how far a long import or export has come (done of total, in any
// unit); returns false when the user cancels.
using Progress = std::function<bool(qint64 done, qint64 total)>;

// "1 ошибка", "2 ошибки", "5 ошибок": a count with its noun in the Russian
// plural form the count takes.
QString countText(qint64 count, const QString &one, const QString &few, const QString &many);

} // namespace exchange
