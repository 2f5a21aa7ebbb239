#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <functional>
#include <stdexcept>

namespace admin {

// Exit codes of korozia-admin.
enum ExitCode { Success = 0, Failure = 1, UsageFailure = 2 };

// A command line the program cannot take: exit code 2 and the text.
class UsageError : public std::runtime_error
{
public:
    explicit UsageError(const QString &text) : std::runtime_error(text.toStdString()), m_text(text) {}
    const QString &text() const { return m_text; }

private:
    QString m_text;
};

// One option of a command: "--section NAME" takes a value, "--all" not.
struct OptionDef
{
    QString name;      // without the dashes
    QString valueName; // empty: a switch
    QString help;
};

// A command's options and its file argument, read from its arguments;
// "--name value" and "--name=value" both work, "--" ends the options.
class ParsedOptions
{
public:
    ParsedOptions(const QStringList &arguments, const QList<OptionDef> &defs);
    bool isSet(const QString &name) const { return m_values.contains(name); }
    QString value(const QString &name, const QString &fallback = QString()) const
    {
        return m_values.value(name, fallback);
    }
    const QStringList &positional() const { return m_positional; }

private:
    QHash<QString, QString> m_values;
    QStringList m_positional;
};

// A command of korozia-admin. Later commands add themselves to the list.
struct Command
{
    QString name;
    QString synopsis; // the arguments after the name
    QString summary;  // one line
    QList<OptionDef> options;
    std::function<int(const ParsedOptions &options, QTextStream &out, QTextStream &err)> run;
};

// Every command, in the order --help lists them.
const QList<Command> &commands();
// The commands on whole aliases ("copy", "check").
QList<Command> aliasCommands();

// Runs the program on its arguments (without the program's name) and gives
// the exit code: 0 on success, 1 with a message on standard error on any
// failure, 2 for a command line it cannot take.
int runAdmin(const QStringList &arguments, QTextStream &out, QTextStream &err);

// The help of the program, or of one command.
QString programHelp();
QString commandHelp(const Command &command);

} // namespace admin
