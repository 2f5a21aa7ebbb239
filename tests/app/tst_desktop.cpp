// The windows on a real desktop (an X server with a window manager), where
// the window manager hands the keyboard from window to window and draws the
// frames: after the support editor and after the panes the main window has
// the keyboard with the support grid focused, and the main window, the
// editor and the message boxes are centred frame and all. Keys and clicks go
// through the X server, as a user's do.
#include "appfixture.h"

#include "calc/fpu.h"
#include "editor/add.h"
#include "support/xsession.h"
#include "toolkit/application.h"
#include "toolkit/dialogs.h"
#include "toolkit/pagecontrol.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace {

// Keys by their X names, separated by blanks.
void key(const QString &names)
{
    xdotool(QStringList{QStringLiteral("key")} + names.split(u' '));
}

void click(const QWidget *widget)
{
    const QPoint at = widget->mapToGlobal(widget->rect().center());
    xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()), QStringLiteral("click"),
             QStringLiteral("1")});
}

bool centred(const QRect &frame, const QRect &area)
{
    const QPoint off = frame.center() - area.center();
    return std::abs(off.x()) <= 1 && std::abs(off.y()) <= 1;
}

// The frame of a window once the window manager has centred it (or after 3 s).
QRect settledFrame(const QWidget *window, const QRect &area)
{
    const QWindow *handle = window->windowHandle();
    static_cast<void>(QTest::qWaitFor([&] { return centred(handle->frameGeometry(), area); }, 3000));
    return handle->frameGeometry();
}

// Runs the action once the condition holds, polled from whatever event loop
// runs by then: a modal window blocks the code that opened it, so it is
// answered from here. Given up after 20 s by closing the modal windows, so
// that a failing test ends; dropped when the context goes.
void when(QObject *context, const std::function<bool()> &condition, const std::function<void()> &action,
          QDeadlineTimer deadline = QDeadlineTimer(20000))
{
    QTimer::singleShot(20, context, [=] {
        if (condition())
            action();
        else if (!deadline.hasExpired())
            when(context, condition, action, deadline);
        else
            for (int i = 0; i < 10 && QApplication::activeModalWidget(); ++i)
                QApplication::activeModalWidget()->close();
    });
}

QWidget *activeBox()
{
    QWidget *box = QApplication::activeModalWidget();
    return box && box->objectName() == u"messageBox" && box->isActiveWindow() ? box : nullptr;
}

// Three Supports of one Section, the first measured, the last too when asked.
std::function<void(Seeder &)> threeSupports(bool lastMeasured = true)
{
    return [=](Seeder &s) {
        const qint64 section = s.addSection(QStringLiteral("A"));
        for (int i = 0; i < 3; ++i) {
            SupportValues v;
            v.km = i * 0.1;
            v.number = i + 1;
            if (i == 0 || (i == 2 && lastMeasured))
                v.measured = 10.0;
            s.addSupport(section, v);
        }
    };
}

// The main window with the editor and the real message boxes (the window
// manager has to see them), shown as the program shows it: the window
// manager gives it the keyboard.
TForm1 &desktopWindow(WindowFixture &f)
{
    toolkit::installDialogs(nullptr);
    f.form().createForms();
    f.form().show();
    return f.form();
}

// The main window has the keyboard, and a key reaches its support grid.
void checkTheSupportGridHasTheKeyboard(TForm1 &w)
{
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), &w, 5000);
    QCOMPARE(QApplication::focusWidget(), w.DBGrid1);
    w.Table1.First();
    key(QStringLiteral("End"));
    if (w.Table1.RecordCount() > 1)
        QTRY_COMPARE(w.Table1.RecNo(), w.Table1.RecordCount());
    // Not the section list's End, nor its Down that would append a Section.
    QCOMPARE(w.Table2.State(), DataSetState::Browse);
}

} // namespace

class DesktopTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void editorGivesTheKeyboardBack_data();
    void editorGivesTheKeyboardBack();
    void paneGivesTheKeyboardBack_data();
    void paneGivesTheKeyboardBack();
    void windowsAreCentredFrameAndAll();
};

void DesktopTest::initTestCase()
{
    if (!xSessionError().isEmpty())
        QSKIP(qPrintable(xSessionError()));
}

