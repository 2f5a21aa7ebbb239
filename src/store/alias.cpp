#include "alias.h"

#include "error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <optional>

namespace store {

namespace {

// The raw text of a key in one section of an INI file, or nullopt. QSettings
// reads an unquoted value with a comma as a list; a folder's name is read
// whole here.
std::optional<QString> rawIniValue(const QString &file, const QString &section, const QString &key)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    QString current;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            current = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (current == section && equals > 0 && line.left(equals).trimmed() == key)
            return line.mid(equals + 1).trimmed();
    }
    return std::nullopt;
}

// A configured folder: "~/" is the home folder, and a relative name is taken
// from the folder of the configuration file.
QString configuredFolder(const QString &value, const QString &config)
{
    if (value == QLatin1String("~"))
        return QDir::homePath();
    if (value.startsWith(QLatin1String("~/")))
        return QDir::homePath() + value.mid(1);
    return QDir(QFileInfo(config).absolutePath()).absoluteFilePath(value);
}

bool validAliasName(const QString &alias)
{
    if (alias.isEmpty() || alias.size() > 64)
        return false;
    for (QChar c : alias)
        if (!(c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-')))
            return false;
    return true;
}

} // namespace

QString aliasConfigFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/tablestore/aliases.ini");
}

QString defaultAliasFolder(const QString &alias)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/tablestore/") + alias;
}

AliasLocation resolveAlias(const QString &alias)
{
    if (!validAliasName(alias))
        throw StoreError(QStringLiteral("Invalid database alias name '%1'").arg(alias));

    AliasLocation location;
    location.alias = alias;

    const QString config = aliasConfigFile();
    if (QFileInfo::exists(config)) {
        QSettings ini(config, QSettings::IniFormat);
        if (ini.status() != QSettings::NoError)
            throw StoreError(QStringLiteral("The alias configuration '%1' cannot be read").arg(config));
        const QString key = alias + QStringLiteral("/path");
        if (ini.contains(key)) {
            location.configured = true;
            const QVariant value = ini.value(key);
            if (value.typeId() == QMetaType::QStringList)
                location.folder = rawIniValue(config, alias, QStringLiteral("path")).value_or(QString());
            else
                location.folder = value.toString();
            if (location.folder.isEmpty())
                throw StoreError(QStringLiteral("Alias '%1' has no folder in '%2'").arg(alias, config));
            location.folder = configuredFolder(location.folder, config);
            const QFileInfo folder(location.folder);
            if (!folder.exists())
                throw StoreError(QStringLiteral("Alias '%1': the folder '%2' does not exist")
                                     .arg(alias, location.folder));
            if (!folder.isDir())
                throw StoreError(QStringLiteral("Alias '%1': '%2' is not a folder").arg(alias, location.folder));
            location.folder = folder.absoluteFilePath();
            return location;
        }
    }

    location.folder = defaultAliasFolder(alias);
    if (!QDir().mkpath(location.folder))
        throw StoreError(QStringLiteral("Alias '%1': the folder '%2' cannot be created")
                             .arg(alias, location.folder));
    return location;
}

} // namespace store
