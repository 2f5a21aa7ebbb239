// A second user of the alias for the shared-mode tests: opens the store
// ("kor" in the folders its environment names) and runs the commands it reads
// on stdin, one a line, answering each on stdout:
//   edit <recno>          SetRecNo, then Edit of Table1       -> ok | error <message>
//   set <field> <number>  assigns AsFloat of a Table1 field   -> ok | error <message>
//   post / cancel         Table1's Post / Cancel              -> ok | error <message>
//   hold <ms>             a bulk scope with one new Support, held open for <ms>
//                                                             -> holding, then released
//   quit
// With KOROZIA_TEST_USER_ID set, a peer started by root runs as that user, so
// that the tests meet file permissions as an ordinary user does.
#include "data/kortables.h"
#include "store/error.h"

#include <QCoreApplication>
#include <QThread>
#include <grp.h>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

void answer(const QString &text)
{
    std::cout << text.toStdString() << std::endl;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("KOROZIA_TEST_USER_ID") && ::getuid() == 0) {
        const auto id = static_cast<uid_t>(qEnvironmentVariableIntValue("KOROZIA_TEST_USER_ID"));
        if (::setgroups(0, nullptr) != 0 || ::setgid(id) != 0 || ::setuid(id) != 0) {
            answer(QStringLiteral("error the user cannot be changed"));
            return 1;
        }
    }
    QCoreApplication app(argc, argv);
    std::unique_ptr<KorTables> db;
    try {
        db = std::make_unique<KorTables>();
        db->open();
    } catch (const SystemError &e) {
        answer(QStringLiteral("error ") + e.message());
        return 1;
    }
    answer(QStringLiteral("ready"));

    std::string input;
    while (std::getline(std::cin, input)) {
        const QStringList words = QString::fromStdString(input).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        const QString &command = words[0];
        if (command == QLatin1String("quit"))
            break;
        try {
            Table &t = db->Table1;
            if (command == QLatin1String("edit") && words.size() == 2) {
                t.SetRecNo(words[1].toInt());
                t.Edit();
            } else if (command == QLatin1String("set") && words.size() == 3) {
                t.FieldByName(words[1])->SetAsFloat(words[2].toDouble());
            } else if (command == QLatin1String("post")) {
                t.Post();
            } else if (command == QLatin1String("cancel")) {
                t.Cancel();
            } else if (command == QLatin1String("hold") && words.size() == 2) {
                Table::BulkScope bulk(t);
                t.Append();
                db->Table1Kilometr->SetAsFloat(999);
                db->Table1Nomeropory->SetAsInteger(999);
                t.Post();
                answer(QStringLiteral("holding"));
                QThread::msleep(words[1].toULong());
                // The scope ends here and commits.
            } else {
                answer(QStringLiteral("error unknown command"));
                continue;
            }
            answer(command == QLatin1String("hold") ? QStringLiteral("released") : QStringLiteral("ok"));
        } catch (const SystemError &e) {
            answer(QStringLiteral("error ") + e.message());
        }
    }
    return 0;
}
