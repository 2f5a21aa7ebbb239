#include "backupfile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace backup {

namespace {

struct ReasonWords
{
    Reason::Kind kind;
    const char *code;
};

constexpr ReasonWords kReasons[] = {
    {Reason::Kind::StartUp, "startup"}, {Reason::Kind::Clearing, "clearing"},
    {Reason::Kind::SectionDeletion, "deletion"}, {Reason::Kind::Import, "import"},
    {Reason::Kind::Restore, "restore"}, {Reason::Kind::Manual, "manual"},
};

BackupError notOurs(const QString &path, const QString &why)
{
    return BackupError(QStringLiteral("файл «%1» не является резервной копией этой программы (%2)")
                           .arg(QFileInfo(path).fileName(), why));
}

// What a table looks like to SQLite: its fields (name, type, required, key),
// whether it is STRICT with an autoincrement key, and its indexes' fields.
// Two tables of the same shape hold the same kind of records.
QStringList shapeOf(Connection &db, const store::TableDef &table)
{
    QStringList shape;
    Statement fields(db, QStringLiteral("SELECT name, upper(type), \"notnull\", pk FROM pragma_table_info(?1)"));
    fields.bind(1, table.sqlName);
    while (fields.next())
        shape << QStringLiteral("%1 %2 %3 %4").arg(fields.text(0), fields.text(1)).arg(fields.integer(2)).arg(fields.integer(3));
    Statement kind(db, QStringLiteral("SELECT strict, (SELECT sql LIKE '%AUTOINCREMENT%' FROM sqlite_master "
                                      "WHERE type = 'table' AND name = ?1) FROM pragma_table_list "
                                      "WHERE schema = 'main' AND name = ?1"));
    kind.bind(1, table.sqlName);
    if (kind.next())
        shape << QStringLiteral("strict %1 autoincrement %2").arg(kind.integer(0)).arg(kind.integer(1));
    for (const store::IndexDef &index : table.indexes) {
        Statement fieldsOf(db, QStringLiteral("SELECT group_concat(name) FROM "
                                              "(SELECT name FROM pragma_index_info(?1) ORDER BY seqno)"));
        fieldsOf.bind(1, index.name);
        shape << index.name + QLatin1Char(' ') + (fieldsOf.next() ? fieldsOf.text(0) : QString());
    }
    return shape;
}

// The shape of a table as the program creates it.
const QStringList &expectedShape(const store::TableDef &table)
{
    static QHash<QString, QStringList> shapes;
    auto it = shapes.find(table.sqlName);
    if (it == shapes.end()) {
        Connection reference(QStringLiteral(":memory:"), Connection::Mode::Create);
        for (const QString &sql : table.createSql)
            reference.exec(sql);
        it = shapes.insert(table.sqlName, shapeOf(reference, table));
    }
    return *it;
}

} // namespace

QString Reason::text() const
{
    switch (kind) {
    case Kind::StartUp:
        return QStringLiteral("при запуске");
    case Kind::Clearing:
        return QStringLiteral("перед очисткой участка «%1»").arg(section);
    case Kind::SectionDeletion:
        return QStringLiteral("перед удалением участка «%1»").arg(section);
    case Kind::Import:
        return QStringLiteral("перед импортом");
    case Kind::Restore:
        return QStringLiteral("перед восстановлением");
    case Kind::Manual:
        break;
    }
    return QStringLiteral("вручную");
}

QString Reason::code() const
{
    for (const ReasonWords &r : kReasons)
        if (r.kind == kind)
            return QString::fromLatin1(r.code);
    return {};
}

std::optional<Reason::Kind> Reason::kindOf(const QString &code)
{
    for (const ReasonWords &r : kReasons)
        if (code == QLatin1String(r.code))
            return r.kind;
    return std::nullopt;
}

