// The backup tests' child, on alias "kor" of the folders its environment
// names. It opens the alias as a copy of the program does and says "ready";
// then "hold" waits to be killed, and "loop" takes backups one after another
// (a line "B" after each) until it is killed.
#include "backup/take.h"
#include "data/kortables.h"

#include <QCoreApplication>
#include <unistd.h>

namespace {

void say(const char *line)
{
    if (::write(STDOUT_FILENO, line, strlen(line)) <= 0)
        ::_exit(3); // the test has gone
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    KorTables db;
    db.open();
    say("ready\n");
    if (app.arguments().value(1) == QLatin1String("hold")) {
        for (;;)
            ::pause();
    }
    for (;;) {
        backup::takeBackup(QStringLiteral("kor"), backup::Reason{});
        say("B\n");
    }
}
