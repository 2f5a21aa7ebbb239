#pragma once

#include "dialogs.h"

namespace toolkit {

// The real boxes: a modal dialog centred on the screen with the icon, the
// text wrapped to at most half the screen's width and a centred row of
// equal-width buttons in the given order. Enter presses the default button
// (the one focused when the box opens), Esc the cancel button (nothing when
// there is none), the close box and Alt+F4 answer Cancel.
//
// It is not QMessageBox: that one orders the buttons by the platform's
// conventions and lets the close box press the Esc button.
//
// Without a QApplication (a failure before it exists) the box is written to
// the standard error stream instead and answers its cancel button, so that
// nothing destructive follows from a box nobody saw.
class QtDialogs : public DialogSeam
{
public:
    BoxButton show(const BoxDescription &box) override;
    void beep() override;
    // A small dialog owned by the active window (centred on the screen when
    // there is none, as at start-up): the text, a password line edit with the
    // focus, "OK" (default) and "Отмена". Without a QApplication nobody can
    // be asked: nullopt.
    std::optional<QString> askPassword(const PasswordQuestion &question) override;
};

} // namespace toolkit
