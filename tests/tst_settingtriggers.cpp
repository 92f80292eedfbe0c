#include "integration/HostRegistryKey.h"
#include "integration/WindowsSupport.h"
#include "integration/ZelManagerSystemServiceTrigger.h"
#include "integration/ZelManagerTrigger.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestTriggerSandbox.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QtTest>

class TestSettingTriggers : public QObject
{
    Q_OBJECT

private:
    QString target() const { return ZelManagerSettings::instance()->targetPath(); }

    QString writeEntry(const QString &path, const QByteArray &keys)
    {
        [&] { QVERIFY(TestSandbox::writeFile(target() + QLatin1Char('/') + path, "[Desktop Entry]\n" + keys)); }();
        return path;
    }

    QVariant machineVariable(const QString &name) const
    {
        HostRegistryKey key(HostRegistryKey::LocalMachine, QLatin1String(MachineEnvironmentKey));
        return key.value(name);
    }

    // Every service command appends its argument to "service.log" in the
    // installation folder; commands named fail-* exit with 3.
    void writeServiceScript()
    {
        QVERIFY(TestSandbox::writeFile(target() + QStringLiteral("/bin/svc.sh"),
            "echo \"$1\" >> service.log\n"
            "case \"$1\" in fail-*) exit 3 ;; esac\n"
            "exit 0\n"));
    }
    QString serviceLog() const { return TestSandbox::readFile(target() + QStringLiteral("/service.log")); }

    QString alternativesFolder() const { return target() + QStringLiteral("/share/alternatives"); }
    QString solverConfig() const { return alternativesFolder() + QStringLiteral("/solver.engine.config"); }

    void runAlternatives(bool install, const QStringList &paths)
    {
        ZelManagerTrigger *trigger = triggerForType(TriggerType::Alternative);
        beginTriggers();
        for (const QString &path : paths) {
            if (install) {
                trigger->installFile(path);
            } else {
                trigger->removeFile(path); // the entry is still on disk here
                QVERIFY(QFile::remove(target() + QLatin1Char('/') + path));
            }
        }
        finishTriggers();
    }

private slots:
    void init() { m_sandbox.reset(new TestTriggerSandbox); }
    void cleanup() { m_sandbox.reset(); }

    void environmentVariablesFollowEntries()
    {
        ZelManagerTrigger *trigger = triggerForType(TriggerType::Environment);
        const QString withPath = writeEntry(QStringLiteral("share/environments/a.desktop"),
            "Type=Environment\nName=TOOL_HOME\n"
            "Path=bin\nValue=x\n");
        const QString withValue
            = writeEntry(QStringLiteral("share/environments/b.desktop"), "Type=Environment\nName=TOOL_MODE\nValue=x\n");
        const QString absolute = writeEntry(
            QStringLiteral("share/environments/c.desktop"), "Type=Environment\nName=TOOL_DATA\nPath=/srv/data\n");
        const QString notEnvironment
            = writeEntry(QStringLiteral("share/environments/d.desktop"), "Type=Service\nName=TOOL_OTHER\nValue=x\n");
        for (const QString &path : { withPath, withValue, absolute, notEnvironment })
            trigger->installFile(path);
        QCOMPARE(machineVariable(QStringLiteral("TOOL_HOME")).toString(), target() + QStringLiteral("/bin"));
        QCOMPARE(machineVariable(QStringLiteral("TOOL_MODE")).toString(), QStringLiteral("x"));
        QCOMPARE(machineVariable(QStringLiteral("TOOL_DATA")).toString(), QStringLiteral("/srv/data"));
        QVERIFY(!machineVariable(QStringLiteral("TOOL_OTHER")).isValid());

        // Another package defining the same name does not keep it alive.
        writeEntry(QStringLiteral("share/environments/e.desktop"), "Type=Environment\nName=TOOL_MODE\nValue=y\n");
        trigger->removeFile(withValue);
        QVERIFY(!machineVariable(QStringLiteral("TOOL_MODE")).isValid());
        QVERIFY(machineVariable(QStringLiteral("TOOL_HOME")).isValid());
    }

