#include "startup.h"

#include "korozia.h"

#include "backupui/commands.h"
#include "toolkit/guard.h"

#include <QTimer>

#include "toolkit/lastchance.h"
#include "toolkit/terminate.h"

#include <exception>

int startUp(const std::function<int(TForm1 &)> &run, const QString &alias)
{
    try {
        TForm1 form1(alias); // opens Table1, then Table2, and runs FormCreate
        form1.createForms(); // TQRListForm, then TForm2, both hidden
        form1.show();
        toolkit::closeOnTerminate(&form1);
        // Once the event loop runs, so that the window is up first.
        QTimer::singleShot(0, &form1, [&form1] {
            toolkit::runGuarded([&form1] { backupui::backupAtStartUp(form1.Table1.DatabaseName()); });
        });
        return run(form1);
    } catch (const std::exception &e) {
        return toolkit::lastChance(e);
    }
}
