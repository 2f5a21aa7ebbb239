#include "dialogs.h"

#include "application.h"
#include "qtdialogs.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace toolkit {

namespace {

DialogSeam *installedSeam = nullptr;

int paintDepth = 0;

// The question a paint could not ask, and its answer once asked.
struct PasswordAfterPaint
{
    PasswordQuestion question;
    std::optional<QString> answer;
    bool waiting = false;
    bool answered = false;
};
PasswordAfterPaint afterPaint;

// The shown order, whatever order a caller names the buttons in.
constexpr BoxButton kButtonOrder[] = {BoxButton::Yes, BoxButton::No, BoxButton::Ok,
                                      BoxButton::Cancel};

BoxDescription singleOkBox(const QString &caption, BoxIcon icon, const QString &text)
{
    return BoxDescription{caption, icon, text, {BoxButton::Ok}, BoxButton::Ok, BoxButton::Ok};
}

} // namespace

DialogSeam::~DialogSeam() = default;

std::optional<QString> DialogSeam::askPassword(const PasswordQuestion &)
{
    return std::nullopt;
}

DialogSeam &dialogs()
{
    if (installedSeam)
        return *installedSeam;
    static QtDialogs qtDialogs;
    return qtDialogs;
}

DialogSeam *installDialogs(DialogSeam *seam)
{
    DialogSeam *previous = installedSeam;
    installedSeam = seam;
    return previous;
}

QString buttonCaption(BoxButton button)
{
    switch (button) {
    case BoxButton::Yes:
        return QStringLiteral("&Yes");
    case BoxButton::No:
        return QStringLiteral("&No");
    case BoxButton::Ok:
        return QStringLiteral("OK");
    case BoxButton::Cancel:
        return QStringLiteral("Cancel");
    case BoxButton::None:
        break;
    }
    return QString();
}

QString withFullStop(const QString &message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

BoxDescription messageBox(const QString &text, MessageKind kind, BoxButtons buttons)
{
    BoxDescription box;
    switch (kind) {
    case MessageKind::Warning:
        box.caption = QStringLiteral("Warning");
        box.icon = BoxIcon::Warning;
        break;
    case MessageKind::Error:
        box.caption = QStringLiteral("Error");
        box.icon = BoxIcon::Error;
        break;
    case MessageKind::Information:
        box.caption = QStringLiteral("Information");
        box.icon = BoxIcon::Information;
        break;
    case MessageKind::Confirmation:
        box.caption = QStringLiteral("Confirm");
        box.icon = BoxIcon::Question;
        break;
    }
    box.text = text;
    if (!(buttons & (BoxButton::Yes | BoxButton::No | BoxButton::Ok | BoxButton::Cancel)))
        buttons = BoxButton::Ok;
    for (BoxButton button : kButtonOrder) {
        if (buttons.testFlag(button))
            box.buttons.append(button);
    }
    if (buttons.testFlag(BoxButton::Ok))
        box.defaultButton = BoxButton::Ok;
    else if (buttons.testFlag(BoxButton::Yes))
        box.defaultButton = BoxButton::Yes;
    if (buttons.testFlag(BoxButton::Cancel))
        box.cancelButton = BoxButton::Cancel;
    else if (buttons.testFlag(BoxButton::No))
        box.cancelButton = BoxButton::No;
    else if (buttons.testFlag(BoxButton::Ok))
        box.cancelButton = BoxButton::Ok;
    return box;
}

BoxDescription plainMessageBox(const QString &caption, const QString &text)
{
    return singleOkBox(caption, BoxIcon::None, text);
}

BoxDescription errorBox(const QString &caption, const QString &message)
{
    return singleOkBox(caption, BoxIcon::Error, withFullStop(message));
}

BoxButton messageDlg(const QString &text, MessageKind kind, BoxButtons buttons)
{
    return dialogs().show(messageBox(text, kind, buttons));
}

void showPlainMessage(const QString &text)
{
    dialogs().show(plainMessageBox(applicationTitle(), text));
}

void showErrorBox(const QString &message)
{
    dialogs().show(errorBox(applicationTitle(), message));
}

void beep()
{
    dialogs().beep();
}

std::optional<QString> askPassword(const PasswordQuestion &question)
{
    if (paintDepth == 0) {
        afterPaint = {};
        return dialogs().askPassword(question);
    }
    if (afterPaint.answered && afterPaint.question == question) {
        const std::optional<QString> answer = afterPaint.answer;
        if (answer)
            afterPaint = {};
        return answer;
    }
    if (!afterPaint.waiting && QCoreApplication::instance()) {
        afterPaint = {question, std::nullopt, true, false};
        QTimer::singleShot(0, QCoreApplication::instance(), [] {
            const PasswordQuestion asked = afterPaint.question;
            const std::optional<QString> answer = dialogs().askPassword(asked);
            afterPaint = {asked, answer, false, true};
            for (QWidget *widget : QApplication::allWidgets())
                widget->update();
        });
    }
    return std::nullopt;
}

PaintScope::PaintScope()
{
    ++paintDepth;
}

PaintScope::~PaintScope()
{
    --paintDepth;
}

bool painting()
{
    return paintDepth > 0;
}

bool passwordAfterPaint()
{
    return afterPaint.waiting;
}

} // namespace toolkit
