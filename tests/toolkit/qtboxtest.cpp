// The Qt implementation of the dialog seam: real boxes, offscreen, found
// while they show and answered from the keyboard or the title bar.
#include "support/scripteddialogs.h"
#include "toolkit/dialogs.h"
#include "toolkit/qtdialogs.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace toolkit;

Q_DECLARE_METATYPE(toolkit::MessageKind)
Q_DECLARE_METATYPE(toolkit::BoxButton)
Q_DECLARE_METATYPE(toolkit::BoxButtons)

namespace {

// What a test saw of the box while it was open.
struct Seen
{
    bool found = false;
    QString caption;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QStringList captions;  // left to right
    QList<int> widths;
    int leftGap = 0;       // from the box's left edge to the first button
    int rightGap = 0;      // from the last button to the right edge
    QString defaultCaption;
    QString focusCaption;
    QImage icon;
    bool hasIcon = false;
    QRect frame;
    int textWidth = 0;
    int textHeight = 0;
    QStringList stillOpenAfter; // actions after which the box was still open
    bool hidesTyping = false;   // a line edit with the focus shows dots
};

QList<QPushButton *> buttonsLeftToRight(QWidget *box)
{
    QList<QPushButton *> buttons = box->findChildren<QPushButton *>();
    std::sort(buttons.begin(), buttons.end(),
              [](QPushButton *a, QPushButton *b) { return a->x() < b->x(); });
    return buttons;
}

Seen look(QWidget *box)
{
    Seen seen;
    seen.found = true;
    seen.caption = box->windowTitle();
    if (auto *text = box->findChild<QLabel *>(QStringLiteral("text"))) {
        seen.text = text->text();
        seen.format = text->textFormat();
        seen.textWidth = text->width();
        seen.textHeight = text->height();
    }
    if (auto *icon = box->findChild<QLabel *>(QStringLiteral("icon"))) {
        seen.hasIcon = true;
        seen.icon = icon->pixmap().toImage();
    }
    const QList<QPushButton *> buttons = buttonsLeftToRight(box);
    for (QPushButton *button : buttons) {
        seen.captions << button->text();
        seen.widths << button->width();
        if (button->isDefault())
            seen.defaultCaption = button->text();
    }
    if (!buttons.isEmpty()) {
        const QPoint first = buttons.first()->mapTo(box, QPoint(0, 0));
        const QPoint last = buttons.last()->mapTo(box, QPoint(buttons.last()->width(), 0));
        seen.leftGap = first.x();
        seen.rightGap = box->width() - last.x();
    }
    if (auto *focus = qobject_cast<QPushButton *>(box->focusWidget()))
        seen.focusCaption = focus->text();
    if (auto *edit = qobject_cast<QLineEdit *>(box->focusWidget()))
        seen.hidesTyping = edit->echoMode() == QLineEdit::Password;
    seen.frame = box->frameGeometry();
    return seen;
}

void act(QWidget *box, const QString &action)
{
    QWidget *target = box->focusWidget() ? box->focusWidget() : box;
    if (action == QLatin1String("enter"))
        QTest::keyClick(target, Qt::Key_Return);
    else if (action == QLatin1String("keypad enter"))
        QTest::keyClick(target, Qt::Key_Enter, Qt::KeypadModifier);
    else if (action == QLatin1String("escape"))
        QTest::keyClick(target, Qt::Key_Escape);
    else if (action == QLatin1String("alt+f4"))
        QTest::keyClick(box, Qt::Key_F4, Qt::AltModifier);
    else if (action.startsWith(QLatin1String("type "))) { // any letters, as an input method gives them
        QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, action.mid(5));
        QApplication::sendEvent(target, &typed);
    }
    else if (action == QLatin1String("close box"))
        box->close();
    else if (action == QLatin1String("tab, enter")) {
        QTest::keyClick(target, Qt::Key_Tab);
        QTest::keyClick(box->focusWidget(), Qt::Key_Return);
    } else if (action.startsWith(QLatin1String("click "))) {
        const QString caption = action.mid(6);
        for (QPushButton *button : box->findChildren<QPushButton *>()) {
            if (button->text() == caption)
                QTest::mouseClick(button, Qt::LeftButton);
        }
    }
}