void DesktopTest::editorGivesTheKeyboardBack_data()
{
    QTest::addColumn<bool>("save");
    QTest::addColumn<bool>("box");
    QTest::newRow("save with a box on the way") << true << true;
    QTest::newRow("save") << true << false;
    QTest::newRow("cancel") << false << false;
}

void DesktopTest::editorGivesTheKeyboardBack()
{
    QFETCH(bool, save);
    QFETCH(bool, box);
    WindowFixture f(threeSupports(!box), false); // the last unmeasured: "Нет замера на последней опоре!"
    TForm1 &w = desktopWindow(f);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.DBGrid1->setFocus();
    // The window manager races the closing windows, and loses the focus only
    // now and then: three rounds.
    for (int round = 0; round < (box ? 3 : 1) && !QTest::currentTestFailed(); ++round) {
        int steps = 0;
        when(&w, [&] { return w.Form2->isActiveWindow(); }, [&] {
            ++steps;
            if (save) // Enter through the edits on to the save button, and on it
                key(QStringLiteral("Return Return Return Return Return Return Return"));
            else
                click(w.Form2->Button2);
        });
        if (box)
            when(&w, [] { return activeBox() != nullptr; }, [&] {
                ++steps;
                QTest::qWait(500); // the user reads it
                key(QStringLiteral("Return"));
            });
        key(QStringLiteral("Return")); // Enter in the support grid opens the editor
        QTRY_VERIFY_WITH_TIMEOUT(steps == 1 + box && !w.Form2->isVisible() && !QApplication::activeModalWidget(),
                                 20000);
        checkTheSupportGridHasTheKeyboard(w);
    }
}

void DesktopTest::paneGivesTheKeyboardBack_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("button");
    QTest::newRow("fill, Отменить") << "fill" << "Button2";
    QTest::newRow("fill, заполнить таблицу") << "fill" << "Button1";
    QTest::newRow("clear, Отменить") << "clear" << "Button3";
    QTest::newRow("clear, Удалить") << "clear" << "Button4";
}

void DesktopTest::paneGivesTheKeyboardBack()
{
    QFETCH(QString, page);
    QFETCH(QString, button);
    WindowFixture f(threeSupports(), false);
    TForm1 &w = desktopWindow(f);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    (page == u"fill" ? w.N6 : w.N7)->trigger();
    w.Edit2->setText(QStringLiteral("1"));
    auto *pressed = w.PageControl1->findChild<QPushButton *>(button);
    QTRY_VERIFY(pressed->isVisible());
    click(pressed);
    QTRY_VERIFY(!w.PageControl1->isVisible());
    checkTheSupportGridHasTheKeyboard(w);
}

void DesktopTest::windowsAreCentredFrameAndAll()
{
    WindowFixture f(threeSupports(), false);
    TForm1 &w = desktopWindow(f);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const QRect screen = w.screen()->availableGeometry();
    const QRect main = settledFrame(&w, screen);
    QRect desktop;
    for (const QScreen *s : QGuiApplication::screens())
        desktop = desktop.united(s->geometry());
    QRect editor, box;
    when(&w, [&] { return w.Form2->isActiveWindow(); }, [&] {
        editor = settledFrame(w.Form2, desktop);
        click(w.Form2->Button2);
    });
    when(&w, [] { return activeBox() != nullptr; }, [&] {
        box = settledFrame(activeBox(), screen);
        key(QStringLiteral("Return"));
    });
    w.N12->trigger();
    toolkit::messageDlg(QStringLiteral("Centred?"), toolkit::MessageKind::Information, toolkit::BoxButton::Ok);
    QVERIFY2(centred(main, screen), qPrintable(QDebug::toString(main)));
    QVERIFY2(centred(editor, desktop), qPrintable(QDebug::toString(editor)));
    QVERIFY2(centred(box, screen), qPrintable(QDebug::toString(box)));
}

int main(int argc, char **argv)
{
    return runOnXSession(argc, argv, [](int argc, char **argv) {
        toolkit::Application app(argc, argv);
        calc::initFloatingPoint();
        DesktopTest test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "tst_desktop.moc"
