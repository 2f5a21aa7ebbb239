// The band engine's pieces on their own: band heights in tenths of a
// millimetre, how an element's text is split, wrapped and clipped, the bold
// rule's element font, and the page file's round trip and limits.
#include "reportfixture.h"

#include "report/bandengine.h"
#include "report/pagefile.h"
#include "toolkit/application.h"

#include <QDir>
#include <QtEndian>
#include <QFile>
#include <QTest>

#include <bit>
#include <cstring>

class TestReportLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { toolkit::registerFontSubstitutions(); }
    void bandHeights_data();
    void bandHeights();
    void lines_data();
    void lines();
    void clippedToElementHeight();
    void autoSizedElements();
    void boldRuleSetsExactlyBold();
    void pageFileRoundTrip();
    void pageFileSeedsRead();
    void pageFileLimits_data();
    void pageFileLimits();
    void saveFailureKeepsOldFile();
    void loadingHoldsNoCopyOfTheFile();
};

namespace {

// The peak resident memory of this process in bytes, from the kernel; the
// peak is set back to the present size first when reset is true.
qint64 peakMemory(bool reset)
{
    if (reset) {
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
            return -1;
    }
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

} // namespace

void TestReportLayout::bandHeights_data()
{
    QTest::addColumn<int>("units");
    QTest::addColumn<int>("tenths");
    QTest::newRow("page header 33") << 33 << 87;
    QTest::newRow("title 97") << 97 << 257;
    QTest::newRow("column header 24: 63.5 ties to even") << 24 << 64;
    QTest::newRow("detail 20") << 20 << 53;
    QTest::newRow("6 units: 15.875") << 6 << 16;
    QTest::newRow("zero") << 0 << 0;
}

void TestReportLayout::bandHeights()
{
    QFETCH(int, units);
    QFETCH(int, tenths);
    QCOMPARE(report::unitsToTenths(units), tenths);
}

void TestReportLayout::lines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("width"); // in widths of "M"; negative: the element takes its text's size
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("carriage returns split") << "a\rbb\rccc" << -1.0 << QStringList{"a", "bb", "ccc"};
    QTest::newRow("line feeds dropped") << "a\r\nb\n" << -1.0 << QStringList{"a", "b"};
    QTest::newRow("fits") << "abc" << 10.0 << QStringList{"abc"};
    QTest::newRow("wrap after space") << "MM MM MM" << 5.6 << QStringList{"MM MM", "MM"};
    QTest::newRow("wrap after hyphen") << "MMM-MMM" << 4.5 << QStringList{"MMM-", "MMM"};
    QTest::newRow("word broken between characters") << "MMMMMMM" << 3.5 << QStringList{"MMM", "MMM", "M"};
    QTest::newRow("no wrap when sized to text") << "MM MM MM MM" << -1.0 << QStringList{"MM MM MM MM"};
    QTest::newRow("narrower than one character") << "MM" << 0.2 << QStringList{"M", "M"};
}

void TestReportLayout::lines()
{
    QFETCH(QString, text);
    QFETCH(double, width);
    QFETCH(QStringList, expected);
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(10);
    report::TextMeasure measure;
    const double em = measure.widthMm(font, QStringLiteral("M"));
    QVERIFY(em > 1.0 && em < 4.0);
    QCOMPARE(report::layoutLines(text, font, width < 0 ? -1.0 : width * em, measure), expected);
}

namespace {

class Pages : public report::PageSink
{
public:
    std::vector<report::ReportPage> pages;
    void pageFinished(report::ReportPage &&page, int) override { pages.push_back(std::move(page)); }
};

} // namespace

void TestReportLayout::clippedToElementHeight()
{
    // A text of two lines in an element one line high prints its first line only.
    QRBand band(QStringLiteral("B"), QRBandType::Detail, 20);
    QRLabel label(QStringLiteral("L"), 2, 2, 60, 17);
    label.Font = QFont(QStringLiteral("Arial"));
    label.Font.setPointSizeF(10);
    label.SetCaption(QStringLiteral("first second third"));
    band.add(&label);
    Pages sink;
    report::BandEngine engine(sink, nullptr, nullptr, nullptr,
                              [](QRPrintable *e, int) { return static_cast<QRLabel *>(e)->Caption(); });
    engine.printBand(&band);
    label.Height = 40; // room for two lines
    engine.printBand(&band);
    engine.finish();
    QCOMPARE(sink.pages.size(), std::size_t(1));
    QCOMPARE(sink.pages[0].texts(), QStringList({"first", "first", "second"}));
}

