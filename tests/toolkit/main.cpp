// The toolkit's tests share one application object: the program's own, so
// the title, fonts, style and event-loop error handling are the real ones.
#include "toolkit/application.h"

int runDialogsTest(int argc, char **argv);
int runQtBoxTest(int argc, char **argv);
int runApplicationTest(int argc, char **argv);
int runGuardTest(int argc, char **argv);
int runLastChanceTest(int argc, char **argv);
int runTerminateTest(int argc, char **argv);

int main(int argc, char **argv)
{
    toolkit::Application app(argc, argv);
    int failures = 0;
    for (auto run : {runDialogsTest, runQtBoxTest, runApplicationTest, runGuardTest,
                     runLastChanceTest, runTerminateTest}) {
        failures += run(argc, argv);
    }
    return failures;
}
