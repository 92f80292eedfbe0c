#include "integration/DesktopEntry.h"
#include "integration/ShellLink.h"
#include "integration/ZelManagerApplicationTrigger.h"
#include "integration/ZelManagerTrigger.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestTriggerSandbox.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

// The whole program runs under a German system locale, so that localized keys
// can be told apart from the plain ones.
class TestDesktopEntry : public QObject
{
    Q_OBJECT

private:
    QString target() const { return ZelManagerSettings::instance()->targetPath(); }

    // Writes share/applications/<id>.desktop and returns its package path.
    QString writeEntry(
        const QString &id, const QByteArray &keys, const QString &folder = QStringLiteral("applications"))
    {
        const QString path = QStringLiteral("share/%1/%2.desktop").arg(folder, id);
        [&] { QVERIFY(TestSandbox::writeFile(target() + QLatin1Char('/') + path, "[Desktop Entry]\n" + keys)); }();
        return path;
    }

    QString desktopLauncher(const QString &name) const
    {
        return ZelManagerApplicationTrigger::desktopFolder() + QLatin1Char('/') + name + QStringLiteral(".desktop");
    }
    QString menuLauncher(const QString &relative) const
    {
        return ZelManagerApplicationTrigger::programsFolder() + QLatin1Char('/') + relative
            + QStringLiteral(".desktop");
    }
    QString launcherValue(const QString &file, const QString &key) const
    {
        for (const QString &line : TestSandbox::readFile(file).split(QLatin1Char('\n'))) {
            if (line.startsWith(key + QLatin1Char('=')))
                return line.mid(key.size() + 1);
        }
        return QStringLiteral("<missing>");
    }

private slots:
    void init() { m_sandbox.reset(new TestTriggerSandbox); }
    void cleanup() { m_sandbox.reset(); }

    void dialectIsReadAsWritten()
    {
        QVERIFY(TestSandbox::writeFile(target() + QStringLiteral("/share/applications/tool.desktop"),
            "Name=Before the group\n"
            "  [Desktop Entry]  \n"
            "Type=Application\n"
            "Name=Tool\n"
            "Name[de]=Werkzeug (Sprache)\n"
            "Name[de_DE]=Werkzeug\n"
            "Comment = A \"quoted\" \\t comment \n"
            "GenericName[fr]=Outil\n"
            "=no key\n"
            "no equals sign\n"
            "Priority=high\n"
            "Terminal=Yes\n"
            "Categories=;Utility;;System\n"
            "MimeType=text/plain;\n"
            "URL=https://example.org/a b\n"
            "Exec=first\n"
            "Unknown=ignored\n"
            "[Desktop Action Other]\n"
            "Exec=second\n"
            "Path=bin\n"));
        const DesktopEntry entry = readDesktopEntry(QStringLiteral("share/applications/tool.desktop"));
        QCOMPARE(int(entry.type), int(DesktopEntryType::Application));
        QCOMPARE(entry.id, QStringLiteral("tool"));
        QCOMPARE(entry.names.value(QString()), QStringLiteral("Tool"));
        QCOMPARE(entry.names.value(QStringLiteral("de")), QStringLiteral("Werkzeug (Sprache)"));
        QCOMPARE(entry.localizedName(), QStringLiteral("Werkzeug"));
        QCOMPARE(entry.localizedComment(), QStringLiteral("A \"quoted\" \\t comment"));
        QCOMPARE(entry.localizedGenericName(), QString());
        QCOMPARE(entry.genericNames.value(QStringLiteral("fr")), QStringLiteral("Outil"));
        QCOMPARE(entry.priority, 0);
        QVERIFY(entry.terminal);
        QCOMPARE(entry.categories, QStringList({ QStringLiteral("Utility"), QStringLiteral("System") }));
        QCOMPARE(entry.mimeTypes, QStringList({ QStringLiteral("text/plain") }));
        QCOMPARE(entry.url.host(), QStringLiteral("example.org"));
        QCOMPARE(entry.exec, QStringLiteral("second")); // the later group overwrites
        QCOMPARE(entry.path, QStringLiteral("bin"));
        QVERIFY(entry.showOnDesktop && entry.showInStartMenu);

        // A plain name serves de_DE before a language-only one does.
        writeEntry(QStringLiteral("a"), "Name=Plain\nName[de]=Deutsch\nComment[de_DE]=Kommentar\n");
        const DesktopEntry plain = readDesktopEntry(QStringLiteral("share/applications/a.desktop"));
        QCOMPARE(plain.localizedName(), QStringLiteral("Plain"));
        QCOMPARE(plain.localizedComment(), QStringLiteral("Kommentar"));
    }

