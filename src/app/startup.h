#pragma once

#include <QString>

#include <functional>

class TForm1;

// The program's start-up after the application object exists: the main
// window is created (its cursors open, FormCreate runs), then the report
// form and the support editor, then the main window is shown and `run`
// runs the event loop with it. An error before the loop is shown in the
// last-chance box and gives exit code 1, with no window shown.
int startUp(const std::function<int(TForm1 &)> &run, const QString &alias = QStringLiteral("kor"));
