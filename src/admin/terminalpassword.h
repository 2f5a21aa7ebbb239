#pragma once

#include "store/password.h"

namespace admin {

// The prompt of korozia-admin when the database server of an alias asks for
// a password that none of the server client's own places gives: "Пароль для
// user@server: " on the controlling terminal, with echo off, and the
// terminal's settings restored on every way out, Ctrl+C and the other ending
// signals included. With no controlling terminal (a scheduled job) nobody is
// asked, and the store error says where the password belongs.
std::optional<QString> askOnTerminal(const store::PasswordRequest &request);

} // namespace admin
