// The message boxes as described by their pure builders, and their way
// through the dialog seam.
#include "support/scripteddialogs.h"
#include "toolkit/application.h"
#include "toolkit/dialogs.h"

#include <QTest>

using namespace toolkit;

Q_DECLARE_METATYPE(toolkit::MessageKind)
Q_DECLARE_METATYPE(toolkit::BoxIcon)
Q_DECLARE_METATYPE(toolkit::BoxButton)
Q_DECLARE_METATYPE(toolkit::BoxButtons)

class DialogsTest : public QObject
{
    Q_OBJECT

private slots:
    void kinds_data();
    void kinds();
    void buttons_data();
    void buttons();
    void fullStop_data();
    void fullStop();
    void plainAndErrorBoxes();
    void throughTheSeam();
    void beepBeforeBox();
};

void DialogsTest::kinds_data()
{
    QTest::addColumn<MessageKind>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<BoxIcon>("icon");
    QTest::newRow("warning") << MessageKind::Warning << "Warning" << BoxIcon::Warning;
    QTest::newRow("error") << MessageKind::Error << "Error" << BoxIcon::Error;
    QTest::newRow("information") << MessageKind::Information << "Information"
                                 << BoxIcon::Information;
    QTest::newRow("confirmation") << MessageKind::Confirmation << "Confirm" << BoxIcon::Question;
}

void DialogsTest::kinds()
{
    QFETCH(MessageKind, kind);
    QFETCH(QString, caption);
    QFETCH(BoxIcon, icon);
    const QString text = QStringLiteral("Нет замера на первой опоре!");
    const BoxDescription box = messageBox(text, kind, BoxButton::Ok);
    QCOMPARE(box.caption, caption);
    QCOMPARE(box.icon, icon);
    // The system's own messages are shown as they are, without the full stop rule.
    QCOMPARE(box.text, text);
    QCOMPARE(box.buttons, QList<BoxButton>{BoxButton::Ok});
}

void DialogsTest::buttons_data()
{
    QTest::addColumn<BoxButtons>("asked");
    QTest::addColumn<QList<BoxButton>>("shown");
    QTest::addColumn<BoxButton>("defaultButton");
    QTest::addColumn<BoxButton>("cancelButton");
    using B = BoxButton;
    using L = QList<BoxButton>;

    QTest::newRow("ok") << BoxButtons(B::Ok) << L{B::Ok} << B::Ok << B::Ok;
    // The Section deletion box: No before OK, OK the default, No the cancel button.
    QTest::newRow("ok, no") << (B::Ok | B::No) << L{B::No, B::Ok} << B::Ok << B::No;
    QTest::newRow("no, ok") << (B::No | B::Ok) << L{B::No, B::Ok} << B::Ok << B::No;
    QTest::newRow("cancel, ok") << (B::Cancel | B::Ok) << L{B::Ok, B::Cancel} << B::Ok
                                << B::Cancel;
    QTest::newRow("yes, no") << (B::No | B::Yes) << L{B::Yes, B::No} << B::Yes << B::No;
    QTest::newRow("cancel, no, yes") << (B::Cancel | B::No | B::Yes)
                                     << L{B::Yes, B::No, B::Cancel} << B::Yes << B::Cancel;
    QTest::newRow("all four, reversed") << (B::Cancel | B::Ok | B::No | B::Yes)
                                        << L{B::Yes, B::No, B::Ok, B::Cancel} << B::Ok
                                        << B::Cancel;
    QTest::newRow("yes alone") << BoxButtons(B::Yes) << L{B::Yes} << B::Yes << B::None;
    QTest::newRow("no alone") << BoxButtons(B::No) << L{B::No} << B::None << B::No;
    QTest::newRow("cancel, no") << (B::Cancel | B::No) << L{B::No, B::Cancel} << B::None
                                << B::Cancel;
    QTest::newRow("yes, ok") << (B::Ok | B::Yes) << L{B::Yes, B::Ok} << B::Ok << B::Ok;
    QTest::newRow("none asked") << BoxButtons() << L{B::Ok} << B::Ok << B::Ok;
}

void DialogsTest::buttons()
{
    QFETCH(BoxButtons, asked);
    QFETCH(QList<BoxButton>, shown);
    QFETCH(BoxButton, defaultButton);
    QFETCH(BoxButton, cancelButton);
    const BoxDescription box = messageBox(QStringLiteral("?"), MessageKind::Confirmation, asked);
    QCOMPARE(box.buttons, shown);
    QCOMPARE(box.defaultButton, defaultButton);
    QCOMPARE(box.cancelButton, cancelButton);

    QStringList captions;
    for (BoxButton button : box.buttons)
        captions << buttonCaption(button);
    const QMap<BoxButton, QString> expected{{BoxButton::Yes, QStringLiteral("&Yes")},
                                             {BoxButton::No, QStringLiteral("&No")},
                                             {BoxButton::Ok, QStringLiteral("OK")},
                                             {BoxButton::Cancel, QStringLiteral("Cancel")}};
    QStringList expectedCaptions;
    for (BoxButton button : shown)
        expectedCaptions << expected.value(button);
    QCOMPARE(captions, expectedCaptions);
}

