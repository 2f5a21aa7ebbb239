#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

// The printable characters an edit box bound to a field admits as typed keys.
// A refused key is dropped with a beep by the box; control keys and pasted
// text are never filtered. A text field admits every character (up to its
// size), so it needs no set.
namespace keyfilter {

// Digits, "+", "-", "E", "e" and the decimal separator. The bound box builds
// this once, when its field object is created, so it keeps the separator of
// that moment.
QString floatKeys(QChar decimalSeparator);
// Digits, "+" and "-".
QString smallintKeys();
// Whether a typed printable character belongs to an admitted set.
inline bool admits(QStringView keys, QChar key) { return keys.contains(key); }

} // namespace keyfilter
