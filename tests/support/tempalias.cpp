#include "tempalias.h"

#include "privatepostgres.h"
#include "serveranswers.h"
#include "sqliteconnections.h"
#include "store/pgtablefile.h"
#include "store/schema.h"
#include "store/sqlitetablefile.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

TempAlias::TempAlias()
    : m_oldConfig(qgetenv("XDG_CONFIG_HOME")), m_oldData(qgetenv("XDG_DATA_HOME"))
{
    QDir().mkpath(configHome());
    QDir().mkpath(dataHome());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
    // A test may point "kor" at a folder of table files on either backend.
    sqliteconnections::watch();
    if (!onServer())
        return;
    PrivatePostgres *server = PrivatePostgres::instance();
    if (!server)
        qFatal("KOROZIA_TEST_BACKEND=postgresql, but the private server cannot run: %s",
               qPrintable(PrivatePostgres::unavailable()));
    static int homes = 0;
    m_user = QStringLiteral("kor%1").arg(++homes);
    const QString made = server->exec({QStringLiteral("CREATE ROLE %1 LOGIN").arg(m_user),
                                       QStringLiteral("CREATE SCHEMA %1 AUTHORIZATION %1").arg(m_user)});
    if (!made.isEmpty())
        qFatal("the private server refused a test's role: %s", qPrintable(made));
    configureServer(QStringLiteral("kor"), {{QStringLiteral("host"), server->socketFolder()},
                                            {QStringLiteral("port"), QString::number(server->port())},
                                            {QStringLiteral("database"), PrivatePostgres::database()},
                                            {QStringLiteral("user"), m_user},
                                            {QStringLiteral("create"), QStringLiteral("yes")}});
}

TempAlias::~TempAlias()
{
    qputenv("XDG_CONFIG_HOME", m_oldConfig);
    qputenv("XDG_DATA_HOME", m_oldData);
}

bool TempAlias::onServer()
{
    return qEnvironmentVariable("KOROZIA_TEST_BACKEND") == QLatin1String("postgresql");
}

QString TempAlias::tableLabel(const QString &fileName)
{
    const store::TableDef *table = store::findTable(fileName);
    return onServer() && table ? table->sqlName : fileName;
}

QString TempAlias::configHome() const
{
    return m_dir.path() + QStringLiteral("/config");
}

QString TempAlias::dataHome() const
{
    return m_dir.path() + QStringLiteral("/data");
}

QString TempAlias::defaultFolder(const QString &alias) const
{
    return dataHome() + QStringLiteral("/tablestore/") + alias;
}

void TempAlias::configure(const QString &alias, const QString &folder) const
{
    QDir().mkpath(configHome() + QStringLiteral("/tablestore"));
    QSettings ini(configHome() + QStringLiteral("/tablestore/aliases.ini"), QSettings::IniFormat);
    ini.remove(alias);
    ini.setValue(alias + QStringLiteral("/path"), folder);
    ini.sync();
}

void TempAlias::configureServer(const QString &alias, const QList<QPair<QString, QString>> &settings) const
{
    QDir().mkpath(configHome() + QStringLiteral("/tablestore"));
    QSettings ini(configHome() + QStringLiteral("/tablestore/aliases.ini"), QSettings::IniFormat);
    ini.remove(alias);
    ini.setValue(alias + QStringLiteral("/driver"), QStringLiteral("postgresql"));
    for (const auto &[key, value] : settings)
        ini.setValue(alias + QLatin1Char('/') + key, value);
    ini.sync();
}

QSqlDatabase TempAlias::openRaw(const QString &connection, const QString &fileName) const
{
    if (!onServer()) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(defaultFolder() + QLatin1Char('/') + fileName);
        db.open();
        return db;
    }
    PrivatePostgres *server = PrivatePostgres::instance();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
    db.setHostName(server->socketFolder());
    db.setPort(server->port());
    db.setDatabaseName(PrivatePostgres::database());
    db.setUserName(m_user);
    db.open();
    return db;
}

