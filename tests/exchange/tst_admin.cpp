// korozia-admin started as a process of its own on a temporary alias: its
// command line, its exit codes, the export and the import as scripts use
// them, and an import killed in the middle.
#include "appfixture.h"

#include <QProcess>

#include <csignal>

namespace {

struct Run
{
    int code = -1;
    QString out;
    QString err;
};

QProcessEnvironment environment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), qEnvironmentVariable("XDG_CONFIG_HOME"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), qEnvironmentVariable("XDG_DATA_HOME"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    return env;
}

Run admin(const QStringList &arguments)
{
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStringLiteral(KOROZIA_ADMIN), arguments);
    if (!p.waitForFinished(120000))
        return {-1, {}, QStringLiteral("timed out")};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

int supportsOf(qint64 section)
{
    KorTables db;
    db.open();
    return db.Table2.Locate(section) ? db.Table1.RecordCount() : -1;
}

} // namespace

class AdminTest : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
    void exportThenImportAsAScript();
    void killedImportWritesNothing();
};

void AdminTest::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message"); // in the output or the error output
    QTest::newRow("no command") << QStringList() << 2 << "не указана команда";
    QTest::newRow("unknown command") << QStringList{"move"} << 2 << "неизвестная команда «move»";
    QTest::newRow("unknown option") << QStringList{"export", "--all", "--sheet", "x.csv"} << 2
                                    << "неизвестный параметр «--sheet»";
    QTest::newRow("both scopes") << QStringList{"export", "--all", "--section", "A", "x.csv"} << 2
                                 << "укажите либо --section ИМЯ, либо --all";
    QTest::newRow("no file") << QStringList{"export", "--all"} << 2 << "не указан файл";
    QTest::newRow("unknown file type") << QStringList{"export", "--all", "x.ods"} << 2 << ".csv или .xlsx";
    QTest::newRow("separator of a workbook") << QStringList{"export", "--all", "--separator", ";", "x.xlsx"} << 2
                                             << "только к файлам .csv";
    QTest::newRow("import without a Section") << QStringList{"import", "x.csv"} << 2 << "не указан участок";
    QTest::newRow("bad decimal") << QStringList{"import", "--section", "A", "--decimal", ";", "x.csv"} << 2
                                 << "десятичный разделитель — «,» или «.»";
    QTest::newRow("missing file") << QStringList{"import", "--section", "A", "nothing.csv"} << 1
                                  << "Файл «nothing.csv» не найден";
    QTest::newRow("unknown Section") << QStringList{"export", "--section", "Нет такого", "x.csv"} << 1
                                     << "Участка «Нет такого» нет";
    QTest::newRow("ambiguous Section") << QStringList{"export", "--section", "Двойник", "x.csv"} << 1
                                       << "Участок «Двойник» не один: их 2 (#2, #3)";
    QTest::newRow("help")
        << QStringList{"--help"} << 0 << "--alias|--section|--all|--separator|--create|--replace|--calculate|"
                                         "--encoding|--decimal|copy ОТКУДА КУДА|check ПСЕВДОНИМ|Коды завершения: 0";
    QTest::newRow("command help") << QStringList{"import", "--help"} << 0
                                  << "Использование: korozia-admin import [--alias kor] --section ИМЯ";
}

void AdminTest::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, message);
    TempAlias home;
    {
        Seeder s;
        s.addSection(QStringLiteral("A"));
        s.addSection(QStringLiteral("Двойник"));
        s.addSection(QStringLiteral("Двойник"));
    }
    const Run run = admin(arguments);
    QCOMPARE(run.code, code);
    for (const QString &part : message.split(u'|'))
        QVERIFY2((run.out + run.err).contains(part), qPrintable(run.out + run.err));
    // A refused command line writes no file.
    QVERIFY(!QFile::exists(QStringLiteral("x.csv")) && !QFile::exists(QStringLiteral("x.xlsx")));
}

