#pragma once

#include "data/serverpassword.h"

// The program's answer when the database server of an alias asks for a
// password that none of the server client's own places gives: a small dialog
// through the dialog seam. main() installs it as the store's prompt; the
// password stays in the store's memory for reconnecting in this run.
std::optional<QString> askServerPassword(const PasswordRequest &request);
