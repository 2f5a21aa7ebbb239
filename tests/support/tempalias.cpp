#include "tempalias.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

TempAlias::TempAlias()
    : m_oldConfig(qgetenv("XDG_CONFIG_HOME")), m_oldData(qgetenv("XDG_DATA_HOME"))
{
    QDir().mkpath(configHome());
    QDir().mkpath(dataHome());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
}

TempAlias::~TempAlias()
{
    qputenv("XDG_CONFIG_HOME", m_oldConfig);
    qputenv("XDG_DATA_HOME", m_oldData);
}

QString TempAlias::configHome() const
{
    return m_dir.path() + QStringLiteral("/config");
}

QString TempAlias::dataHome() const
{
    return m_dir.path() + QStringLiteral("/data");
}

QString TempAlias::defaultFolder(const QString &alias) const
{
    return dataHome() + QStringLiteral("/tablestore/") + alias;
}

void TempAlias::configure(const QString &alias, const QString &folder) const
{
    QDir().mkpath(configHome() + QStringLiteral("/tablestore"));
    QSettings ini(configHome() + QStringLiteral("/tablestore/aliases.ini"), QSettings::IniFormat);
    ini.setValue(alias + QStringLiteral("/path"), folder);
    ini.sync();
}
