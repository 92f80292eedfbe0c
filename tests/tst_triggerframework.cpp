#include "integration/ZelManagerTrigger.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestTriggerSandbox.h"

#include <QtTest>

Q_DECLARE_METATYPE(TriggerType)

class TestTriggerFramework : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_sandbox.reset(new TestTriggerSandbox); }
    void cleanup() { m_sandbox.reset(); }

    void pathsAreClassified_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<TriggerType>("type");
        const struct
        {
            const char *path;
            TriggerType type;
        } rows[] = {
            { "share/applications/x.desktop", TriggerType::Application },
            { "share/applications/sub/x.desktop", TriggerType::None },
            { "share/applications/x.DESKTOP", TriggerType::None },
            { "share/applications/x.desktop.bak", TriggerType::None },
            { "share/alternatives/x.desktop", TriggerType::Alternative },
            { "share/environments/x.desktop", TriggerType::Environment },
            { "share/services/x.desktop", TriggerType::SystemService },
            { "share/other/x.desktop", TriggerType::None },
            { "x.desktop", TriggerType::None },
            { "/share/applications/x.desktop", TriggerType::None },
            { "share/info/gcc.info", TriggerType::UpdateInfoDir },
            { "share/info/gcc.info.gz", TriggerType::UpdateInfoDir },
            { "share/info/dir", TriggerType::None },
            { "share/info/gcc.info-1.gz", TriggerType::None },
            { "share/info/gcc-4.8.info.gz", TriggerType::None },
            { "share/info/sub/gcc.info", TriggerType::None },
            { "share/icons/hicolor/index.theme", TriggerType::UpdateIconTheme },
            { "share/icons/hicolor/48x48/apps/x.png", TriggerType::UpdateIconTheme },
            { "share/icons/x.png", TriggerType::None },
            { "share/iconsx/a/x.png", TriggerType::None },
            // Paths that climb out of the folder a trigger maintains.
            { "share/icons/../../etc/x.png", TriggerType::None },
            { "share/icons/../x/y.png", TriggerType::None },
            { "share/applications/../services/x.desktop", TriggerType::None },
        };
        for (const auto &row : rows)
            QTest::newRow(row.path) << QString::fromLatin1(row.path) << row.type;
    }
    void pathsAreClassified()
    {
        QFETCH(QString, path);
        QFETCH(TriggerType, type);
        QCOMPARE(int(triggerTypeForPath(path)), int(type));
    }

    void singletonsPerType()
    {
        QVERIFY(!triggerForType(TriggerType::None));
        QVERIFY(!triggerForType(static_cast<TriggerType>(7)));
        QVERIFY(!triggerForType(static_cast<TriggerType>(-1)));
        QSet<ZelManagerTrigger *> seen;
        for (int value = 1; value <= 6; ++value) {
            ZelManagerTrigger *trigger = triggerForType(static_cast<TriggerType>(value));
            QVERIFY(trigger);
            seen.insert(trigger);
        }
        QCOMPARE(seen.size(), 6);
        QCOMPARE(triggerForType(TriggerType::SystemService)->installActionText(), QStringLiteral("Install Service"));
        QCOMPARE(triggerForType(TriggerType::SystemService)->removeActionText(), QStringLiteral("Remove Service"));
        QCOMPARE(triggerForType(TriggerType::Application)->installActionText(), QStringLiteral("Apply Trigger"));

        destroyTriggers();
        QVERIFY(!triggerForType(TriggerType::Application));
        beginTriggers(); // without triggers: nothing to do, nothing to crash
        finishTriggers();
    }

    // begin() forgets what an earlier run touched.
    void runWithoutInfoFilesLeavesDirAlone()
    {
        const QString dir = ZelManagerSettings::instance()->targetPath() + QStringLiteral("/share/info/dir");
        QVERIFY(TestSandbox::writeFile(dir, "kept"));
        triggerForType(TriggerType::UpdateInfoDir)->installFile(QStringLiteral("share/info/a.info.gz"));
        beginTriggers();
        triggerForType(TriggerType::Application)->installFile(QStringLiteral("share/applications/none.desktop"));
        finishTriggers();
        QCOMPARE(TestSandbox::readFile(dir), QStringLiteral("kept"));
    }

private:
    QScopedPointer<TestTriggerSandbox> m_sandbox;
};

QTEST_MAIN(TestTriggerFramework)
#include "tst_triggerframework.moc"