// Shows the box through the Qt seam; once it is up, looks at it and performs
// the actions in turn. A watchdog closes a box the actions left open, so the
// test never blocks.
template<typename Show>
auto showAndAct(Show show, const QStringList &actions, Seen &seen, bool *watchdogFired = nullptr)
{
    QTimer driver;
    driver.setSingleShot(true);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        seen = look(modal);
        QPointer<QWidget> guard(modal);
        for (const QString &action : actions) {
            act(modal, action);
            if (guard && guard->isVisible())
                seen.stillOpenAfter << action;
            if (!guard || !guard->isVisible())
                break;
        }
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        if (watchdogFired)
            *watchdogFired = true;
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    driver.start(0);
    watchdog.start(5000);
    return show();
}

BoxButton showAndAct(const BoxDescription &box, const QStringList &actions, Seen &seen,
                     bool *watchdogFired = nullptr)
{
    return showAndAct([&] { return QtDialogs().show(box); }, actions, seen, watchdogFired);
}

} // namespace

class QtBoxTest : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void looks_data();
    void looks();
    void plainBox();
    void longTextWraps();
    void textIsNeverMarkup();
    void ownerClosedWhileOpen();
    void passwordBox_data();
    void passwordBox();
};

void QtBoxTest::answers_data()
{
    QTest::addColumn<BoxButtons>("buttons");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<BoxButton>("answer");
    QTest::addColumn<QStringList>("stillOpenAfter");
    using B = BoxButton;
    const QStringList none;

    const BoxButtons deletion = B::No | B::Ok;
    QTest::newRow("deletion: enter is OK") << deletion << QStringList{"enter"} << B::Ok << none;
    QTest::newRow("deletion: keypad enter") << deletion << QStringList{"keypad enter"} << B::Ok
                                            << none;
    QTest::newRow("deletion: escape is No") << deletion << QStringList{"escape"} << B::No << none;
    QTest::newRow("deletion: close box is Cancel") << deletion << QStringList{"close box"}
                                                   << B::Cancel << none;
    QTest::newRow("deletion: alt+f4 is Cancel") << deletion << QStringList{"alt+f4"} << B::Cancel
                                                << none;
    QTest::newRow("deletion: click No") << deletion << QStringList{"click &No"} << B::No << none;
    QTest::newRow("deletion: tab to the next, enter")
        << deletion << QStringList{"tab, enter"} << B::No << none;
    QTest::newRow("ok: escape is OK") << BoxButtons(B::Ok) << QStringList{"escape"} << B::Ok
                                      << none;
    QTest::newRow("yes/no/cancel: enter is Yes")
        << (B::Yes | B::No | B::Cancel) << QStringList{"enter"} << B::Yes << none;
    QTest::newRow("yes/no/cancel: escape is Cancel")
        << (B::Yes | B::No | B::Cancel) << QStringList{"escape"} << B::Cancel << none;
    QTest::newRow("yes/no: escape is No") << (B::Yes | B::No) << QStringList{"escape"} << B::No
                                          << none;
    QTest::newRow("yes/no: close box is Cancel") << (B::Yes | B::No) << QStringList{"close box"}
                                                 << B::Cancel << none;
    QTest::newRow("yes alone: escape does nothing")
        << BoxButtons(B::Yes) << QStringList{"escape", "close box"} << B::Cancel
        << QStringList{"escape"};
    QTest::newRow("all four: click Cancel") << (B::Yes | B::No | B::Ok | B::Cancel)
                                            << QStringList{"click Cancel"} << B::Cancel << none;
}

void QtBoxTest::answers()
{
    QFETCH(BoxButtons, buttons);
    QFETCH(QStringList, actions);
    QFETCH(BoxButton, answer);
    QFETCH(QStringList, stillOpenAfter);
    Seen seen;
    bool watchdog = false;
    const BoxButton got = showAndAct(messageBox(QStringLiteral("Удалить?"), MessageKind::Warning,
                                                buttons),
                                     actions, seen, &watchdog);
    QVERIFY(seen.found);
    QVERIFY(!watchdog);
    QCOMPARE(got, answer);
    QCOMPARE(seen.stillOpenAfter, stillOpenAfter);
    QVERIFY(!QApplication::activeModalWidget());
}

