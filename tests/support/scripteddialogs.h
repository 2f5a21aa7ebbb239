#pragma once

#include "toolkit/dialogs.h"

#include <QList>
#include <QStringList>

#include <functional>

// The dialog seam of the GUI tests. While it lives it is the installed seam:
// it records every box and every beep, and answers each box from a queue the
// test fills beforehand. A box with no answer left, or with an answer it
// could not give (a button it does not show), fails the current test and
// answers the box's cancel button: nothing ever waits for a user. Answers
// left over when it goes away fail the test as well.
class ScriptedDialogs : public toolkit::DialogSeam
{
public:
    // Decides the answer from the box itself (for checks made while it shows).
    using Answerer = std::function<toolkit::BoxButton(const toolkit::BoxDescription &)>;

    ScriptedDialogs();
    ~ScriptedDialogs() override;
    ScriptedDialogs(const ScriptedDialogs &) = delete;
    ScriptedDialogs &operator=(const ScriptedDialogs &) = delete;

    // Queues the answer to the next box; Cancel is the close box, always possible.
    void answer(toolkit::BoxButton button);
    void answer(Answerer answerer);
    // Queues the answer to the next password question; nullopt is "Отмена".
    void answerPassword(std::optional<QString> password);

    const QList<toolkit::BoxDescription> &boxes() const { return m_boxes; }
    const QList<toolkit::PasswordQuestion> &passwordQuestions() const { return m_questions; }
    int beeps() const { return m_beeps; }
    // "beep", "box" and "password" in the order they came, for checks of "beep first".
    const QStringList &events() const { return m_events; }
    int pendingAnswers() const { return int(m_answers.size() + m_passwords.size()); }
    void clear();

    toolkit::BoxButton show(const toolkit::BoxDescription &box) override;
    void beep() override;
    std::optional<QString> askPassword(const toolkit::PasswordQuestion &question) override;

private:
    toolkit::DialogSeam *m_previous = nullptr;
    QList<Answerer> m_answers;
    QList<toolkit::BoxDescription> m_boxes;
    QList<std::optional<QString>> m_passwords;
    QList<toolkit::PasswordQuestion> m_questions;
    QStringList m_events;
    int m_beeps = 0;
};

// Readable values in QCOMPARE failure messages.
namespace toolkit {
char *toString(BoxButton button);
char *toString(BoxIcon icon);
char *toString(const BoxDescription &box);
QString describe(const BoxDescription &box);
} // namespace toolkit
