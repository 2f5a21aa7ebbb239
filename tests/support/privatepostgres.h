#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

// A PostgreSQL server of the test process's own: a throw-away cluster in a
// temporary folder, reached through a Unix socket in that folder (and
// 127.0.0.1 on a free port, with passwords), started on first use, one per
// process. PostgreSQL refuses to run as root, so under root the cluster
// belongs to the "postgres" user. A watchdog (a shell reading a pipe from
// this process) stops the server and removes the folder when the process
// ends, however it ends; a start also removes the folders of earlier runs
// whose watchdog and server are both gone.
class PrivatePostgres
{
public:
    // The process's server, started on first use; nullptr when it cannot be
    // started (unavailable() says why: PostgreSQL is not installed, ...).
    static PrivatePostgres *instance();
    static QString unavailable();

    QString socketFolder() const { return m_folder; }
    int port() const { return m_port; }
    // The database the tests' aliases use.
    static QString database() { return QStringLiteral("korozia"); }

    // Runs statements as the server's superuser in the tests' database (or
    // another); the first error is returned, empty when all ran.
    QString exec(const QStringList &statements, const QString &database = QString()) const;
    // The first column of the first row of a query, or an invalid value.
    QVariant value(const QString &query, const QString &database = QString()) const;

    // Stops the server (fast: every session is ended) and starts it again
    // on the same data, for tests of a server that goes away.
    bool stop();
    bool start();

    ~PrivatePostgres();

private:
    PrivatePostgres() = default;
    bool setUp(QString &problem);
    bool run(const QStringList &command, QString *output = nullptr, int timeoutMs = 60000) const;

    QString m_bin;
    QString m_folder;
    int m_port = 0;
    int m_watchdogPipe = -1;
    qint64 m_watchdog = 0;
    bool m_asPostgres = false;
};
