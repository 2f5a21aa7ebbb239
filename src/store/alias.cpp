#include "alias.h"

#include "error.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace store {

namespace {

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
            location.folder = ini.value(key).toString();
            if (location.folder.isEmpty())
                throw StoreError(QStringLiteral("Alias '%1' has no folder in '%2'").arg(alias, config));
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