    void typesAndFlags_data()
    {
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<bool>("desktop");
        QTest::addColumn<bool>("startMenu");
        QTest::newRow("terminal yes") << QByteArray("Type=Service\nTerminal=yes") << 6 << true << true << true;
        QTest::newRow("terminal 1") << QByteArray("Type=Link\nTerminal=1") << 2 << true << true << true;
        QTest::newRow("terminal TRUE") << QByteArray("Type=Directory\nTerminal=TRUE") << 3 << true << true << true;
        QTest::newRow("terminal on") << QByteArray("Type=Environment\nTerminal=on") << 5 << false << true << true;
        QTest::newRow("type case") << QByteArray("Type=application") << 0 << false << true << true;
        QTest::newRow("no type") << QByteArray("Name=x") << 0 << false << true << true;
        QTest::newRow("not desktop") << QByteArray("Type=Alternative\nNotShowIn=Desktop;") << 4 << false << false
                                     << true;
        QTest::newRow("not both") << QByteArray("Type=Application\nNotShowIn=Other;StartMenu;Desktop") << 1 << false
                                  << false << false;
        QTest::newRow("only desktop") << QByteArray("Type=Application\nOnlyShowIn=Desktop;") << 1 << false << true
                                      << true;
        QTest::newRow("not then only") << QByteArray("Type=Application\nNotShowIn=Desktop\nOnlyShowIn=Desktop") << 1
                                       << false << true << true;
    }
    void typesAndFlags()
    {
        QFETCH(QByteArray, keys);
        writeEntry(QStringLiteral("e"), keys);
        const DesktopEntry entry = readDesktopEntry(QStringLiteral("share/applications/e.desktop"));
        QTEST(int(entry.type), "type");
        QTEST(entry.terminal, "terminal");
        QTEST(entry.showOnDesktop, "desktop");
        QTEST(entry.showInStartMenu, "startMenu");
    }

    void unreadableEntriesAreNone()
    {
        QVERIFY(TestSandbox::writeFile(
            target() + QStringLiteral("/share/applications/n.txt"), "[Desktop Entry]\nType=Link"));
        QCOMPARE(int(readDesktopEntry(QStringLiteral("share/applications/n.txt")).type), 0);
        const DesktopEntry missing = readDesktopEntry(QStringLiteral("share/applications/missing.desktop"));
        QCOMPARE(int(missing.type), 0);
        QCOMPARE(missing.id, QStringLiteral("missing"));
        // Without the group header no key counts.
        QVERIFY(TestSandbox::writeFile(target() + QStringLiteral("/share/applications/h.desktop"), "Type=Link\n"));
        QCOMPARE(int(readDesktopEntry(QStringLiteral("share/applications/h.desktop")).type), 0);
    }

    void commandLinesSplit_data()
    {
        QTest::addColumn<QString>("exec");
        QTest::addColumn<QStringList>("parts");
        QTest::newRow("plain") << "tool --x" << QStringList { "tool", "--x" };
        QTest::newRow("quoted") << "\"bin/my app\" \"a b\" c" << QStringList { "bin/my app", "a b", "c" };
        QTest::newRow("escaped quote") << "\"say \\\"hi\\\"\" x" << QStringList { "say \\\"hi\\\"", "x" };
        QTest::newRow("escaped space") << "my\\ app arg" << QStringList { "my\\ app", "arg" };
        QTest::newRow("unclosed") << "app \"open to end" << QStringList { "app", "open to end" };
        QTest::newRow("white space") << QString::fromUtf8("\ta\u00a0b\u2003 c\r\n") << QStringList { "a", "b", "c" };
        QTest::newRow("field codes") << "app %F %u" << QStringList { "app", "%F", "%u" };
        QTest::newRow("empty") << "   " << QStringList();
    }
    void commandLinesSplit()
    {
        QFETCH(QString, exec);
        QTEST(splitCommandLine(exec), "parts");
    }

