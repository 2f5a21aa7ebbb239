#include "commandline.h"

#include "store/error.h"

namespace admin {

ParsedOptions::ParsedOptions(const QStringList &arguments, const QList<OptionDef> &defs)
{
    bool optionsEnd = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (optionsEnd || !arg.startsWith(QLatin1String("--"))) {
            m_positional << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnd = true;
            continue;
        }
        QString name = arg.mid(2);
        std::optional<QString> inlineValue;
        if (const qsizetype eq = name.indexOf(u'='); eq >= 0) {
            inlineValue = name.mid(eq + 1);
            name = name.left(eq);
        }
        const auto known = std::find_if(defs.begin(), defs.end(), [&](const OptionDef &d) { return d.name == name; });
        if (known == defs.end())
            throw UsageError(QStringLiteral("неизвестный параметр «--%1»").arg(name));
        if (m_values.contains(name))
            throw UsageError(QStringLiteral("параметр «--%1» указан дважды").arg(name));
        if (known->valueName.isEmpty()) {
            if (inlineValue)
                throw UsageError(QStringLiteral("параметр «--%1» не принимает значения").arg(name));
            m_values.insert(name, QString());
            continue;
        }
        if (inlineValue) {
            m_values.insert(name, *inlineValue);
        } else if (i + 1 < arguments.size()) {
            m_values.insert(name, arguments[++i]);
        } else {
            throw UsageError(QStringLiteral("после «--%1» нужно значение %2").arg(name, known->valueName));
        }
    }
}

namespace {

const QList<OptionDef> &helpOption()
{
    static const QList<OptionDef> list{{QStringLiteral("help"), QString(), QStringLiteral("эта справка")}};
    return list;
}

QString optionLine(const OptionDef &o)
{
    QString left = QStringLiteral("  --") + o.name;
    if (!o.valueName.isEmpty())
        left += QLatin1Char(' ') + o.valueName;
    return left.leftJustified(24) + QLatin1Char(' ') + o.help;
}

} // namespace

QString commandHelp(const Command &command)
{
    QStringList lines;
    lines << QStringLiteral("Использование: korozia-admin %1 %2").arg(command.name, command.synopsis);
    lines << QString() << command.summary << QString() << QStringLiteral("Параметры:");
    for (const OptionDef &o : command.options)
        lines << optionLine(o);
    lines << optionLine(helpOption().first());
    return lines.join(u'\n') + u'\n';
}

QString programHelp()
{
    QStringList lines;
    lines << QStringLiteral("Использование: korozia-admin КОМАНДА [ПАРАМЕТРЫ]") << QString()
          << QStringLiteral("Команды программы расчета тока утечки опор для администраторов и заданий по "
                            "расписанию. Они работают с псевдонимом базы (по умолчанию kor) так же, как сама "
                            "программа: то же хранилище, те же блокировки и проверки.")
          << QString() << QStringLiteral("Команды:");
    for (const Command &c : commands())
        lines << (QStringLiteral("  ") + c.name).leftJustified(12) + c.summary;
    lines << QString() << QStringLiteral("korozia-admin КОМАНДА --help описывает параметры команды.") << QString();
    for (const Command &c : commands())
        lines << commandHelp(c);
    lines << QStringLiteral("Пароль сервера базы данных берётся из ~/.pgpass, PGPASSFILE или PGPASSWORD и никогда не "
                            "пишется в aliases.ini; если его там нет, korozia-admin спрашивает его на терминале, а без "
                            "терминала (задание по расписанию) завершается с ошибкой.")
          << QString();
    lines << QStringLiteral("Коды завершения: 0 — успех, 1 — ошибка (сообщение на стандартном выводе ошибок), "
                            "2 — неверная командная строка.");
    return lines.join(u'\n') + u'\n';
}

int runAdmin(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    if (arguments.isEmpty()) {
        err << QStringLiteral("korozia-admin: не указана команда\n") << programHelp();
        return UsageFailure;
    }
    const QString &name = arguments.first();
    if (name == QLatin1String("--help") || name == QLatin1String("-h") || name == QLatin1String("help")) {
        out << programHelp();
        return Success;
    }
    const auto command =
        std::find_if(commands().begin(), commands().end(), [&](const Command &c) { return c.name == name; });
    if (command == commands().end()) {
        err << QStringLiteral("korozia-admin: неизвестная команда «%1»; korozia-admin --help перечисляет команды\n")
                   .arg(name);
        return UsageFailure;
    }
    try {
        QList<OptionDef> defs = command->options;
        defs += helpOption();
        const ParsedOptions options(arguments.mid(1), defs);
        if (options.isSet(QStringLiteral("help"))) {
            out << commandHelp(*command);
            return Success;
        }
        return command->run(options, out, err);
    } catch (const UsageError &e) {
        err << QStringLiteral("korozia-admin %1: %2\n").arg(name, e.text()) << commandHelp(*command);
        return UsageFailure;
    } catch (const SilentAbort &) {
        return Failure;
    } catch (const SystemError &e) {
        err << QStringLiteral("korozia-admin %1: %2\n").arg(name, e.message());
        return Failure;
    } catch (const std::exception &e) {
        err << QStringLiteral("korozia-admin %1: %2\n").arg(name, QString::fromLocal8Bit(e.what()));
        return Failure;
    }
}

} // namespace admin
