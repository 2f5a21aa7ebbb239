#include "connection.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <sqlite3.h>

namespace backup {

QString describeFailure(int code, const QString &file, const QString &detail)
{
    switch (code & 0xff) {
    case SQLITE_FULL:
        return QStringLiteral("на диске нет места");
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return QStringLiteral("нет права на запись в «%1»").arg(file);
    case SQLITE_CANTOPEN:
        return QStringLiteral("файл «%1» не открывается (%2)").arg(file, detail);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("таблицы заняты другой программой, повторите позже");
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return QStringLiteral("файл «%1» повреждён или не является базой данных").arg(file);
    case SQLITE_IOERR:
        return QStringLiteral("ошибка чтения или записи файла «%1» (%2)").arg(file, detail);
    case SQLITE_CONSTRAINT:
        return QStringLiteral("таблица «%1» не принимает значения копии (%2)").arg(file, detail);
    default:
        return QStringLiteral("ошибка SQLite в файле «%1»: %2").arg(file, detail);
    }
}

QByteArray immutableUri(const QString &path)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded).toUtf8() + "?immutable=1";
}

Connection::Connection(const QString &path, Mode mode)
    : m_path(path), m_shown(mode == Mode::Create ? path : QFileInfo(path).fileName())
{
    QByteArray name = QFile::encodeName(path);
    int flags = SQLITE_OPEN_READWRITE;
    switch (mode) {
    case Mode::Live:
        break;
    case Mode::LiveReadOnly:
        flags = SQLITE_OPEN_READONLY;
        break;
    case Mode::Create:
        flags |= SQLITE_OPEN_CREATE;
        break;
    case Mode::Immutable:
        flags = SQLITE_OPEN_READONLY;
        name = immutableUri(path);
        break;
    }
    // URIs let a backup be attached to a live connection as it stands.
    const int rc = sqlite3_open_v2(name.constData(), &m_db, flags | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW, nullptr);
    if (rc != SQLITE_OK) {
        const QString detail = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString();
        sqlite3_close(m_db);
        m_db = nullptr;
        throw BackupError(describeFailure(rc, m_shown, detail));
    }
    sqlite3_extended_result_codes(m_db, 1);
    exec(QStringLiteral("PRAGMA trusted_schema = OFF"));
    exec(QStringLiteral("PRAGMA cell_size_check = ON"));
    if (mode != Mode::Immutable) {
        sqlite3_busy_timeout(m_db, 5000);
        exec(QStringLiteral("PRAGMA synchronous = FULL"));
    }
}

Connection::~Connection()
{
    sqlite3_close_v2(m_db);
}

void Connection::exec(const QString &sql)
{
    const QByteArray text = sql.toUtf8();
    const int rc = sqlite3_exec(m_db, text.constData(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        fail(rc);
}

void Connection::rollback() noexcept
{
    if (!sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

QVariant Connection::value(const QString &sql)
{
    Statement statement(*this, sql);
    return statement.next() ? statement.value(0) : QVariant();
}

void Connection::fail(int code) const
{
    throw BackupError(describeFailure(code, m_shown, QString::fromUtf8(sqlite3_errmsg(m_db))));
}

Statement::Statement(Connection &connection, const QString &sql) : m_connection(connection)
{
    const QByteArray text = sql.toUtf8();
    const int rc = sqlite3_prepare_v2(connection.handle(), text.constData(), int(text.size()), &m_statement, nullptr);
    if (rc != SQLITE_OK)
        connection.fail(rc);
}

Statement::~Statement()
{
    sqlite3_finalize(m_statement);
}

Statement &Statement::bind(int position, const QVariant &value)
{
    int rc = SQLITE_OK;
    if (!value.isValid() || value.isNull()) {
        rc = sqlite3_bind_null(m_statement, position);
    } else if (value.typeId() == QMetaType::Double) {
        rc = sqlite3_bind_double(m_statement, position, value.toDouble());
    } else if (value.typeId() == QMetaType::QString) {
        const QByteArray utf8 = value.toString().toUtf8();
        rc = sqlite3_bind_text(m_statement, position, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    } else {
        rc = sqlite3_bind_int64(m_statement, position, value.toLongLong());
    }
    if (rc != SQLITE_OK)
        m_connection.fail(rc);
    return *this;
}

bool Statement::next()
{
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        m_connection.fail(rc);
    return false;
}

void Statement::run()
{
    while (next()) {
    }
}

void Statement::reset()
{
    sqlite3_reset(m_statement);
}

QVariant Statement::value(int column) const
{
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_INTEGER:
        return qint64(sqlite3_column_int64(m_statement, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(m_statement, column);
    case SQLITE_TEXT:
        return text(column);
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(m_statement, column)),
                          sqlite3_column_bytes(m_statement, column));
    default:
        return {};
    }
}

qint64 Statement::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

QString Statement::text(int column) const
{
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return QString::fromUtf8(bytes, sqlite3_column_bytes(m_statement, column));
}

} // namespace backup