void TestReportLayout::autoSizedElements()
{
    ReportFixture f;
    f.form->QRLabel8->SetCaption(QStringLiteral("short\ra much longer middle line\rend"));
    const auto pages = generatePages(*f.form->QuickRep1);
    report::TextMeasure measure;
    QFont title = f.form->QRLabel8->Font;
    const double longest = measure.widthMm(title, QStringLiteral("a much longer middle line"));
    int lines = 0;
    for (const report::PageItem &item : pages[0].items) {
        const bool titleLine = item.text.contains(QStringLiteral("short")) || item.text == QStringLiteral("end")
                               || item.text.contains(QStringLiteral("middle"));
        if (item.kind != report::PageItem::Text || !titleLine)
            continue;
        ++lines;
        // Each line centred within the element, the element as wide as its longest line, centred on the band.
        QVERIFY(std::abs(item.rect.width() - longest) < 1e-9);
        QVERIFY(std::abs(item.rect.center().x() - 105.0) < 1e-9);
        QVERIFY(item.alignment & Qt::AlignHCenter);
    }
    QCOMPARE(lines, 3);
}

void TestReportLayout::boldRuleSetsExactlyBold()
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    SupportRow over;
    over.current = 41;
    SupportRow under;
    under.km = 1;
    under.current = 39;
    f.addSupports({over, under});
    QRDBText *text = f.form->QRDBText5;
    QFont styled = text->Font;
    styled.setItalic(true);
    styled.setUnderline(true);
    styled.setStrikeOut(true);
    text->Font = styled;
    QString value = QStringLiteral(" 41,0");
    f.db->Table1.First();
    text->OnPrint(text, value);
    QVERIFY(text->Font.bold());
    QVERIFY(!text->Font.italic() && !text->Font.underline() && !text->Font.strikeOut());
    QCOMPARE(value, QString(" 41,0")); // the text is left as it is
    f.db->Table1.Next();
    text->OnPrint(text, value);
    QVERIFY(!text->Font.bold() && !text->Font.italic() && !text->Font.underline() && !text->Font.strikeOut());
    QCOMPARE(text->Font.family(), QString("Arial"));
    QCOMPARE(text->Font.pointSizeF(), 10.0);
}

void TestReportLayout::pageFileRoundTrip()
{
    ReportFixture f;
    f.addSection(QStringLiteral("Круг"));
    f.form->QRLabel8->SetCaption(reportTitle(QStringLiteral("Круг")));
    std::vector<SupportRow> rows(60);
    for (int i = 0; i < 60; ++i) {
        rows[i].km = i * 0.05;
        rows[i].number = i;
        rows[i].index = i % 2 ? QStringLiteral("а") : QString();
        rows[i].current = i;
    }
    f.addSupports(rows);
    const auto pages = generatePages(*f.form->QuickRep1);
    QCOMPARE(pages.size(), std::size_t(2));
    const report::DecodedPages decoded = report::decodePages(report::encodePages(pages));
    QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
    QVERIFY(decoded.pages == pages);
}

