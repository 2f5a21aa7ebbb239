// The import and the export through the exchange layer: the CSV reader on
// the RFC 4180 cases, the detection of files of each kind, the round trip of
// random Sections through every CSV form, bad and huge files, all-or-nothing
// writing, and the workbook read back by openpyxl.
#include "appfixture.h"

#include "data/regionalsettings.h"
#include "exchange/csvreader.h"
#include "exchange/supportexport.h"
#include "exchange/supportimport.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringEncoder>

#include <bit>
#include <clocale>
#include <random>
#include <sys/resource.h>

using namespace exchange;

namespace {

// A Support as the store holds it, doubles by their bits.
struct Stored
{
    qint64 number = 0;
    QString index, type;
    std::array<std::optional<quint64>, 5> bits; // Kilometr, U_izmer, U_ras, R_opory, I_opory
    bool operator==(const Stored &) const = default;
};

QList<Stored> storedRows(qint64 section)
{
    KorTables db;
    db.open();
    QList<Stored> rows;
    if (!db.Table2.Locate(section))
        return rows;
    for (int r = 0; r < db.Table1.DisplayRowCount(); ++r) {
        Table::RowScope scope(db.Table1, r);
        Stored s;
        s.number = db.Table1Nomeropory->AsInteger();
        s.index = db.Table1Index->AsString();
        s.type = db.Table1Tipopory->AsString();
        const Field *fields[] = {db.Table1Kilometr, db.Table1U_izmer, db.Table1U_ras, db.Table1R_opory,
                                 db.Table1I_opory};
        for (size_t i = 0; i < 5; ++i)
            if (!fields[i]->IsNull())
                s.bits[i] = std::bit_cast<quint64>(fields[i]->AsFloat());
        rows << s;
    }
    return rows;
}

int sectionCount()
{
    KorTables db;
    db.open();
    return db.Table2.RecordCount();
}

QByteArray fileHash(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A value of every kind a field may hold: blank, negative, tiny, subnormal,
// huge, and ordinary ones that need all 17 digits.
std::optional<double> randomValue(std::mt19937_64 &rng, bool required)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    switch (rng() % (required ? 6 : 7)) {
    case 0:
        return -unit(rng) * 1000;
    case 1:
        return unit(rng) * 1e-300;
    case 2:
        return double(rng() % 1000 + 1) * 4.9406564584124654e-324;
    case 3:
        return unit(rng) * 1e300;
    case 4:
        return std::round(unit(rng) * 1000) / 10;
    case 5:
        return unit(rng) * 100;
    default:
        return std::nullopt;
    }
}

QString randomText(std::mt19937_64 &rng, int maxLength)
{
    static const QString letters = QStringLiteral("аЖБКёabcZ;,\"' \n12");
    QString text;
    const int length = int(rng() % (maxLength + 1));
    for (int i = 0; i < length; ++i)
        text += letters[qsizetype(rng() % letters.size())];
    return text;
}

// A Section of random Supports, written through the program's cursors.
qint64 seedRandomSection(const QString &name, int count, quint64 seed)
{
    Seeder s;
    const qint64 section = s.addSection(name);
    std::mt19937_64 rng(seed);
    Table::BulkScope bulk(s.db().Table1);
    for (int i = 0; i < count; ++i) {
        SupportValues v;
        v.km = *randomValue(rng, true);
        v.number = int(rng() % 65536) - 32768;
        v.measured = randomValue(rng, false);
        v.calculated = randomValue(rng, false);
        v.resistance = randomValue(rng, false);
        v.leakage = randomValue(rng, false);
        v.index = randomText(rng, 1);
        v.type = randomText(rng, 3);
        s.addSupport(section, v);
    }
    return section;
}

// The import as a script runs it: detection, headings mapped, every row
// checked, then written.
ImportPlan planFor(const QString &path)
{
    ImportSettings settings;
    settings.format = detectFormat(path, RegionalSettings::instance().decimalSeparator());
    settings.columns = defaultMapping(readPreview(path, settings.format), settings.format.headings);
    return checkImport(path, settings);
}

QString messageOf(const std::function<void()> &work)
{
    try {
        work();
    } catch (const SystemError &e) {
        return e.message();
    }
    return QString();
}

qint64 peakResidentKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A python3 that has openpyxl: the system's own first (the set-up script
// installs python3-openpyxl there), then whichever one PATH names.
QString pythonWithOpenpyxl()
{
    for (const QString &candidate : {QStringLiteral("/usr/bin/python3"), QStandardPaths::findExecutable("python3")}) {
        if (candidate.isEmpty() || !QFileInfo(candidate).isExecutable())
            continue;
        QProcess p;
        p.start(candidate, {QStringLiteral("-c"), QStringLiteral("import openpyxl")});
        if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return candidate;
    }
    return QString();
}

// A Section with Supports, whose rows an import must leave as they are,
// and a file to import.
struct Target
{
    explicit Target(int supports)
    {
        section = seeder.addSection(QStringLiteral("A"));
        seeder.addSupports(section, supports);
        before = storedRows(section);
    }
    TempAlias home;
    Seeder seeder;
    qint64 section = 0;
    QList<Stored> before;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("in.csv"));
};

} // namespace

class ExchangeTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { RegionalSettings::instance().setDecimalSeparator(u'.'); }
    void readerFollowsRfc4180_data();
    void readerFollowsRfc4180();
    void detectsFilesOfEachKind_data();
    void detectsFilesOfEachKind();
    void csvRoundTripKeepsEveryBit_data();
    void csvRoundTripKeepsEveryBit();
    void badFilesWriteNothing_data();
    void badFilesWriteNothing();
    void hugeFilesAreNeverReadWhole();
    void writingIsAllOrNothing_data();
    void writingIsAllOrNothing();
    void workbookReadsBackInOpenpyxl();
};

// Records as "line:field|field", one a line; an error as "error: message".
void ExchangeTest::readerFollowsRfc4180_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<char>("separator");
    QTest::addColumn<QString>("expected");
    QTest::newRow("CR LF lines") << QByteArray("a;b;c\r\n1;2;3\r\n") << ';' << "1:a|b|c\n2:1|2|3";
    QTest::newRow("separator in quotes") << QByteArray("\"a;b\";c\n") << ';' << "1:a;b|c";
    QTest::newRow("doubled quotes") << QByteArray("\"say \"\"hi\"\"\";x\n") << ';' << "1:say \"hi\"|x";
    QTest::newRow("line break in quotes") << QByteArray("\"a\r\nb\";c\r\nd;e\r\n") << ';' << "1:a\r\nb|c\n3:d|e";
    QTest::newRow("CR alone ends lines") << QByteArray("a;b\rc;d\r") << ';' << "1:a|b\n2:c|d";
    QTest::newRow("empty lines skipped") << QByteArray("a;b\n\n  \nc;d\n") << ';' << "1:a|b\n4:c|d";
    QTest::newRow("no final line break") << QByteArray("a;b\nc;d") << ';' << "1:a|b\n2:c|d";
    QTest::newRow("empty fields") << QByteArray(";;\n") << ';' << "1:||";
    QTest::newRow("blanks kept only in quotes") << QByteArray(" a ; \" b \" \n") << ';' << "1:a| b ";
    QTest::newRow("tab") << QByteArray("a\tb c\n") << '\t' << "1:a|b c";
    QTest::newRow("comma, quoted decimal") << QByteArray("x,\"1,5\"\n") << ',' << "1:x|1,5";
    QTest::newRow("byte order mark skipped") << QByteArray("\xEF\xBB\xBF" "a;b\n") << ';' << "1:a|b";
    QTest::newRow("quote inside a field") << QByteArray("a;b\nc;d\"e\n") << ';'
                                          << "error: строка 2: кавычка не на месте";
    QTest::newRow("quote never closed") << QByteArray("a;b\n\"c;d\n") << ';'
                                        << "error: строка 2: кавычка открыта и не закрыта";
    QTest::newRow("zero byte") << QByteArray("a;b\nc\0d\n", 8) << ';' << "error: Это не текстовый файл CSV: в строке 2";
    QTest::newRow("field without end") << ("\"" + QByteArray(70000, 'x')) << ';'
                                       << "error: строка 1: поле длиннее 64 КБ";
}

void ExchangeTest::readerFollowsRfc4180()
{
    QFETCH(QByteArray, input);
    QFETCH(char, separator);
    QFETCH(QString, expected);
    QBuffer buffer(&input);
    buffer.open(QIODevice::ReadOnly);
    QStringList got;
    const QString error = messageOf([&] {
        CsvReader reader(buffer, Encoding::Utf8, separator);
        CsvRecord record;
        while (reader.next(record))
            got << QStringLiteral("%1:%2").arg(record.line).arg(record.fields.join(u'|'));
    });
    if (expected.startsWith(QLatin1String("error: ")))
        QVERIFY2(error.startsWith(expected.mid(7)), qPrintable(error));
    else
        QCOMPARE(error.isEmpty() ? got.join(u'\n') : error, expected);
}

