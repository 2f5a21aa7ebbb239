// The built program started as a separate process, as on a fresh machine:
// with no configuration it creates the default alias and its empty tables
// and runs until it is told to close; with the alias configured at a missing
// folder it shows no main window, only the last-chance box, and ends with
// exit code 1 once the box is answered.
#include "store/schema.h"
#include "support/tempalias.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTest>

namespace {

QProcessEnvironment environment(const TempAlias &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.configHome());
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.dataHome());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.root());
    return env;
}

QString tool(const QString &name)
{
    return QStandardPaths::findExecutable(name);
}

// The output of a short command, or an empty string.
QString output(const QString &program, const QStringList &arguments, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    if (!p.waitForFinished(10000))
        p.kill();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The statements that made a table file, as SQLite keeps them.
QStringList schemaOf(const QString &path)
{
    QStringList sql;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("schema"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE sql IS NOT NULL AND name NOT LIKE 'sqlite_%' ORDER BY rowid"));
            while (q.next())
                sql << q.value(0).toString();
            q.exec(QStringLiteral("SELECT count(*) FROM ") + QFileInfo(path).baseName());
            if (q.next())
                sql << QStringLiteral("rows: ") + q.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("schema"));
    return sql;
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void freshMachineGetsTheDefaultAlias();
    void missingFolderEndsWithTheLastChanceBox();
};

void StartupTest::freshMachineGetsTheDefaultAlias()
{
    TempAlias home;
    QProcessEnvironment env = environment(home);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KOROZIA_EXECUTABLE), QStringList());
    QVERIFY2(program.waitForStarted(10000), qPrintable(program.errorString()));

    const QString folder = home.defaultFolder();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder + "/line.db") && QFile::exists(folder + "/base_kor.db"), 20000);
    // It keeps running until it is told to close.
    QVERIFY(!program.waitForFinished(1500));
    QCOMPARE(program.state(), QProcess::Running);
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    QStringList lineSchema = store::lineTable().createSql;
    lineSchema << QStringLiteral("rows: 0");
    QStringList supportSchema = store::supportTable().createSql;
    supportSchema << QStringLiteral("rows: 0");
    QCOMPARE(schemaOf(folder + "/line.db"), lineSchema);
    QCOMPARE(schemaOf(folder + "/base_kor.db"), supportSchema);
}

void StartupTest::missingFolderEndsWithTheLastChanceBox()
{
    const QString xvfb = tool(QStringLiteral("Xvfb"));
    const QString xdotool = tool(QStringLiteral("xdotool"));
    if (xvfb.isEmpty() || xdotool.isEmpty())
        QSKIP("Xvfb and xdotool are needed to answer the box as a user would (scripts/korozia.sh installs them)");

    TempAlias home;
    const QString missing = home.root() + QStringLiteral("/no/such/folder");
    home.configure(QStringLiteral("kor"), missing);

    // A display of our own; -displayfd tells which number it took.
    QProcess server;
    server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                        QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp")});
    QVERIFY(server.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), 20000);
    const QString display = QStringLiteral(":") + QString::fromLatin1(server.readLine()).trimmed();

    QProcessEnvironment env = environment(home);
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KOROZIA_EXECUTABLE), QStringList());
    QVERIFY(program.waitForStarted(10000));

    // The box, and no main window; nobody may be left waiting on it.
    QString box;
    QElapsedTimer waited;
    waited.start();
    while (box.isEmpty() && waited.elapsed() < 20000 && program.state() == QProcess::Running) {
        box = output(xdotool, {QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("^Application Error$")},
                     env);
        if (box.isEmpty())
            QTest::qWait(200);
    }
    if (box.isEmpty()) {
        program.kill();
        server.kill();
        program.waitForFinished(5000);
        server.waitForFinished(5000);
        QFAIL(qPrintable(QStringLiteral("no last-chance box; the program wrote: ")
                         + QString::fromUtf8(program.readAllStandardError())));
    }
    QCOMPARE(output(xdotool, {QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("Программа расчета")}, env),
             QString());
    output(xdotool, {QStringLiteral("windowfocus"), QStringLiteral("--sync"), box.section('\n', 0, 0),
                     QStringLiteral("key"), QStringLiteral("Return")},
           env);
    const bool ended = program.waitForFinished(15000);
    if (!ended)
        program.kill();
    server.terminate();
    server.waitForFinished(5000);
    QVERIFY2(ended, "the box did not close on Enter");
    QCOMPARE(program.exitCode(), 1);
    const QString written = QString::fromUtf8(program.readAllStandardError());
    QVERIFY2(written.contains(QStringLiteral("Application Error: Exception store::StoreError in module korozia at ")),
             qPrintable(written));
    QVERIFY2(written.contains(QStringLiteral("Alias 'kor': the folder '%1' does not exist.").arg(missing)),
             qPrintable(written));
    // The store created nothing in a folder the user configured.
    QVERIFY(!QFileInfo::exists(missing));
}

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
