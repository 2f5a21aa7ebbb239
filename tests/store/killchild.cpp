// The kill test's child: opens the store ("kor" in the folders its
// environment names) and posts the planned Supports through Table1, one by
// one and in bulk scopes, until it is killed. It reports on stdout, one line
// per write(2) so that a kill never leaves half a line that looks whole:
//   B <first> <count>             a bulk scope of <count> posts begins
//   E <first> <count>             that scope has ended (its commit returned)
//   R <seq> <id> <description>    a post that returned and is durable (a
//                                 single post at once, a bulk one after E)
#include "data/kortables.h"
#include "plannedsupport.h"
#include "store/error.h"
#include "support/tempalias.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <random>
#include <unistd.h>
#include <vector>

namespace {

void say(const QString &line, int fd = STDOUT_FILENO)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            ::_exit(3); // the test has gone
        done += n;
    }
}

void setReal(Field *field, const std::optional<double> &value)
{
    if (value)
        field->SetAsFloat(*value);
}

// Appends and posts one planned Support; returns its report line.
QString post(KorTables &db, qint64 seq)
{
    const PlannedSupport p = plannedSupport(seq);
    db.Table1.Append();
    db.Table1Kilometr->SetAsFloat(p.kilometr);
    db.Table1Nomeropory->SetAsInteger(p.number);
    if (!p.index.isEmpty())
        db.Table1Index->SetAsString(p.index);
    if (!p.type.isEmpty())
        db.Table1Tipopory->SetAsString(p.type);
    setReal(db.Table1R_opory, p.resistance);
    setReal(db.Table1U_izmer, p.measured);
    setReal(db.Table1U_ras, p.calculated);
    setReal(db.Table1I_opory, p.leakage);
    db.Table1.Post();

    // What the cursor holds after the post, read back through the fields.
    PlannedSupport got;
    got.kilometr = db.Table1Kilometr->AsFloat();
    got.number = db.Table1Nomeropory->AsInteger();
    got.index = db.Table1Index->AsString();
    got.type = db.Table1Tipopory->AsString();
    got.resistance = PlannedSupport::fromVariant(db.Table1R_opory->Value());
    got.measured = PlannedSupport::fromVariant(db.Table1U_izmer->Value());
    got.calculated = PlannedSupport::fromVariant(db.Table1U_ras->Value());
    got.leakage = PlannedSupport::fromVariant(db.Table1I_opory->Value());
    return QStringLiteral("R %1 %2 %3").arg(seq).arg(db.Table1I->AsInteger()).arg(got.describe());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qint64 seq = qEnvironmentVariable("KOROZIA_KILL_FIRST").toLongLong();
    std::mt19937_64 rng(qEnvironmentVariable("KOROZIA_KILL_SEED").toULongLong());
    if (seq < 1)
        return 2;
    try {
        // The test's interval, so that some scopes commit part-way by themselves.
        TempAlias::setBulkCommitInterval(10000);
        KorTables db;
        db.open();
        if (db.Table2.IsEmpty())
            return 2;
        say(QStringLiteral("ready"));
        // A safety limit only: the test kills the child long before.
        QElapsedTimer running;
        running.start();
        while (running.elapsed() < 60000) {
            const unsigned kind = rng() % 16;
            if (kind < 8) {
                say(post(db, seq));
                ++seq;
                continue;
            }
            // Now and then a scope long enough to commit part-way by itself.
            const qint64 count = kind == 15 ? 10000 + qint64(rng() % 400) : 2 + qint64(rng() % 200);
            say(QStringLiteral("B %1 %2").arg(seq).arg(count));
            std::vector<QString> lines;
            {
                Table::BulkScope bulk(db.Table1);
                for (qint64 i = 0; i < count; ++i)
                    lines.push_back(post(db, seq + i));
            }
            say(QStringLiteral("E %1 %2").arg(seq).arg(count));
            for (const QString &line : lines)
                say(line);
            seq += count;
        }
    } catch (const SystemError &e) {
        say(e.message(), STDERR_FILENO);
        return 1;
    }
    return 0;
}