void ExchangeTest::detectsFilesOfEachKind_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<char>("separator");
    QTest::addColumn<QChar>("decimal");
    QTest::addColumn<bool>("headings");
    QTest::addColumn<QString>("firstCell"); // the heading or the first value, decoded

    const QString russian = QStringLiteral("№ опоры;Пикетаж, км;Замер U, В\r\n1;10,5;2,25\r\n2;10,56;\r\n");
    QTest::newRow("spreadsheet on a Russian desktop")
        << QByteArray(QStringEncoder("windows-1251").encode(russian)) << int(Encoding::Windows1251) << ';' << QChar(u',')
        << true << QStringLiteral("№ опоры");
    QTest::newRow("UTF-8 with BOM") << ("\xEF\xBB\xBF" + russian.toUtf8()) << int(Encoding::Utf8Bom) << ';'
                                    << QChar(u',') << true << QStringLiteral("№ опоры");
    QTest::newRow("commas and points")
        << QByteArray("Nomeropory,Kilometr,\"Тип опоры\"\n1,10.5,ЖБК\n2,10.75,ЖБ\n") << int(Encoding::Utf8) << ','
        << QChar(u'.') << true << QStringLiteral("Nomeropory");
    QTest::newRow("logger file: tabs, no headings")
        << QByteArray("1\t\t\t10.000\t2.5\n2\t\t\t10.060\t\n3\t\t\t10.120\t3\n") << int(Encoding::Utf8) << '\t'
        << QChar(u'.') << false << QStringLiteral("1");
    QStringEncoder utf16(QStringConverter::Utf16LE, QStringEncoder::Flag::WriteBom);
    QTest::newRow("Excel's Unicode text")
        << QByteArray(utf16.encode(QStringLiteral("Пикетаж, км\t№ опоры\r\n12,5\t7\r\n"))) << int(Encoding::Utf16)
        << '\t' << QChar(u',') << true << QStringLiteral("Пикетаж, км");
}

void ExchangeTest::detectsFilesOfEachKind()
{
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath("in.csv");
    writeFile(path, bytes);
    const CsvFormat f = detectFormat(path, u'.');
    QFETCH(int, encoding);
    QFETCH(char, separator);
    QFETCH(QChar, decimal);
    QFETCH(bool, headings);
    QCOMPARE(int(f.encoding), encoding);
    QCOMPARE(f.separator, separator);
    QCOMPARE(f.decimal, decimal);
    QCOMPARE(f.headings, headings);
    const CsvPreview preview = readPreview(path, f);
    QFETCH(QString, firstCell);
    QCOMPARE(headings ? preview.headings.value(0) : preview.rows.value(0).value(0), firstCell);
    // The headings the export writes, the grid's and obvious variants all map.
    const QVector<Column> mapping = defaultMapping(preview, f.headings);
    QVERIFY(mapping.contains(Column::Kilometr) && mapping.contains(Column::Nomeropory));
}

void ExchangeTest::csvRoundTripKeepsEveryBit_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QChar>("regional");
    QTest::newRow("';', regional decimal comma") << int(ExportFormat::CsvSemicolon) << QChar(u',');
    QTest::newRow("';', regional decimal point") << int(ExportFormat::CsvSemicolon) << QChar(u'.');
    QTest::newRow("','") << int(ExportFormat::CsvComma) << QChar(u',');
}