void QtBoxTest::looks_data()
{
    QTest::addColumn<MessageKind>("kind");
    QTest::addColumn<BoxButtons>("buttons");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<QString>("defaultCaption");
    using B = BoxButton;
    QTest::newRow("warning, OK and No") << MessageKind::Warning << (B::Ok | B::No) << "Warning"
                                        << int(QStyle::SP_MessageBoxWarning)
                                        << QStringList{"&No", "OK"} << "OK";
    QTest::newRow("error") << MessageKind::Error << BoxButtons(B::Ok) << "Error"
                           << int(QStyle::SP_MessageBoxCritical) << QStringList{"OK"} << "OK";
    QTest::newRow("information") << MessageKind::Information << BoxButtons(B::Ok)
                                 << "Information" << int(QStyle::SP_MessageBoxInformation)
                                 << QStringList{"OK"} << "OK";
    QTest::newRow("confirmation, all four")
        << MessageKind::Confirmation << (B::Cancel | B::Ok | B::No | B::Yes) << "Confirm"
        << int(QStyle::SP_MessageBoxQuestion) << QStringList{"&Yes", "&No", "OK", "Cancel"}
        << "OK";
    QTest::newRow("confirmation, yes and no") << MessageKind::Confirmation << (B::No | B::Yes)
                                              << "Confirm" << int(QStyle::SP_MessageBoxQuestion)
                                              << QStringList{"&Yes", "&No"} << "&Yes";
}

void QtBoxTest::looks()
{
    QFETCH(MessageKind, kind);
    QFETCH(BoxButtons, buttons);
    QFETCH(QString, caption);
    QFETCH(int, icon);
    QFETCH(QStringList, captions);
    QFETCH(QString, defaultCaption);

    Seen seen;
    const QString text = QStringLiteral("Удалить все опоры на участке \rУчасток 1 ?");
    showAndAct(messageBox(text, kind, buttons), {QStringLiteral("close box")}, seen);
    QVERIFY(seen.found);
    QCOMPARE(seen.caption, caption);
    QCOMPARE(seen.text, QStringLiteral("Удалить все опоры на участке \nУчасток 1 ?"));
    QVERIFY(seen.textHeight >= 2 * QFontMetrics(QApplication::font()).lineSpacing());
    QCOMPARE(seen.captions, captions);
    QCOMPARE(seen.defaultCaption, defaultCaption);
    QCOMPARE(seen.focusCaption, defaultCaption);
    // Equal buttons in a centred row.
    QVERIFY(std::all_of(seen.widths.begin(), seen.widths.end(),
                        [&](int w) { return w == seen.widths.first(); }));
    QVERIFY(seen.widths.first() >= 75);
    QVERIFY2(std::abs(seen.leftGap - seen.rightGap) <= 1,
             qPrintable(QStringLiteral("%1 vs %2").arg(seen.leftGap).arg(seen.rightGap)));
    // The icon of the kind, and not another kind's.
    QVERIFY(seen.hasIcon);
    QStyle *style = QApplication::style();
    const QImage expected = style->standardIcon(QStyle::StandardPixmap(icon)).pixmap(32, 32).toImage();
    QVERIFY(!expected.isNull());
    QCOMPARE(seen.icon, expected);
    for (QStyle::StandardPixmap other :
         {QStyle::SP_MessageBoxWarning, QStyle::SP_MessageBoxCritical,
          QStyle::SP_MessageBoxInformation, QStyle::SP_MessageBoxQuestion}) {
        if (other != QStyle::StandardPixmap(icon))
            QVERIFY(seen.icon != style->standardIcon(other).pixmap(32, 32).toImage());
    }
    // Centred on the screen.
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    QVERIFY2((seen.frame.center() - centre).manhattanLength() <= 2,
             qPrintable(QStringLiteral("box centre %1,%2 screen centre %3,%4")
                            .arg(seen.frame.center().x()).arg(seen.frame.center().y())
                            .arg(centre.x()).arg(centre.y())));
}

void QtBoxTest::plainBox()
{
    Seen seen;
    const BoxButton got = showAndAct(plainMessageBox(QStringLiteral("Korozia"),
                                                     QStringLiteral("Report saved")),
                                     {QStringLiteral("enter")}, seen);
    QCOMPARE(got, BoxButton::Ok);
    QCOMPARE(seen.caption, QStringLiteral("Korozia"));
    QVERIFY(!seen.hasIcon);
    QCOMPARE(seen.captions, QStringList{QStringLiteral("OK")});
}

