// The built program started as a separate process, as on a fresh machine:
// with no configuration it creates the default alias and its empty tables
// and runs until it is told to close; with the alias configured at a missing
// folder it shows no main window, only the last-chance box, and ends with
// exit code 1 once the box is answered; closed with its report preview open,
// it ends with exit code 0.
#include "store/schema.h"
#include "support/tempalias.h"
#include "support/xsession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
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

// The program on the session's display, with the home's aliases.
QProcessEnvironment environment(const TempAlias &home, const XSession &session)
{
    QProcessEnvironment env = environment(home);
    env.insert(QStringLiteral("DISPLAY"), session.display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

// The first visible window whose title matches, once there is one (20 s at
// most, and only while the program runs); empty when there is none.
QString waitForWindow(const QString &title, const QProcessEnvironment &env, const QProcess &program)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 20000 && program.state() == QProcess::Running) {
        const QString found =
            xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), title}, env);
        if (!found.isEmpty())
            return found.section(u'\n', 0, 0);
        QTest::qWait(200);
    }
    return QString();
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
    void closingWithThePreviewOpenEndsTheProgram_data();
    void closingWithThePreviewOpenEndsTheProgram();
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
    XSession session;
    if (!session.isRunning())
        QSKIP(qPrintable(session.error()));

    TempAlias home;
    const QString missing = home.root() + QStringLiteral("/no/such/folder");
    home.configure(QStringLiteral("kor"), missing);
    const QProcessEnvironment env = environment(home, session);
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KOROZIA_EXECUTABLE), QStringList());
    QVERIFY(program.waitForStarted(10000));

    // The box, and no main window; nobody may be left waiting on it.
    const QString box = waitForWindow(QStringLiteral("^Application Error$"), env, program);
    if (box.isEmpty()) {
        program.kill();
        program.waitForFinished(5000);
        QFAIL(qPrintable(QStringLiteral("no last-chance box; the program wrote: ")
                         + QString::fromUtf8(program.readAllStandardError())));
    }
    QCOMPARE(xdotool({QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("Программа расчета")}, env),
             QString());
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), box, QStringLiteral("key"), QStringLiteral("Return")},
            env);
    const bool ended = program.waitForFinished(15000);
    if (!ended)
        program.kill();
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

void StartupTest::closingWithThePreviewOpenEndsTheProgram_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Выход") << "menu";
    QTest::newRow("close box") << "close box";
}

void StartupTest::closingWithThePreviewOpenEndsTheProgram()
{
    QFETCH(QString, how);
    XSession session;
    if (!session.isRunning())
        QSKIP(qPrintable(session.error()));
    TempAlias home;
    const QProcessEnvironment env = environment(home, session);
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KOROZIA_EXECUTABLE), QStringList());
    QVERIFY(program.waitForStarted(10000));
    auto kill = qScopeGuard([&] {
        program.kill();
        program.waitForFinished(5000);
    });
    const QString main = waitForWindow(QStringLiteral("^Программа расчета тока утечки опор$"), env, program);
    QVERIFY(!main.isEmpty());
    // "Файл", the first menu; "Печать", its first item.
    const QStringList fileMenu = {QStringLiteral("mousemove"), QStringLiteral("--window"), main, QStringLiteral("12"),
                                  QStringLiteral("8"), QStringLiteral("click"), QStringLiteral("1")};
    xdotool(fileMenu, env);
    xdotool({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Return")}, env);
    QVERIFY(!waitForWindow(QStringLiteral("^Print Preview$"), env, program).isEmpty());

    // Back to the main window, behind the maximized preview, and leave.
    xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), main}, env);
    if (how == u"menu") {
        xdotool(fileMenu, env);
        xdotool({QStringLiteral("key"), QStringLiteral("Up"), QStringLiteral("Return")}, env); // "Выход", the last
    } else {
        xdotool({QStringLiteral("key"), QStringLiteral("alt+F4")}, env); // the window manager's close
    }
    QVERIFY2(program.waitForFinished(10000), "the program still runs with its preview open");
    kill.dismiss();
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
