// korozia-admin: the program's commands for scripts and scheduled jobs.
#include "admin/commandline.h"
#include "admin/terminalpassword.h"
#include "calc/fpu.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    calc::initFloatingPoint();
    store::setPasswordPrompt(&admin::askOnTerminal);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int code = admin::runAdmin(app.arguments().mid(1), out, err);
    out.flush();
    err.flush();
    return code;
}