namespace {

// True when the alias "kor" of the home is on the server now (a test may
// have pointed it at a folder of table files instead).
bool korOnServer(const TempAlias &home)
{
    QSettings ini(home.configHome() + QStringLiteral("/tablestore/aliases.ini"), QSettings::IniFormat);
    return ini.value(QStringLiteral("kor/driver")).toString() == QLatin1String("postgresql");
}

// The file of a table in the folder an alias "kor" uses now.
QString tablePath(const TempAlias &home, const QString &fileName)
{
    QSettings ini(home.configHome() + QStringLiteral("/tablestore/aliases.ini"), QSettings::IniFormat);
    const QString folder = ini.value(QStringLiteral("kor/path"), home.defaultFolder()).toString();
    return folder + QLatin1Char('/') + fileName;
}

QString serverTable(const TempAlias &home, const QString &fileName)
{
    return home.serverUser() + QLatin1Char('.') + TempAlias::tableLabel(fileName);
}

void onServer(const QStringList &statements)
{
    const QString problem = PrivatePostgres::instance()->exec(statements);
    if (!problem.isEmpty())
        qFatal("the private server refused a test's setting: %s", qPrintable(problem));
}

} // namespace

void TempAlias::refuseCommits(const QString &fileName, int commits) const
{
    if (!korOnServer(*this)) {
        sqliteconnections::refuseCommits(tablePath(*this, fileName), commits);
        return;
    }
    // A deferred trigger of the test's own draws one number per refused
    // commit from a sequence, which no rollback takes back.
    const QString table = serverTable(*this, fileName);
    const QString sequence = m_user + QStringLiteral(".test_refusals");
    ::onServer({QStringLiteral("CREATE SEQUENCE IF NOT EXISTS %1 MINVALUE -1000000").arg(sequence),
                QStringLiteral("CREATE OR REPLACE FUNCTION %1.test_refuse() RETURNS trigger LANGUAGE plpgsql AS "
                               "$$BEGIN IF nextval('%2') <= 0 THEN RAISE EXCEPTION 'commit refused by the test'; "
                               "END IF; RETURN NULL; END$$")
                    .arg(m_user, sequence),
                QStringLiteral("GRANT USAGE ON SEQUENCE %1 TO %2").arg(sequence, m_user),
                QStringLiteral("DROP TRIGGER IF EXISTS test_refuse ON %1").arg(table),
                QStringLiteral("CREATE CONSTRAINT TRIGGER test_refuse AFTER INSERT OR UPDATE OR DELETE ON %1 "
                               "DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION %2.test_refuse()")
                    .arg(table, m_user),
                QStringLiteral("SELECT setval('%1', %2, true)").arg(sequence).arg(-commits)});
}

void TempAlias::makeReadOnly(const QString &fileName) const
{
    if (!korOnServer(*this)) {
        sqliteconnections::run(tablePath(*this, fileName), QStringLiteral("PRAGMA query_only = 1"));
        return;
    }
    ::onServer({QStringLiteral("REVOKE INSERT, UPDATE, DELETE, TRUNCATE ON %1 FROM %2")
                    .arg(serverTable(*this, fileName), m_user)});
}

void TempAlias::limitGrowth(const QString &fileName, qint64 pages) const
{
    if (korOnServer(*this))
        qFatal("a full disk is simulated on table files only");
    const QString path = tablePath(*this, fileName);
    const qint64 now = sqliteconnections::value(path, QStringLiteral("PRAGMA page_count"));
    sqliteconnections::run(path, QStringLiteral("PRAGMA max_page_count = %1").arg(now + pages));
}

void TempAlias::failAfterNextCommit(const QString &fileName, bool fail) const
{
    if (korOnServer(*this))
        serveranswers::cutNext(fail ? serveranswers::Cut::AfterCommit : serveranswers::Cut::None);
    else
        sqliteconnections::failAfterNextCommit(tablePath(*this, fileName), fail);
}

void TempAlias::loseAnswerOfNextCommit() const
{
    if (!korOnServer(*this))
        qFatal("a commit's answer is lost on a database server only");
    serveranswers::cutNext(serveranswers::Cut::AnswerOfCommit);
}

void TempAlias::setBulkCommitInterval(int writes)
{
    store::SqliteTableFile::setBulkCommitInterval(writes);
    store::PgTableFile::setBulkCommitInterval(writes);
}
