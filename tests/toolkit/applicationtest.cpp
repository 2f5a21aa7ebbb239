// The application object: its title, fonts and style, the regional-settings
// hook, and the event loop's error box for exceptions escaping a handler.
#include "data/errors.h"
#include "support/scripteddialogs.h"
#include "store/error.h"
#include "toolkit/application.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QStyle>
#include <QTest>

#include <stdexcept>

using namespace toolkit;

namespace {

const QEvent::Type kThrowEvent = QEvent::Type(QEvent::User + 1);

// A widget whose event handlers fail as the test says.
class FailingWidget : public QWidget
{
public:
    std::function<void()> fail;
    int handled = 0;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() == kThrowEvent) {
            ++handled;
            fail();
            return true;
        }
        return QWidget::event(event);
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        ++handled;
        if (event->key() == Qt::Key_F9)
            throw DatabaseError(QStringLiteral("Dataset not in edit or insert mode"));
        QWidget::keyPressEvent(event);
    }
};

} // namespace

class ApplicationTest : public QObject
{
    Q_OBJECT

private slots:
    void titleRule_data();
    void titleRule();
    void runningTitle();
    void fonts_data();
    void fonts();
    void defaultFontAndStyle();
    void localeChange();
    void eventHandlerFailure_data();
    void eventHandlerFailure();
    void postedEventFailure();
    void keyHandlerFailure();
};

void ApplicationTest::titleRule_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::newRow("folder and extension") << "/usr/bin/KOROZIA.EXE" << "Korozia";
    QTest::newRow("first stays lower case") << "korozia" << "korozia";
    QTest::newRow("mixed case") << "/opt/kOROZIA" << "korozia";
    QTest::newRow("first capital kept") << "/opt/KoRoZiA" << "Korozia";
    QTest::newRow("cut at the first dot") << "Korozia.tar.gz" << "Korozia";
    QTest::newRow("dots in the folder") << "/home/a.b/PROG" << "Prog";
    QTest::newRow("digits and signs") << "/bin/KOR-2_X.1" << "Kor-2_x";
    QTest::newRow("cyrillic") << "/opt/ПРОГРАММА.exe" << "Программа";
    QTest::newRow("first character outside the BMP") << QString::fromUtf8("/x/\U0001D400ABC")
                                                     << QString::fromUtf8("\U0001D400abc");
    QTest::newRow("leading dot") << "/home/u/.hidden" << "";
    QTest::newRow("folder only") << "/usr/bin/" << "";
    QTest::newRow("empty") << "" << "";
}

void ApplicationTest::titleRule()
{
    QFETCH(QString, path);
    QFETCH(QString, title);
    QCOMPARE(Application::titleFromFileName(path), title);
}

void ApplicationTest::runningTitle()
{
    // This executable is "toolkit_conventions"; the child program of the
    // last-chance test checks a name with capitals and a dot.
    QCOMPARE(Application::instance()->title(), QStringLiteral("toolkit_conventions"));
    QCOMPARE(applicationTitle(), QStringLiteral("toolkit_conventions"));
}

void ApplicationTest::fonts_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<QString>("face");
    QTest::newRow("MS Sans Serif") << "MS Sans Serif" << "Liberation Sans";
    QTest::newRow("Arial") << "Arial" << "Liberation Sans";
    QTest::newRow("Times New Roman") << "Times New Roman" << "Liberation Serif";
    QTest::newRow("Courier New") << "Courier New" << "Liberation Mono";
}

void ApplicationTest::fonts()
{
    QFETCH(QString, family);
    QFETCH(QString, face);
    QVERIFY(QFont::substitutes(family).contains(face, Qt::CaseInsensitive));
    if (!QFontDatabase::families().contains(face))
        QSKIP("the Liberation fonts are not installed");
    QFont font(family);
    font.setPixelSize(16);
    QCOMPARE(QFontInfo(font).family(), face);
}

