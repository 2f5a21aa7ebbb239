#pragma once

#include <QString>

namespace store {

// Where the tables of an alias live.
struct AliasLocation
{
    QString alias;
    QString folder;
    bool configured = false; // named in the configuration file (used as it stands)
};

// The store's configuration file: $XDG_CONFIG_HOME/tablestore/aliases.ini.
QString aliasConfigFile();
// The folder an alias uses when the configuration does not name it:
// $XDG_DATA_HOME/tablestore/<alias>.
QString defaultAliasFolder(const QString &alias);

// Resolves an alias. A configured alias whose folder is missing is an error;
// the default folder of an unconfigured alias is created on first use.
AliasLocation resolveAlias(const QString &alias);

} // namespace store
