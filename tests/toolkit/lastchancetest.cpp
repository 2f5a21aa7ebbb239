// The last-chance box for a failure before the event loop runs: its text
// (type name, module, relative address, message, full stop), its exit code,
// and a real start-up in a child process.
#include "support/scripteddialogs.h"
#include "store/error.h"
#include "toolkit/lastchance.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <stdexcept>

using namespace toolkit;

namespace korozia_test {
class OddError : public std::logic_error
{
public:
    using std::logic_error::logic_error;
};
} // namespace korozia_test

namespace {

[[gnu::noinline]] void throwStoreError()
{
    throw store::StoreError(QStringLiteral("Table 'line.db' not found"));
}

// Start and end of this executable's mappings, read from the kernel's map
// rather than from the dynamic linker the code under test asks.
std::pair<quintptr, quintptr> executableMapping()
{
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {0, 0};
    quintptr start = 0, end = 0;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || QString::fromLocal8Bit(fields.at(5)) != self)
            continue;
        const QList<QByteArray> range = fields.at(0).split('-');
        const quintptr from = range.at(0).toULongLong(nullptr, 16);
        const quintptr to = range.at(1).toULongLong(nullptr, 16);
        if (start == 0 || from < start)
            start = from;
        end = std::max(end, to);
    }
    return {start, end};
}

QString childProgram()
{
    return QStringLiteral(LAST_CHANCE_CHILD);
}

struct ChildRun
{
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QString out;
    QString err;
};

ChildRun runChild(const QString &mode)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.start(childProgram(), {mode});
    ChildRun run;
    if (!child.waitForFinished(30000)) {
        child.kill();
        child.waitForFinished();
        return run;
    }
    run.exitCode = child.exitCode();
    run.status = child.exitStatus();
    run.out = QString::fromUtf8(child.readAllStandardOutput());
    run.err = QString::fromUtf8(child.readAllStandardError());
    return run;
}

} // namespace

class LastChanceTest : public QObject
{
    Q_OBJECT

private slots:
    void text_data();
    void text();
    void programError();
    void otherExceptions_data();
    void otherExceptions();
    void exitCode();
    void childStartUp_data();
    void childStartUp();
    void childTitle();
};

void LastChanceTest::text_data()
{
    QTest::addColumn<quintptr>("offset");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("text");
    const QString head = QStringLiteral("Exception store::StoreError in module korozia at ");
    QTest::newRow("letter") << quintptr(0x1A2B) << "Cannot open"
                            << head + "00001A2B.\nCannot open.";
    QTest::newRow("full stop") << quintptr(0x1A2B) << "Cannot open."
                               << head + "00001A2B.\nCannot open.";
    QTest::newRow("exclamation") << quintptr(0) << "Нет таблицы!"
                                 << head + "00000000.\nНет таблицы!.";
    QTest::newRow("blank") << quintptr(0xFFFFFFFF) << "x " << head + "FFFFFFFF.\nx .";
    QTest::newRow("empty") << quintptr(0xABCDEF) << "" << head + "00ABCDEF.\n";
    QTest::newRow("beyond 32 bits") << quintptr(0x123456789) << "m"
                                    << head + "123456789.\nm.";
    QTest::newRow("percent signs stay") << quintptr(1) << "50% %1 done"
                                        << head + "00000001.\n50% %1 done.";
}

void LastChanceTest::text()
{
    QFETCH(quintptr, offset);
    QFETCH(QString, message);
    QFETCH(QString, text);
    QCOMPARE(lastChanceText(QStringLiteral("store::StoreError"), QStringLiteral("korozia"), offset,
                            message),
             text);
}

