// Two copies of the program on one alias, each running random commands
// (Sections added, renamed and deleted, fills, Supports added, edited and
// deleted, clearings, calculations) with random pauses. Afterwards both files
// pass SQLite's integrity check, no Support names a missing Section, every
// failure was one a user may meet when another user works on the same
// tables, and every command that succeeded is still seen in the files unless
// a later success explains why not.
//
// KOROZIA_TWO_COPIES_SEED replays a run; KOROZIA_TWO_COPIES_COMMANDS sets the
// commands per copy (1,000 by default).
#include "data/kortables.h"
#include "support/tempalias.h"

#include <QHash>
#include <QProcess>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

namespace {

QString scalar(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next())
        return QStringLiteral("<%1 failed>").arg(sql);
    return q.value(0).toString();
}

bool expectedFailure(const QString &message)
{
    for (const char *known : {"The section was deleted by another user", "The record was deleted by another user",
                              "Record locked by another user", "The section cannot be deleted while it has supports",
                              "Table1: Cannot perform this operation on an empty dataset",
                              "Table2: Cannot perform this operation on an empty dataset"})
        if (message.startsWith(QLatin1String(known)))
            return true;
    // The calculation's own refusals of the data (two measured Supports at one
    // chainage), which one copy meets as well as two.
    for (const char *calculation : {"Invalid floating point operation", "Floating point division by zero",
                                    "Floating point overflow"})
        if (message == QLatin1String(calculation))
            return true;
    return message.startsWith(QLatin1String("The table '")) && message.contains(QLatin1String("is busy"));
}

} // namespace

class TestTwoCopies : public QObject
{
    Q_OBJECT

private slots:
    void randomCommands();
};

