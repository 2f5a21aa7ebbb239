// Backups and the check from the real menu of the real window: a clearing
// followed by "Восстановить участок..." brings back every value bit for bit;
// a full disk asks before the clearing and changes nothing on No; a full
// restore is refused while another copy has the alias open and, once it has
// gone, replaces everything with the window's cursors on the restored data;
// the check finds and gathers Supports without a Section; the start-up
// backup is taken when the newest is older than a day.
#include "app/appfixture.h"
#include "app/startup.h"

#include "backup/take.h"
#include "backupui/backuplistmodel.h"
#include "backupui/backupswindow.h"
#include "backupui/checkwindow.h"
#include "backupui/sectionchooser.h"
#include "exchangeui/filechooser.h"
#include "exchangeui/importdialog.h"
#include "support/rawsql.h"
#include "toolkit/pagecontrol.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QCheckBox>
#include <QTimer>
#include <bit>
#include <csignal>
#include <random>

using toolkit::BoxButton;

namespace {

const QString kAlias = QStringLiteral("kor");

// Runs `step` on the modal window of type W once it is up, then closes it
// if the step has not.
template <typename W> void onModal(const std::function<void(W *)> &step)
{
    QTimer::singleShot(0, [step] {
        auto *window = qobject_cast<W *>(QApplication::activeModalWidget());
        QVERIFY(window);
        step(window);
        if (window->isVisible())
            window->reject();
    });
}

// Every stored Support of a Section, whole, in the order of their keys.
std::vector<store::Record> supportsOf(qint64 section)
{
    const auto file = store::TableFile::open(kAlias, QStringLiteral("base_kor.db"));
    store::ScanSpec scan;
    scan.rangeField = store::supportTable().fieldIndex(QStringLiteral("Line"));
    scan.rangeValue = section;
    std::vector<store::Record> records;
    file->scanRecords(scan, [&](store::Record &&r) { records.push_back(std::move(r)); });
    return records;
}

// A value as bits: doubles to the bit, texts as they are, blank as blank.
QString bits(const QVariant &v)
{
    if (!v.isValid() || v.isNull())
        return QStringLiteral("blank");
    if (v.typeId() == QMetaType::Double)
        return QString::number(std::bit_cast<quint64>(v.toDouble()), 16);
    return v.toString();
}

double randomFinite(std::mt19937_64 &rng)
{
    for (;;) {
        const double d = std::bit_cast<double>(rng());
        if (!std::isnan(d))
            return d;
    }
}

void selectBackup(backupui::BackupsWindow *w, const QString &path)
{
    for (int row = 0; row < w->model->rowCount(); ++row)
        if (w->model->backupAt(row).path == path)
            w->view->selectRow(row);
}

// The commands that delete or replace many Supports of the Section "A", and
// korozia-admin's own backup.
enum class Command { Clearing, Deletion, CtrlDelete, MenuImport, AdminImport, AdminBackup };

// A CSV file of two Supports, and the import dialog of the menu answered with
// "заменить опоры участка".
class ReplacingImport : public exchangeui::FileChooser
{
public:
    ReplacingImport() : m_previous(exchangeui::installFileChooser(this))
    {
        QFile csv(path());
        if (csv.open(QIODevice::WriteOnly))
            csv.write("Пикетаж, км;№ опоры\n1,5;1\n1,6;2\n");
    }
    ~ReplacingImport() override { exchangeui::installFileChooser(m_previous); }
    QString path() const { return m_dir.filePath(QStringLiteral("A.csv")); }
    std::optional<QString> importFile(QWidget *) override
    {
        onModal<exchangeui::ImportDialog>([](exchangeui::ImportDialog *d) {
            d->replaceBox->setChecked(true);
            d->calculateBox->setChecked(false);
            d->importButton->click();
        });
        return path();
    }
    std::optional<exchangeui::ExportChoice> exportFile(QWidget *, const QString &) override { return std::nullopt; }

private:
    QTemporaryDir m_dir;
    exchangeui::FileChooser *m_previous;
};

// Runs a command on the Section "A", the current one, answering its boxes;
// `failed` is the answer to the question after a failed backup, if one is due.
void run(Command command, WindowFixture &f, std::optional<BoxButton> failed = std::nullopt)
{
    TForm1 &w = f.form();
    ReplacingImport import;
    auto admin = [&](const QStringList &arguments) {
        QProcess p;
        p.start(QStringLiteral(KOROZIA_ADMIN), arguments);
        QVERIFY(p.waitForFinished(60000));
        QVERIFY2(p.exitCode() == 0, qPrintable(p.readAllStandardError()));
    };
    auto answerFailure = [&] {
        if (failed)
            f.dialogs().answer(*failed);
    };
    switch (command) {
    case Command::Clearing:
        answerFailure();
        w.N7->trigger();
        w.Button4->click();
        break;
    case Command::Deletion:
        f.dialogs().answer(BoxButton::Ok); // "Удалить все опоры на участке ..."
        answerFailure();
        w.N15->trigger();
        return;
    case Command::CtrlDelete:
        f.dialogs().answer(BoxButton::Ok); // "Delete record?"
        answerFailure();
        QTest::keyClick(w.DBGrid2, Qt::Key_Delete, Qt::ControlModifier);
        return;
    case Command::MenuImport:
        answerFailure();
        if (failed != BoxButton::No)
            f.dialogs().answer(BoxButton::Ok); // the import's summary
        w.actionImport->trigger();
        return;
    case Command::AdminImport:
        admin({QStringLiteral("import"), QStringLiteral("--section"), QStringLiteral("A"), QStringLiteral("--replace"),
               import.path()});
        break;
    case Command::AdminBackup:
        admin({QStringLiteral("backup")});
        break;
    }
}

// The Supports of the Section named so in a backup (-1: no such Section).
qint64 supportsIn(const QString &backupPath, const QString &section)
{
    for (const backup::BackupSection &s : backup::BackupReader(backupPath).sections())
        if (s.name == section)
            return s.supports;
    return -1;
}

} // namespace

class BackupWindowsTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        backup::setSizeLimitForTests(0);
        backup::setClockForTests(nullptr);
    }
    void clearingThenRestoreSectionIsBitForBit();
    void eachCommandBacksUpFirst_data();
    void eachCommandBacksUpFirst();
    void fullDiskAsksFirst_data();
    void fullDiskAsksFirst();
    void fullRestoreRefusedWhileAnotherCopyHasTheAliasOpen();
    void checkFindsAndGathersSupportsWithoutASection();
    void startUpBackup_data();
    void startUpBackup();
};

void BackupWindowsTest::clearingThenRestoreSectionIsBitForBit()
{
    const quint64 seed = QRandomGenerator::global()->generate64();
    qInfo("seed %llu", static_cast<unsigned long long>(seed));
    std::mt19937_64 rng(seed);
    const QString letters = QStringLiteral("АбЖzЯ1 ё");
    auto text = [&](int most) {
        QString t;
        for (int n = int(rng() % (most + 1)); n > 0; --n)
            t += letters[int(rng() % letters.size())];
        return t;
    };
    auto maybe = [&]() -> std::optional<double> {
        return rng() % 4 == 0 ? std::nullopt : std::optional<double>(randomFinite(rng));
    };
    qint64 section = 0;
    WindowFixture f([&](Seeder &s) {
        s.addSupports(s.addSection(QStringLiteral("Другой")), 3);
        section = s.addSection(QStringLiteral("Гомель"));
        for (int i = 0; i < 300; ++i) {
            SupportValues v{randomFinite(rng), int(rng() % 65536) - 32768, maybe(), maybe(), maybe(), maybe(),
                            text(1), text(3)};
            s.addSupport(section, v);
        }
    });
    const std::vector<store::Record> before = supportsOf(section);
    TForm1 &w = f.form();
    QVERIFY(w.Table2.Locate(section));
    w.N7->trigger();
    w.Button4->click();
    QVERIFY(supportsOf(section).empty());

    onModal<backupui::BackupsWindow>([&](backupui::BackupsWindow *window) {
        QAbstractItemModelTester tester(window->model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(window->model->rowCount(), 1);
        QCOMPARE(window->model->index(0, backupui::BackupListModel::ReasonColumn).data().toString(),
                 QStringLiteral("перед очисткой участка «Гомель»"));
        QCOMPARE(window->model->index(0, backupui::BackupListModel::SupportsColumn).data().toLongLong(), 303);
        onModal<backupui::SectionChooser>([](backupui::SectionChooser *chooser) {
            QCOMPARE(chooser->list->item(1, 0)->text(), QStringLiteral("Гомель"));
            QCOMPARE(chooser->list->item(1, 1)->text(), QStringLiteral("300"));
            chooser->list->selectRow(1);
            chooser->restoreButton->click();
        });
        window->restoreSectionButton->click();
    });
    f.dialogs().answer(BoxButton::Ok);
    w.actionBackups->trigger();

    const qint64 restored = w.Table2N_line->AsInteger();
    QVERIFY(restored != section);
    QCOMPARE(w.Table2Line->AsString(), QStringLiteral("Гомель"));
    QCOMPARE(f.dialogs().boxes().last().text,
             QStringLiteral("Участок «Гомель» восстановлен из копии от %1 как новый участок, опор: 300.")
                 .arg(backupui::BackupListModel::timeText(backup::listBackups(kAlias).first().created)));
    const std::vector<store::Record> after = supportsOf(restored);
    QCOMPARE(after.size(), before.size());
    const store::TableDef &table = store::supportTable();
    for (size_t i = 0; i < after.size(); ++i) {
        for (int field = 0; field < table.fields.size(); ++field) {
            const QString &name = table.fields[field].name;
            if (name == QLatin1String("I"))
                continue;
            const QVariant expected = name == QLatin1String("Line") ? QVariant(restored) : before[i].value(field);
            QCOMPARE(bits(after[i].value(field)), bits(expected));
        }
    }
}

void BackupWindowsTest::eachCommandBacksUpFirst_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("left"); // Supports of "A" afterwards; -1: "A" is gone
    QTest::newRow("clear pane") << Command::Clearing << QStringLiteral("перед очисткой участка «A»") << 0;
    QTest::newRow("Удалить") << Command::Deletion << QStringLiteral("перед удалением участка «A»") << -1;
    QTest::newRow("Ctrl+Delete") << Command::CtrlDelete << QStringLiteral("перед удалением участка «A»") << -1;
    QTest::newRow("replacing import") << Command::MenuImport << QStringLiteral("перед импортом") << 2;
    QTest::newRow("korozia-admin import --replace") << Command::AdminImport << QStringLiteral("перед импортом") << 2;
    QTest::newRow("korozia-admin backup") << Command::AdminBackup << QStringLiteral("вручную") << 50;
}

