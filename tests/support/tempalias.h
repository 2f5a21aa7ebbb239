#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>

// Skips a test about table files themselves when "kor" is on the server
// (needs <QTest>).
#define SKIP_ON_SERVER()                                                                                               \
    do {                                                                                                               \
        if (TempAlias::onServer())                                                                                     \
            QSKIP("about table files; the alias is on the database server");                                         \
    } while (false)

// A throw-away home for one test: the store's configuration and data folders
// point into a temporary folder for as long as the object lives, so a test
// never reads or writes the user's real aliases.
//
// With KOROZIA_TEST_BACKEND=postgresql the alias "kor" is a database server
// instead: the process's private server (see PrivatePostgres), as a role of
// its own whose schema is empty, so that the program makes its tables there
// as it makes them in the default folder. The same tests then run against
// both backends.
class TempAlias
{
public:
    TempAlias();
    ~TempAlias();

    // True when "kor" is on the private database server.
    static bool onServer();
    // How the store's messages name a table ("base_kor.db"): the file's name,
    // or the table's name on the server.
    static QString tableLabel(const QString &fileName);

    QString root() const { return m_dir.path(); }
    QString configHome() const;
    QString dataHome() const;
    // The folder the default alias "kor" uses when the configuration does not name it.
    QString defaultFolder(const QString &alias = QStringLiteral("kor")) const;
    // Writes an alias entry into the store's configuration file: a folder of
    // table files (any server settings of the alias are dropped).
    void configure(const QString &alias, const QString &folder) const;
    // Writes an alias entry for a database server: every key given, nothing else.
    void configureServer(const QString &alias, const QList<QPair<QString, QString>> &settings) const;
    // The role (and schema) of this home on the private server; empty on files.
    const QString &serverUser() const { return m_user; }

    // The store made to refuse, as a failing or locked-down one would, with
    // no setting of the store's own: the next `commits` commits that write
    // the table are refused; every change to the table is refused from now
    // on (a read-only file, or a role that may only read); the table's file
    // may grow by `pages` pages more (a full disk; table files only). They
    // act on what the store has open, or opens, in this home.
    void refuseCommits(const QString &fileName, int commits) const;
    void makeReadOnly(const QString &fileName) const;
    void limitGrowth(const QString &fileName, qint64 pages) const;
    // The table's next commit goes through, and everything the store then
    // asks of the table fails, as when a connection is lost just after a
    // commit, until this is called again with `fail` false. On the server
    // the connection is lost once, right after the next commit's answer.
    void failAfterNextCommit(const QString &fileName, bool fail = true) const;
    // On the server: the next commit is saved, and the connection is lost
    // before its answer comes.
    void loseAnswerOfNextCommit() const;
    // Bulk scopes commit by themselves after this many writes, in every
    // table of the process, on either backend (0: the store's own
    // interval), so that a test sees a scope commit part-way.
    static void setBulkCommitInterval(int writes);

    // A connection of the test's own to the table's data: its file in the
    // default folder, or this home's schema on the server. Close it (and
    // remove it by name) before the store opens the table again.
    QSqlDatabase openRaw(const QString &connection, const QString &fileName) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldConfig;
    QByteArray m_oldData;
    QString m_user;
};
