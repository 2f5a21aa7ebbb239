#pragma once

class KorTables;
class QWidget;

namespace exchangeui {

// "Импорт опор...": the file dialog, the import dialog, the writing with its
// progress, the summary, and the calculation when asked for. Afterwards the
// window's cursors stand on the target Section, so the section list, the
// caption and the support grid show it.
void importSupports(QWidget *parent, KorTables &tables);

// "Экспорт...": the save dialog and the writing of the file: the support
// grid's rows of the current Section (the leakage filter applies) or every
// Section of the alias with all of its Supports.
void exportSupports(QWidget *parent, KorTables &tables);

} // namespace exchangeui
