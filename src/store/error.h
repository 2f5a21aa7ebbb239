#pragma once

#include <QString>
#include <exception>
#include "sourcelocation.h"
#include <string>

// The one base of every error the program raises itself. It keeps the
// message the user will read and the place it was thrown from: the code
// address (for the last-chance box at start-up) and the source location
// (for developers reading a log).
class SystemError : public std::exception
{
public:
    explicit SystemError(QString message,
                         std::source_location where = std::source_location::current());

    const QString &message() const { return m_message; }
    // The code address of the throw site: the return address of this constructor.
    const void *site() const { return m_site; }
    const std::source_location &where() const { return m_where; }
    const char *what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_message;
    std::string m_utf8;
    const void *m_site = nullptr;
    std::source_location m_where;
};

// Ends the current command without any message: the event loop shows nothing.
class SilentAbort : public SystemError
{
public:
    explicit SilentAbort(std::source_location where = std::source_location::current())
        : SystemError(QStringLiteral("Operation aborted"), where)
    {
    }
};

namespace store {

// A failure of the table store: a file that cannot be opened or written, a
// refused post, a locked record. The text is the store's own.
class StoreError : public SystemError
{
public:
    using SystemError::SystemError;
};

// A record names a record of another table that is not there (a Support whose
// Section another user deleted): nothing was written.
class MissingReferenceError : public StoreError
{
public:
    using StoreError::StoreError;
};

// A record that records of another table still name cannot be removed (a
// Section to which another user has just added Supports): nothing was removed.
class StillReferencedError : public StoreError
{
public:
    using StoreError::StoreError;
};

} // namespace store