void DialogsTest::fullStop_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("empty") << "" << "";
    QTest::newRow("letter") << "Table is busy" << "Table is busy.";
    QTest::newRow("cyrillic letter") << "Не указан номер" << "Не указан номер.";
    QTest::newRow("digit") << "Error 42" << "Error 42.";
    QTest::newRow("question mark") << "Really?" << "Really?.";
    QTest::newRow("colon") << "Field:" << "Field:.";
    QTest::newRow("slash") << "a/" << "a/.";
    QTest::newRow("full stop") << "Done." << "Done.";
    QTest::newRow("blank") << "Value " << "Value ";
    QTest::newRow("apostrophe") << "Field 'Line'" << "Field 'Line'";
    QTest::newRow("parenthesis") << "(none)" << "(none)";
    QTest::newRow("exclamation") << "Нет замера!" << "Нет замера!";
    QTest::newRow("comma") << "a," << "a,";
    QTest::newRow("hyphen") << "a-" << "a-";
    QTest::newRow("carriage return") << "line\r" << "line\r";
    QTest::newRow("only a full stop") << "." << ".";
}

void DialogsTest::fullStop()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(withFullStop(message), shown);
    QCOMPARE(errorBox(QStringLiteral("Korozia"), message).text, shown);
}

void DialogsTest::plainAndErrorBoxes()
{
    const BoxDescription plain = plainMessageBox(QStringLiteral("Korozia"), QStringLiteral("Saved"));
    QCOMPARE(plain, (BoxDescription{QStringLiteral("Korozia"), BoxIcon::None,
                                    QStringLiteral("Saved"), {BoxButton::Ok}, BoxButton::Ok,
                                    BoxButton::Ok}));
    const BoxDescription error = errorBox(QStringLiteral("Korozia"), QStringLiteral("Disk full"));
    QCOMPARE(error, (BoxDescription{QStringLiteral("Korozia"), BoxIcon::Error,
                                    QStringLiteral("Disk full."), {BoxButton::Ok}, BoxButton::Ok,
                                    BoxButton::Ok}));
}

void DialogsTest::throughTheSeam()
{
    ScriptedDialogs scripted;
    QCOMPARE(&dialogs(), static_cast<DialogSeam *>(&scripted));
    scripted.answer(BoxButton::No);
    scripted.answer(BoxButton::Cancel); // the close box
    scripted.answer(BoxButton::Ok);
    scripted.answer(BoxButton::Ok);
    const QString question = QStringLiteral("Удалить все опоры на участке \rУчасток 1 ?");
    QCOMPARE(messageDlg(question, MessageKind::Warning, BoxButton::Ok | BoxButton::No),
             BoxButton::No);
    QCOMPARE(messageDlg(question, MessageKind::Warning, BoxButton::Ok | BoxButton::No),
             BoxButton::Cancel);
    showPlainMessage(QStringLiteral("Printed"));
    showErrorBox(QStringLiteral("Field 'Kilometr' must have a value"));

    QCOMPARE(scripted.boxes().size(), 4);
    QCOMPARE(scripted.boxes().at(0), messageBox(question, MessageKind::Warning,
                                                BoxButton::No | BoxButton::Ok));
    // The plain and the error box are headed by the running application's title.
    const QString title = Application::instance()->title();
    QVERIFY(!title.isEmpty());
    QCOMPARE(scripted.boxes().at(2), plainMessageBox(title, QStringLiteral("Printed")));
    QCOMPARE(scripted.boxes().at(3).caption, title);
    QCOMPARE(scripted.boxes().at(3).text, QStringLiteral("Field 'Kilometr' must have a value."));
    QCOMPARE(scripted.boxes().at(3).icon, BoxIcon::Error);
}

void DialogsTest::beepBeforeBox()
{
    DialogSeam *before = &dialogs();
    {
        ScriptedDialogs scripted;
        scripted.answer(BoxButton::Ok);
        beep();
        messageDlg(QStringLiteral("Не указан пикетаж новой опоры!"), MessageKind::Error,
                   BoxButton::Ok);
        QCOMPARE(scripted.beeps(), 1);
        QCOMPARE(scripted.events(), (QStringList{QStringLiteral("beep"), QStringLiteral("box")}));
    }
    // Gone again: the seam installed before is back.
    QCOMPARE(&dialogs(), before);
}

int runDialogsTest(int argc, char **argv)
{
    DialogsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "dialogstest.moc"
