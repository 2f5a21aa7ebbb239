// One copy of the program for the two-copies test: opens the alias its
// environment names and runs random commands on it, the way a user's
// menu commands do (through the same functions), with random pauses. Every
// command's outcome is one line on stdout:
//   ok add-section <N_line>            ok rename <N_line> <name>
//   ok delete-section <N_line>         ok fill <N_line> <I>...
//   ok add-support <N_line> <I>        ok edit <N_line> <I> <U_izmer>
//   ok delete-support <N_line> <I>     ok clear <N_line>
//   ok calc <N_line>                   ok move
//   fail <command> <N_line of the Section it worked on, or -> <message>
// and "done" at the end. Arguments: <seed> <commands> <copy number>.
#include "app/fillpane.h"
#include "app/sections.h"
#include "calc/fpu.h"
#include "calc/leakage.h"
#include "data/kortables.h"
#include "store/error.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>
#include <random>

namespace {

void say(const QString &line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

class Copy
{
public:
    Copy(quint64 seed, int copy) : m_random(seed * 2 + copy), m_copy(copy) { m_db.open(); }

    void run(int commands)
    {
        for (int n = 0; n < commands; ++n) {
            const int pick = below(100);
            const char *name = pick < 8    ? "add-section"
                               : pick < 14 ? "rename"
                               : pick < 19 ? "delete-section"
                               : pick < 34 ? "move"
                               : pick < 46 ? "fill"
                               : pick < 62 ? "add-support"
                               : pick < 78 ? "edit"
                               : pick < 88 ? "delete-support"
                               : pick < 92 ? "clear"
                                           : "calc";
            m_at = QStringLiteral("-");
            try {
                const QString done = command(QString::fromLatin1(name), n);
                say(QStringLiteral("ok ") + done);
            } catch (const SystemError &e) {
                say(QStringLiteral("fail %1 %2 %3").arg(QString::fromLatin1(name), m_at, e.message()));
                settle();
            }
            QThread::usleep(unsigned(below(3000)));
        }
    }

private:
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }

    QString section() const { return QString::number(m_db.Table2N_line->AsInteger()); }

    // A failed command leaves no pending edit behind for the next one.
    void settle()
    {
        for (Table *t : {&m_db.Table1, &m_db.Table2}) {
            try {
                t->Cancel();
            } catch (const SystemError &) {
            }
        }
    }

    void moveSection()
    {
        const int count = m_db.Table2.RecordCount();
        if (count > 0)
            m_db.Table2.SetRecNo(1 + below(count));
    }

    void moveSupport()
    {
        const int count = m_db.Table1.RecordCount();
        if (count > 0)
            m_db.Table1.SetRecNo(1 + below(count));
    }

    QString command(const QString &name, int n)
    {
        KorTables &db = m_db;
        if (name == QLatin1String("add-section")) {
            db.Table2.Append();
            db.Table2Line->SetAsString(QStringLiteral("%1-%2").arg(m_copy).arg(n));
            db.Table2.Post();
            return name + QLatin1Char(' ') + section();
        }
        if (name == QLatin1String("move")) {
            moveSection();
            moveSupport();
            return name;
        }
        moveSection();
        if (db.Table2.IsEmpty())
            return QStringLiteral("move");
        m_at = section();
        if (name == QLatin1String("rename")) {
            const QString text = QStringLiteral("r%1-%2").arg(m_copy).arg(n);
            db.Table2.Edit();
            db.Table2Line->SetAsString(text);
            db.Table2.Post();
            return QStringLiteral("%1 %2 %3").arg(name, section(), text);
        }
        if (name == QLatin1String("delete-section")) {
            const QString deleted = section();
            deleteSectionWithSupports(db);
            return name + QLatin1Char(' ') + deleted;
        }
        if (name == QLatin1String("fill")) {
            const QVector<qint64> before = db.Table1.ViewKeys();
            const QString at = section();
            fillSupports(db, {QString::number(1 + below(4)), QString::number(below(50)), QStringLiteral("60"),
                              QString::number(1 + below(100)), below(3)});
            QString done = name + QLatin1Char(' ') + at;
            for (qint64 key : db.Table1.ViewKeys())
                if (!before.contains(key))
                    done += QLatin1Char(' ') + QString::number(key);
            return done;
        }
        if (name == QLatin1String("add-support")) {
            db.Table1.Append();
            db.Table1Kilometr->SetAsFloat(below(100000) / 1000.0);
            db.Table1Nomeropory->SetAsInteger(below(1000));
            db.Table1R_opory->SetAsFloat(50 + below(500));
            if (below(3) == 0)
                db.Table1U_izmer->SetAsFloat(below(200) / 10.0);
            db.Table1.Post();
            return QStringLiteral("%1 %2 %3").arg(name, section()).arg(db.Table1I->AsInteger());
        }
        if (name == QLatin1String("clear")) {
            const QString at = section();
            clearSupports(db);
            return name + QLatin1Char(' ') + at;
        }
        if (name == QLatin1String("calc")) {
            const QString at = section();
            calc::calculateLeakage(db, [](const QString &) {});
            return name + QLatin1Char(' ') + at;
        }
        moveSupport();
        if (db.Table1.IsEmpty())
            return QStringLiteral("move");
        if (name == QLatin1String("edit")) {
            const double measured = below(2000) / 10.0;
            db.Table1.Edit();
            const qint64 key = db.Table1I->AsInteger();
            db.Table1U_izmer->SetAsFloat(measured);
            db.Table1.Post();
            return QStringLiteral("%1 %2 %3 %4").arg(name, section()).arg(key).arg(measured);
        }
        const qint64 key = db.Table1I->AsInteger();
        const QString at = section();
        db.Table1.Delete();
        return QStringLiteral("%1 %2 %3").arg(name, at).arg(key);
    }

    KorTables m_db;
    QString m_at; // the Section the running command works on
    std::mt19937_64 m_random;
    int m_copy;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    calc::initFloatingPoint();
    if (argc != 4)
        return 2;
    try {
        Copy copy(QByteArray(argv[1]).toULongLong(), QByteArray(argv[3]).toInt());
        say(QStringLiteral("ready"));
        copy.run(QByteArray(argv[2]).toInt());
    } catch (const SystemError &e) {
        say(QStringLiteral("error ") + e.message());
        return 1;
    }
    say(QStringLiteral("done"));
    return 0;
}
