// The executable: the application object, the floating-point setting, the
// real message boxes and the password dialog of a server alias, then the
// start-up and the event loop.
#include "app/serverpassword.h"
#include "app/startup.h"
#include "calc/fpu.h"
#include "toolkit/application.h"
#include "toolkit/qtdialogs.h"

int main(int argc, char **argv)
{
    toolkit::Application app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral(KOROZIA_APP_ID));
    calc::initFloatingPoint();
    toolkit::QtDialogs qtDialogs;
    toolkit::installDialogs(&qtDialogs);
    installPasswordPrompt(&askServerPassword);
    return startUp([&](TForm1 &) { return app.exec(); });
}