void QtBoxTest::longTextWraps()
{
    const int half = QGuiApplication::primaryScreen()->availableGeometry().width() / 2;
    QString text;
    for (int i = 0; i < 60; ++i)
        text += QStringLiteral("опора ");
    Seen seen;
    showAndAct(messageBox(text, MessageKind::Information, BoxButton::Ok),
               {QStringLiteral("enter")}, seen);
    QVERIFY(seen.textWidth <= half);
    QVERIFY(seen.textWidth > half / 2);
    QVERIFY(seen.textHeight >= 3 * QFontMetrics(QApplication::font()).lineSpacing());
    QVERIFY(seen.frame.width() < QGuiApplication::primaryScreen()->availableGeometry().width());
}

void QtBoxTest::textIsNeverMarkup()
{
    // A Section name is the user's text and may look like markup.
    Seen seen;
    const QString text = QStringLiteral("Удалить все опоры на участке \r<b>Участок</b> ?");
    showAndAct(messageBox(text, MessageKind::Warning, BoxButton::Ok), {QStringLiteral("enter")},
               seen);
    QCOMPARE(seen.format, Qt::PlainText);
    QCOMPARE(seen.text, QStringLiteral("Удалить все опоры на участке \n<b>Участок</b> ?"));
}

void QtBoxTest::ownerClosedWhileOpen()
{
    // The active window owns the box; if it goes away while the box is open
    // the box goes with it and the answer is Cancel.
    auto *window = new QWidget;
    window->resize(200, 100);
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        QSKIP("the platform does not activate windows");
    QtDialogs qt;
    bool owned = false;
    QTimer::singleShot(0, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            owned = modal->parentWidget() == window;
            delete window;
        }
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    watchdog.start(5000);
    QPointer<QWidget> alive(window);
    const BoxButton got = qt.show(messageBox(QStringLiteral("?"), MessageKind::Confirmation,
                                             BoxButton::Yes | BoxButton::No));
    QVERIFY(owned);
    QVERIFY(!alive);
    QCOMPARE(got, BoxButton::Cancel);
}

void QtBoxTest::passwordBox_data()
{
    QTest::addColumn<QStringList>("actions"); // the box is open until the last one
    QTest::addColumn<QString>("answer");      // "-": cancelled
    QTest::newRow("typed, enter") << QStringList{"type пароль 1", "enter"} << "пароль 1";
    QTest::newRow("typed, click OK") << QStringList{"type p'\\\"", "click OK"} << "p'\\\"";
    QTest::newRow("nothing typed: OK does nothing") << QStringList{"enter", "click OK", "close box"} << "-";
    QTest::newRow("typed, escape") << QStringList{"type секрет", "escape"} << "-";
    QTest::newRow("typed, click Отмена") << QStringList{"type секрет", "click Отмена"} << "-";
    QTest::newRow("typed, close box") << QStringList{"type секрет", "close box"} << "-";
}

// The question for a password: typing is hidden, only "OK" with something
// typed gives the password, every other way out is a refusal.
void QtBoxTest::passwordBox()
{
    QFETCH(QStringList, actions);
    QFETCH(QString, answer);
    Seen seen;
    const PasswordQuestion question{QStringLiteral("Пароль"), QStringLiteral("Сервер просит пароль.\r<b>x</b>")};
    const std::optional<QString> got =
        showAndAct([&] { return QtDialogs().askPassword(question); }, actions, seen);
    QCOMPARE(got.value_or(QStringLiteral("-")), answer);
    QCOMPARE(seen.stillOpenAfter, actions.mid(0, actions.size() - 1));
    QCOMPARE(seen.caption, QStringLiteral("Пароль"));
    QCOMPARE(seen.text, QStringLiteral("Сервер просит пароль.\n<b>x</b>"));
    QCOMPARE(seen.format, Qt::PlainText);
    QVERIFY(seen.hidesTyping);
    QCOMPARE(seen.captions, (QStringList{QStringLiteral("OK"), QStringLiteral("Отмена")}));
    QCOMPARE(seen.defaultCaption, QStringLiteral("OK"));
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    QVERIFY((seen.frame.center() - centre).manhattanLength() <= 2);
}

int runQtBoxTest(int argc, char **argv)
{
    QtBoxTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "qtboxtest.moc"