void ApplicationTest::defaultFontAndStyle()
{
    QCOMPARE(QApplication::style()->name().toLower(), QStringLiteral("windows"));
    const QFont font = QApplication::font();
    QCOMPARE(font.family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(font.pixelSize(), 11);
    QWidget widget;
    QCOMPARE(widget.font().family(), QStringLiteral("MS Sans Serif"));
    if (QFontDatabase::families().contains(QStringLiteral("Liberation Sans")))
        QCOMPARE(QFontInfo(widget.font()).family(), QStringLiteral("Liberation Sans"));
}

void ApplicationTest::localeChange()
{
    Application *app = Application::instance();
    int refreshed = 0;
    app->setLocaleChangeHandler([&] { ++refreshed; });
    QWidget widget;
    QEvent toWidget(QEvent::LocaleChange);
    QCoreApplication::sendEvent(&widget, &toWidget);
    QCOMPARE(refreshed, 0);
    QEvent toApplication(QEvent::LocaleChange);
    QCoreApplication::sendEvent(app, &toApplication);
    QCOMPARE(refreshed, 1);

    // A failing refresh is shown like any handler's failure.
    ScriptedDialogs scripted;
    scripted.answer(BoxButton::Ok);
    app->setLocaleChangeHandler([] { throw SystemError(QStringLiteral("No regional settings")); });
    QEvent again(QEvent::LocaleChange);
    QCoreApplication::sendEvent(app, &again);
    app->setLocaleChangeHandler({});
    QCOMPARE(scripted.boxes().size(), 1);
    QCOMPARE(scripted.boxes().first().text, QStringLiteral("No regional settings."));
}

void ApplicationTest::eventHandlerFailure_data()
{
    QTest::addColumn<std::function<void()>>("fail");
    QTest::addColumn<QString>("shown"); // empty: no box at all
    QTest::newRow("store error") << std::function<void()>([] {
        throw store::StoreError(QStringLiteral("Table is busy"));
    }) << "Table is busy.";
    QTest::newRow("cursor error") << std::function<void()>([] {
        throw DatabaseError(
            QStringLiteral("Table1: Cannot perform this operation on an empty dataset"));
    }) << "Table1: Cannot perform this operation on an empty dataset.";
    QTest::newRow("message ending with !") << std::function<void()>([] {
        throw SystemError(QStringLiteral("Нет замера!"));
    }) << "Нет замера!";
    QTest::newRow("standard exception") << std::function<void()>([] {
        throw std::runtime_error("disk full");
    }) << "disk full.";
    QTest::newRow("not an exception class") << std::function<void()>([] { throw 42; })
                                            << "Unknown exception.";
    QTest::newRow("silent abort") << std::function<void()>([] { throw SilentAbort(); }) << "";
}

void ApplicationTest::eventHandlerFailure()
{
    QFETCH(std::function<void()>, fail);
    QFETCH(QString, shown);
    ScriptedDialogs scripted;
    if (!shown.isEmpty())
        scripted.answer(BoxButton::Ok);
    FailingWidget widget;
    widget.fail = fail;
    QEvent event(kThrowEvent);
    QCoreApplication::sendEvent(&widget, &event);
    QCOMPARE(widget.handled, 1);
    if (shown.isEmpty()) {
        QVERIFY(scripted.boxes().isEmpty());
    } else {
        QCOMPARE(scripted.boxes().size(), 1);
        QCOMPARE(scripted.boxes().first(), errorBox(applicationTitle(), shown));
    }
    // And the application goes on: the next event is delivered as usual.
    widget.fail = [] {};
    QEvent next(kThrowEvent);
    QCoreApplication::sendEvent(&widget, &next);
    QCOMPARE(widget.handled, 2);
}

void ApplicationTest::postedEventFailure()
{
    ScriptedDialogs scripted;
    scripted.answer(BoxButton::Ok);
    FailingWidget widget;
    int calls = 0;
    widget.fail = [&] {
        if (++calls == 1)
            throw store::StoreError(QStringLiteral("Cannot write \"base_kor.db\""));
    };
    QCoreApplication::postEvent(&widget, new QEvent(kThrowEvent));
    QCoreApplication::postEvent(&widget, new QEvent(kThrowEvent));
    QCoreApplication::sendPostedEvents(&widget);
    QCOMPARE(widget.handled, 2);
    QCOMPARE(scripted.boxes().size(), 1);
    // A closing quotation mark's code is below that of ".": no full stop.
    QCOMPARE(scripted.boxes().first().text, QStringLiteral("Cannot write \"base_kor.db\""));
}

void ApplicationTest::keyHandlerFailure()
{
    ScriptedDialogs scripted;
    scripted.answer(BoxButton::Ok);
    FailingWidget widget;
    widget.fail = [] {};
    QTest::keyClick(&widget, Qt::Key_F9);
    QTest::keyClick(&widget, Qt::Key_A);
    QCOMPARE(widget.handled, 2);
    QCOMPARE(scripted.boxes().size(), 1);
    QCOMPARE(scripted.boxes().first().text, QStringLiteral("Dataset not in edit or insert mode."));
}

int runApplicationTest(int argc, char **argv)
{
    ApplicationTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "applicationtest.moc"
