#pragma once

#include <QString>
#include <optional>

namespace store {

// A database server that holds the tables of an alias (driver=postgresql):
// the connection settings the configuration names, nothing else. The
// password is never part of them: it comes from the server client's own
// places (~/.pgpass, PGPASSFILE, PGPASSWORD) or is asked for.
struct ServerSettings
{
    QString host;
    QString port;
    QString database;
    QString user;
    QString sslmode;
    QString sslrootcert;
    QString sslcert;
    QString sslkey;
    QString connectTimeout;
    bool create = false; // the program may create its tables in an empty database

    // "korozia on db.example.org:5432": how messages name the server.
    QString description() const;
    bool operator==(const ServerSettings &) const = default;
};

// Where the tables of an alias live: a folder of table files, or a server.
struct AliasLocation
{
    QString alias;
    QString folder;
    bool configured = false; // named in the configuration file (used as it stands)
    bool create = false;     // create=yes: the store may make its tables in an empty configured folder
    std::optional<ServerSettings> server;
};

// The store's configuration file: $XDG_CONFIG_HOME/tablestore/aliases.ini.
QString aliasConfigFile();
// The folder an alias uses when the configuration does not name it:
// $XDG_DATA_HOME/tablestore/<alias>.
QString defaultAliasFolder(const QString &alias);

// Resolves an alias. A configured alias whose folder is missing is an error;
// the default folder of an unconfigured alias is created on first use. An
// alias with driver=postgresql names a server; a setting the store does not
// know is an error, so that a misspelt one is never silently left out.
AliasLocation resolveAlias(const QString &alias);

} // namespace store
