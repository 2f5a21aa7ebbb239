#pragma once

#include <QColor>

// The colours the windows are drawn in, by the names the layout uses. The
// fixed colours are plain RGB values; the system colours follow the palette
// of the running application (the desktop theme), read at each call so a
// theme change is picked up at the next repaint.
namespace toolkit {

inline QColor clAqua() { return QColor(0, 255, 255); }
inline QColor clRed() { return QColor(255, 0, 0); }
inline QColor clMoneyGreen() { return QColor(192, 220, 192); }

QColor clBtnFace();       // window and button face
QColor clBtnHighlight();  // the lit edge of a raised frame
QColor clBtnShadow();     // the shaded edge of a raised frame
QColor clInfoBk();        // tooltip background
QColor clHighlight();     // selection background
QColor clHighlightText(); // selection text
QColor clWindowText();    // ordinary text

} // namespace toolkit
