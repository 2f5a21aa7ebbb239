#pragma once

#include <QString>
#include <functional>
#include <optional>

namespace store {

// What the store tells the one who answers for a password: the server and
// the account, and whether a password given before was refused.
struct PasswordRequest
{
    QString alias;
    QString server; // "'korozia' on db.example.org:5432"
    QString user;
    bool refused = false;
    // Where the server client went, its defaults filled in: the host (or the
    // folder of a local socket), the port and the database.
    QString host;
    QString port;
    QString database;
};

// Asks the user for a server account's password when none of the server
// client's own places (~/.pgpass, PGPASSFILE, PGPASSWORD) gives one. The
// program installs a dialog, the command-line program a terminal prompt; the
// store only calls it. nullopt: the user declined. The password is kept in
// memory for the run (for reconnecting), never written anywhere.
using PasswordPrompt = std::function<std::optional<QString>(const PasswordRequest &request)>;

// Installs the prompt and returns the one installed before; an empty one
// means that nobody can be asked.
PasswordPrompt setPasswordPrompt(PasswordPrompt prompt);
std::optional<QString> askPassword(const PasswordRequest &request);

} // namespace store
