#include "scripteddialogs.h"

#include <QTest>

using toolkit::BoxButton;
using toolkit::BoxDescription;
using toolkit::BoxIcon;

namespace {

const char *buttonName(BoxButton button)
{
    switch (button) {
    case BoxButton::None: return "None";
    case BoxButton::Yes: return "Yes";
    case BoxButton::No: return "No";
    case BoxButton::Ok: return "Ok";
    case BoxButton::Cancel: return "Cancel";
    }
    return "?";
}

const char *iconName(BoxIcon icon)
{
    switch (icon) {
    case BoxIcon::None: return "None";
    case BoxIcon::Warning: return "Warning";
    case BoxIcon::Error: return "Error";
    case BoxIcon::Information: return "Information";
    case BoxIcon::Question: return "Question";
    }
    return "?";
}

BoxButton fallbackAnswer(const BoxDescription &box)
{
    return box.cancelButton != BoxButton::None ? box.cancelButton : BoxButton::Cancel;
}

} // namespace

namespace toolkit {

char *toString(BoxButton button)
{
    return qstrdup(buttonName(button));
}

char *toString(BoxIcon icon)
{
    return qstrdup(iconName(icon));
}

QString describe(const BoxDescription &box)
{
    QStringList buttons;
    for (BoxButton button : box.buttons)
        buttons << QString::fromLatin1(buttonName(button));
    return QStringLiteral("[%1 | %2 | \"%3\" | %4 | default %5 | cancel %6]")
        .arg(box.caption, QString::fromLatin1(iconName(box.icon)), box.text,
             buttons.join(u','), QString::fromLatin1(buttonName(box.defaultButton)),
             QString::fromLatin1(buttonName(box.cancelButton)));
}

char *toString(const BoxDescription &box)
{
    return qstrdup(describe(box).toUtf8().constData());
}

} // namespace toolkit

ScriptedDialogs::ScriptedDialogs()
    : m_previous(toolkit::installDialogs(this))
{
}

ScriptedDialogs::~ScriptedDialogs()
{
    toolkit::installDialogs(m_previous);
    if (pendingAnswers() > 0 && !QTest::currentTestFailed()) {
        const QByteArray message = QByteArray::number(pendingAnswers())
                                   + " scripted answer(s) were never asked for";
        QTest::qFail(message.constData(), __FILE__, __LINE__);
    }
}

void ScriptedDialogs::answer(BoxButton button)
{
    m_answers.append([button](const BoxDescription &) { return button; });
}

void ScriptedDialogs::answer(Answerer answerer)
{
    m_answers.append(std::move(answerer));
}

void ScriptedDialogs::answerPassword(std::optional<QString> password)
{
    m_passwords.append(std::move(password));
}

void ScriptedDialogs::clear()
{
    m_answers.clear();
    m_passwords.clear();
    m_questions.clear();
    m_boxes.clear();
    m_events.clear();
    m_beeps = 0;
}

BoxButton ScriptedDialogs::show(const BoxDescription &box)
{
    m_boxes.append(box);
    m_events.append(QStringLiteral("box"));
    if (m_answers.isEmpty()) {
        const QByteArray message = "A message box came up with no scripted answer: "
                                   + toolkit::describe(box).toUtf8();
        QTest::qFail(message.constData(), __FILE__, __LINE__);
        return fallbackAnswer(box);
    }
    const BoxButton answer = m_answers.takeFirst()(box);
    if (answer != BoxButton::Cancel && !box.buttons.contains(answer)) {
        const QByteArray message = QByteArray("The scripted answer ") + buttonName(answer)
                                   + " is not a button of " + toolkit::describe(box).toUtf8();
        QTest::qFail(message.constData(), __FILE__, __LINE__);
        return fallbackAnswer(box);
    }
    return answer;
}

void ScriptedDialogs::beep()
{
    ++m_beeps;
    m_events.append(QStringLiteral("beep"));
}

std::optional<QString> ScriptedDialogs::askPassword(const toolkit::PasswordQuestion &question)
{
    m_questions.append(question);
    m_events.append(QStringLiteral("password"));
    if (toolkit::painting()) {
        QTest::qFail("A password was asked for from inside a paint", __FILE__, __LINE__);
        return std::nullopt;
    }
    if (m_passwords.isEmpty()) {
        const QByteArray message = "A password was asked for with no scripted answer: " + question.text.toUtf8();
        QTest::qFail(message.constData(), __FILE__, __LINE__);
        return std::nullopt;
    }
    return m_passwords.takeFirst();
}
