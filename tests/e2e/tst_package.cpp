// Installation and the Debian package: `cmake --install` lays out the
// executable, the desktop entry, the icon and the AppStream data, which pass
// their validators; the package names the run-time pieces the library scan
// cannot see, and the executable unpacked from it starts against an alias.
#include "support/tempalias.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Result
{
    int code = -1;
    QString out;
};

Result run(const QString &program, const QStringList &arguments, int timeoutMs = 300000,
           const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForStarted(10000))
        return {-1, p.errorString()};
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        return {-1, QStringLiteral("timed out: ") + QString::fromUtf8(p.readAll())};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAll())};
}

const QString kAppId = QStringLiteral(KOROZIA_APP_ID);

} // namespace

class PackageTest : public QObject
{
    Q_OBJECT

private slots:
    void installLaysOutTheProgram();
    void debianPackageRunsWhereItIsUnpacked();
};

void PackageTest::installLaysOutTheProgram()
{
    QTemporaryDir prefix;
    const Result install = run(QStringLiteral(CMAKE_COMMAND),
                               {QStringLiteral("--install"), QStringLiteral(BUILD_DIR), QStringLiteral("--prefix"),
                                prefix.path()});
    QVERIFY2(install.code == 0, qPrintable(install.out));
    const QDir root(prefix.path());
    QVERIFY(QFileInfo(root.filePath("bin/korozia")).isExecutable());
    QVERIFY(QFileInfo(root.filePath("bin/korozia-admin")).isExecutable());
    const QString desktop = root.filePath("share/applications/" + kAppId + ".desktop");
    const QString metainfo = root.filePath("share/metainfo/" + kAppId + ".metainfo.xml");
    QVERIFY(QFile::exists(root.filePath("share/icons/hicolor/scalable/apps/" + kAppId + ".svg")));

    QFile entry(desktop);
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    QVERIFY(text.contains(QStringLiteral("\nName=Korozia\n")));
    QVERIFY(text.contains(QStringLiteral("\nName[ru]=Программа расчета тока утечки опор\n")));
    QVERIFY(text.contains(QStringLiteral("\nCategories=Engineering;Science;Qt;\n")));
    QVERIFY(text.contains(QStringLiteral("\nIcon=") + kAppId + QLatin1Char('\n')));

    const QString desktopValidate = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    const QString appstream = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
    if (desktopValidate.isEmpty() || appstream.isEmpty())
        QSKIP("desktop-file-validate and appstreamcli are needed (scripts/korozia.sh installs them)");
    const Result d = run(desktopValidate, {desktop});
    QVERIFY2(d.code == 0 && d.out.trimmed().isEmpty(), qPrintable(d.out));
    const Result a = run(appstream, {QStringLiteral("validate"), QStringLiteral("--no-net"), metainfo});
    QVERIFY2(a.code == 0, qPrintable(a.out));
}

void PackageTest::debianPackageRunsWhereItIsUnpacked()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dpkg-deb")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("dpkg-shlibdeps")).isEmpty())
        QSKIP("dpkg-deb and dpkg-shlibdeps are needed (scripts/korozia.sh installs dpkg-dev)");
    QTemporaryDir work;
    const Result pack = run(QStringLiteral(CPACK_COMMAND),
                            {QStringLiteral("--config"), QStringLiteral(BUILD_DIR "/CPackConfig.cmake"),
                             QStringLiteral("-B"), work.path()});
    QVERIFY2(pack.code == 0, qPrintable(pack.out));
    const QStringList debs = QDir(work.path()).entryList({QStringLiteral("korozia_*.deb")});
    QCOMPARE(debs.size(), 1);
    const QString deb = work.filePath(debs.first());

    const Result info = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb, QStringLiteral("Depends")});
    QVERIFY2(info.code == 0, qPrintable(info.out));
    for (const char *needed :
         {"libqt6sql6-sqlite", "fonts-liberation", "libqt6widgets6", "libqt6sql6", "libqt6charts6", "libqt6svg6",
          "libcsv3", "libxlsxwriter4", "libpq5"})
        QVERIFY2(info.out.contains(needed), qPrintable(info.out));

    const QString root = work.filePath(QStringLiteral("root"));
    const Result unpack = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb, root});
    QVERIFY2(unpack.code == 0, qPrintable(unpack.out));
    const QString installed = root + QStringLiteral("/usr/bin/korozia");
    QVERIFY(QFileInfo(installed).isExecutable());
    QVERIFY(QFile::exists(root + "/usr/share/applications/" + kAppId + ".desktop"));
    // The command-line program beside it runs where it is unpacked too.
    const Result help = run(root + QStringLiteral("/usr/bin/korozia-admin"), {QStringLiteral("--help")});
    QVERIFY2(help.code == 0 && help.out.contains(QStringLiteral("korozia-admin export")), qPrintable(help.out));

    TempAlias home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.configHome());
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.dataHome());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.root());
    // The default alias: the installed program creates its tables and runs.
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(installed, QStringList());
    QVERIFY(program.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(home.defaultFolder() + "/base_kor.db"), 20000);
    QVERIFY(!program.waitForFinished(1000));
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 0);
}

QTEST_GUILESS_MAIN(PackageTest)
#include "tst_package.moc"
