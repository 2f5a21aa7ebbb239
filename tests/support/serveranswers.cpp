#include "serveranswers.h"

#include <libpq-fe.h>

#include <cstring>
#include <sys/socket.h>
#include <utility>

extern "C" {
PGresult *__real_PQexec(PGconn *conn, const char *query);
PGresult *__real_PQexecPrepared(PGconn *conn, const char *name, int count, const char *const *values,
                                const int *lengths, const int *formats, int resultFormat);
PGresult *__wrap_PQexec(PGconn *conn, const char *query);
PGresult *__wrap_PQexecPrepared(PGconn *conn, const char *name, int count, const char *const *values,
                                const int *lengths, const int *formats, int resultFormat);
}

namespace serveranswers {

namespace {

Cut g_next = Cut::None;

// A write or a COMMIT that the server carried out, with no transaction left
// open: its change is saved.
bool committed(PGconn *conn, PGresult *result)
{
    const ExecStatusType status = PQresultStatus(result);
    if ((status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) || PQtransactionStatus(conn) != PQTRANS_IDLE)
        return false;
    const char *tag = PQcmdStatus(result);
    for (const char *write : {"INSERT", "UPDATE", "DELETE", "COMMIT"})
        if (std::strncmp(tag, write, std::strlen(write)) == 0)
            return true;
    return false;
}

PGresult *answer(PGconn *conn, PGresult *result)
{
    if (g_next == Cut::None || !committed(conn, result))
        return result;
    const Cut cut = std::exchange(g_next, Cut::None);
    ::shutdown(PQsocket(conn), SHUT_RDWR);
    if (cut == Cut::AfterCommit)
        return result;
    // What the client library gives when the connection breaks before the answer.
    PQclear(result);
    return __real_PQexec(conn, "SELECT 1");
}

} // namespace

void cutNext(Cut cut)
{
    g_next = cut;
}

} // namespace serveranswers

PGresult *__wrap_PQexec(PGconn *conn, const char *query)
{
    return serveranswers::answer(conn, __real_PQexec(conn, query));
}

PGresult *__wrap_PQexecPrepared(PGconn *conn, const char *name, int count, const char *const *values,
                                const int *lengths, const int *formats, int resultFormat)
{
    return serveranswers::answer(conn,
                                 __real_PQexecPrepared(conn, name, count, values, lengths, formats, resultFormat));
}
