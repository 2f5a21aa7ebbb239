#pragma once

#include "store/password.h"

// The question a database server's account puts when none of the server
// client's own places gives its password, as the windows see it: who asks,
// and who answers (a dialog in the program, a terminal prompt elsewhere).
using PasswordRequest = store::PasswordRequest;
using PasswordPrompt = store::PasswordPrompt;

// Installs the one who answers; returns the one installed before.
inline PasswordPrompt installPasswordPrompt(PasswordPrompt prompt)
{
    return store::setPasswordPrompt(std::move(prompt));
}