    void serviceCommandsRunInTheInstallation()
    {
        writeServiceScript();
        QCOMPARE(runServiceCommand(QStringLiteral("sh bin/svc.sh one")), 0);
        QCOMPARE(runServiceCommand(QStringLiteral("sh bin/svc.sh \"fail-two words\"")), 3);
        QCOMPARE(serviceLog(), QStringLiteral("one\nfail-two words\n"));
        QCOMPARE(runServiceCommand(QString()), 0);
        QCOMPARE(runServiceCommand(QStringLiteral("no-such-program-here")), 0);
        QCOMPARE(runServiceCommand(QStringLiteral("sh -c \"kill -9 $$\"")), -1);
        // A command waiting for input is not left waiting.
        QCOMPARE(runServiceCommand(QStringLiteral("cat")), 0);
    }

    void serviceCommandsKeepEventsFlowing()
    {
        bool fired = false;
        QTimer::singleShot(50, this, [&fired] { fired = true; });
        QCOMPARE(runServiceCommand(QStringLiteral("sleep 0.4")), 0);
        QVERIFY(fired);
    }

    // A command that never ends is ended after the time limit, logged, and
    // counts as failed: the service is not started.
    void hangingServiceCommandIsEnded()
    {
        writeServiceScript();
        const int limit = serviceCommandTimeLimit();
        QCOMPARE(limit, 5 * 60 * 1000);
        setServiceCommandTimeLimit(200);
        const QString path = writeEntry(QStringLiteral("share/services/svc.desktop"),
            "Type=Service\nInstall=sh -c \"trap '' TERM; while :; do sleep 1; done\"\nStart=sh bin/svc.sh start");
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(QStringLiteral("^service command still running after 200 ms, ended: sh -c")));
        triggerForType(TriggerType::SystemService)->installFile(path);
        setServiceCommandTimeLimit(limit);
        QCOMPARE(serviceLog(), QString());
    }

    void servicesInstallAndRemove_data()
    {
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<QString>("afterInstall");
        QTest::addColumn<QString>("afterRemove");
        QTest::newRow("all commands") << QByteArray("Install=sh bin/svc.sh install\nStart=sh bin/svc.sh start\n"
                                                    "Stop=sh bin/svc.sh stop\nRemove=sh bin/svc.sh remove")
                                      << "install\nstart\n"
                                      << "install\nstart\nstop\nremove\n";
        QTest::newRow("install fails") << QByteArray("Install=sh bin/svc.sh fail-install\nStart=sh bin/svc.sh start")
                                       << "fail-install\n"
                                       << "fail-install\n";
        QTest::newRow("stop fails") << QByteArray("Stop=sh bin/svc.sh fail-stop\nRemove=sh bin/svc.sh remove") << ""
                                    << "fail-stop\n";
        QTest::newRow("no install") << QByteArray("Start=sh bin/svc.sh start\nRemove=sh bin/svc.sh remove") << ""
                                    << "remove\n";
        QTest::newRow("start fails") << QByteArray("Install=sh bin/svc.sh install\nStart=sh bin/svc.sh fail-start")
                                     << "install\nfail-start\n"
                                     << "install\nfail-start\n";
        QTest::newRow("not a service") << QByteArray("Type=Application\nInstall=sh bin/svc.sh install") << ""
                                       << "";
    }
    void servicesInstallAndRemove()
    {
        QFETCH(QByteArray, keys);
        writeServiceScript();
        ZelManagerTrigger *trigger = triggerForType(TriggerType::SystemService);
        const QString path = writeEntry(QStringLiteral("share/services/svc.desktop"),
            (keys.startsWith("Type=") ? QByteArray() : QByteArray("Type=Service\n")) + keys);
        trigger->installFile(path);
        QTEST(serviceLog(), "afterInstall");
        trigger->removeFile(path);
        QTEST(serviceLog(), "afterRemove");
    }

    void alternativesFollowPriorities()
    {
        const QString low = writeEntry(QStringLiteral("share/alternatives/low.desktop"),
            "Type=Alternative\nName=Solver_Engine\nPriority=10\nValue=bin/solver10.exe");
        const QString high = writeEntry(QStringLiteral("share/alternatives/high.desktop"),
            "Type=Alternative\nName=Solver_Engine\nPriority=20\nValue=bin/solver20.exe");
        const QString none = writeEntry(QStringLiteral("share/alternatives/none.desktop"),
            "Type=Alternative\nName=Solver_Engine\nValue=bin/never.exe");
        const QString zero = writeEntry(QStringLiteral("share/alternatives/zero.desktop"),
            "Type=Alternative\nName=Zero_Only\nPriority=0\nValue=bin/zero.exe");
        runAlternatives(true, { low, high, none, zero });
        QCOMPARE(TestSandbox::readFile(solverConfig()), QStringLiteral("Solver_Engine=bin/solver20.exe"));
        QCOMPARE(machineVariable(QStringLiteral("Solver_Engine")).toString(), QStringLiteral("bin/solver20.exe"));
        QVERIFY(!QFileInfo::exists(alternativesFolder() + QStringLiteral("/zero.only.config")));
        QVERIFY(!machineVariable(QStringLiteral("Zero_Only")).isValid());

        runAlternatives(false, { high });
        QCOMPARE(TestSandbox::readFile(solverConfig()), QStringLiteral("Solver_Engine=bin/solver10.exe"));
        QCOMPARE(machineVariable(QStringLiteral("Solver_Engine")).toString(), QStringLiteral("bin/solver10.exe"));

        runAlternatives(false, { low, none, zero });
        QVERIFY(!QFileInfo::exists(solverConfig()));
        QCOMPARE(machineVariable(QStringLiteral("Solver_Engine")).toString(), QStringLiteral("bin/solver10.exe"));
        // The emptied folders go, the installation folder stays.
        QVERIFY(!QFileInfo::exists(alternativesFolder()));
        QVERIFY(!QFileInfo::exists(target() + QStringLiteral("/share")));
        QVERIFY(QFileInfo(target()).isDir());
    }

    void equalPrioritiesPreferTheFirstFile()
    {
        const QString b = writeEntry(
            QStringLiteral("share/alternatives/b.desktop"), "Type=Alternative\nName=Editor\nPriority=5\nValue=b.exe");
        const QString a = writeEntry(
            QStringLiteral("share/alternatives/a.desktop"), "Type=Alternative\nName=Editor\nPriority=5\nValue=a.exe");
        QVERIFY(TestSandbox::writeFile(target() + QStringLiteral("/share/keep.txt"), "x"));
        runAlternatives(true, { b, a });
        QCOMPARE(TestSandbox::readFile(alternativesFolder() + QStringLiteral("/editor.config")),
            QStringLiteral("Editor=a.exe"));
        runAlternatives(false, { a, b });
        QVERIFY(!QFileInfo::exists(alternativesFolder()));
        QVERIFY(QFileInfo::exists(target() + QStringLiteral("/share/keep.txt")));
    }

    void untouchedAlternativesAreLeftAlone()
    {
        writeEntry(QStringLiteral("share/alternatives/a.desktop"), "Type=Alternative\nName=Pager\nPriority=5\nValue=a");
        const QString hostile = writeEntry(
            QStringLiteral("share/alternatives/h.desktop"), "Type=Alternative\nName=../../escape\nPriority=5\nValue=x");
        runAlternatives(true, { hostile });
        QVERIFY(!QFileInfo::exists(alternativesFolder() + QStringLiteral("/pager.config")));
        QVERIFY(!QFileInfo::exists(target() + QStringLiteral("/escape.config")));
        QVERIFY(!QFileInfo::exists(m_sandbox->installPath() + QStringLiteral("/escape.config")));

        // A zero character would end the file name early: another package's
        // entry would be overwritten.
        const QString zero = writeEntry(QStringLiteral("share/alternatives/z.desktop"),
            QByteArray("Type=Alternative\nName=a.desktop\0x\nPriority=5\nValue=x", 52));
        runAlternatives(true, { zero });
        QCOMPARE(TestSandbox::readFile(alternativesFolder() + QStringLiteral("/a.desktop")),
            QStringLiteral("[Desktop Entry]\nType=Alternative\nName=Pager\nPriority=5\nValue=a"));
    }

private:
    QScopedPointer<TestTriggerSandbox> m_sandbox;
};

QTEST_MAIN(TestSettingTriggers)
#include "tst_settingtriggers.moc"