QStringList checkFindings(Connection &db, const QString &pragma)
{
    QStringList findings;
    Statement check(db, QStringLiteral("PRAGMA ") + pragma);
    while (check.next()) {
        // SQLite heads its first finding with the database's name, which tells the user nothing.
        for (const QString &line : check.text(0).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            if (line != QLatin1String("ok") && !line.startsWith(QLatin1String("***")))
                findings << line;
    }
    return findings;
}

QStringList damageFindings(Connection &db, const QString &pragma)
{
    QStringList damage = checkFindings(db, pragma);
    damage.removeIf([](const QString &line) {
        return line.startsWith(QLatin1String("NULL value in ")) || line.startsWith(QLatin1String("non-"))
               || line.startsWith(QLatin1String("CHECK constraint failed"));
    });
    return damage;
}

BackupReader::BackupReader(const QString &path)
{
    m_info.path = path;
    {
        // Only SQLite files in rollback-journal mode are backups: a file in
        // WAL mode could have part of its contents in a journal beside it.
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw BackupError(QStringLiteral("файл «%1» не читается (%2)").arg(path, file.errorString()));
        const QByteArray header = file.read(100);
        if (header.size() < 100 || !header.startsWith(QByteArrayLiteral("SQLite format 3\0")))
            throw notOurs(path, QStringLiteral("это не база SQLite"));
        if (header[18] != 1 || header[19] != 1)
            throw notOurs(path, QStringLiteral("база в режиме журнала WAL"));
        m_info.size = file.size();
    }
    m_db = std::make_unique<Connection>(path, Connection::Mode::Immutable);
    readInfo();
    checkStructure();
}

BackupReader::~BackupReader() = default;

void BackupReader::readInfo()
{
    if (m_db->value(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'backup_info'"))
            .toLongLong()
        != 1)
        throw notOurs(m_info.path, QStringLiteral("в ней нет описания копии"));
    QHash<QString, QString> values;
    Statement rows(*m_db, QStringLiteral("SELECT key, value FROM backup_info"));
    while (rows.next())
        values.insert(rows.text(0), rows.text(1));
    if (values.value(QStringLiteral("format")) != QLatin1String("korozia-backup"))
        throw notOurs(m_info.path, QStringLiteral("описание копии другого формата"));
    bool ok = false;
    const int version = values.value(QStringLiteral("version")).toInt(&ok);
    if (!ok || version < 1)
        throw notOurs(m_info.path, QStringLiteral("неизвестная версия формата"));
    if (version > kBackupFormatVersion)
        throw BackupError(QStringLiteral("копия «%1» сделана более новой версией программы (формат %2)")
                              .arg(QFileInfo(m_info.path).fileName())
                              .arg(version));
    m_info.created = QDateTime::fromString(values.value(QStringLiteral("created")), Qt::ISODateWithMs);
    if (!m_info.created.isValid())
        throw notOurs(m_info.path, QStringLiteral("нет даты копии"));
    m_info.created = m_info.created.toUTC();
    const QString code = values.value(QStringLiteral("reason"));
    const std::optional<Reason::Kind> kind = Reason::kindOf(code);
    m_info.reason = kind ? Reason{*kind, values.value(QStringLiteral("section"))}.text() : code;
    m_info.sections = values.value(QStringLiteral("sections")).toLongLong();
    m_info.supports = values.value(QStringLiteral("supports")).toLongLong();
}

void BackupReader::checkStructure()
{
    for (const store::TableDef *table : {&store::lineTable(), &store::supportTable()}) {
        if (shapeOf(*m_db, *table) != expectedShape(*table))
            throw notOurs(m_info.path, QStringLiteral("таблица «%1» другого устройства").arg(table->sqlName));
    }
    if (m_db->value(QStringLiteral("PRAGMA user_version")).toLongLong() > store::supportTable().formatVersion)
        throw BackupError(QStringLiteral("таблицы копии «%1» записаны более новой версией программы")
                              .arg(QFileInfo(m_info.path).fileName()));
}

void BackupReader::checkIntegrity()
{
    const QStringList damage = damageFindings(*m_db, QStringLiteral("integrity_check"));
    if (!damage.isEmpty())
        throw BackupError(QStringLiteral("копия «%1» повреждена (%2)")
                              .arg(QFileInfo(m_info.path).fileName(), damage.mid(0, 3).join(QStringLiteral("; "))));
}

QList<BackupSection> BackupReader::sections()
{
    QHash<qint64, qint64> counts;
    Statement supports(*m_db, QStringLiteral("SELECT Line, count(*) FROM base_kor WHERE Line IS NOT NULL GROUP BY Line"));
    while (supports.next())
        counts.insert(supports.integer(0), supports.integer(1));
    QList<BackupSection> result;
    Statement lines(*m_db, QStringLiteral("SELECT N_line, Line FROM line ORDER BY N_line"));
    while (lines.next())
        result << BackupSection{lines.integer(0), lines.text(1), counts.value(lines.integer(0))};
    return result;
}

void BackupReader::readSupports(std::optional<qint64> section, const std::function<void(store::Record &&)> &sink)
{
    const store::TableDef &table = store::supportTable();
    QStringList columns;
    for (int i = 0; i < table.fields.size(); ++i)
        columns << table.quotedField(i);
    QString sql = QStringLiteral("SELECT %1 FROM base_kor").arg(columns.join(QLatin1Char(',')));
    if (section)
        sql += QStringLiteral(" WHERE Line = ?1");
    Statement rows(*m_db, sql + QStringLiteral(" ORDER BY I"));
    if (section)
        rows.bind(1, *section);
    while (rows.next()) {
        store::Record record(table.fields.size());
        for (int i = 0; i < table.fields.size(); ++i) {
            try {
                record[i] = store::normalise(table.fields[i], rows.value(i));
            } catch (const store::StoreError &) {
            }
        }
        sink(std::move(record));
    }
}

} // namespace backup