void AdminTest::exportThenImportAsAScript()
{
    TempAlias home;
    qint64 source;
    {
        Seeder s;
        source = s.addSection(QStringLiteral("Гомель"));
        for (int i = 0; i < 5; ++i) {
            SupportValues v;
            v.km = 10 + i * 0.06;
            v.number = i + 1;
            v.measured = i == 0 ? std::optional<double>(2.0) : i == 4 ? std::optional<double>(3.2) : std::nullopt;
            v.type = QStringLiteral("ЖБК");
            s.addSupport(source, v);
        }
    }
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("гомель.csv"));
    Run run = admin({"export", "--section", "#1", "--separator", ",", csv});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out, QStringLiteral("Экспортировано опор: 5 в файл %1\n").arg(csv));

    run = admin({"import", "--section", "Копия", "--create", "--calculate", csv});
    QVERIFY2(run.code == 0, qPrintable(run.err));
    QCOMPARE(run.out, QStringLiteral("Импортировано опор: 5 (участок «Копия», новый).\n"));
    {
        KorTables db;
        db.open();
        QVERIFY(db.Table2.Locate(2));
        db.Table1.Last();
        QCOMPARE(db.Table1I_opory->AsFloat(), 16.0); // calculated: 3.2 V over 200 Ω
    }
    // A second run into the same Section, replacing, then a file with a problem.
    run = admin({"import", "--section", "Копия", "--replace", csv});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out, QStringLiteral("Импортировано опор: 5 (участок «Копия»).\nПрежних опор участка удалено: 5.\n"));
    // Columns whose headings name no column of the grid are named, not imported.
    QFile logger(dir.filePath(QStringLiteral("logger.csv")));
    QVERIFY(logger.open(QIODevice::WriteOnly));
    logger.write("Пикетаж, км;Потенциал, В;№ опоры;Пикетаж;Участок;;Примечание\n"
                 "1,5;2,1;1;9;Гомель;;x\n");
    logger.close();
    run = admin({"import", "--section", "Копия", "--replace", logger.fileName()});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.err, QStringLiteral("korozia-admin import: не импортируются столбцы, названия которых не узнаны или "
                                     "повторяются: «Потенциал, В», «Пикетаж», «Примечание»\n"));
    QCOMPARE(supportsOf(2), 1);
    {
        KorTables db;
        db.open();
        QVERIFY(db.Table2.Locate(2));
        QCOMPARE(db.Table1.FieldByName(QStringLiteral("Kilometr"))->AsFloat(), 1.5);
        QVERIFY(db.Table1.FieldByName(QStringLiteral("U_izmer"))->IsNull());
    }
    run = admin({"import", "--section", "Копия", "--replace", csv});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.err, QString());
    QFile bad(dir.filePath(QStringLiteral("bad.csv")));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("№ опоры;Пикетаж, км\n1;1,5\n2;полтора\n3;\n");
    bad.close();
    run = admin({"import", "--section", "Копия", "--replace", bad.fileName()});
    QCOMPARE(run.code, 1);
    QCOMPARE(run.err, QStringLiteral("строка 3: «полтора» — не число (столбец «Пикетаж, км»)\n"
                                     "строка 4: нет значения в обязательном столбце «Пикетаж, км»\n"
                                     "korozia-admin import: в файле 2 ошибки: ничего не записано\n"));
    QCOMPARE(supportsOf(2), 5);
}

void AdminTest::killedImportWritesNothing()
{
    TempAlias home;
    qint64 section;
    {
        Seeder s;
        section = s.addSection(QStringLiteral("A"));
        s.addSupports(section, 10);
    }
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("big.csv")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("№ опоры;Пикетаж, км;R опоры, Ом\n");
    for (int i = 0; i < 150000; ++i)
        file.write(QByteArray::number(i % 30000) + ';' + QByteArray::number(i * 0.06) + ";200\n");
    file.close();

    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStringLiteral(KOROZIA_ADMIN), {"import", "--section", "A", "--replace", file.fileName()});
    QVERIFY(p.waitForStarted());
    // Killed once the transaction has written a good part into the journal.
    const QString wal = home.defaultFolder() + QStringLiteral("/base_kor.db-wal");
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(wal).size() > 2 * 1024 * 1024 || p.state() == QProcess::NotRunning, 60000);
    QVERIFY2(p.state() == QProcess::Running, "the import ended before it could be killed");
    ::kill(pid_t(p.processId()), SIGKILL);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(supportsOf(section), 10);
}

QTEST_GUILESS_MAIN(AdminTest)
#include "tst_admin.moc"