// One backup, taken before anything was deleted: it holds the Section as it was.
void BackupWindowsTest::eachCommandBacksUpFirst()
{
    QFETCH(Command, command);
    QFETCH(QString, reason);
    QFETCH(int, left);
    qint64 a = 0;
    WindowFixture f([&](Seeder &s) {
        s.addSupports(a = s.addSection(QStringLiteral("A")), 50);
        s.addSupports(s.addSection(QStringLiteral("B")), 5);
    });
    run(command, f);
    const QList<backup::BackupInfo> backups = backup::listBackups(kAlias);
    QCOMPARE(backups.size(), 1);
    QCOMPARE(backups.first().reason, reason);
    QCOMPARE(supportsIn(backups.first().path, QStringLiteral("A")), qint64(50));
    QCOMPARE(backups.first().supports, qint64(55));
    f.close();
    KorTables live;
    live.open();
    QCOMPARE(live.Table2.Locate(a), left >= 0);
    QCOMPARE(supportsOf(a).size(), size_t(std::max(left, 0)));
}

void BackupWindowsTest::fullDiskAsksFirst_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<BoxButton>("answer");
    QTest::addColumn<int>("left"); // Supports of "A" afterwards
    QTest::newRow("clear pane, No: nothing deleted") << Command::Clearing << BoxButton::No << 50;
    QTest::newRow("clear pane, Yes: cleared without a backup") << Command::Clearing << BoxButton::Yes << 0;
    QTest::newRow("Удалить, No") << Command::Deletion << BoxButton::No << 50;
    QTest::newRow("Ctrl+Delete, No") << Command::CtrlDelete << BoxButton::No << 50;
    QTest::newRow("replacing import, No") << Command::MenuImport << BoxButton::No << 50;
}

