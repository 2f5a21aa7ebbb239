// The commands "copy" and "check": moving a team's data between aliases
// (table files and a database server) and checking what an alias holds.
#include "commandline.h"

#include "migration/aliascopy.h"

namespace admin {

namespace {

QStringList aliasArguments(const ParsedOptions &options, int count)
{
    const QStringList &names = options.positional();
    if (names.size() != count)
        throw UsageError(count == 1 ? QStringLiteral("укажите один псевдоним")
                                    : QStringLiteral("укажите два псевдонима: откуда и куда"));
    for (const QString &name : names)
        if (name.trimmed().isEmpty())
            throw UsageError(QStringLiteral("пустой псевдоним"));
    return names;
}

int runCopy(const ParsedOptions &options, QTextStream &out, QTextStream &)
{
    const QStringList names = aliasArguments(options, 2);
    const migration::CopyResult result =
        migration::copyAlias(names[0], names[1], [&](const QString &table, qint64 done, qint64 total) {
            out << QStringLiteral("%1: %2 из %3\n").arg(table).arg(done).arg(total);
            out.flush();
        });
    out << QStringLiteral("Скопировано из «%1» в «%2»: участков %3, опор %4\n")
               .arg(names[0], names[1])
               .arg(result.sections)
               .arg(result.supports);
    return Success;
}

int runCheck(const ParsedOptions &options, QTextStream &out, QTextStream &err)
{
    const QString alias = aliasArguments(options, 1).first();
    const migration::CheckResult result = migration::checkAlias(alias);
    out << QStringLiteral("Псевдоним «%1»: участков %2, опор %3\n").arg(alias).arg(result.sections).arg(result.supports);
    if (result.problems.isEmpty()) {
        out << QStringLiteral("Ошибок не найдено\n");
        return Success;
    }
    for (const QString &problem : result.problems)
        err << problem << u'\n';
    err << QStringLiteral("korozia-admin check: найдено ошибок: %1\n").arg(result.problems.size());
    return Failure;
}

} // namespace

QList<Command> aliasCommands()
{
    return {
        {QStringLiteral("copy"), QStringLiteral("ОТКУДА КУДА"),
         QStringLiteral("Копирует все участки и опоры из одного псевдонима в другой, пустой (файлы SQLite или "
                        "сервер PostgreSQL, в обе стороны), сохраняя номера N_line и I и значения в точности; "
                        "ход копирования печатается на терминале. Каждая таблица пишется одной транзакцией; при "
                        "ошибке база назначения остаётся пустой. Псевдоним, не названный в aliases.ini, — папка "
                        "по умолчанию с новыми пустыми таблицами."),
         {},
         &runCopy},
        {QStringLiteral("check"), QStringLiteral("ПСЕВДОНИМ"),
         QStringLiteral("Проверяет базу псевдонима: структуру таблиц (и страницы файлов SQLite), каждую запись по "
                        "правилам хранилища и опоры без участка. Код 0 — ошибок нет, 1 — ошибки перечислены на "
                        "стандартном выводе ошибок."),
         {},
         &runCheck},
    };
}

} // namespace admin