void TestTwoCopies::randomCommands()
{
    const quint64 seed = qEnvironmentVariableIsSet("KOROZIA_TWO_COPIES_SEED")
                             ? qgetenv("KOROZIA_TWO_COPIES_SEED").toULongLong()
                             : 13;
    const int commands = qEnvironmentVariableIsSet("KOROZIA_TWO_COPIES_COMMANDS")
                             ? qEnvironmentVariableIntValue("KOROZIA_TWO_COPIES_COMMANDS")
                             : 1000;
    qInfo("seed %llu, %d commands per copy (replay with KOROZIA_TWO_COPIES_SEED=%llu)", seed, commands, seed);
    TempAlias home;
    {
        KorTables db;
        db.open();
        for (const char *name : {"Первый", "Второй"}) {
            db.Table2.Append();
            db.Table2Line->SetAsString(QString::fromUtf8(name));
            db.Table2.Post();
        }
    }

    QProcess copies[2];
    for (int i = 0; i < 2; ++i) {
        copies[i].setProgram(QStringLiteral(COPYCHILD_PATH));
        copies[i].setArguments({QString::number(seed), QString::number(commands), QString::number(i)});
        copies[i].setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        copies[i].setProcessChannelMode(QProcess::ForwardedErrorChannel);
        copies[i].start();
    }
    QStringList lines;
    for (QProcess &copy : copies) {
        QVERIFY(copy.waitForFinished(400000));
        QCOMPARE(copy.exitCode(), 0);
        const QStringList out = QString::fromUtf8(copy.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(out.size() == commands + 2 && out.first() == "ready" && out.last() == "done",
                 qPrintable(out.mid(0, 3).join(" | ")));
        lines += out.mid(1, commands);
    }

    // What the successes say must be in the files, and what explains its absence.
    QSet<qint64> sectionsAdded, sectionsGone, supportsGone;
    QHash<qint64, qint64> supportSection;   // every Support a success created
    QHash<qint64, QSet<QString>> names;     // the names renames gave a Section
    QHash<qint64, QSet<double>> measured;   // U_izmer that edits gave a Support
    QStringList faults;
    int failures = 0;
    for (const QString &line : std::as_const(lines)) {
        const QStringList w = line.split(QLatin1Char(' '));
        if (w[0] == QLatin1String("fail")) {
            ++failures;
            if (!expectedFailure(line.section(QLatin1Char(' '), 3)))
                faults << line;
            // A clearing or a deletion that failed part-way keeps what it
            // deleted before the failure.
            if (w.value(1) == QLatin1String("clear") || w.value(1) == QLatin1String("delete-section"))
                supportsGone << -w.value(2).toLongLong();
            continue;
        }
        if (w.size() < 2)
            continue;
        const QString &what = w[1];
        const qint64 section = w.value(2).toLongLong();
        if (what == QLatin1String("add-section"))
            sectionsAdded << section;
        else if (what == QLatin1String("delete-section") || what == QLatin1String("clear"))
            (what == QLatin1String("clear") ? supportsGone : sectionsGone) << -section;
        else if (what == QLatin1String("rename"))
            names[section] << w.value(3);
        else if (what == QLatin1String("fill") || what == QLatin1String("add-support"))
            for (int i = 3; i < w.size(); ++i)
                supportSection[w[i].toLongLong()] = section;
        else if (what == QLatin1String("edit"))
            measured[w.value(3).toLongLong()] << w.value(4).toDouble();
        else if (what == QLatin1String("delete-support"))
            supportsGone << w.value(3).toLongLong();
    }
    // A negative number in supportsGone is a cleared Section, in sectionsGone a deleted one.

    {
        QSqlDatabase db = home.openRaw(QStringLiteral("check"), QStringLiteral("base_kor.db"));
        QVERIFY(db.isOpen());
        QString sectionTable = QStringLiteral("line"); // on the server, in the same schema
        if (!TempAlias::onServer()) {
            QCOMPARE(scalar(db, QStringLiteral("PRAGMA integrity_check")), QString("ok"));
            QSqlQuery(QStringLiteral("ATTACH DATABASE '%1/line.db' AS sections").arg(home.defaultFolder()), db);
            QCOMPARE(scalar(db, QStringLiteral("PRAGMA sections.integrity_check")), QString("ok"));
            sectionTable = QStringLiteral("sections.line");
        }
        QCOMPARE(scalar(db, QStringLiteral("SELECT count(*) FROM base_kor WHERE Line IS NOT NULL AND Line NOT IN "
                                           "(SELECT N_line FROM %1)").arg(sectionTable)),
                 QString("0"));
        QHash<qint64, QString> sections;
        QSqlQuery q(db);
        q.exec(QStringLiteral("SELECT N_line, Line FROM %1").arg(sectionTable));
        while (q.next())
            sections[q.value(0).toLongLong()] = q.value(1).toString();
        QHash<qint64, QVariant> supports;
        q.exec(QStringLiteral("SELECT I, U_izmer FROM base_kor"));
        while (q.next())
            supports[q.value(0).toLongLong()] = q.value(1);
        q = QSqlQuery();

        for (qint64 s : std::as_const(sectionsAdded))
            if (!sections.contains(s) && !sectionsGone.contains(-s))
                faults << QStringLiteral("Section %1 was added and is not there").arg(s);
        for (qint64 s : std::as_const(sectionsGone))
            if (sections.contains(-s))
                faults << QStringLiteral("Section %1 was deleted and is there").arg(-s);
        for (auto it = names.cbegin(); it != names.cend(); ++it)
            if (sections.contains(it.key()) && !it.value().contains(sections[it.key()]))
                faults << QStringLiteral("Section %1 is named '%2'").arg(it.key()).arg(sections[it.key()]);
        for (auto it = supportSection.cbegin(); it != supportSection.cend(); ++it) {
            const bool explained = supportsGone.contains(it.key()) || supportsGone.contains(-it.value())
                                   || sectionsGone.contains(-it.value());
            if (!supports.contains(it.key()) && !explained)
                faults << QStringLiteral("Support %1 was added and is not there").arg(it.key());
        }
        for (qint64 gone : std::as_const(supportsGone))
            if (gone > 0 && supports.contains(gone))
                faults << QStringLiteral("Support %1 was deleted and is there").arg(gone);
        for (auto it = measured.cbegin(); it != measured.cend(); ++it)
            if (supports.contains(it.key()) && !it.value().contains(supports[it.key()].toDouble()))
                faults << QStringLiteral("Support %1 has U_izmer %2").arg(it.key()).arg(supports[it.key()].toString());
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    qInfo("%lld commands run, %d refused as another user's work explains, %lld faults", qint64(lines.size()),
          failures, qint64(faults.size()));
    QVERIFY2(faults.isEmpty(), qPrintable(QStringLiteral("seed %1: ").arg(seed) + faults.mid(0, 10).join(QLatin1String("; "))));
}

QTEST_GUILESS_MAIN(TestTwoCopies)
#include "tst_twocopies.moc"
