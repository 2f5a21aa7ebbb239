#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A print system of the test's own: a CUPS scheduler run in the foreground
// from a temporary folder (its own configuration, spool, cache, state and
// logs), listening only on a Unix-domain socket in that folder, with queues
// whose device is a small backend that keeps every job it is sent (the
// document as the printer gets it, and the copies and options it was given)
// in the folder. The test process is pointed at it with CUPS_SERVER, so no
// printer of the machine is ever seen or touched.
//
// The scheduler is stopped when the object goes, and dies with the test
// process if that is killed (a test run over its time). The C library keeps
// the server it was first pointed at, so a test process has one of these,
// for its whole run; stop() and start() again keep the same socket.
class PrivateCups
{
public:
    // One job as the printer received it.
    struct Job
    {
        int id = 0;
        int copies = 0;
        QString title;
        QString options;  // the job's options as the backend got them
        QString queue;
        QString document; // the file the printer was sent
    };

    PrivateCups();
    ~PrivateCups();
    PrivateCups(const PrivateCups &) = delete;
    PrivateCups &operator=(const PrivateCups &) = delete;

    // Empty when the scheduler answers, otherwise why it could not be run.
    QString start();
    void stop();
    // A queue printing to the capturing backend, enabled and accepting;
    // empty when it was added, otherwise the tools' complaint.
    QString addQueue(const QString &name, bool makeDefault = true);
    QString removeQueue(const QString &name);

    // The jobs the printer has finished receiving, by job number.
    QList<Job> printedJobs() const;
    // Waits up to the time for the printer to have received count jobs.
    QList<Job> waitForJobs(int count, int timeoutMs = 30000) const;
    // Every job the scheduler knows of, whatever its state (lpstat -W all).
    QStringList allJobs() const;

    QString socketPath() const { return m_dir.filePath(QStringLiteral("cups.sock")); }
    // Leaves the folder behind (for looking at the jobs by eye).
    void keepFolder() { m_dir.setAutoRemove(false); }
    QString folder() const { return m_dir.path(); }
    // The end of the scheduler's log, for failure messages.
    QString logTail() const;

private:
    QString lpadmin(const QStringList &args) const;
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    QProcess m_cupsd;
};
