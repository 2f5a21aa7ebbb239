#pragma once

class QWidget;

namespace toolkit {

// Makes SIGTERM, SIGINT and SIGHUP (a session ending, a service manager, a
// test harness) close the window as its close box does, so the program ends
// through its ordinary way out instead of being cut off. The signal handler
// itself only writes to a pipe; the window is closed by the event loop.
void closeOnTerminate(QWidget *window);

} // namespace toolkit