    void startMenuFolders()
    {
        QCOMPARE(startMenuFolder({ "System", "Utility" }), QStringLiteral("Utility Tools/"));
        QCOMPARE(startMenuFolder({ "Graphics", "Network" }), QStringLiteral("Network Tools/"));
        QCOMPARE(startMenuFolder({ "Vantor", "System" }), QStringLiteral("Vantor Tools/"));
        QCOMPARE(startMenuFolder({ "Game", "utility" }), QString());
    }

    void shortcutsPointAtInstalledPrograms()
    {
        QVERIFY(ZelManagerApplicationTrigger::desktopFolder().startsWith(m_sandbox->home()));
        QVERIFY(ZelManagerApplicationTrigger::programsFolder().startsWith(m_sandbox->home()));
        ZelManagerTrigger *trigger = triggerForType(TriggerType::Application);
        trigger->installFile(writeEntry(QStringLiteral("tool"),
            "Type=Application\nName=Tool\nComment=Does\\nthings\nExec=tool --x\n"
            "Path=work\nCategories=Development;\n"));
        trigger->installFile(writeEntry(QStringLiteral("bat"),
            "Type=Application\nName=Batch\nExec=lib/app.bat\n"
            "NotShowIn=Desktop"));
        trigger->installFile(writeEntry(QStringLiteral("spaced"),
            "Type=Application\nName=Spaced\n"
            "Exec=\"bin/my app\" \"a b\" c %F 50%\n"
            "NotShowIn=StartMenu"));

        const QString tool = desktopLauncher(QStringLiteral("Tool"));
        QCOMPARE(launcherValue(tool, "Type"), QStringLiteral("Application"));
        QCOMPARE(launcherValue(tool, "Exec"), target() + QStringLiteral("/bin/tool.exe --x"));
        QCOMPARE(launcherValue(tool, "Name"), QStringLiteral("Tool"));
        QCOMPARE(launcherValue(tool, "Comment"), QStringLiteral("Does\\\\nthings"));
        QCOMPARE(launcherValue(tool, "Path"), QStringLiteral("work"));
        QVERIFY(QFileInfo(tool).isExecutable());
        QCOMPARE(
            TestSandbox::readFile(menuLauncher(QStringLiteral("Development Tools/Tool"))), TestSandbox::readFile(tool));

        QVERIFY(!QFileInfo::exists(desktopLauncher(QStringLiteral("Batch"))));
        QCOMPARE(
            launcherValue(menuLauncher(QStringLiteral("Batch")), "Exec"), target() + QStringLiteral("/lib/app.bat"));

        const QString spaced = desktopLauncher(QStringLiteral("Spaced"));
        QCOMPARE(launcherValue(spaced, "Exec"),
            QLatin1Char('"') + target() + QStringLiteral("/bin/my app.exe\" \"a b\" c 50%%"));
        QVERIFY(!QFileInfo::exists(menuLauncher(QStringLiteral("Spaced"))));
    }

    void linksAndFolders()
    {
        ZelManagerTrigger *trigger = triggerForType(TriggerType::Application);
        QVERIFY(QDir().mkpath(target() + QStringLiteral("/doc")));
        trigger->installFile(writeEntry(QStringLiteral("web"), "Type=Link\nName=Home page\nURL=https://example.org/x"));
        trigger->installFile(writeEntry(
            QStringLiteral("docs"), QByteArray("Type=Directory\nName=Docs\nPath=") + target().toUtf8() + "/doc"));
        trigger->installFile(writeEntry(QStringLiteral("svc"), "Type=Service\nName=Service\nExec=x"));
        trigger->installFile(writeEntry(QStringLiteral("noexec"), "Type=Application\nName=Nothing\n"));

        const QString web = desktopLauncher(QStringLiteral("Home page"));
        QCOMPARE(launcherValue(web, "Type"), QStringLiteral("Link"));
        QCOMPARE(launcherValue(web, "URL"), QStringLiteral("https://example.org/x"));
        QCOMPARE(launcherValue(desktopLauncher(QStringLiteral("Docs")), "URL"),
            QUrl::fromLocalFile(target() + QStringLiteral("/doc")).toString());
        QVERIFY(!QFileInfo::exists(desktopLauncher(QStringLiteral("Service"))));
        QVERIFY(!QFileInfo::exists(desktopLauncher(QStringLiteral("Nothing"))));
    }

