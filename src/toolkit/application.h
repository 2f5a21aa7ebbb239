#pragma once

#include <QApplication>

#include <functional>

namespace toolkit {

// The program's application object. It takes the application title from the
// executable, registers the stand-ins for the original fonts, sets the
// classic "Windows" widget style the windows are laid out for and the default
// window font, and is the event loop's last line of defence: an exception
// that escapes an event handler is shown in the error box (nothing for a
// silent abort) and the loop goes on with the next event.
class Application : public QApplication
{
    Q_OBJECT

public:
    Application(int &argc, char **argv);
    ~Application() override;

    // The running application object, or nullptr when the application is not one of these.
    static Application *instance();

    // The name of the executable without its folder, cut at its first ".",
    // every character after the first in lower case.
    const QString &title() const { return m_title; }
    static QString titleFromFileName(const QString &path);

    // Runs when the user's regional settings change, so the number formats
    // can read them again.
    void setLocaleChangeHandler(std::function<void()> handler);

    bool notify(QObject *receiver, QEvent *event) override;

protected:
    bool event(QEvent *event) override;

private:
    QString m_title;
    std::function<void()> m_onLocaleChange;
};

// The title of the running Application; before one exists (or in a program
// without one) the same rule applied to the executable's name.
QString applicationTitle();

// The full path of the running executable.
QString executablePath();

// "MS Sans Serif" and "Arial" → "Liberation Sans", "Times New Roman" →
// "Liberation Serif", "Courier New" → "Liberation Mono": the code keeps naming
// the original families. Application registers them; safe to call again.
void registerFontSubstitutions();

} // namespace toolkit
