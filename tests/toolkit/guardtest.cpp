// Handlers connected through the guard: failures end in the error box (or in
// nothing, for a silent abort) and never unwind through Qt.
#include "support/scripteddialogs.h"
#include "store/error.h"
#include "toolkit/application.h"
#include "toolkit/guard.h"

#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <stdexcept>

using namespace toolkit;

namespace {

class Emitter : public QObject
{
    Q_OBJECT
signals:
    void twoArguments(int number, const QString &text);
};

// A window-like receiver with a handler method, as the windows have.
class Handlers : public QObject
{
    Q_OBJECT
public:
    QList<int> values;
    void onValue(int value)
    {
        values << value;
        if (value == 13)
            throw store::StoreError(QStringLiteral("Record locked by another user"));
    }
    void onClick() { values << -1; }
};

} // namespace

class GuardTest : public QObject
{
    Q_OBJECT

private slots:
    void runGuarded_data();
    void runGuarded();
    void lambdaHandler();
    void memberHandler();
    void fewerArguments();
    void contextEndsConnection();
    void queuedHandler();
};

void GuardTest::runGuarded_data()
{
    QTest::addColumn<std::function<void()>>("handler");
    QTest::addColumn<QString>("shown");
    QTest::newRow("no failure") << std::function<void()>([] {}) << "";
    QTest::newRow("system error") << std::function<void()>([] {
        throw SystemError(QStringLiteral("Field 'Nomeropory' must have a value"));
    }) << "Field 'Nomeropory' must have a value.";
    QTest::newRow("store error") << std::function<void()>([] {
        throw store::StoreError(QStringLiteral("Disk full"));
    }) << "Disk full.";
    QTest::newRow("silent abort") << std::function<void()>([] { throw SilentAbort(); }) << "";
    QTest::newRow("standard exception") << std::function<void()>([] {
        throw std::out_of_range("index 7");
    }) << "index 7.";
    QTest::newRow("empty message") << std::function<void()>([] {
        throw SystemError(QString());
    }) << "";
    QTest::newRow("unknown") << std::function<void()>([] { throw 3.5; }) << "Unknown exception.";
}

void GuardTest::runGuarded()
{
    QFETCH(std::function<void()>, handler);
    QFETCH(QString, shown);
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    const bool expectBox = tag != QLatin1String("no failure") && tag != QLatin1String("silent abort");
    ScriptedDialogs scripted;
    if (expectBox)
        scripted.answer(BoxButton::Ok);
    toolkit::runGuarded(handler);
    QCOMPARE(scripted.boxes().size(), expectBox ? 1 : 0);
    if (expectBox)
        QCOMPARE(scripted.boxes().first(), errorBox(applicationTitle(), shown));
}

void GuardTest::lambdaHandler()
{
    ScriptedDialogs scripted;
    scripted.answer(BoxButton::Ok);
    QPushButton button;
    int clicks = 0;
    // clicked(bool) to a handler that takes nothing.
    connectGuarded(&button, &QPushButton::clicked, &button, [&] {
        ++clicks;
        if (clicks == 1)
            throw store::StoreError(QStringLiteral("Table is busy"));
    });
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(clicks, 1);
    QCOMPARE(scripted.boxes().size(), 1);
    QCOMPARE(scripted.boxes().first().text, QStringLiteral("Table is busy."));
    // The program goes on: the next click runs the handler again, without a box.
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(clicks, 2);
    QCOMPARE(scripted.boxes().size(), 1);
}

void GuardTest::memberHandler()
{
    ScriptedDialogs scripted;
    scripted.answer(BoxButton::Ok);
    QSpinBox spin;
    spin.setRange(0, 100);
    Handlers handlers;
    connectGuarded(&spin, &QSpinBox::valueChanged, &handlers, &Handlers::onValue);
    QPushButton button;
    connectGuarded(&button, &QPushButton::clicked, &handlers, &Handlers::onClick);
    spin.setValue(5);
    spin.setValue(13);
    spin.setValue(20);
    button.click();
    QCOMPARE(handlers.values, (QList<int>{5, 13, 20, -1}));
    QCOMPARE(scripted.boxes().size(), 1);
    QCOMPARE(scripted.boxes().first().text, QStringLiteral("Record locked by another user."));
    // The value the failing handler saw stays set.
    QCOMPARE(spin.value(), 20);
}

void GuardTest::fewerArguments()
{
    Emitter emitter;
    QList<int> numbers;
    QStringList texts;
    connectGuarded(&emitter, &Emitter::twoArguments, &emitter, [&](int n) { numbers << n; });
    connectGuarded(&emitter, &Emitter::twoArguments, &emitter,
                   [&](int n, const QString &t) { texts << QString::number(n) + t; });
    emit emitter.twoArguments(7, QStringLiteral("a"));
    QCOMPARE(numbers, QList<int>{7});
    QCOMPARE(texts, QStringList{QStringLiteral("7a")});
}

void GuardTest::contextEndsConnection()
{
    Emitter emitter;
    int calls = 0;
    auto *context = new QObject;
    connectGuarded(&emitter, &Emitter::twoArguments, context, [&] { ++calls; });
    emit emitter.twoArguments(1, QString());
    delete context;
    emit emitter.twoArguments(2, QString());
    QCOMPARE(calls, 1);
}

void GuardTest::queuedHandler()
{
    ScriptedDialogs scripted;
    scripted.answer(BoxButton::Ok);
    Emitter emitter;
    int calls = 0;
    connectGuarded(
        &emitter, &Emitter::twoArguments, &emitter,
        [&](int, const QString &text) {
            ++calls;
            throw SystemError(text);
        },
        Qt::QueuedConnection);
    emit emitter.twoArguments(1, QStringLiteral("Queued failure"));
    QCOMPARE(calls, 0);
    QCoreApplication::processEvents();
    QCOMPARE(calls, 1);
    QCOMPARE(scripted.boxes().size(), 1);
    QCOMPARE(scripted.boxes().first().text, QStringLiteral("Queued failure."));
}

int runGuardTest(int argc, char **argv)
{
    GuardTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "guardtest.moc"