void LastChanceTest::programError()
{
    try {
        throwStoreError();
        QFAIL("nothing thrown");
    } catch (const store::StoreError &e) {
        const BoxDescription box = lastChanceBox(e);
        QCOMPARE(box.caption, QStringLiteral("Application Error"));
        QCOMPARE(box.icon, BoxIcon::Error);
        QCOMPARE(box.buttons, QList<BoxButton>{BoxButton::Ok});
        QCOMPARE(box.defaultButton, BoxButton::Ok);
        QCOMPARE(box.cancelButton, BoxButton::Ok);
        const QRegularExpression pattern(QStringLiteral(
            "^Exception store::StoreError in module toolkit_conventions at ([0-9A-F]{8})\\.\\n"
            "Table 'line.db' not found\\.$"));
        const QRegularExpressionMatch match = pattern.match(box.text);
        QVERIFY2(match.hasMatch(), qPrintable(box.text));

        // The address is the throw site, relative to the executable's start.
        const quintptr offset = match.captured(1).toULongLong(nullptr, 16);
        const auto [start, end] = executableMapping();
        QVERIFY(start != 0);
        QVERIFY(offset < end - start);
        QCOMPARE(start + offset, reinterpret_cast<quintptr>(e.site()));
#ifdef __OPTIMIZE__
        // Optimised, the error's constructors are inlined into the throwing
        // function, so the site lies inside it.
        const quintptr function = reinterpret_cast<quintptr>(&throwStoreError) - start;
        QVERIFY2(offset >= function && offset < function + 4096,
                 qPrintable(QStringLiteral("site %1, function %2")
                                .arg(offset, 0, 16).arg(function, 0, 16)));
#endif
    }
}

void LastChanceTest::otherExceptions_data()
{
    QTest::addColumn<std::function<void()>>("raise");
    QTest::addColumn<QString>("text");
    QTest::newRow("runtime_error") << std::function<void()>([] {
        throw std::runtime_error("boom");
    }) << "Exception std::runtime_error in module toolkit_conventions at 00000000.\nboom.";
    QTest::newRow("own class in a namespace") << std::function<void()>([] {
        throw korozia_test::OddError("odd.");
    }) << "Exception korozia_test::OddError in module toolkit_conventions at 00000000.\nodd.";
    QTest::newRow("bad_alloc") << std::function<void()>([] { throw std::bad_alloc(); })
                               << "Exception std::bad_alloc in module toolkit_conventions at "
                                  "00000000.\nstd::bad_alloc.";
}

void LastChanceTest::otherExceptions()
{
    QFETCH(std::function<void()>, raise);
    QFETCH(QString, text);
    try {
        raise();
        QFAIL("nothing thrown");
    } catch (const std::exception &e) {
        QCOMPARE(lastChanceBox(e).text, text);
    }
}

void LastChanceTest::exitCode()
{
    ScriptedDialogs scripted;
    scripted.answer(BoxButton::Ok);
    const store::StoreError error(QStringLiteral("No alias \"kor\""));
    QCOMPARE(lastChance(error), 1);
    QCOMPARE(scripted.boxes().size(), 1);
    QCOMPARE(scripted.boxes().first(), lastChanceBox(error));
}

void LastChanceTest::childStartUp_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("onStderr");
    QTest::addColumn<QString>("icon");
    QTest::newRow("answering seam") << "answering" << false << "stop";
    QTest::newRow("real Qt box") << "qt" << false << "stop";
    QTest::newRow("before the application exists") << "no-app" << true << "";
}

void LastChanceTest::childStartUp()
{
    QFETCH(QString, mode);
    QFETCH(bool, onStderr);
    QFETCH(QString, icon);
    const ChildRun run = runChild(mode);
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 1);
    const QString message = QStringLiteral("Cannot open the table \"line.db\".");
    const QString headPattern = QStringLiteral(
        "Exception store::StoreError in module LastChance\\.Child at [0-9A-F]{8}\\.\\n");
    if (onStderr) {
        // No application, so no window: the box goes to the error stream.
        const QRegularExpression pattern(QStringLiteral("Application Error: ") + headPattern
                                         + QRegularExpression::escape(message));
        QVERIFY2(pattern.match(run.err).hasMatch(), qPrintable(run.err));
        return;
    }
    const QRegularExpression pattern(QStringLiteral("^Application Error\\|%1\\|OK\\|")
                                         .arg(icon)
                                     + headPattern + QRegularExpression::escape(message)
                                     + QStringLiteral("\\n$"));
    QVERIFY2(pattern.match(run.out).hasMatch(), qPrintable(run.out + run.err));
}

void LastChanceTest::childTitle()
{
    // The title rule applied to a real executable named "LastChance.Child".
    const ChildRun run = runChild(QStringLiteral("title"));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("Lastchance|Lastchance\n"));
}

int runLastChanceTest(int argc, char **argv)
{
    LastChanceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "lastchancetest.moc"
