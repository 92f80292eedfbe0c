#include "app/MLibraryInfo.h"
#include "app/ZelManagerLauncher.h"
#include "engine/ZelManagerInstallLock.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestDatabaseFile.h"
#include "tests/support/TestSandbox.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLockFile>
#include <QProcess>
#include <QtTest>

#include <cstdio>

namespace {

QString program()
{
    return QStringLiteral(ZEL_BINARY_DIR "/zelmanager");
}

QMap<QString, QString> readReport(const QString &file)
{
    QMap<QString, QString> report;
    for (const QString &line : TestSandbox::readFile(file).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const int eq = line.indexOf(QLatin1Char('='));
        report.insert(line.left(eq), line.mid(eq + 1));
    }
    return report;
}

// Every file below folder with its size and modification time, but the one
// left out.
QStringList snapshot(const QString &folder, const QString &leftOut)
{
    QStringList files;
    QDirIterator it(
        folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path != leftOut)
            files.append(QStringLiteral("%1 %2 %3")
                             .arg(path)
                             .arg(it.fileInfo().size())
                             .arg(it.fileInfo().lastModified().toMSecsSinceEpoch()));
    }
    files.sort();
    return files;
}

// With HOLD_LOCK set, this program takes that lock file, says so on its
// standard output and keeps it until its standard input closes.
const char HoldLockVariable[] = "TST_LAUNCHER_HOLD_LOCK";

int holdLock(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString path = QString::fromLocal8Bit(qgetenv(HoldLockVariable));
    QDir().mkpath(QFileInfo(path).absolutePath());
    QLockFile lock(path);
    if (!lock.tryLock(0))
        return 1;
    std::fputs("held\n", stdout);
    std::fflush(stdout);
    while (std::fgetc(stdin) != EOF) { }
    return 0;
}

} // namespace