void TestReportLayout::pageFileSeedsRead()
{
    // The fuzzer's seeds were written by a separate writer of the format: the
    // good ones must read, the bad ones be refused.
    const QDir seeds(QStringLiteral(KOROZIA_SOURCE_DIR "/fuzz/corpus/fuzz_pagefile"));
    auto read = [&](const QString &name) {
        QFile file(seeds.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return report::DecodedPages{{}, QStringLiteral("missing seed")};
        return report::decodePages(file.readAll());
    };
    const auto two = read(QStringLiteral("two_pages.krp"));
    QVERIFY2(two.error.isEmpty(), qPrintable(two.error));
    QCOMPARE(two.pages.size(), std::size_t(2));
    QCOMPARE(two.pages[0].texts(), QStringList({"12", "а", "1"}));
    QVERIFY(two.pages[0].fonts[1].bold);
    QVERIFY(two.pages[1].fonts[0].bold && two.pages[1].fonts[0].underline);
    for (const char *bad : {"truncated.krp", "wrong_version.krp", "empty", "not_ours.txt", "payload_only"})
        QVERIFY2(!read(QString::fromLatin1(bad)).error.isEmpty(), bad);
}

void TestReportLayout::pageFileLimits_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("error");
    auto be32 = [](quint32 v) {
        QByteArray b(4, 0);
        qToBigEndian(v, b.data());
        return b;
    };
    auto be64d = [](double v) {
        quint64 bits;
        std::memcpy(&bits, &v, sizeof bits);
        QByteArray b(8, 0);
        qToBigEndian(bits, b.data());
        return b;
    };
    const QByteArray paper = be64d(210) + be64d(297);
    QTest::newRow("no pages") << be32(0) << "no pages";
    QTest::newRow("too many pages") << be32(report::kMaxPages + 1) << "too many";
    QTest::newRow("a page with no size") << be32(1) + be64d(0) + be64d(297) + be32(0) + be32(0) << "no size";
    QTest::newRow("position not finite") << be32(1) + be64d(qInf()) + be64d(297) + be32(0) + be32(0) << "out of range";
    QTest::newRow("too many fonts") << be32(1) + paper + be32(100000) + be32(0) << "too many fonts";
    // Counts the rest of the file cannot hold are refused before anything is allocated.
    QTest::newRow("pages beyond the file") << be32(1000) + paper + be32(0) + be32(0) << "too many";
    QTest::newRow("fonts beyond the file") << be32(1) + paper + be32(3) + QByteArray(30, 0) << "too many fonts";
    QTest::newRow("items beyond the file") << be32(1) + paper + be32(0) + be32(1000) << "more items";
    QTest::newRow("unknown kind") << be32(1) + paper + be32(0) + be32(1) + QByteArray(1, 7) + QByteArray(36, 0)
                                  << "unknown kind";
    QTest::newRow("font not on the page")
        << be32(1) + paper + be32(0) + be32(1) + QByteArray(1, 2) + QByteArray(36, 0) + QByteArray(4, 0) + be32(0)
        << "font the page does not have";
    QTest::newRow("huge text length") << be32(1) + paper + be32(1) + be32(0x7fffffff) + QByteArray(16, 0) << "too long";
    QTest::newRow("data after the end") << be32(1) + paper + be32(0) + be32(0) + QByteArray(3, 1) << "after the last page";
}

void TestReportLayout::pageFileLimits()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, error);
    const report::DecodedPages decoded = report::decodePages(report::wrapPayload(payload));
    QVERIFY2(decoded.error.contains(error), qPrintable(decoded.error));
    QVERIFY(decoded.pages.empty());
}

void TestReportLayout::saveFailureKeepsOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("old.krp"));
    std::vector<report::ReportPage> pages(1);
    QVERIFY(report::writePageFile(path, pages).isEmpty());
    const QByteArray before = [&] {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    // A folder that does not exist: the save fails with a reason and touches nothing.
    QVERIFY(!report::writePageFile(dir.filePath(QStringLiteral("none/x.krp")), pages).isEmpty());
    QVERIFY(!report::writePdf(dir.filePath(QStringLiteral("none/x.pdf")), pages).isEmpty());
    std::vector<report::ReportPage> read;
    QVERIFY(report::readPageFile(path, read).isEmpty());
    QCOMPARE(read.size(), std::size_t(1));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);
}

QTEST_MAIN(TestReportLayout)
// A page file of the smallest items, the worst case for memory: loading it
// must hold neither the file nor a copy of it beside the pages it makes.
void TestReportLayout::loadingHoldsNoCopyOfTheFile()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the sanitizer's own memory hides the loader's");
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    QSKIP("the sanitizer's own memory hides the loader's");
#endif
#endif
    constexpr quint32 kPages = 7;
    const QString path = QDir::temp().filePath(QStringLiteral("korozia-memory-%1.krp").arg(QCoreApplication::applicationPid()));
    qint64 size = 0;
    {
        const QByteArray file = smallestItemsPageFile(kPages, report::kMaxItemsPerPage);
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QCOMPARE(out.write(file), file.size());
        size = file.size();
    }
    const qint64 before = peakMemory(true);
    if (before < 0)
        QSKIP("the kernel does not tell this process's peak memory");
    std::vector<report::ReportPage> pages;
    const QString error = report::readPageFile(path, pages);
    const qint64 used = peakMemory(false) - before;
    QFile::remove(path);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(pages.size(), std::size_t(kPages));
    QCOMPARE(pages.back().items.back().rect, QRectF(10, 20, 30, 5));
    QVERIFY2(used <= size * 22 / 10,
             qPrintable(QString("%1 MB for a file of %2 MB").arg(used >> 20).arg(size >> 20)));
}

#include "tst_reportlayout.moc"
