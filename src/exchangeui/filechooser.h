#pragma once

#include "exchange/supportexport.h"

#include <QString>

#include <optional>

class QWidget;

namespace exchangeui {

// What the export's save dialog returns: the file, its type and whether
// every Section is to be written or only what the support grid shows.
struct ExportChoice
{
    QString path;
    exchange::ExportFormat format = exchange::ExportFormat::Xlsx;
    bool allSections = false;
};

// The file dialogs of the import and the export go through one seam: the
// program uses the Qt dialogs (the default), tests install their own, so no
// test waits on a modal file dialog.
class FileChooser
{
public:
    virtual ~FileChooser();
    // "Импорт опор": a CSV, TXT or TSV file to read; nullopt when cancelled.
    virtual std::optional<QString> importFile(QWidget *parent) = 0;
    // "Экспорт": the file to write, its type and the Sections; nullopt when cancelled.
    virtual std::optional<ExportChoice> exportFile(QWidget *parent, const QString &suggestedName) = 0;
};

// The installed chooser; the Qt dialogs when none is installed.
FileChooser &fileChooser();
// Installs a chooser (not owned) and returns the one installed before
// (nullptr for the default); nullptr restores the Qt dialogs.
FileChooser *installFileChooser(FileChooser *chooser);

} // namespace exchangeui
