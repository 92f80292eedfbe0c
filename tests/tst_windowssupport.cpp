#include "integration/HostEnvironment.h"
#include "integration/HostRegistryKey.h"
#include "integration/WindowsSupport.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestSandbox.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

class TestWindowsSupport : public QObject
{
    Q_OBJECT

private:
    QString machinePath()
    {
        HostRegistryKey key(HostRegistryKey::LocalMachine, QLatin1String(MachineEnvironmentKey));
        return key.value(QStringLiteral("Path")).toString();
    }
    void setMachinePath(const QString &value)
    {
        HostRegistryKey key(HostRegistryKey::LocalMachine, QLatin1String(MachineEnvironmentKey));
        QVERIFY(key.setString(QStringLiteral("Path"), value));
    }

private slots:
    void init() { m_sandbox.reset(new TestSandbox); }
    void cleanup()
    {
        ZelManagerSettings::cleanup();
        m_sandbox.reset();
    }

    void registryValuesPersistAcrossKeys()
    {
        {
            HostRegistryKey key(HostRegistryKey::LocalMachine, QStringLiteral("Software\\Test"));
            QVERIFY(key.isOpen());
            QVERIFY(key.setString(QStringLiteral("Text"), QStringLiteral("a=b\\c\nd")));
            QVERIFY(key.setDword(QStringLiteral("Number"), 7));
        }
        HostRegistryKey key(HostRegistryKey::LocalMachine, QStringLiteral("software\\TEST"));
        HostRegistryKey::ValueType type;
        QCOMPARE(key.value(QStringLiteral("text"), &type).toString(), QStringLiteral("a=b\\c\nd"));
        QCOMPARE(type, HostRegistryKey::ExpandString);
        QCOMPARE(key.value(QStringLiteral("Number"), &type).value<quint32>(), 7u);
        QCOMPARE(type, HostRegistryKey::Dword);
        QVERIFY(key.deleteValue(QStringLiteral("Text")));
        QVERIFY(!key.hasValue(QStringLiteral("Text")));
        QVERIFY(QFileInfo::exists(m_sandbox->hostRoot() + QStringLiteral("/registry/machine.reg")));
    }

    // The default value of a key has the empty name; it survives the hive
    // being read and written again for another value.
    void registryDefaultValueRoundTrips()
    {
        HostRegistryKey key(HostRegistryKey::LocalMachine, QStringLiteral("Software\\Test"));
        QVERIFY(key.setString(QString(), QStringLiteral("default"), HostRegistryKey::String));
        QVERIFY(key.setString(QStringLiteral("other"), QStringLiteral("x")));
        HostRegistryKey::ValueType type;
        QCOMPARE(key.value(QString(), &type).toString(), QStringLiteral("default"));
        QCOMPARE(type, HostRegistryKey::String);
        QCOMPARE(key.valueNames(), QStringList({ QString(), QStringLiteral("other") }));
        QVERIFY(key.deleteValue(QString()));
        QCOMPARE(key.valueNames(), QStringList { QStringLiteral("other") });
    }

    // A zero character inside a value must not end the hive there.
    void registryValueWithZeroCharacterKeepsTheRest()
    {
        HostRegistryKey key(HostRegistryKey::LocalMachine, QStringLiteral("A"));
        const QString zero = QStringLiteral("a") + QChar(0) + QStringLiteral("b");
        QVERIFY(key.setString(zero, zero));
        QVERIFY(key.setString(QStringLiteral("z"), QStringLiteral("after")));
        HostRegistryKey other(HostRegistryKey::LocalMachine, QStringLiteral("B"));
        QVERIFY(other.setString(QStringLiteral("x"), QStringLiteral("y")));
        QCOMPARE(key.value(zero).toString(), zero);
        QCOMPARE(key.value(QStringLiteral("z")).toString(), QStringLiteral("after"));
        QCOMPARE(other.value(QStringLiteral("x")).toString(), QStringLiteral("y"));
    }

    void addToSystemPathCleansEntries()
    {
        setMachinePath(QStringLiteral("c:\\tools; D:\\x;;E:\\y"));
        addToSystemPath(QStringLiteral("C:\\Tools"));
        QCOMPARE(machinePath(), QStringLiteral("C:\\Tools;D:\\x;E:\\y"));
    }

    void relativeFolderIsBelowTarget()
    {
        addToSystemPath(QStringLiteral("bin"));
        QCOMPARE(machinePath(), ZelManagerSettings::instance()->targetPath() + QStringLiteral("/bin"));
    }

    void removingTheOnlyEntryDeletesPath()
    {
        setMachinePath(QStringLiteral(" C:\\Tools ;"));
        removeFromSystemPath(QStringLiteral("c:\\tools"));
        HostRegistryKey key(HostRegistryKey::LocalMachine, QLatin1String(MachineEnvironmentKey));
        QVERIFY(!key.hasValue(QStringLiteral("Path")));
    }

    void longPathSurvivesAddAndRemove()
    {
        QStringList parts;
        for (int i = 0; parts.join(QLatin1Char(';')).size() < 20000; ++i)
            parts << QStringLiteral("C:\\Some\\Rather\\Long\\Folder\\Number%1").arg(i);
        const QString value = parts.join(QLatin1Char(';'));
        setMachinePath(value);
        addToSystemPath(QStringLiteral("C:\\New"));
        QCOMPARE(machinePath(), QStringLiteral("C:\\New;") + value);
        removeFromSystemPath(QStringLiteral("C:\\New"));
        QCOMPARE(machinePath(), value);
    }