class TestLauncher : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_sandbox.reset(new TestSandbox); }
    void cleanup() { m_sandbox.reset(); }

    void switchesSelectStage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("noRelaunch");
        QTest::addColumn<bool>("noLibsPath");
        QTest::addColumn<QString>("commandLine");
        const QString quoted = QStringLiteral("\"/opt/vp/zelmanager\"");
        QTest::newRow("none") << QStringList { "zelmanager" } << false << false
                              << quoted + QStringLiteral(" --norelaunch");
        QTest::newRow("nolibspath") << QStringList { "zelmanager", "--nolibspath" } << false << true
                                    << quoted + QStringLiteral(" --norelaunch --nolibspath");
        QTest::newRow("norelaunch") << QStringList { "zelmanager", "x", "--norelaunch" } << true << false
                                    << quoted + QStringLiteral(" --norelaunch");
        QTest::newRow("both") << QStringList { "zelmanager", "--nolibspath", "--norelaunch" } << true << true
                              << quoted + QStringLiteral(" --norelaunch --nolibspath");
        QTest::newRow("program name only counts first")
            << QStringList { "--norelaunch" } << false << false << quoted + QStringLiteral(" --norelaunch");
        QTest::newRow("case sensitive") << QStringList { "zelmanager", "--NoRelaunch", "--nolibspath=1" } << false
                                        << false << quoted + QStringLiteral(" --norelaunch");
    }

    void switchesSelectStage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, noRelaunch);
        QFETCH(bool, noLibsPath);
        QFETCH(QString, commandLine);
        const ZelManagerLauncher::Switches switches = ZelManagerLauncher::parseSwitches(arguments);
        QCOMPARE(switches.noRelaunch, noRelaunch);
        QCOMPARE(switches.noLibsPath, noLibsPath);
        QCOMPARE(ZelManagerLauncher::childCommandLine(QStringLiteral("/opt/vp/zelmanager"), switches), commandLine);
    }

    void childEnvironmentIsPrivate()
    {
        QProcessEnvironment base;
        base.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin"));
        base.insert(QStringLiteral("Path"), QStringLiteral("/old"));
        const QProcessEnvironment env
            = ZelManagerLauncher::childEnvironment(QStringLiteral("/opt/vp/bin/zelmanager"), base);
        QCOMPARE(env.value(QStringLiteral("Path")), QStringLiteral("/opt/vp/bin"));
        QCOMPARE(env.value(QStringLiteral("PATH")), QStringLiteral("/usr/bin"));
        QCOMPARE(env.value(QStringLiteral("QT_STYLE_OVERRIDE")), QStringLiteral("qtcurve"));
        QCOMPARE(env.value(QStringLiteral("QTCURVE_CONFIG_FILE")), QStringLiteral("/opt/vp/bin/styles/stylerc"));
    }

    void relaunchStartsSecondStage()
    {
        const QString report = m_sandbox->path() + QStringLiteral("/report");
        QProcess first;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZELMANAGER_STARTUP_REPORT"), report);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("Path"), QStringLiteral("/should/be/replaced"));
        first.setProcessEnvironment(env);
        first.start(program(), QStringList());
        QVERIFY(first.waitForFinished(30000));
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.exitCode(), 0);

        QTRY_VERIFY_WITH_TIMEOUT(readReport(report).contains(QStringLiteral("exit")), 60000);
        const QMap<QString, QString> values = readReport(report);
        QCOMPARE(values.value(QStringLiteral("exit")), QStringLiteral("0"));
        QCOMPARE(values.value(QStringLiteral("title")), QStringLiteral("Vantor Package Manager"));
        QCOMPARE(values.value(QStringLiteral("visible")), QStringLiteral("1"));
        QCOMPARE(values.value(QStringLiteral("Path")), QFileInfo(program()).absolutePath());
        QCOMPARE(values.value(QStringLiteral("style")), QStringLiteral("mstyle"));
        QVERIFY(values.value(QStringLiteral("arguments")).endsWith(QStringLiteral("|--norelaunch")));
        QVERIFY(values.value(QStringLiteral("librarypaths"))
                    .startsWith(QFileInfo(program()).absolutePath() + QLatin1Char('|')));
    }

    void secondStageKeepsArgumentsAndLibraryPaths()
    {
        const QString report = m_sandbox->path() + QStringLiteral("/report");
        QProcess second;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZELMANAGER_STARTUP_REPORT"), report);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        second.setProcessEnvironment(env);
        second.start(
            program(), { QStringLiteral("--norelaunch"), QStringLiteral("--nolibspath"), QStringLiteral("extra") });
        QVERIFY(second.waitForFinished(60000));
        QCOMPARE(second.exitCode(), 0);
        const QMap<QString, QString> values = readReport(report);
        QVERIFY(values.value(QStringLiteral("arguments")).endsWith(QStringLiteral("|--norelaunch|--nolibspath|extra")));
        QVERIFY(!values.value(QStringLiteral("librarypaths")).startsWith(QFileInfo(program()).absolutePath()));
        QVERIFY(
            values.value(QStringLiteral("librarypaths")).contains(QLibraryInfo::location(QLibraryInfo::PluginsPath)));
    }

    // A second program on one installation: the lock's holder is named and
    // nothing is written, not even the settings.
    void installationInUseRefusesStart()
    {
        ZelManagerSettings::instance()->setInstallPath(m_sandbox->installPath());
        ZelManagerSettings::cleanup(); // saved where the program reads it
        QProcess holder;
        QProcessEnvironment holderEnv = QProcessEnvironment::systemEnvironment();
        holderEnv.insert(
            QString::fromLatin1(HoldLockVariable), ZelManagerInstallLock::lockFilePath(m_sandbox->installPath()));
        holder.setProcessEnvironment(holderEnv);
        holder.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(holder.waitForReadyRead(30000));
        QCOMPARE(holder.readLine(), QByteArray("held\n"));

        const QString report = m_sandbox->path() + QStringLiteral("/report");
        const QStringList before = snapshot(m_sandbox->path(), report);
        QProcess second;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZELMANAGER_STARTUP_REPORT"), report);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        second.setProcessEnvironment(env);
        second.start(program(), { QStringLiteral("--norelaunch") });
        QVERIFY(second.waitForFinished(60000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 3);
        const QString pid = QString::number(holder.processId());
        QVERIFY(QString::fromLocal8Bit(second.readAllStandardError()).contains(pid));
        const QMap<QString, QString> values = readReport(report);
        QCOMPARE(values.value(QStringLiteral("holder")), pid);
        QVERIFY2(values.value(QStringLiteral("refused")).contains(pid), qPrintable(values.value("refused")));
        QVERIFY(!values.contains(QStringLiteral("title")));
        QCOMPARE(snapshot(m_sandbox->path(), report), before);

        // Once the holder has gone, the window starts, holds the lock while it
        // runs and gives it back.
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(30000));
        QCOMPARE(holder.exitCode(), 0);
        second.start(program(), { QStringLiteral("--norelaunch") });
        QVERIFY(second.waitForFinished(60000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(readReport(report).value(QStringLiteral("exit")), QStringLiteral("0"));
        QVERIFY(!QFile::exists(ZelManagerInstallLock::lockFilePath(m_sandbox->installPath())));
    }

    // A run that ended half way: the window's start undoes the interrupted
    // installation before the window uses the database, and tells the user.
    void interruptedRunIsPutRightAtStart()
    {
        ZelManagerSettings::instance()->setInstallPath(m_sandbox->installPath());
        ZelManagerSettings::instance()->setArchitecture(QStringLiteral("win32"));
        ZelManagerSettings::cleanup(); // saved where the program reads it
        const QString file = m_sandbox->installPath() + QStringLiteral("/win32/bin/x.exe");
        QVERIFY(TestSandbox::writeFile(file, "half written"));
        {
            TestDatabaseFile status(
                m_sandbox->installPath() + QStringLiteral("/pkgdb/win32.db"), TestDatabaseFile::Status);
            QVERIFY(status.exec(QStringLiteral("INSERT INTO journal VALUES('x',1,1,?);"),
                { QStringLiteral("{\"name\":\"x\",\"version\":\"1.0\"}") }));
            QVERIFY(status.exec(QStringLiteral("INSERT INTO journalfiles VALUES('x',1,'bin/x.exe');")));
        }
        const QString report = m_sandbox->path() + QStringLiteral("/report");
        QProcess window;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZELMANAGER_STARTUP_REPORT"), report);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        window.setProcessEnvironment(env);
        window.start(program(), { QStringLiteral("--norelaunch") });
        QVERIFY(window.waitForFinished(60000));
        QCOMPARE(window.exitCode(), 0);
        QCOMPARE(readReport(report).value(QStringLiteral("recovered")),
            QStringLiteral("The installation of x 1.0 was interrupted; it has been undone."));
        QVERIFY(!QFileInfo::exists(file));
        TestDatabaseFile status(m_sandbox->installPath() + QStringLiteral("/pkgdb/win32.db"));
        QCOMPARE(status.value(QStringLiteral("SELECT count(*) FROM journal;")), QStringLiteral("0"));
    }

    void libraryInfo()
    {
        QCOMPARE(MLibraryInfo::getVersion(), QStringLiteral("2.6.0"));
        QCOMPARE(MLibraryInfo::parseBuildTime("Jan  4 2024", "19:35:55").toSecsSinceEpoch(), qint64(1704396955));
        qputenv("HOME", "/some//home/./x/../user");
        QCOMPARE(MLibraryInfo::getPrefixPath(true), QStringLiteral("/some/home/user/.vantor"));
        QCOMPARE(MLibraryInfo::getSettingsPath(true), QStringLiteral("/some/home/user/.vantor/etc"));
        QVERIFY(MLibraryInfo::getSettingsPath(false, 1).isEmpty());
        QVERIFY(MLibraryInfo::getPrefixPath(false, 2).isEmpty());
        MLibraryInfo::updateNativeTarget();
        QCOMPARE(MLibraryInfo::nativeProcessor(), QStringLiteral("i686"));
        QCOMPARE(MLibraryInfo::nativeWordSize(), 32);
    }

private:
    QScopedPointer<TestSandbox> m_sandbox;
};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(HoldLockVariable))
        return holdLock(argc, argv);
    QCoreApplication app(argc, argv);
    TestLauncher test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_launcher.moc"
