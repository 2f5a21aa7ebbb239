// The commands "export" and "import": the menu's export and import for scripts.
#include "commandline.h"

#include "backup/take.h"

#include "data/kortables.h"
#include "data/regionalsettings.h"
#include "exchange/sections.h"
#include "exchange/supportexport.h"
#include "exchange/supportimport.h"

#include <QDate>

namespace admin {

namespace {

const OptionDef kAlias{QStringLiteral("alias"), QStringLiteral("ПСЕВДОНИМ"),
                        QStringLiteral("псевдоним базы (по умолчанию kor)")};

QString fileArgument(const ParsedOptions &options)
{
    if (options.positional().size() != 1)
        throw UsageError(options.positional().isEmpty() ? QStringLiteral("не указан файл")
                                                        : QStringLiteral("файл должен быть один"));
    return options.positional().first();
}

QString aliasOf(const ParsedOptions &options)
{
    const QString alias = options.value(QStringLiteral("alias"), QStringLiteral("kor"));
    if (alias.isEmpty())
        throw UsageError(QStringLiteral("пустой псевдоним"));
    return alias;
}

char separatorOf(const ParsedOptions &options, char fallback)
{
    if (!options.isSet(QStringLiteral("separator")))
        return fallback;
    const std::optional<char> s = exchange::separatorFromName(options.value(QStringLiteral("separator")));
    if (!s)
        throw UsageError(QStringLiteral("разделитель — «;», «,» или tab"));
    return *s;
}

int runExport(const ParsedOptions &options, QTextStream &out, QTextStream &)
{
    const bool all = options.isSet(QStringLiteral("all"));
    const bool one = options.isSet(QStringLiteral("section"));
    if (all == one)
        throw UsageError(QStringLiteral("укажите либо --section ИМЯ, либо --all"));
    const QString path = fileArgument(options);
    const char separator = separatorOf(options, ';');
    if (separator == '\t')
        throw UsageError(QStringLiteral("экспорт CSV пишет разделитель «;» или «,»"));
    const std::optional<exchange::ExportFormat> format = exchange::formatForPath(path, separator);
    if (!format)
        throw UsageError(QStringLiteral("формат файла задаёт его расширение: .csv или .xlsx"));
    if (*format == exchange::ExportFormat::Xlsx && options.isSet(QStringLiteral("separator")))
        throw UsageError(QStringLiteral("--separator относится только к файлам .csv"));

    const QString alias = aliasOf(options);
    std::optional<qint64> section;
    if (one) {
        KorTables db(alias);
        db.open();
        section = exchange::findSection(db, options.value(QStringLiteral("section"))).number;
    }
    exchange::ExportRequest request;
    request.path = path;
    request.format = *format;
    request.regionalDecimal = RegionalSettings::instance().decimalSeparator();
    request.dateLine =
        QStringLiteral("Отчет от ") + QDate::currentDate().toString(RegionalSettings::instance().shortDateFormat());
    const qint64 rows = exchange::exportSections(alias, section, request);
    out << QStringLiteral("Экспортировано опор: %1 в файл %2\n").arg(rows).arg(path);
    return Success;
}

int runImport(const ParsedOptions &options, QTextStream &out, QTextStream &err)
{
    if (!options.isSet(QStringLiteral("section")))
        throw UsageError(QStringLiteral("не указан участок (--section ИМЯ)"));
    const QString path = fileArgument(options);
    const QString alias = aliasOf(options);
    const QString sectionName = options.value(QStringLiteral("section"));

    // The command line is checked whole before the file is opened.
    std::optional<exchange::Encoding> encoding;
    if (options.isSet(QStringLiteral("encoding"))) {
        encoding = exchange::encodingFromName(options.value(QStringLiteral("encoding")));
        if (!encoding)
            throw UsageError(QStringLiteral("кодировка — utf-8, utf-8-bom, windows-1251 или utf-16"));
    }
    const std::optional<char> separator =
        options.isSet(QStringLiteral("separator")) ? std::optional<char>(separatorOf(options, ';')) : std::nullopt;
    std::optional<QChar> decimal;
    if (options.isSet(QStringLiteral("decimal"))) {
        const QString d = options.value(QStringLiteral("decimal"));
        if (d != QLatin1String(",") && d != QLatin1String("."))
            throw UsageError(QStringLiteral("десятичный разделитель — «,» или «.»"));
        decimal = d.front();
    }

    exchange::CsvFormat format = exchange::detectFormat(path, RegionalSettings::instance().decimalSeparator());
    format.encoding = encoding.value_or(format.encoding);
    format.separator = separator.value_or(format.separator);
    format.decimal = decimal.value_or(format.decimal);

    exchange::ImportTarget target;
    target.replace = options.isSet(QStringLiteral("replace"));
    {
        KorTables db(alias);
        db.open();
        if (const std::optional<exchange::SectionInfo> found = exchange::findSectionIfAny(db, sectionName))
            target.section = found->number;
        else if (options.isSet(QStringLiteral("create")))
            target.newSectionName = sectionName;
        else
            throw exchange::ExchangeError(
                QStringLiteral("Участка «%1» нет (--create создаёт новый участок с этим именем)").arg(sectionName));
    }

    exchange::ImportSettings settings;
    settings.format = format;
    const exchange::CsvPreview preview = exchange::readPreview(path, format);
    settings.columns = exchange::defaultMapping(preview, format.headings);
    if (const QStringList skipped = exchange::skippedHeadings(preview, settings.columns); !skipped.isEmpty())
        err << QStringLiteral("korozia-admin import: не импортируются столбцы, названия которых не узнаны или "
                              "повторяются: «%1»\n")
                   .arg(skipped.join(QStringLiteral("», «")));
    const exchange::ImportPlan plan = exchange::checkImport(path, settings);
    if (!plan.ok()) {
        err << plan.problemReport() << u'\n';
        throw exchange::ExchangeError(QStringLiteral("в файле %1: ничего не записано")
                                          .arg(exchange::countText(plan.problemCount, QStringLiteral("ошибка"),
                                                                   QStringLiteral("ошибки"),
                                                                   QStringLiteral("ошибок"))));
    }
    // The Supports a replacing import deletes can be brought back from this backup.
    if (target.replace && !options.isSet(QStringLiteral("no-backup"))) {
        try {
            backup::takeBackup(alias, backup::Reason{backup::Reason::Kind::Import, {}});
        } catch (const backup::BackupError &e) {
            throw exchange::ExchangeError(QStringLiteral("не удалось создать резервную копию: %1; ничего не записано "
                                                         "(--no-backup заменяет опоры без копии)")
                                              .arg(e.message()));
        }
    }
    const exchange::ImportResult result = exchange::writeImport(alias, plan, target);
    out << exchange::importSummary(plan, result).replace(u'\r', u'\n') << u'\n';
    if (!options.isSet(QStringLiteral("calculate")))
        return Success;
    QString message;
    try {
        exchange::calculateSection(alias, result.section, [&](const QString &text) { message = text; });
    } catch (const SystemError &e) {
        message = e.message();
    }
    if (message.isEmpty())
        return Success;
    err << QStringLiteral("korozia-admin import: опоры импортированы, но расчёт не выполнен: %1\n").arg(message);
    return Failure;
}

int runBackup(const ParsedOptions &options, QTextStream &out, QTextStream &)
{
    if (!options.positional().isEmpty())
        throw UsageError(QStringLiteral("команда backup не принимает файлов"));
    const QString alias = aliasOf(options);
    // Registered as a copy of the program while the tables are copied.
    KorTables db(alias);
    db.open();
    try {
        const backup::BackupInfo made = backup::takeBackup(alias, backup::Reason{});
        out << QStringLiteral("Резервная копия: %1 (участков: %2, опор: %3)\n")
                   .arg(made.path)
                   .arg(made.sections)
                   .arg(made.supports);
    } catch (const backup::BackupError &e) {
        throw backup::BackupError(QStringLiteral("не удалось создать резервную копию: ") + e.message());
    }
    return Success;
}

} // namespace

const QList<Command> &commands()
{
    static const QList<Command> list{
        {QStringLiteral("export"), QStringLiteral("[--alias kor] (--section ИМЯ | --all) [--separator ';'|','] ФАЙЛ"),
         QStringLiteral("Пишет опоры участка (--section, без фильтра) или всех участков (--all) в файл .csv или .xlsx "
                        "так же, как «Экспорт...» программы."),
         {kAlias,
          {QStringLiteral("section"), QStringLiteral("ИМЯ"),
           QStringLiteral("участок по имени, или «#12» — по номеру N_line")},
          {QStringLiteral("all"), QString(), QStringLiteral("все участки: в CSV первый столбец «Участок», в книге "
                                                             "Excel лист на участок")},
          {QStringLiteral("separator"), QStringLiteral("РАЗДЕЛИТЕЛЬ"),
           QStringLiteral("разделитель полей CSV: «;» (по умолчанию, числа с десятичным разделителем "
                          "региональных настроек) или «,» (числа с точкой)")}},
         &runExport},
        {QStringLiteral("import"),
         QStringLiteral("[--alias kor] --section ИМЯ [--create] [--replace] [--calculate] [--encoding КОДИРОВКА] "
                        "[--separator РАЗДЕЛИТЕЛЬ] [--decimal ЗНАК] ФАЙЛ"),
         QStringLiteral("Читает опоры из файла CSV в участок, как «Импорт опор...» программы: кодировка, разделители "
                        "и заголовки определяются сами, столбцы сопоставляются по заголовкам; каждая строка "
                        "проверяется до записи, ошибки перечисляются по строкам, и при любой ошибке ничего не "
                        "пишется. Запись — одна транзакция. Столбцы, чьи заголовки не названия столбцов таблицы "
                        "опор («№ опоры», «Пикетаж, км», «R опоры, Ом»...), не импортируются; они перечисляются "
                        "в выводе ошибок."),
         {kAlias,
          {QStringLiteral("section"), QStringLiteral("ИМЯ"),
           QStringLiteral("участок по имени, или «#12» — по номеру N_line")},
          {QStringLiteral("create"), QString(), QStringLiteral("создать участок, если участка с этим именем нет")},
          {QStringLiteral("replace"), QString(),
           QStringLiteral("сначала удалить опоры участка (перед этим делается резервная копия базы)")},
          {QStringLiteral("no-backup"), QString(), QStringLiteral("заменять опоры без резервной копии")},
          {QStringLiteral("calculate"), QString(), QStringLiteral("после импорта выполнить «Расчитать» на участке")},
          {QStringLiteral("encoding"), QStringLiteral("КОДИРОВКА"),
           QStringLiteral("utf-8, utf-8-bom, windows-1251 или utf-16 вместо найденной")},
          {QStringLiteral("separator"), QStringLiteral("РАЗДЕЛИТЕЛЬ"),
           QStringLiteral("«;», «,» или tab вместо найденного")},
          {QStringLiteral("decimal"), QStringLiteral("ЗНАК"),
           QStringLiteral("десятичный разделитель чисел, «,» или «.», вместо найденного")}},
         &runImport},
        {QStringLiteral("backup"), QStringLiteral("[--alias kor]"),
         QStringLiteral("Делает резервную копию обеих таблиц базы, как «Создать копию» в окне «Резервные копии», "
                        "в папку $XDG_DATA_HOME/korozia/backups/ПСЕВДОНИМ; старые копии прореживаются."),
         {kAlias},
         &runBackup},
    };
    static const QList<Command> all = list + aliasCommands();
    return all;
}

} // namespace admin