    void machineHiveFallsBackToUserHive()
    {
        // A host root that cannot hold a hive stands for missing rights.
        const QString blocked = m_sandbox->path() + QStringLiteral("/blocked");
        QVERIFY(TestSandbox::writeFile(blocked, "not a folder"));
        qputenv("ZELMANAGER_HOST_ROOT", QFile::encodeName(blocked + QStringLiteral("/host")));
        HostRegistryKey machine;
        QVERIFY(!machine.open(HostRegistryKey::LocalMachine, QLatin1String(MachineEnvironmentKey)));
        addToSystemPath(QStringLiteral("C:\\Tools"));
        HostRegistryKey user(HostRegistryKey::CurrentUser, QLatin1String(UserEnvironmentKey));
        QCOMPARE(user.value(QStringLiteral("Path")).toString(), QStringLiteral("C:\\Tools"));
        removeFromSystemPath(QStringLiteral("C:\\Tools"));
        QVERIFY(!user.hasValue(QStringLiteral("Path")));
    }

    void broadcastWritesSourceableScript()
    {
        HostRegistryKey user(HostRegistryKey::CurrentUser, QLatin1String(UserEnvironmentKey));
        user.setString(QStringLiteral("Path"), QStringLiteral("/user/bin"));
        user.setString(QStringLiteral("SHARED"), QStringLiteral("from user"));
        setSystemEnvironmentVariable(QStringLiteral("SHARED"), QStringLiteral("from machine"));
        setSystemEnvironmentVariable(QStringLiteral("QUOTED"), QStringLiteral("it's here"));
        addToSystemPath(QStringLiteral("/opt/vp/bin"));
        const QString script = HostEnvironment::environmentScriptFile();
        QVERIFY(QFileInfo::exists(script));
        QProcess shell;
        shell.start(QStringLiteral("/bin/sh"),
            { QStringLiteral("-c"),
                QStringLiteral(". '%1' && printf '%s|%s|%s|%s' \"$SHARED\" \"$QUOTED\" \"$Path\" \"$PATH\"")
                    .arg(script) });
        QVERIFY(shell.waitForFinished());
        const QStringList out = QString::fromUtf8(shell.readAllStandardOutput()).split(QLatin1Char('|'));
        QCOMPARE(out.size(), 4);
        QCOMPARE(out.at(0), QStringLiteral("from user"));
        QCOMPARE(out.at(1), QStringLiteral("it's here"));
        QCOMPARE(out.at(2), QStringLiteral("/opt/vp/bin;/user/bin"));
        QVERIFY(out.at(3).startsWith(QStringLiteral("/opt/vp/bin:/user/bin:")));

        removeSystemEnvironmentVariable(QStringLiteral("QUOTED"));
        QVERIFY(!TestSandbox::readFile(script).contains(QStringLiteral("QUOTED")));
    }

    void shortNameCreationSwitchedOn()
    {
        HostRegistryKey fs(HostRegistryKey::LocalMachine, QLatin1String(FileSystemKey));
        fs.setDword(QStringLiteral("NtfsDisable8dot3NameCreation"), 1);
        enableShortNameCreation();
        QCOMPARE(fs.value(QStringLiteral("NtfsDisable8dot3NameCreation")).value<quint32>(), 0u);
        QVERIFY(QFileInfo::exists(HostEnvironment::environmentScriptFile()));

        QFile::remove(HostEnvironment::environmentScriptFile());
        enableShortNameCreation();
        QVERIFY(!QFileInfo::exists(HostEnvironment::environmentScriptFile())); // nothing broadcast
    }

    void shortPathNameKeepsPaths()
    {
        QCOMPARE(shortPathName(QStringLiteral("/no/such thing/x")), QStringLiteral("/no/such thing/x"));
        QCOMPARE(shortPathName(QStringLiteral("/plain/path")), QStringLiteral("/plain/path"));
    }

    void makePathCreatesAndStopsAtFiles()
    {
        const QString base = m_sandbox->path() + QStringLiteral("/a b/c");
        QVERIFY(makePath(base + QStringLiteral("/d")));
        QVERIFY(QFileInfo(base + QStringLiteral("/d")).isDir());
        QVERIFY(makePath(base + QStringLiteral("/d"))); // already there
        QVERIFY(TestSandbox::writeFile(base + QStringLiteral("/file"), "x"));
        QVERIFY(!makePath(base + QStringLiteral("/file/sub")));
        QVERIFY(!QFileInfo::exists(base + QStringLiteral("/file/sub")));
    }

    void setFileTimeSetsBothTimes()
    {
        const QString file = m_sandbox->path() + QStringLiteral("/t");
        QVERIFY(TestSandbox::writeFile(file, "x"));
        QVERIFY(setFileTime(file, 1000000000));
        QCOMPARE(QFileInfo(file).lastModified().toSecsSinceEpoch(), qint64(1000000000));
        QVERIFY(!setFileTime(m_sandbox->path() + QStringLiteral("/missing"), 1));
    }

private:
    QScopedPointer<TestSandbox> m_sandbox;
};

QTEST_GUILESS_MAIN(TestWindowsSupport)
#include "tst_windowssupport.moc"
