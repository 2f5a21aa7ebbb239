#include "password.h"

namespace store {

namespace {

PasswordPrompt &installed()
{
    static PasswordPrompt prompt;
    return prompt;
}

} // namespace

PasswordPrompt setPasswordPrompt(PasswordPrompt prompt)
{
    PasswordPrompt before = std::move(installed());
    installed() = std::move(prompt);
    return before;
}

std::optional<QString> askPassword(const PasswordRequest &request)
{
    if (!installed())
        return std::nullopt;
    return installed()(request);
}

} // namespace store
