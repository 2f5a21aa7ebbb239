#pragma once

#include <QFlags>
#include <QList>
#include <QString>

#include <optional>

// Every message box and the beep go through one seam: the program installs
// the Qt implementation (the default), tests install a scripted answerer.
// The boxes themselves are described by pure functions, so a test can check
// caption, icon, text and buttons without showing anything.
namespace toolkit {

enum class BoxIcon { None, Warning, Error, Information, Question };

// Flags, so that a caller names a set of buttons and the order they are
// shown in is the box's own.
enum class BoxButton { None = 0, Yes = 1, No = 2, Ok = 4, Cancel = 8 };
using BoxButtons = QFlags<BoxButton>;

// What a box shows and how it answers the keyboard.
struct BoxDescription
{
    QString caption;
    BoxIcon icon = BoxIcon::None;
    // Line breaks are written "\r" (or "\n"); the box shows either as a new line.
    QString text;
    QList<BoxButton> buttons; // in the order shown, left to right
    BoxButton defaultButton = BoxButton::None; // Enter
    BoxButton cancelButton = BoxButton::None;  // Esc; None: Esc does nothing

    friend bool operator==(const BoxDescription &, const BoxDescription &) = default;
};

// A modal question for a password: the caption, the text above a line edit
// that shows what is typed as dots, and the buttons "OK" and "Отмена".
struct PasswordQuestion
{
    QString caption;
    QString text; // line breaks as in a box's text

    friend bool operator==(const PasswordQuestion &, const PasswordQuestion &) = default;
};

class DialogSeam
{
public:
    virtual ~DialogSeam();
    // Shows the box modally and returns the button pressed; closing the box
    // from its title bar or with Alt+F4 answers Cancel, whether or not a
    // Cancel button is shown.
    virtual BoxButton show(const BoxDescription &box) = 0;
    virtual void beep() = 0;
    // Asks for a password; nullopt when the user cancels (also with the close
    // box or Esc). A seam that cannot ask anybody answers nullopt.
    virtual std::optional<QString> askPassword(const PasswordQuestion &question);
};

// The installed seam; the Qt implementation when none is installed.
DialogSeam &dialogs();
// Installs a seam (not owned) and returns the one installed before (nullptr
// for the default); nullptr restores the Qt implementation.
DialogSeam *installDialogs(DialogSeam *seam);

// The system's four kinds of message box.
enum class MessageKind { Warning, Error, Information, Confirmation };

// "&Yes", "&No", "OK", "Cancel".
QString buttonCaption(BoxButton button);

// The message with a full stop appended when it is not empty and its last
// character's code is greater than that of ".": after a letter, a digit, "?"
// or ":", but not after a blank, "'", ")", "!", ",", "-" or ".".
QString withFullStop(const QString &message);

// A box of one of the four kinds: caption "Warning", "Error", "Information"
// or "Confirm" with its icon; the buttons in the fixed order Yes, No, OK,
// Cancel; default OK, else Yes; cancel Cancel, else No, else OK. An empty set
// shows OK alone, so that no box is left without a button.
BoxDescription messageBox(const QString &text, MessageKind kind, BoxButtons buttons);
// The plain box: the given caption, no icon, "OK".
BoxDescription plainMessageBox(const QString &caption, const QString &text);
// The error box of the event loop: the given caption, the stop icon, "OK",
// and the message with the full-stop rule applied.
BoxDescription errorBox(const QString &caption, const QString &message);

// The same boxes shown through the installed seam; the plain and the error
// box are headed by the application title.
BoxButton messageDlg(const QString &text, MessageKind kind, BoxButtons buttons);
void showPlainMessage(const QString &text);
void showErrorBox(const QString &message);
// The system's default beep.
void beep();
// Asks through the installed seam. Inside a paint (a PaintScope) no window
// may open: the question is asked right after the paint, every window is
// painted again, and the paint that asks the same question then gets the
// answer. Until then the paint gets nullopt (and passwordAfterPaint() says
// why); a declined question stays declined for paints until it is asked
// outside one.
std::optional<QString> askPassword(const PasswordQuestion &question);

// Marks a widget's paint, for askPassword.
class PaintScope
{
public:
    PaintScope();
    ~PaintScope();
    PaintScope(const PaintScope &) = delete;
    PaintScope &operator=(const PaintScope &) = delete;
};
bool painting();
// A password asked for in a paint waits to be asked: a paint that failed
// for want of it says nothing of it.
bool passwordAfterPaint();

} // namespace toolkit

Q_DECLARE_OPERATORS_FOR_FLAGS(toolkit::BoxButtons)
