#include "serverpassword.h"

#include "toolkit/dialogs.h"

#include <QStringList>

namespace {

toolkit::PasswordQuestion serverPasswordQuestion(const PasswordRequest &request)
{
    QString server = request.host.isEmpty() ? QStringLiteral("локальный") : request.host;
    if (!request.port.isEmpty())
        server += QLatin1Char(':') + request.port;
    QStringList lines;
    lines << (request.refused ? QStringLiteral("Пароль не подошёл. Введите пароль ещё раз.")
                              : QStringLiteral("Сервер базы данных просит пароль."))
          << QStringLiteral("Сервер: ") + server << QStringLiteral("База данных: ") + request.database
          << QStringLiteral("Пользователь: ") + request.user;
    return {QStringLiteral("Пароль"), lines.join(u'\r')};
}

} // namespace

std::optional<QString> askServerPassword(const PasswordRequest &request)
{
    return toolkit::askPassword(serverPasswordQuestion(request));
}