void ExchangeTest::csvRoundTripKeepsEveryBit()
{
    QFETCH(int, format);
    QFETCH(QChar, regional);
    TempAlias home;
    const quint64 seed = 20261209 + quint64(format) * 7 + regional.unicode();
    const qint64 source = seedRandomSection(QStringLiteral("Гомель-Жлобин"), 300, seed);
    RegionalSettings::instance().setDecimalSeparator(regional);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Гомель.csv"));
    ExportRequest request;
    request.path = path;
    request.format = ExportFormat(format);
    request.regionalDecimal = regional;
    QCOMPARE(exportSections(QStringLiteral("kor"), source, request), 300);

    const ImportPlan plan = planFor(path);
    QVERIFY2(plan.ok(), qPrintable(plan.problemReport()));
    QCOMPARE(plan.cutTexts, 0);
    ImportTarget target;
    target.newSectionName = QStringLiteral("Копия");
    const ImportResult result = writeImport(QStringLiteral("kor"), plan, target);
    QCOMPARE(result.written, 300);
    const QList<Stored> before = storedRows(source);
    const QList<Stored> after = storedRows(result.section);
    QCOMPARE(after.size(), before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
        QVERIFY2(after[i] == before[i], qPrintable(QStringLiteral("row %1 differs (seed %2)").arg(i).arg(seed)));
}

void ExchangeTest::badFilesWriteNothing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    const QByteArray head("№ опоры;Пикетаж, км\n");
    QTest::newRow("not a number") << head + "1;10.5\n2;abc\n" << "строка 3: «abc» — не число (столбец «Пикетаж, км»)";
    QTest::newRow("other decimal separator")
        << head + "1;10.5\n2;10.75\n3;11,25\n"
        << "строка 4: «11,25» — не число с десятичным разделителем «.» (столбец «Пикетаж, км»)";
    QTest::newRow("required column missing") << QByteArray("№ опоры;Замер U, B\n1;2.5\n")
                                             << "Не выбран столбец «Пикетаж, км»: он обязателен";
    QTest::newRow("required value blank") << head + "1;\n"
                                          << "строка 2: нет значения в обязательном столбце «Пикетаж, км»";
    QTest::newRow("support number out of range")
        << head + "40000;1\n" << "строка 2: «40000» — не целое число от -32768 до 32767 (столбец «№ опоры»)";
    QTest::newRow("support number below range")
        << head + "-32769;1\n" << "строка 2: «-32769» — не целое число от -32768 до 32767";
    QTest::newRow("support number with decimals") << head + "1.0;1\n" << "строка 2: «1.0» — не целое число";
    QTest::newRow("support number a sign alone") << head + "-;1\n" << "строка 2: «-» — не целое число";
    QTest::newRow("beyond a double") << head + "1;1e999\n" << "строка 2: «1e999» — не число (столбец «Пикетаж, км»)";
    QTest::newRow("empty file") << QByteArray() << "Файл «in.csv» пуст";
    QTest::newRow("headings only") << head << "В файле нет ни одной строки с опорами";
    QTest::newRow("binary file") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0", 18)
                                 << "Это не текстовый файл CSV: в строке 3 двоичные данные";
    QByteArray many = head;
    for (int i = 0; i < 150; ++i)
        many += QByteArray::number(i) + ";x\n";
    QTest::newRow("150 problems") << many << "… и ещё 50 ошибок (всего 150)";
}

void ExchangeTest::badFilesWriteNothing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    Target t(5);
    writeFile(t.path, bytes);
    const QByteArray hash = fileHash(t.path);

    ImportTarget target;
    target.section = t.section;
    target.replace = true;
    const QString got = messageOf([&] {
        const ImportPlan plan = planFor(t.path);
        if (!plan.ok())
            throw ExchangeError(plan.problemReport());
        writeImport(QStringLiteral("kor"), plan, target);
    });
    QVERIFY2(got.contains(message), qPrintable(got));
    QCOMPARE(storedRows(t.section), t.before);
    QCOMPARE(sectionCount(), 1);
    QCOMPARE(fileHash(t.path), hash);
}

