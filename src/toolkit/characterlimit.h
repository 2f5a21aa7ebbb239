#pragma once

class QLineEdit;

namespace toolkit {

// Limits an edit box to a number of characters (Unicode code points), as the
// field objects count them: QLineEdit's own limit counts UTF-16 units, which
// lets half as many emoji in and can split one in two. Longer text, typed or
// pasted, is cut to whole characters.
void limitCharacters(QLineEdit *edit, int characters);

} // namespace toolkit
