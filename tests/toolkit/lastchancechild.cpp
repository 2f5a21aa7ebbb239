// A tiny program shaped like the real start-up, run as a child process by the
// last-chance test. Its first argument says how it shows its boxes:
//   answering  a seam that prints each box on standard output and answers at once;
//   qt         the real Qt box, found and answered by a timer;
//   no-app     the failure comes before the application object exists;
//   title      prints the application title and exits with 0.
#include "store/error.h"
#include "toolkit/application.h"
#include "toolkit/dialogs.h"
#include "toolkit/lastchance.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>

namespace {

void print(const QString &line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString iconName(toolkit::BoxIcon icon)
{
    return icon == toolkit::BoxIcon::Error ? QStringLiteral("stop") : QStringLiteral("other");
}

class AnsweringDialogs : public toolkit::DialogSeam
{
public:
    toolkit::BoxButton show(const toolkit::BoxDescription &box) override
    {
        QStringList buttons;
        for (toolkit::BoxButton button : box.buttons)
            buttons << toolkit::buttonCaption(button);
        print(box.caption + u'|' + iconName(box.icon) + u'|' + buttons.join(u',') + u'|'
              + box.text);
        return box.defaultButton;
    }
    void beep() override {}
};

[[noreturn]] void failStartUp()
{
    throw store::StoreError(QStringLiteral("Cannot open the table \"line.db\""));
}

// Reads the real box while it shows and presses Enter on it.
void answerQtBox()
{
    QWidget *box = QApplication::activeModalWidget();
    if (!box) {
        print(QStringLiteral("no modal box"));
        return;
    }
    QStringList buttons;
    for (QPushButton *button : box->findChildren<QPushButton *>())
        buttons << button->text();
    const auto *text = box->findChild<QLabel *>(QStringLiteral("text"));
    const bool hasIcon = box->findChild<QLabel *>(QStringLiteral("icon")) != nullptr;
    print(box->windowTitle() + u'|' + (hasIcon ? QStringLiteral("stop") : QStringLiteral("none"))
          + u'|' + buttons.join(u',') + u'|' + (text ? text->text() : QString()));
    QWidget *focus = box->focusWidget() ? box->focusWidget() : box;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(focus, &press);
    QApplication::sendEvent(focus, &release);
}

} // namespace

int main(int argc, char **argv)
{
    const char *mode = argc > 1 ? argv[1] : "answering";
    if (std::strcmp(mode, "no-app") == 0) {
        try {
            failStartUp();
        } catch (const std::exception &e) {
            return toolkit::lastChance(e);
        }
    }

    toolkit::Application app(argc, argv);
    AnsweringDialogs answering;
    if (std::strcmp(mode, "qt") == 0)
        QTimer::singleShot(0, &answerQtBox);
    else
        toolkit::installDialogs(&answering);
    try {
        if (std::strcmp(mode, "title") == 0) {
            print(app.title() + u'|' + toolkit::applicationTitle());
            return 0;
        }
        QWidget window;
        failStartUp();
        window.show();
        return app.exec();
    } catch (const std::exception &e) {
        return toolkit::lastChance(e);
    }
}