    void namesCannotLeaveTheirFolder()
    {
        ZelManagerTrigger *trigger = triggerForType(TriggerType::Application);
        const QString path = writeEntry(QStringLiteral("odd"), "Type=Application\nName=../a: b?\nExec=x");
        trigger->installFile(path);
        QVERIFY(QFileInfo::exists(desktopLauncher(QStringLiteral(".._a_ b_"))));
        trigger->removeFile(path);
        QVERIFY(!QFileInfo::exists(desktopLauncher(QStringLiteral(".._a_ b_"))));

        const QString unnamed = writeEntry(QStringLiteral("unnamed"), "Type=Application\nName=..\nExec=x");
        trigger->installFile(unnamed);
        QVERIFY(QFileInfo::exists(desktopLauncher(QStringLiteral("unnamed"))));
    }

    void removalTidiesTheStartMenu()
    {
        ZelManagerTrigger *trigger = triggerForType(TriggerType::Application);
        const QString paint = writeEntry(QStringLiteral("paint"),
            "Type=Application\nName=Paint\nExec=paint\n"
            "Categories=Graphics;");
        const QString view = writeEntry(QStringLiteral("view"),
            "Type=Application\nName=View\nExec=view\n"
            "Categories=Graphics;");
        const QString top = writeEntry(QStringLiteral("top"), "Type=Application\nName=Top\nExec=top");
        for (const QString &path : { paint, view, top })
            trigger->installFile(path);
        const QString graphics = ZelManagerApplicationTrigger::programsFolder() + QStringLiteral("/Graphics Tools");

        trigger->removeFile(paint);
        QVERIFY(!QFileInfo::exists(desktopLauncher(QStringLiteral("Paint"))));
        QVERIFY(!QFileInfo::exists(menuLauncher(QStringLiteral("Graphics Tools/Paint"))));
        QVERIFY(QFileInfo(graphics).isDir()); // still holds View

        trigger->removeFile(view);
        QVERIFY(!QFileInfo::exists(graphics));
        trigger->removeFile(top);
        trigger->removeFile(top); // already gone: no harm
        QVERIFY(!QFileInfo::exists(menuLauncher(QStringLiteral("Top"))));
        // The user's own menu folder stays, even when it is empty now.
        QVERIFY(QFileInfo(ZelManagerApplicationTrigger::programsFolder()).isDir());
    }

    void shellLinkForScripts()
    {
        ShellLink link;
        link.setPath(QStringLiteral("C:\\Program Files\\x.exe"));
        link.setArguments({ QStringLiteral("$HOME"), QStringLiteral("a\\b") });
        link.setIconLocation(QStringLiteral("/icons/x.png"));
        const QString lnk = m_sandbox->path() + QStringLiteral("/links/sub/Link.LNK");
        QVERIFY(link.save(lnk));
        const QString file = m_sandbox->path() + QStringLiteral("/links/sub/Link.desktop");
        QCOMPARE(ShellLink::hostFilePath(lnk), file);
        QCOMPARE(launcherValue(file, "Exec"),
            QStringLiteral("\"C:\\\\\\\\Program Files\\\\\\\\x.exe\" \"\\\\$HOME\" \"a\\\\\\\\b\""));
        QCOMPARE(launcherValue(file, "Icon"), QStringLiteral("/icons/x.png"));
        QCOMPARE(launcherValue(file, "Name"), QStringLiteral("Link"));
        QVERIFY(ShellLink::remove(lnk));
        QVERIFY(!QFileInfo::exists(file));
        QVERIFY(!ShellLink::remove(lnk));
    }

private:
    QScopedPointer<TestTriggerSandbox> m_sandbox;
};

int main(int argc, char *argv[])
{
    qputenv("LC_ALL", "de_DE.UTF-8");
    QApplication app(argc, argv);
    TestDesktopEntry test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktopentry.moc"