void ExchangeTest::hugeFilesAreNeverReadWhole()
{
    TempAlias home;
    Seeder seeder;
    seeder.addSection(QStringLiteral("A"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("huge.csv"));
    QByteArray head("№ опоры;Пикетаж, км\n");
    for (int i = 0; i < 10; ++i)
        head += QByteArray::number(i) + ";" + QByteArray::number(i) + ".5\n";
    writeFile(path, head);
    // 1 GiB, the most the import takes: sane lines, then a hole of zero bytes.
    QVERIFY(QFile::resize(path, kMaxImportBytes));
    const qint64 before = peakResidentKb();
    QString got = messageOf([&] { planFor(path); });
    QVERIFY2(got.startsWith(QStringLiteral("Это не текстовый файл CSV: в строке 12")), qPrintable(got));
    QVERIFY2(peakResidentKb() - before < 64 * 1024, "the file was read into memory");
    // One byte more is refused before anything is read.
    QVERIFY(QFile::resize(path, kMaxImportBytes + 1));
    got = messageOf([&] { planFor(path); });
    QVERIFY2(got.contains(QStringLiteral("слишком велик для импорта опор (1024 МБ; наибольший размер — 1024 МБ)")),
             qPrintable(got));
    QCOMPARE(storedRows(1).size(), 0);
}

void ExchangeTest::writingIsAllOrNothing_data()
{
    QTest::addColumn<bool>("newSection");
    QTest::addColumn<bool>("replace");
    QTest::addColumn<bool>("storeFails"); // else the user cancels
    QTest::newRow("cancelled, new Section") << true << false << false;
    QTest::newRow("cancelled while replacing") << false << true << false;
    QTest::newRow("store fails half-way") << false << true << true;
    QTest::newRow("store fails, new Section") << true << false << true;
}

void ExchangeTest::writingIsAllOrNothing()
{
    QFETCH(bool, newSection);
    QFETCH(bool, replace);
    QFETCH(bool, storeFails);
    Target t(50);
    QByteArray bytes("№ опоры;Пикетаж, км;R опоры, Ом\n");
    for (int i = 0; i < 3000; ++i)
        bytes += QByteArray::number(i % 30000) + ";" + QByteArray::number(i * 0.06) + ";200\n";
    writeFile(t.path, bytes);
    const ImportPlan plan = planFor(t.path);
    QVERIFY(plan.ok());

    ImportTarget target;
    if (newSection)
        target.newSectionName = QStringLiteral("B");
    else
        target.section = t.section;
    target.replace = replace;
    qint64 stoppedAt = 0;
    const QString got = messageOf([&] {
        writeImport(QStringLiteral("kor"), plan, target, [&](qint64 done, qint64 total) {
            if (done < total / 2)
                return true;
            stoppedAt = done;
            if (storeFails)
                throw store::StoreError(QStringLiteral("The disk is full"));
            return false;
        });
    });
    QVERIFY(stoppedAt > 0);
    QCOMPARE(got, storeFails ? QStringLiteral("The disk is full") : SilentAbort().message());
    QCOMPARE(storedRows(t.section), t.before);
    QCOMPARE(sectionCount(), 1);
}

void ExchangeTest::workbookReadsBackInOpenpyxl()
{
    const QString python = pythonWithOpenpyxl();
    if (python.isEmpty())
        QSKIP("python3 with openpyxl is needed (scripts/korozia.sh installs python3-openpyxl)");
    TempAlias home;
    QList<qint64> sections;
    {
        Seeder s;
        sections << s.addSection(QStringLiteral("Гомель-Жлобин"));
        const std::optional<double> leakages[] = {40.0, 40.001, std::nullopt, 55.5, 12.3, 0.1 + 0.2, 40.05};
        for (int i = 0; i < 7; ++i) {
            SupportValues v;
            v.km = 12.345000267028809 + i * 0.06;
            v.number = i + 1;
            v.leakage = leakages[i];
            v.measured = i % 2 ? std::optional<double>(1.0 / 3.0) : std::nullopt;
            v.index = i == 3 ? QStringLiteral("а") : QString();
            v.type = QStringLiteral("ЖБК");
            s.addSupport(sections.last(), v);
        }
        // Names that repeat, that Excel refuses, that are empty.
        for (const QString &name : {QStringLiteral("Гомель-Жлобин"), QStringLiteral("a/b:c*d?[e]"), QString(),
                                    QStringLiteral("a/b:c*d?[e]")})
            sections << s.addSection(name);
        std::mt19937_64 rng(7);
        for (int k = 0; k < 40; ++k) {
            SupportValues v;
            v.km = *randomValue(rng, true);
            v.number = k;
            v.leakage = randomValue(rng, false);
            v.resistance = randomValue(rng, false);
            // Texts that XML must escape or keep whole, blanks at either end.
            const QString texts[] = {QStringLiteral("<&>"), QStringLiteral(" Ж"), QStringLiteral("a\t"),
                                     QStringLiteral("\"'"), QStringLiteral("б<в")};
            v.type = texts[k % 5];
            v.index = texts[k % 5].right(1);
            s.addSupport(sections[k % 2 ? 1 : 3], v);
        }
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("all.xlsx"));
    ExportRequest request;
    request.path = path;
    request.format = ExportFormat::Xlsx;
    request.dateLine = QStringLiteral("Отчет от 01.02.2026");
    // A Russian numeric locale must not reach libxlsxwriter's printf.
    const QByteArray oldLocale = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, "ru_RU.UTF-8");
    const qint64 written = exportSections(QStringLiteral("kor"), std::nullopt, request);
    std::setlocale(LC_NUMERIC, oldLocale.constData());
    QCOMPARE(written, 47);

    const QString script = QStringLiteral(R"(
import json, struct, sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
def cell(c):
    v = c.value
    if isinstance(v, (int, float)) and not isinstance(v, bool):
        return struct.pack('<d', float(v)).hex()
    return v
out = []
for ws in wb.worksheets:
    rows = [{'cells': [cell(c) for c in r[:8]],
             'red': [c.fill.fill_type == 'solid' and str(c.fill.fgColor.rgb)[-6:] == 'FF0000' for c in r[:8]],
             'bold': [bool(c.font.b) for c in r[:8]]} for r in ws.iter_rows(min_row=7, max_col=8)]
    out.append({'title': ws.title, 'freeze': ws.freeze_panes, 'head': [ws.cell(i, 1).value for i in range(1, 5)],
                'headings': [c.value for c in ws[6][:8]], 'rows': rows})
print(json.dumps(out))
)");
    QProcess p;
    p.start(python, {QStringLiteral("-c"), script, path});
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    const QJsonArray sheets = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    const QStringList titles{QStringLiteral("Гомель-Жлобин"), QStringLiteral("Гомель-Жлобин (2)"),
                             QStringLiteral("a_b_c_d__e_"), QStringLiteral("Участок 4"),
                             QStringLiteral("a_b_c_d__e_ (2)")};
    QCOMPARE(sheets.size(), titles.size());
    const auto hex = [](const std::optional<quint64> &bits) -> QJsonValue {
        if (!bits)
            return QJsonValue::Null;
        const double v = std::bit_cast<double>(*bits);
        return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(&v), 8).toHex());
    };
    int redRows = 0;
    for (qsizetype s = 0; s < sheets.size(); ++s) {
        const QJsonObject sheet = sheets[s].toObject();
        QCOMPARE(sheet["title"].toString(), titles[s]);
        QCOMPARE(sheet["freeze"].toString(), QStringLiteral("A7"));
        const QJsonArray head = sheet["head"].toArray();
        QCOMPARE(head[1].toString(), QStringLiteral("арматуры железобетонных опор контактной сети"));
        QCOMPARE(head[2].toString(), QStringLiteral("по участку ") + (s == 2 || s == 4 ? "a/b:c*d?[e]" : s == 3 ? "" : "Гомель-Жлобин"));
        QCOMPARE(head[3].toString(), request.dateLine);
        QCOMPARE(sheet["headings"].toArray()[3].toString(), QStringLiteral("Пикетаж, км"));
        const QList<Stored> stored = storedRows(sections[s]);
        const QJsonArray rows = sheet["rows"].toArray();
        QCOMPARE(rows.size(), stored.size());
        for (qsizetype r = 0; r < rows.size(); ++r) {
            const QJsonObject row = rows[r].toObject();
            const QJsonArray cells = row["cells"].toArray();
            const Stored &want = stored[r];
            QCOMPARE(cells[0], hex(std::bit_cast<quint64>(double(want.number))));
            QCOMPARE(cells[1], want.index.isEmpty() ? QJsonValue::Null : QJsonValue(want.index));
            QCOMPARE(cells[2], want.type.isEmpty() ? QJsonValue::Null : QJsonValue(want.type));
            for (int k = 0; k < 5; ++k) // Kilometr, U_izmer, U_ras, R_opory, I_opory
                QVERIFY2(cells[3 + k] == hex(want.bits[size_t(k)]),
                         qPrintable(QStringLiteral("sheet %1 row %2 column %3").arg(s).arg(r).arg(4 + k)));
            const bool over = want.bits[4] && std::bit_cast<double>(*want.bits[4]) > 40;
            redRows += over ? 1 : 0;
            for (int c = 0; c < 8; ++c) {
                QCOMPARE(row["red"].toArray()[c].toBool(), over);
                QCOMPARE(row["bold"].toArray()[c].toBool(), over);
            }
        }
    }
    QVERIFY(redRows >= 3); // 40.001, 55.5 and 40.05 at least; 40 itself is not over
}

QTEST_GUILESS_MAIN(ExchangeTest)
#include "tst_exchange.moc"
