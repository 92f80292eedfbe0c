#include "app/MLibraryInfo.h"
#include "app/ZelManagerLauncher.h"
#include "tests/support/TestSandbox.h"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QProcess>
#include <QtTest>

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

QTEST_GUILESS_MAIN(TestLauncher)
#include "tst_launcher.moc"
