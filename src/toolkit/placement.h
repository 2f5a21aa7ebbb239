#pragma once

#include <QRect>

class QWidget;

namespace toolkit {

// Centres a top-level window, its frame included, on an area of the desktop
// (a screen's available area, or all screens together). Call it while the
// window is being shown. The window manager adds the frame only once the
// window is mapped, so until then the frame of the last framed window stands
// in for it; when the window is first exposed with its own frame, it is
// centred again by that frame if it differs. Without a window manager there
// is no frame and the window is centred as it is.
void centreWindow(QWidget *window, const QRect &area);

} // namespace toolkit
