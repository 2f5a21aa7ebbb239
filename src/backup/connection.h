#pragma once

#include "store/error.h"

#include <QString>
#include <QVariant>

struct sqlite3;
struct sqlite3_stmt;

namespace backup {

// A backup, a restore or a check that failed. The message is the reason in
// the user's words, written to follow "Не удалось создать резервную копию: "
// and the like; nothing that existed before was changed.
class BackupError : public SystemError
{
public:
    using SystemError::SystemError;
};

// An SQLite connection of this layer's own, straight over the C interface:
// on a live table file for the length of one backup, restore or check (with
// the store's settings: busy timeout, synchronous commits, no trusted schema,
// cell size checks), on a backup being written, or on a backup file read as
// it stands (immutable: never written, never locked, no journal beside it).
class Connection
{
public:
    enum class Mode { Live, LiveReadOnly, Create, Immutable };
    Connection(const QString &path, Mode mode);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    sqlite3 *handle() const { return m_db; }
    const QString &path() const { return m_path; }
    void exec(const QString &sql);
    // The first column of the first row of a statement without parameters.
    QVariant value(const QString &sql);
    // Ends a failed transaction; SQLite may have rolled it back by itself.
    void rollback() noexcept;
    // Throws the connection's last error, described for the user.
    [[noreturn]] void fail(int code) const;

private:
    QString m_path;
    QString m_shown; // how failures name the file
    sqlite3 *m_db = nullptr;
};

// One prepared statement; values are bound by position (from 1) and read by
// column (from 0) as the store keeps them: qint64, double, QString or blank.
class Statement
{
public:
    Statement(Connection &connection, const QString &sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int position, const QVariant &value);
    // True while a row is there to read; throws on an error.
    bool next();
    // Runs a statement that returns no rows.
    void run();
    void reset();
    QVariant value(int column) const;
    qint64 integer(int column) const;
    QString text(int column) const;

private:
    Connection &m_connection;
    sqlite3_stmt *m_statement = nullptr;
};

// The URI that opens a backup file as it stands, never writing or locking it.
QByteArray immutableUri(const QString &path);

// "на диске нет места", "нет права на запись", ...: an SQLite result code in
// the user's words, for a file named in the text where it helps.
QString describeFailure(int code, const QString &file, const QString &detail);

} // namespace backup
