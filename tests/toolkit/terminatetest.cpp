// A terminating signal closes the main window through the event loop.
#include "toolkit/terminate.h"

#include <QMainWindow>
#include <QSignalSpy>
#include <QTest>
#include <csignal>

class TerminateTest : public QObject
{
    Q_OBJECT

private slots:
    void signalClosesWindow_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void signalClosesWindow()
    {
        QFETCH(int, signal);
        QMainWindow window;
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.show();
        toolkit::closeOnTerminate(&window);
        QVERIFY(window.isVisible());
        ::raise(signal);
        QTRY_VERIFY(!window.isVisible());
    }
};

int runTerminateTest(int argc, char **argv)
{
    TerminateTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "terminatetest.moc"
