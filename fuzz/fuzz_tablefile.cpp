// A table file written by another tool, on arbitrary bytes: opening it either
// refuses it, leaving every byte as it was, or opens it, and then its records
// read without a crash (a value that cannot be read reads as blank; damage
// found only while reading is an error).
#include "store/error.h"
#include "store/tablefile.h"
#include "store/view.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

// The alias "kor" in a folder of its own, named in a configuration of its own.
struct Alias
{
    QTemporaryDir root;
    QString tables = root.path() + QStringLiteral("/tables");

    Alias()
    {
        QDir().mkpath(tables);
        QDir().mkpath(root.path() + QStringLiteral("/config/tablestore"));
        QFile ini(root.path() + QStringLiteral("/config/tablestore/aliases.ini"));
        if (!ini.open(QIODevice::WriteOnly))
            std::abort();
        ini.write(QStringLiteral("[kor]\npath=%1\n").arg(tables).toUtf8());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.path() + QStringLiteral("/config")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(root.path() + QStringLiteral("/data")));
    }
};

Alias &alias()
{
    static int argc = 1;
    static char name[] = "fuzz_tablefile";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static Alias made;
    return made;
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Alias &a = alias();
    const QString path = a.tables + QStringLiteral("/base_kor.db");
    for (const QString &name : QDir(a.tables).entryList(QDir::Files))
        QFile::remove(a.tables + QLatin1Char('/') + name);
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            std::abort();
    }
    std::unique_ptr<store::TableFile> file;
    try {
        file = store::TableFile::open(QStringLiteral("kor"), QStringLiteral("base_kor.db"));
    } catch (const store::StoreError &) {
        if (contents(path) != bytes)
            std::abort(); // a refused file must be left as it was
        return 0;
    }
    // Accepted: damage the quick check at opening cannot see may still be
    // met while reading, as an error, never as a crash.
    try {
        store::View all(*file);
        for (int i = 0; i < all.count() && i < 1000; ++i)
            all.row(i);
        store::View ranged(*file);
        ranged.setIndex(QStringLiteral("i_line"));
        ranged.setRange(qint64(1));
        for (int i = 0; i < ranged.count() && i < 1000; ++i)
            ranged.row(i);
    } catch (const store::StoreError &) {
    }
    return 0;
}
