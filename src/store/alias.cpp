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

QString ServerSettings::description() const
{
    QString where = host.isEmpty() ? QStringLiteral("the local server") : host;
    if (!port.isEmpty())
        where += QLatin1Char(':') + port;
    return QStringLiteral("'%1' on %2").arg(database, where);
}

namespace {

// The text of a setting: QSettings reads an unquoted value with a comma as a
// list, which is read whole from the file instead.
QString settingText(const QSettings &ini, const QString &config, const QString &alias, const QString &key)
{
    const QVariant value = ini.value(alias + QLatin1Char('/') + key);
    if (value.typeId() == QMetaType::QStringList)
        return rawIniValue(config, alias, key).value_or(QString());
    return value.toString();
}

ServerSettings serverSettings(QSettings &ini, const QString &config, const QString &alias)
{
    static const QStringList known{QStringLiteral("driver"),      QStringLiteral("host"),
                                   QStringLiteral("port"),        QStringLiteral("database"),
                                   QStringLiteral("user"),        QStringLiteral("sslmode"),
                                   QStringLiteral("sslrootcert"), QStringLiteral("sslcert"),
                                   QStringLiteral("sslkey"),      QStringLiteral("connect_timeout"),
                                   QStringLiteral("create")};
    auto refuse = [&](const QString &why) {
        return StoreError(QStringLiteral("Alias '%1' in '%2': %3").arg(alias, config, why));
    };
    ini.beginGroup(alias);
    const QStringList keys = ini.childKeys();
    ini.endGroup();
    for (const QString &key : keys) {
        if (key.compare(QLatin1String("password"), Qt::CaseInsensitive) == 0)
            throw refuse(QStringLiteral("a password is never kept in the alias configuration; put it in "
                                        "~/.pgpass, or the program asks for it"));
        if (!known.contains(key))
            throw refuse(QStringLiteral("unknown setting '%1' for a database server (known: %2)")
                             .arg(key, known.join(QStringLiteral(", "))));
    }
    ServerSettings s;
    auto text = [&](const char *key) { return settingText(ini, config, alias, QLatin1String(key)).trimmed(); };
    s.host = text("host");
    s.port = text("port");
    s.database = text("database");
    s.user = text("user");
    s.sslmode = text("sslmode");
    s.sslrootcert = text("sslrootcert");
    s.sslcert = text("sslcert");
    s.sslkey = text("sslkey");
    s.connectTimeout = text("connect_timeout");
    const QString create = text("create").toLower();

    if (s.database.isEmpty())
        throw refuse(QStringLiteral("no database named (database=...)"));
    bool ok = true;
    if (!s.port.isEmpty() && (s.port.toInt(&ok) < 1 || !ok || s.port.toInt() > 65535))
        throw refuse(QStringLiteral("the port '%1' is not a number from 1 to 65535").arg(s.port));
    if (!s.connectTimeout.isEmpty() && (s.connectTimeout.toInt(&ok) < 0 || !ok))
        throw refuse(QStringLiteral("connect_timeout '%1' is not a number of seconds").arg(s.connectTimeout));
    static const QStringList sslModes{QStringLiteral("disable"), QStringLiteral("allow"),
                                      QStringLiteral("prefer"),  QStringLiteral("require"),
                                      QStringLiteral("verify-ca"), QStringLiteral("verify-full")};
    if (!s.sslmode.isEmpty() && !sslModes.contains(s.sslmode))
        throw refuse(QStringLiteral("sslmode '%1' is not one of %2").arg(s.sslmode, sslModes.join(QStringLiteral(", "))));
    if (create == QLatin1String("yes") || create == QLatin1String("true") || create == QLatin1String("1"))
        s.create = true;
    else if (!create.isEmpty() && create != QLatin1String("no") && create != QLatin1String("false")
             && create != QLatin1String("0"))
        throw refuse(QStringLiteral("create is yes or no, not '%1'").arg(create));
    return s;
}

} // namespace

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
        const QString driverKey = alias + QStringLiteral("/driver");
        if (ini.contains(driverKey)) {
            const QString driver = settingText(ini, config, alias, QStringLiteral("driver")).trimmed();
            if (driver.compare(QLatin1String("postgresql"), Qt::CaseInsensitive) != 0)
                throw StoreError(QStringLiteral("Alias '%1' in '%2': unknown driver '%3' (the store knows "
                                                "postgresql; a folder of tables needs no driver)")
                                     .arg(alias, config, driver));
            location.configured = true;
            location.server = serverSettings(ini, config, alias);
            return location;
        }
        const QString key = alias + QStringLiteral("/path");
        if (ini.contains(key)) {
            location.configured = true;
            location.folder = settingText(ini, config, alias, QStringLiteral("path"));
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
            const QString create = settingText(ini, config, alias, QStringLiteral("create")).trimmed().toLower();
            location.create = create == QLatin1String("yes") || create == QLatin1String("true") || create == QLatin1String("1");
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