void BackupWindowsTest::fullDiskAsksFirst()
{
    QFETCH(Command, command);
    QFETCH(BoxButton, answer);
    QFETCH(int, left);
    qint64 section = 0;
    WindowFixture f([&](Seeder &s) { s.addSupports(section = s.addSection(QStringLiteral("A")), 50); });
    backup::setSizeLimitForTests(2 * 4096);
    run(command, f, answer);

    const QString question =
        QStringLiteral("Не удалось создать резервную копию: на диске нет места. Продолжить без копии?");
    const QList<toolkit::BoxDescription> boxes = f.dialogs().boxes();
    const auto asked = std::find_if(boxes.begin(), boxes.end(), [&](const auto &b) { return b.text == question; });
    QVERIFY(asked != boxes.end());
    QCOMPARE(asked->caption, QStringLiteral("Confirm"));
    QCOMPARE(asked->buttons, QList<BoxButton>({BoxButton::Yes, BoxButton::No}));
    QCOMPARE(supportsOf(section).size(), size_t(left));
    if (answer == BoxButton::No) {
        QCOMPARE(f.form().Table2.ViewKeys().size(), 1);
        QCOMPARE(f.form().Table1.RecordCount(), 50);
    }
    if (command == Command::Clearing)
        QCOMPARE(f.form().PageControl1->isVisible(), answer == BoxButton::No);
    // Neither a backup nor any part of one is left.
    QCOMPARE(QDir(backup::backupFolder(kAlias)).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void BackupWindowsTest::fullRestoreRefusedWhileAnotherCopyHasTheAliasOpen()
{
    qint64 a = 0;
    WindowFixture f([&](Seeder &s) {
        s.addSupports(a = s.addSection(QStringLiteral("A")), 10);
        s.addSupports(s.addSection(QStringLiteral("B")), 5);
    });
    const QString path = backup::takeBackup(kAlias, backup::Reason{}).path;
    {
        Seeder later;
        later.addSupports(later.addSection(QStringLiteral("После копии")), 7);
    }
    QProcess other;
    other.start(QStringLiteral(BACKUPCHILD_PATH), {QStringLiteral("hold")});
    QVERIFY2(other.waitForReadyRead(20000), qPrintable(other.readAllStandardError()));

    auto restoreAll = [&] {
        onModal<backupui::BackupsWindow>([&](backupui::BackupsWindow *window) {
            selectBackup(window, path);
            window->restoreAllButton->click();
        });
        f.form().actionBackups->trigger();
    };
    f.dialogs().answer(BoxButton::Ok);
    restoreAll();
    QCOMPARE(f.dialogs().boxes().last().text,
             QStringLiteral("Восстановить всё нельзя, пока база «kor» открыта в другой копии программы. "
                            "Закройте другие копии и повторите."));
    QCOMPARE(f.form().Table2.ViewKeys().size(), 3);

    // The other copy dies: its registration goes with it.
    ::kill(pid_t(other.processId()), SIGKILL);
    QVERIFY(other.waitForFinished(10000));
    f.dialogs().clear();
    f.dialogs().answer(BoxButton::Yes);
    f.dialogs().answer(BoxButton::Ok);
    restoreAll();
    QCOMPARE(f.dialogs().boxes().size(), 2);
    QVERIFY(f.dialogs().boxes().first().text.startsWith(QStringLiteral("Заменить все участки и опоры копией от ")));
    QVERIFY2(f.dialogs().boxes().last().text.endsWith(QStringLiteral(": участков 2, опор 15.")),
             qPrintable(f.dialogs().boxes().last().text));
    // The window's own cursors show the restored tables, on the Section they were on.
    TForm1 &w = f.form();
    QCOMPARE(w.Table2.ViewKeys().size(), 2);
    QCOMPARE(w.Table2N_line->AsInteger(), a);
    QCOMPARE(w.Table1.RecordCount(), 10);
    QCOMPARE(w.DBGrid1->model()->rowCount(), 10);
    QCOMPARE(backup::listBackups(kAlias).first().reason, QStringLiteral("перед восстановлением"));
    QCOMPARE(backup::listBackups(kAlias).first().sections, qint64(3));
}

void BackupWindowsTest::checkFindsAndGathersSupportsWithoutASection()
{
    WindowFixture f([](Seeder &s) { s.addSupports(s.addSection(QStringLiteral("A")), 3); });
    f.close();
    sqlOn(f.home.defaultFolder() + QStringLiteral("/base_kor.db"),
          {QStringLiteral("INSERT INTO base_kor (Kilometr, Nomeropory, Line) VALUES (1.5, 7, 999), (2.5, 8, 999), "
                          "(3.5, 9, NULL)")});
    f.open();
    onModal<backupui::CheckWindow>([&](backupui::CheckWindow *window) {
        QVERIFY2(window->report->toPlainText().contains(
                     QStringLiteral("Опор без участка: 3 (в поле Line: пустой номер, №999).")),
                 qPrintable(window->report->toPlainText()));
        QVERIFY(window->report->toPlainText().startsWith(QStringLiteral("line.db: ошибок нет.\nbase_kor.db: ошибок нет.")));
        window->gatherButton->click();
        QVERIFY(window->report->toPlainText().endsWith(QStringLiteral("Опор без участка нет.")));
        QVERIFY(!window->gatherButton->isEnabled());
    });
    f.dialogs().answer(BoxButton::Ok);
    f.form().actionCheckDatabase->trigger();
    QCOMPARE(f.dialogs().boxes().last().text, QStringLiteral("Опор перенесено в участок «Без участка»: 3."));
    QCOMPARE(f.form().Table2Line->AsString(), QStringLiteral("Без участка"));
    QCOMPARE(f.form().Table1.RecordCount(), 3);
}

void BackupWindowsTest::startUpBackup_data()
{
    QTest::addColumn<int>("newestHoursAgo"); // -1: no backup yet
    QTest::addColumn<bool>("taken");
    QTest::newRow("no backup yet") << -1 << true;
    QTest::newRow("newest 23 hours old") << 23 << false;
    QTest::newRow("newest 25 hours old") << 25 << true;
}

void BackupWindowsTest::startUpBackup()
{
    QFETCH(int, newestHoursAgo);
    QFETCH(bool, taken);
    TempAlias home;
    ScriptedDialogs dialogs;
    Seeder().addSection(QStringLiteral("A"));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (newestHoursAgo >= 0) {
        backup::setClockForTests([&] { return now.addSecs(-3600 * newestHoursAgo); });
        backup::takeBackup(kAlias, backup::Reason{});
    }
    backup::setClockForTests([&] { return now; });
    startUp([](TForm1 &) {
        QCoreApplication::processEvents();
        return 0;
    });
    const QList<backup::BackupInfo> backups = backup::listBackups(kAlias);
    QCOMPARE(backups.first().reason == QStringLiteral("при запуске"), taken);
    QCOMPARE(backups.size(), (newestHoursAgo >= 0) + int(taken));
}

QTEST_MAIN(BackupWindowsTest)
#include "tst_backupwindows.moc"
