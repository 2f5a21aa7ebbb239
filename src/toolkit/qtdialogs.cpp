#include "qtdialogs.h"

#include "placement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <cstdio>

namespace toolkit {

namespace {

constexpr int kMargin = 12;
constexpr int kSpacing = 12;
constexpr int kButtonGap = 8;
constexpr int kButtonMinWidth = 75;
constexpr int kButtonMinHeight = 25;
constexpr int kIconSize = 32;
// A fixed-size dialog with a title bar and a close box only.
constexpr Qt::WindowFlags kBoxFlags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
                                      | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

QStyle::StandardPixmap standardPixmap(BoxIcon icon)
{
    switch (icon) {
    case BoxIcon::Warning:
        return QStyle::SP_MessageBoxWarning;
    case BoxIcon::Error:
        return QStyle::SP_MessageBoxCritical;
    case BoxIcon::Information:
        return QStyle::SP_MessageBoxInformation;
    case BoxIcon::Question:
        return QStyle::SP_MessageBoxQuestion;
    case BoxIcon::None:
        break;
    }
    return QStyle::SP_CustomBase;
}

// The texts write line breaks as carriage returns; Qt breaks lines at "\n".
QString shownText(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

QScreen *boxScreen()
{
    if (QWidget *active = QApplication::activeWindow(); active && active->screen())
        return active->screen();
    return QGuiApplication::primaryScreen();
}

class MessageBoxDialog : public QDialog
{
public:
    MessageBoxDialog(const BoxDescription &box, QWidget *parent);

    BoxButton answer() const { return m_answer; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void reject() override;

private:
    void press(BoxButton button);

    QPushButton *m_cancel = nullptr;
    BoxButton m_answer = BoxButton::Cancel;
};

MessageBoxDialog::MessageBoxDialog(const BoxDescription &box, QWidget *parent)
    : QDialog(parent, kBoxFlags)
{
    setObjectName(QStringLiteral("messageBox"));
    setWindowTitle(box.caption);
    setModal(true);

    QScreen *screen = boxScreen();
    const int screenWidth = screen ? screen->availableGeometry().width() : 640;

    auto *top = new QHBoxLayout;
    top->setSpacing(kSpacing);
    if (box.icon != BoxIcon::None) {
        auto *icon = new QLabel(this);
        icon->setObjectName(QStringLiteral("icon"));
        icon->setPixmap(style()->standardIcon(standardPixmap(box.icon), nullptr, this)
                            .pixmap(kIconSize, kIconSize));
        icon->setFixedSize(kIconSize, kIconSize);
        top->addWidget(icon, 0, Qt::AlignTop);
    }
    // The label is sized to the text's own wrapped rectangle: QLabel draws
    // plain text with the same word-wrap rule, so the lines come out the same.
    auto *text = new QLabel(this);
    text->setObjectName(QStringLiteral("text"));
    text->setTextFormat(Qt::PlainText); // user data (a Section's name) is never markup
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text->setText(shownText(box.text));
    const QRect textRect = text->fontMetrics().boundingRect(
        QRect(0, 0, screenWidth / 2, 0), Qt::AlignLeft | Qt::TextWordWrap, text->text());
    text->setFixedSize(std::min(textRect.width(), screenWidth / 2), textRect.height());
    top->addWidget(text, 0, Qt::AlignTop);
    top->addStretch(1); // the text stays next to the icon when the buttons are wider

    auto *row = new QHBoxLayout;
    row->setSpacing(kButtonGap);
    row->addStretch(1);
    QList<QPushButton *> buttons;
    int width = kButtonMinWidth;
    int height = kButtonMinHeight;
    for (BoxButton button : box.buttons) {
        auto *push = new QPushButton(buttonCaption(button), this);
        push->setProperty("boxButton", int(button));
        connect(push, &QPushButton::clicked, this, [this, button] { press(button); });
        width = std::max(width, push->sizeHint().width());
        height = std::max(height, push->sizeHint().height());
        buttons.append(push);
        row->addWidget(push);
        if (button == box.cancelButton)
            m_cancel = push;
    }
    row->addStretch(1);
    QPushButton *first = buttons.isEmpty() ? nullptr : buttons.first();
    for (QPushButton *push : buttons) {
        push->setFixedSize(width, height);
        if (push->property("boxButton").toInt() == int(box.defaultButton)) {
            push->setDefault(true);
            first = push;
        }
    }
    // Focus on the default button, so Enter presses it; moving the focus
    // with Tab makes Enter press the focused button, as everywhere else.
    if (first)
        first->setFocus(Qt::OtherFocusReason);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    layout->setSpacing(kSpacing + 4);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addLayout(top);
    layout->addLayout(row);
}

void MessageBoxDialog::press(BoxButton button)
{
    m_answer = button;
    done(QDialog::Accepted);
}

void MessageBoxDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        // Esc presses the cancel button; with none it does nothing (QDialog
        // would reject, which here means the close box's Cancel).
        if (m_cancel)
            m_cancel->click();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_F4 && event->modifiers() == Qt::AltModifier) {
        // Usually the window manager's, but not every desktop binds it.
        close();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void MessageBoxDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (QScreen *screen = boxScreen())
        centreWindow(this, screen->availableGeometry());
}

// The close box, Alt+F4 and anything else that rejects the dialog.
void MessageBoxDialog::reject()
{
    m_answer = BoxButton::Cancel;
    QDialog::reject();
}

// The question for a password. What is typed is shown as dots; "OK" stays
// disabled while the line is empty (a server takes no empty password).
class PasswordDialog : public QDialog
{
public:
    PasswordDialog(const PasswordQuestion &question, QWidget *parent);

    QString password() const { return m_edit->text(); }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLineEdit *m_edit = nullptr;
};

PasswordDialog::PasswordDialog(const PasswordQuestion &question, QWidget *parent)
    : QDialog(parent, kBoxFlags)
{
    setObjectName(QStringLiteral("passwordBox"));
    setWindowTitle(question.caption);
    setModal(true);

    auto *text = new QLabel(this);
    text->setObjectName(QStringLiteral("text"));
    text->setTextFormat(Qt::PlainText); // names from the configuration are never markup
    text->setWordWrap(true);
    text->setText(shownText(question.text));
    const QRect textRect = text->fontMetrics().boundingRect(QRect(0, 0, 360, 0), Qt::AlignLeft | Qt::TextWordWrap,
                                                            text->text());
    text->setFixedWidth(std::max(textRect.width(), 240));

    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("password"));
    m_edit->setEchoMode(QLineEdit::Password);

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    auto *cancel = new QPushButton(QStringLiteral("Отмена"), this);
    ok->setDefault(true);
    ok->setEnabled(false);
    for (QPushButton *push : {ok, cancel})
        push->setFixedSize(std::max(kButtonMinWidth, std::max(ok->sizeHint().width(), cancel->sizeHint().width())),
                           std::max(kButtonMinHeight, ok->sizeHint().height()));
    connect(m_edit, &QLineEdit::textChanged, ok, [ok](const QString &typed) { ok->setEnabled(!typed.isEmpty()); });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *row = new QHBoxLayout;
    row->setSpacing(kButtonGap);
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(cancel);
    row->addStretch(1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    layout->setSpacing(kSpacing);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(text);
    layout->addWidget(m_edit);
    layout->addSpacing(4);
    layout->addLayout(row);
    m_edit->setFocus(Qt::OtherFocusReason);
}

void PasswordDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (QScreen *screen = boxScreen())
        centreWindow(this, screen->availableGeometry());
}

} // namespace

BoxButton QtDialogs::show(const BoxDescription &box)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        const QByteArray line = (box.caption + QStringLiteral(": ") + box.text).toLocal8Bit();
        std::fputs(line.constData(), stderr);
        std::fputc('\n', stderr);
        return box.cancelButton != BoxButton::None ? box.cancelButton : BoxButton::Cancel;
    }
    // The active window owns the box, so the box stays above it; the box is
    // deleted by its owner if that goes away while the box is open.
    QPointer<MessageBoxDialog> dialog = new MessageBoxDialog(box, QApplication::activeWindow());
    dialog->exec();
    if (!dialog)
        return BoxButton::Cancel;
    const BoxButton answer = dialog->answer();
    delete dialog;
    return answer;
}

void QtDialogs::beep()
{
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        QApplication::beep();
}

std::optional<QString> QtDialogs::askPassword(const PasswordQuestion &question)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return std::nullopt;
    QPointer<PasswordDialog> dialog = new PasswordDialog(question, QApplication::activeWindow());
    const int result = dialog->exec();
    if (!dialog)
        return std::nullopt;
    std::optional<QString> password;
    if (result == QDialog::Accepted)
        password = dialog->password();
    delete dialog;
    return password;
}

} // namespace toolkit
