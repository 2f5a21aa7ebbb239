// The program on an alias whose database server asks for a password that
// none of the server client's own places gives: the password dialog at
// start-up and on a reconnect, and nothing of the password written anywhere.
#include "app/korozia.h"
#include "app/serverpassword.h"
#include "app/startup.h"
#include "support/failure.h"
#include "support/privatepostgres.h"
#include "support/scripteddialogs.h"
#include "support/tempalias.h"

#include <QDirIterator>
#include <QScrollBar>
#include <QTest>

class TestServerPassword : public QObject
{
    Q_OBJECT

private slots:
    void startUpAndReconnect_data();
    void startUpAndReconnect();
};

void TestServerPassword::startUpAndReconnect_data()
{
    QTest::addColumn<QStringList>("answers");  // to the dialog, in turn; "-" is "Отмена"
    QTest::addColumn<QString>("changedTo");    // the role's password once the window is up; the connection is cut
    QTest::addColumn<QString>("refusals");     // per question: "n" first asked, "r" refused before
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("painted");         // after the cut the grid is painted before any command
    QTest::newRow("given") << QStringList{"пароль 1"} << QString() << "n" << 0 << false;
    QTest::newRow("wrong, then right") << QStringList{"wrong", "пароль 1"} << QString() << "nr" << 0 << false;
    QTest::newRow("Отмена") << QStringList{"-"} << QString() << "n" << 1 << false;
    QTest::newRow("reconnect with the kept password") << QStringList{"пароль 1"} << "пароль 1" << "n" << 0 << false;
    QTest::newRow("changed on the server meanwhile") << QStringList{"пароль 1", "пароль 2"} << "пароль 2" << "nr" << 0
                                                     << false;
    QTest::newRow("changed, and the grid paints first")
        << QStringList{"пароль 1", "wrong", "пароль 2"} << "пароль 2" << "nrr" << 0 << true;
}

void TestServerPassword::startUpAndReconnect()
{
    QFETCH(QStringList, answers);
    QFETCH(QString, changedTo);
    QFETCH(QString, refusals);
    QFETCH(int, code);
    QFETCH(bool, painted);
    PrivatePostgres *server = PrivatePostgres::instance();
    if (!server)
        QSKIP(qPrintable(PrivatePostgres::unavailable()));
    TempAlias home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.root()));
    qputenv("PGPASSFILE", QFile::encodeName(home.root() + "/no-pgpass"));
    qunsetenv("PGPASSWORD");
    static int roles = 0;
    const QString role = QStringLiteral("pw%1").arg(++roles);
    QCOMPARE(server->exec({QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD 'пароль 1' IN ROLE needpassword").arg(role),
                           QStringLiteral("CREATE SCHEMA %1 AUTHORIZATION %1").arg(role)}),
             QString());
    home.configureServer("kor", {{"host", server->socketFolder()}, {"port", QString::number(server->port())},
                                 {"database", PrivatePostgres::database()}, {"user", role}, {"create", "yes"}});

    ScriptedDialogs dialogs;
    for (const QString &answer : answers)
        dialogs.answerPassword(answer == "-" ? std::nullopt : std::optional<QString>(answer));
    if (code != 0)
        dialogs.answer(toolkit::BoxButton::Ok);
    const store::PasswordPrompt before = store::setPasswordPrompt(&askServerPassword);
    QString afterCut = "<not cut>";
    int boxesAfterPaint = 0;
    int questionsAfterPaint = -1;
    const int got = startUp([&](TForm1 &form) {
        if (!changedTo.isEmpty()) {
            if (painted) {
                server->exec({QStringLiteral("INSERT INTO %1.line (Line) SELECT 'Участок ' || g "
                                             "FROM generate_series(1, 300) g").arg(role)});
                form.Table2.First();
                form.DBGrid2->viewport()->repaint();
            }
            server->exec({QStringLiteral("ALTER ROLE %1 PASSWORD '%2'").arg(role, changedTo),
                          QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = '%1'")
                              .arg(role)});
            if (!painted) {
                // The first command meets the lost connection, the next connects again.
                failure([&] { form.Table2.Refresh(); });
            } else {
                // The grid's paint, scrolled to rows not read yet, is the first to
                // connect again: the password is asked for after the paint, and
                // the rows are painted with it.
                form.DBGrid2->verticalScrollBar()->setValue(form.DBGrid2->verticalScrollBar()->maximum());
                form.DBGrid2->viewport()->repaint();
                for (int waited = 0; dialogs.passwordQuestions().size() < refusals.size() && waited < 10000; waited += 20)
                    QTest::qWait(20);
                QTest::qWait(50);
                boxesAfterPaint = int(dialogs.boxes().size());
                questionsAfterPaint = int(dialogs.passwordQuestions().size());
            }
            afterCut = failure([&] {
                form.Table2.Append();
                form.Table2Line->SetAsString("После");
                form.Table2.Post();
            });
        }
        return 0;
    });
    store::setPasswordPrompt(before);
    qputenv("HOME", oldHome);

    QCOMPARE(got, code);
    QList<toolkit::PasswordQuestion> expected;
    for (const QChar kind : refusals)
        expected << toolkit::PasswordQuestion{"Пароль", QStringLiteral("%1\rСервер: %2:%3\rБаза данных: korozia\rПользователь: %4")
                                                           .arg(kind == 'r' ? "Пароль не подошёл. Введите пароль ещё раз."
                                                                            : "Сервер базы данных просит пароль.",
                                                                server->socketFolder())
                                                           .arg(server->port())
                                                           .arg(role)};
    QCOMPARE(dialogs.passwordQuestions(), expected);
    QCOMPARE(dialogs.boxes().size(), code);
    QCOMPARE(boxesAfterPaint, 0);
    QCOMPARE(questionsAfterPaint, painted ? int(refusals.size()) : -1);
    if (code != 0)
        QVERIFY2(dialogs.boxes()[0].caption == "Application Error"
                     && dialogs.boxes()[0].text.contains("asks for a password, and none was given"),
                 qPrintable(dialogs.boxes()[0].text));
    QCOMPARE(afterCut, changedTo.isEmpty() ? "<not cut>" : "<no error>");
    QCOMPARE(server->value(QStringLiteral("SELECT count(*) FROM %1.line WHERE Line = 'После'").arg(role)).toInt(),
             changedTo.isEmpty() ? 0 : 1);
    // No password, typed or refused, in any file of the home, the store's
    // configuration and data folders included.
    QDirIterator files(home.root(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        for (const QString &answer : answers + QStringList{"пароль"})
            QVERIFY2(answer == "-" || !bytes.contains(answer.toUtf8()), qPrintable(file.fileName()));
    }
}

QTEST_MAIN(TestServerPassword)
#include "tst_serverpassword.moc"
