// A backup file chosen for restoring, on arbitrary bytes: reading it either
// refuses it or reads its Sections and, for each, exactly as many Supports
// as it counts; in every case the file is left byte for byte as it was and
// nothing is made beside it.
#include "fuzzcheck.h"

#include "backup/backupfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>

namespace {

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_backupfile";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("chosen.korbackup"));
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            std::abort();
    }
    try {
        backup::BackupReader reader(path);
        reader.checkIntegrity();
        for (const backup::BackupSection &section : reader.sections()) {
            qint64 read = 0;
            reader.readSupports(section.key, [&](store::Record &&) { ++read; });
            FUZZ_CHECK(read == section.supports, "section %lld: %lld supports read, %lld counted",
                       static_cast<long long>(section.key), static_cast<long long>(read),
                       static_cast<long long>(section.supports));
        }
    } catch (const backup::BackupError &) {
    }
    FUZZ_CHECK(contents(path) == bytes, "the backup file was changed");
    FUZZ_CHECK(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden) == QStringList{QStringLiteral("chosen.korbackup")},
               "a file was made beside the backup");
    return 0;
}
