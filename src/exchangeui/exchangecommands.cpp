#include "exchangecommands.h"

#include "filechooser.h"
#include "importdialog.h"
#include "progresswindow.h"

#include "backupui/commands.h"
#include "data/kortables.h"
#include "data/regionalsettings.h"
#include "exchange/supportexport.h"
#include "exchange/supportimport.h"
#include "toolkit/dialogs.h"

#include <QDate>

namespace exchangeui {

namespace {

void inform(const QString &text)
{
    toolkit::messageDlg(text, toolkit::MessageKind::Information, toolkit::BoxButton::Ok);
}

// The window's cursors move to the Section; the support view is read anew.
void follow(KorTables &tables, qint64 section)
{
    tables.Table2.Locate(section);
    tables.Table1.First();
}

std::optional<CurrentSection> currentSection(KorTables &tables)
{
    if (tables.Table2.IsEmpty() || tables.Table2N_line->IsNull())
        return std::nullopt;
    return CurrentSection{tables.Table2N_line->AsInteger(), tables.Table2Line->AsString()};
}

} // namespace

void importSupports(QWidget *parent, KorTables &tables)
{
    const std::optional<QString> path = fileChooser().importFile(parent);
    if (!path)
        return;
    const exchange::CsvFormat detected =
        exchange::detectFormat(*path, RegionalSettings::instance().decimalSeparator());
    ImportDialog dialog(*path, detected, currentSection(tables), parent);
    if (dialog.exec() != QDialog::Accepted)
        return;

    const QString alias = tables.Table1.DatabaseName();
    if (dialog.target().replace && !backupui::backupBefore(alias, backup::Reason{backup::Reason::Kind::Import, {}}))
        return;
    exchange::ImportResult result;
    {
        ProgressWindow progress(parent, QStringLiteral("Импорт опор..."));
        result = exchange::writeImport(alias, dialog.plan(), dialog.target(), progress.progress());
    }
    follow(tables, result.section);
    inform(exchange::importSummary(dialog.plan(), result));
    if (!dialog.calculateAfterwards())
        return;
    try {
        exchange::calculateSection(alias, result.section, inform);
    } catch (...) {
        // The calculation's errors end the command; what it wrote before and
        // the imported Supports show.
        follow(tables, result.section);
        throw;
    }
    follow(tables, result.section);
}

void exportSupports(QWidget *parent, KorTables &tables)
{
    const std::optional<CurrentSection> current = currentSection(tables);
    // The Section's name suggests the file's; a "/" in it must not make a path.
    QString suggested = current && !current->name.trimmed().isEmpty() ? current->name.trimmed() : QStringLiteral("участки");
    for (QChar &c : suggested)
        if (c == u'/' || c == u'\\' || c.category() == QChar::Other_Control)
            c = u'_';
    const std::optional<ExportChoice> choice = fileChooser().exportFile(parent, suggested);
    if (!choice)
        return;
    exchange::ExportRequest request;
    request.path = choice->path;
    request.format = choice->format;
    request.regionalDecimal = RegionalSettings::instance().decimalSeparator();
    request.dateLine =
        QStringLiteral("Отчет от ") + QDate::currentDate().toString(RegionalSettings::instance().shortDateFormat());
    ProgressWindow progress(parent, QStringLiteral("Экспорт..."));
    if (choice->allSections)
        exchange::exportSections(tables.Table1.DatabaseName(), std::nullopt, request, progress.progress());
    else
        exchange::exportView(tables.Table1, current ? current->name : QString(), request, progress.progress());
}

} // namespace exchangeui
