#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerScriptEngine.h"
#include "integration/HostRegistryKey.h"
#include "integration/ShellLink.h"
#include "integration/WindowsSupport.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestSandbox.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

class TestScriptEngine : public QObject
{
    Q_OBJECT

private:
    ZelManagerScriptEngine *engine() const { return ZelManagerScriptEngine::instance(); }
    QString target() const { return ZelManagerSettings::instance()->targetPath(); }
    QString path(const QString &relative) const { return target() + QLatin1Char('/') + relative; }
    QString read(const QString &relative) const { return TestSandbox::readFile(path(relative)); }
    bool exists(const QString &relative) const { return QFileInfo::exists(path(relative)); }

    void write(const QString &relative, const QByteArray &data = "x")
    {
        QVERIFY(TestSandbox::writeFile(path(relative), data));
    }
    void writeProgram(const QString &relative, const QByteArray &body)
    {
        write(relative, "#!/bin/sh\n" + body);
        QVERIFY(QFile::setPermissions(path(relative), QFile::permissions(path(relative)) | QFile::ExeOwner));
    }

    // Scripts of the package "pkg" during an installation.
    bool run(const QString &script) { return engine()->evaluate(script, QStringLiteral("pkg"), 3); }

    QList<ZelManagerDatabase::ErrorRecord> errors() const
    {
        QList<ZelManagerDatabase::ErrorRecord> records;
        for (qint64 id : ZelManagerDatabase::instance()->errorIds())
            records << ZelManagerDatabase::instance()->error(id);
        return records;
    }
    QStringList descriptions() const
    {
        QStringList texts;
        for (const auto &record : errors())
            texts << record.description;
        return texts;
    }

    static QString registryValue(
        HostRegistryKey::Root root, const char *key, const QString &name, HostRegistryKey::ValueType *type = nullptr)
    {
        return HostRegistryKey(root, QLatin1String(key)).value(name, type).toString();
    }

private slots:
    void init()
    {
        m_sandbox.reset(new TestSandbox);
        ZelManagerSettings::instance()->setInstallPath(m_sandbox->installPath());
        QVERIFY(QDir().mkpath(target()));
        ZelManagerDatabase::instance();
        QCOMPARE(engine()->installFolder(), target());
    }
    void cleanup()
    {
        ZelManagerScriptEngine::cleanup();
        ZelManagerDatabase::cleanup();
        m_sandbox.reset();
    }

    void emptyScriptIsSuccess()
    {
        QVERIFY(engine()->evaluate(QStringLiteral(" \n\t ")));
        QVERIFY(engine()->evaluate(QString(), QStringLiteral("pkg"), 2));
        QVERIFY(errors().isEmpty());
        QVERIFY(engine()->lastError().isEmpty());
    }

    void globalsPersistBetweenScripts()
    {
        QVERIFY(run(QStringLiteral("counter = 41; installFolder = installFolder + '/share';")));
        QVERIFY2(engine()->evaluate(QStringLiteral("counter += 1; if (counter != 42) throw 'lost';"
                                                   "if (packageName != 'other' || operationType != 2) throw 'globals';")
                         + QStringLiteral("if (installFolder != '%1/share') throw 'folder';").arg(target()),
                     QStringLiteral("other"), 2),
            qPrintable(engine()->lastError()));
        QCOMPARE(engine()->installFolder(), path(QStringLiteral("share")));
        // The plain form keeps the package and kind of the script before.
        QVERIFY(!engine()->evaluate(QStringLiteral("remove()")));
        QCOMPARE(errors().last().package, QStringLiteral("other"));
        QCOMPARE(errors().last().kind, 2);
    }

    void scriptErrorsAreKept()
    {
        QVERIFY(!run(QStringLiteral("var a = 1;\nnoSuchCommand();")));
        QVERIFY(engine()->lastError().startsWith(QStringLiteral("ReferenceError")));
        QCOMPARE(errors().size(), 1);
        QCOMPARE(errors().first().description, QStringLiteral("script error in line 2: ") + engine()->lastError());
        // A command's own error is filed once, even when the script rethrows it.
        QVERIFY(!run(QStringLiteral("try { rename('a') } catch (e) { throw e }")));
        QCOMPARE(descriptions().mid(1), QStringList(QStringLiteral("rename: needs 2 arguments")));
        QCOMPARE(engine()->lastError(), QStringLiteral("Error: rename: needs 2 arguments"));
    }

    void removeDeletesMatchingFilesOnly()
    {
        for (const char *name : { "share/doc/a.txt", "share/doc/b.TXT", "share/doc/keep.md", "share/doc/deep/c.txt" })
            write(QLatin1String(name));
        QVERIFY(QDir().mkpath(path(QStringLiteral("share/doc/folder.txt"))));
        QVERIFY(run(QStringLiteral("remove('share/doc/*.txt')")));
        QVERIFY(!exists(QStringLiteral("share/doc/a.txt")));
        QVERIFY(!exists(QStringLiteral("share/doc/b.TXT")));
        QVERIFY(exists(QStringLiteral("share/doc/keep.md")));
        QVERIFY(exists(QStringLiteral("share/doc/deep/c.txt")));
        QVERIFY(QFileInfo(path(QStringLiteral("share/doc/folder.txt"))).isDir());

        // Absolute patterns, several arguments, wildcards in the middle, and
        // patterns that match nothing.
        QVERIFY(run(QStringLiteral("remove('%1/share/doc/*.md', 'share/*/deep/c.txt', 'share/none/*.txt', 'gone.txt')")
                        .arg(target())));
        QVERIFY(!exists(QStringLiteral("share/doc/keep.md")));
        QVERIFY(!exists(QStringLiteral("share/doc/deep/c.txt")));
        QVERIFY(errors().isEmpty());
    }

    void copyIntoFoldersAndOntoPaths()
    {
        write(QStringLiteral("bin/a.dll"), "aaa");
        write(QStringLiteral("bin/b.dll"), "bbb");
        writeProgram(QStringLiteral("bin/tool.sh"), "exit 0\n");
        QVERIFY(QDir().mkpath(path(QStringLiteral("lib"))));
        QVERIFY(run(QStringLiteral("copy('bin/*.dll', 'bin/tool.sh', 'lib')")));
        QCOMPARE(read(QStringLiteral("lib/a.dll")), QStringLiteral("aaa"));
        QCOMPARE(read(QStringLiteral("lib/b.dll")), QStringLiteral("bbb"));
        QVERIFY(QFileInfo(path(QStringLiteral("lib/tool.sh"))).isExecutable());

        // A target path whose folder is missing; an existing file is replaced.
        write(QStringLiteral("etc/old.conf"), "old contents");
        QVERIFY(run(QStringLiteral("copy('bin/a.dll', 'new/deep/c.dll'); copy('bin/b.dll', 'etc/old.conf');"
                                   "copy('bin/b.dll', 'made/')")));
        QCOMPARE(read(QStringLiteral("new/deep/c.dll")), QStringLiteral("aaa"));
        QCOMPARE(read(QStringLiteral("etc/old.conf")), QStringLiteral("bbb"));
        QCOMPARE(read(QStringLiteral("made/b.dll")), QStringLiteral("bbb"));

        // Onto itself: left intact. A missing source is filed and the copy
        // goes on with the next one.
        QVERIFY(run(QStringLiteral("copy('bin/a.dll', 'bin'); copy('bin/missing.dll', 'bin/a.dll', 'lib/x.dll')")));
        QCOMPARE(read(QStringLiteral("bin/a.dll")), QStringLiteral("aaa"));
        QCOMPARE(read(QStringLiteral("lib/x.dll")), QStringLiteral("aaa"));
        QCOMPARE(
            descriptions(), QStringList(QStringLiteral("copy: can not read file %1").arg(path("bin/missing.dll"))));

        QVERIFY(!run(QStringLiteral("copy('bin/a.dll', '*')")));
        QCOMPARE(descriptions().last(), QStringLiteral("copy: target folder invalid: %1/*").arg(target()));
    }

    void moveChecksItsTarget()
    {
        write(QStringLiteral("share/one.txt"), "1");
        write(QStringLiteral("share/two.txt"), "2");
        write(QStringLiteral("share/file.dat"), "keep");
        QVERIFY(!run(QStringLiteral("move('share/*.txt', 'share/file.dat'); remove('share/one.txt')")));
        QCOMPARE(engine()->lastError(), QStringLiteral("Error: move: target must be folder for multiple sources"));
        QVERIFY(exists(QStringLiteral("share/one.txt"))); // the script ended at the throw
        QCOMPARE(read(QStringLiteral("share/file.dat")), QStringLiteral("keep"));
        // Onto a path that does not exist yet: still not a folder.
        QVERIFY(!run(QStringLiteral("move('share/*.txt', 'share/new.dat')")));
        QVERIFY(exists(QStringLiteral("share/two.txt")));

        QVERIFY(QDir().mkpath(path(QStringLiteral("doc"))));
        QVERIFY(run(QStringLiteral("move('share/*.txt', 'doc'); move('share/file.dat', 'etc/moved.dat')")));
        QCOMPARE(read(QStringLiteral("doc/one.txt")), QStringLiteral("1"));
        QCOMPARE(read(QStringLiteral("doc/two.txt")), QStringLiteral("2"));
        QCOMPARE(read(QStringLiteral("etc/moved.dat")), QStringLiteral("keep"));
        QVERIFY(!exists(QStringLiteral("share/one.txt")));
        QVERIFY(!exists(QStringLiteral("share/file.dat")));

        // Moving a file onto itself must not lose it.
        QVERIFY(run(QStringLiteral("move('doc/one.txt', 'doc')")));
        QCOMPARE(read(QStringLiteral("doc/one.txt")), QStringLiteral("1"));

        QVERIFY(!run(QStringLiteral("move('share/*.none', 'doc')")));
        QVERIFY(!run(QStringLiteral("move('doc/one.txt', '*')")));
        QCOMPARE(descriptions(),
            QStringList({ QStringLiteral("move: target must be folder for multiple sources"),
                QStringLiteral("move: target must be folder for multiple sources"),
                QStringLiteral("move: source file invalid"), QStringLiteral("move: target invalid") }));
    }

    void renameFailures()
    {
        write(QStringLiteral("a/x.txt"));
        write(QStringLiteral("a/y.txt"));
        QVERIFY(!run(QStringLiteral("rename('a/*.none', 'a/z.txt')")));
        QVERIFY(!run(QStringLiteral("rename('a/x.txt', 'a/*.txt')")));
        QVERIFY(!run(QStringLiteral("rename('a/x.txt', 'missing/z.txt')")));
        QVERIFY(!run(QStringLiteral("rename('a/x.txt', 'a/y.txt')"))); // an existing target is kept
        QCOMPARE(descriptions(),
            QStringList({ QStringLiteral("rename: source file invalid: %1/a/*.none").arg(target()),
                QStringLiteral("rename: target file invalid: %1/a/*.txt").arg(target()),
                QStringLiteral("rename: failed to rename %1 to %2").arg(path("a/x.txt"), path("missing/z.txt")),
                QStringLiteral("rename: failed to rename %1 to %2").arg(path("a/x.txt"), path("a/y.txt")) }));
        QVERIFY(run(QStringLiteral("rename('a/x*', 'a/z.txt')")));
        QVERIFY(exists(QStringLiteral("a/z.txt")));
        QVERIFY(!exists(QStringLiteral("a/x.txt")));
    }

    void replaceText()
    {
        QVERIFY(!engine()->evaluate(QStringLiteral("replacetext('a', 'b'); remove('x')"), QStringLiteral("tool"), 4));
        QCOMPARE(engine()->lastError(), QStringLiteral("Error: replacetext: needs 3 or more arguments"));
        QCOMPARE(errors().size(), 1);
        QCOMPARE(errors().first().package, QStringLiteral("tool"));
        QCOMPARE(errors().first().kind, 4);
        QCOMPARE(errors().first().description, QStringLiteral("replacetext: needs 3 or more arguments"));

        write(QStringLiteral("etc/a.conf"), "prefix=/old\nlib=/old/lib\nOLD=/Old\n");
        write(QStringLiteral("etc/latin1.conf"), "caf\xe9 /old\n"); // not UTF-8
        QVERIFY(run(QStringLiteral("replacetext('/old', 'C:/Vantor', 'etc/a.conf', 'etc/none.conf', "
                                   "'%1/etc/latin1.conf')")
                        .arg(target())));
        QCOMPARE(read(QStringLiteral("etc/a.conf")), QStringLiteral("prefix=C:/Vantor\nlib=C:/Vantor/lib\nOLD=/Old\n"));
        QFile latin1(path(QStringLiteral("etc/latin1.conf")));
        QVERIFY(latin1.open(QIODevice::ReadOnly));
        QCOMPARE(latin1.readAll(), QByteArray("caf\xe9 C:/Vantor\n"));
        QCOMPARE(descriptions().last(), QStringLiteral("replacetext: can not read file %1").arg(path("etc/none.conf")));
    }

    void findFilePath()
    {
        write(QStringLiteral("lib/one/tool.dll"));
        QVERIFY(QDir().mkpath(path(QStringLiteral("lib/two"))));
        // Without a wildcard the path is the answer, even for a missing file;
        // with one, only what exists counts.
        QVERIFY2(
            run(QStringLiteral("if (findfilepath('bin/none.exe') != installFolder + '/bin/none.exe') throw 1;"
                               "if (findfilepath('lib/*/tool.dll') != installFolder + '/lib/one/tool.dll') throw 2;"
                               "copy(findfilepath('lib/o*/tool.dll'), 'found.dll');")),
            qPrintable(engine()->lastError()));
        QVERIFY(exists(QStringLiteral("found.dll")));
        QVERIFY(!run(QStringLiteral("findfilepath('lib/*')")));
        QCOMPARE(descriptions(),
            QStringList(QStringLiteral("findfilepath: file not match exact 1 file: %1/lib/*").arg(target())));
    }

    void execChecksExitCodes()
    {
        writeProgram(QStringLiteral("bin/fail.sh"), "echo to-out\necho to-err >&2\nexit 3\n");
        // Input is never answered: a program that reads gets end-of-file.
        writeProgram(QStringLiteral("bin/ask.sh"), "read answer\nexit 0\n");
        QVERIFY(run(QStringLiteral("exec('bin/fail.sh', 0); exec('bin/ask.sh')")));
        QVERIFY(errors().isEmpty());

        QVERIFY(run(QStringLiteral("exec('bin/fail.sh'); exec('bin/fail.sh', 1, '', 'x')")));
        QCOMPARE(errors().size(), 2);
        const QString message = errors().first().description;
        QVERIFY2(message.startsWith(QStringLiteral("exec: program exits with code 3, output:\n")), qPrintable(message));
        QVERIFY(message.contains(QStringLiteral("to-out\n")));
        QVERIFY(message.contains(QStringLiteral("to-err\n")));
        QCOMPARE(errors().first().package, QStringLiteral("pkg"));

        QVERIFY(run(QStringLiteral("exec('bin/none.sh')")));
        QCOMPARE(descriptions().last(), QStringLiteral("exec: can not start program %1").arg(path("bin/none.sh")));
        QVERIFY(!run(QStringLiteral("exec('bin/*.none')")));
        QCOMPARE(descriptions().last(), QStringLiteral("exec: program path invalid: %1/bin/*.none").arg(target()));
    }

    void execWorkingFolderAndArguments()
    {
        writeProgram(QStringLiteral("bin/where.sh"), "pwd > where.txt\nprintf '%s|' \"$@\" >> where.txt\n");
        QVERIFY(QDir().mkpath(path(QStringLiteral("work/a1"))));
        QVERIFY(QDir().mkpath(path(QStringLiteral("work/a2"))));
        QVERIFY(!run(QStringLiteral("exec('bin/where.sh', 1, 'work/a*')")));
        const QString message = descriptions().value(0);
        QVERIFY2(
            message.startsWith(QStringLiteral("exec: working folder invalid: %1/work/a*, matched: ").arg(target())),
            qPrintable(message));
        QVERIFY(message.endsWith(path("work/a1") + QLatin1Char(';') + path("work/a2"))
            || message.endsWith(path("work/a2") + QLatin1Char(';') + path("work/a1")));

        QVERIFY(run(QStringLiteral("exec('%1/bin/where.sh', 1, 'work/a2', 'one two', 3)").arg(target())));
        QCOMPARE(read(QStringLiteral("work/a2/where.txt")),
            QDir(path(QStringLiteral("work/a2"))).canonicalPath() + QStringLiteral("\none two|3|"));
        // Without a working folder the program runs in the install folder.
        QVERIFY(run(QStringLiteral("exec('bin/where.sh', 1, '')")));
        QVERIFY(exists(QStringLiteral("where.txt")));
    }

    void environmentGoesToTheRegistry()
    {
        QVERIFY(run(QStringLiteral("setenv('VANTOR_HOME', '%SystemDrive%\\\\Vantor'); addenvpath('bin')")));
        HostRegistryKey::ValueType type = HostRegistryKey::String;
        QCOMPARE(
            registryValue(HostRegistryKey::LocalMachine, MachineEnvironmentKey, QStringLiteral("VANTOR_HOME"), &type),
            QStringLiteral("%SystemDrive%\\Vantor"));
        QCOMPARE(type, HostRegistryKey::ExpandString);
        const QString bin = QDir::toNativeSeparators(path(QStringLiteral("bin")));
        QCOMPARE(registryValue(HostRegistryKey::LocalMachine, MachineEnvironmentKey, QStringLiteral("Path")), bin);
        QVERIFY(TestSandbox::readFile(m_sandbox->home() + QStringLiteral("/.vantor/environment.sh"))
                    .contains(QStringLiteral("VANTOR_HOME")));

        QVERIFY(run(QStringLiteral("addenvpath('/opt/tools'); rmenvpath('bin')")));
        QCOMPARE(registryValue(HostRegistryKey::LocalMachine, MachineEnvironmentKey, QStringLiteral("Path")),
            QStringLiteral("/opt/tools"));
        QVERIFY(errors().isEmpty());
    }

    // Every name and value comes back as it was stored, whatever it holds; a
    // name that looks like a key line takes no other value with it.
    void registryValuesRoundTrip()
    {
        const QStringList texts = { QStringLiteral("[x"), QStringLiteral("y]"), QStringLiteral("[whole]"),
            QStringLiteral("a=b"), QStringLiteral("=lead"), QStringLiteral("two\nlines\r\n"),
            QStringLiteral("C:\\dir\\"), QStringLiteral("\\e\\n\\["), QStringLiteral("Größe ✓ 日本"),
            QStringLiteral("type=sz:text"), QStringLiteral(" ") };
        {
            HostRegistryKey key(HostRegistryKey::LocalMachine, QLatin1String(MachineEnvironmentKey));
            QVERIFY(key.setString(QStringLiteral("Path"), QStringLiteral("/a;/b")));
            for (int i = 0; i < texts.size(); ++i)
                QVERIFY(key.setString(texts.at(i), texts.at(texts.size() - 1 - i), HostRegistryKey::String));
            QVERIFY(key.setString(QStringLiteral("[x"), QStringLiteral("y]")));
        }
        QVERIFY(run(QStringLiteral("addenvpath('bin')")));
        HostRegistryKey key(HostRegistryKey::LocalMachine, QLatin1String(MachineEnvironmentKey));
        QCOMPARE(key.value(QStringLiteral("Path")).toString(),
            QDir::toNativeSeparators(path(QStringLiteral("bin"))) + QStringLiteral(";/a;/b"));
        QCOMPARE(key.valueNames().size(), texts.size() + 1);
        for (int i = 0; i < texts.size(); ++i) {
            if (texts.at(i) != QLatin1String("[x"))
                QCOMPARE(key.value(texts.at(i)).toString(), texts.at(texts.size() - 1 - i));
        }
        QCOMPARE(key.value(QStringLiteral("[x")).toString(), QStringLiteral("y]"));

        // A hive written before "[" and "]" were escaped reads as it did.
        QVERIFY(TestSandbox::writeFile(HostRegistryKey::hiveFile(HostRegistryKey::CurrentUser),
            "[Environment\\\\Old]\nPath=expand:C:\\\\a;C:\\\\b\nodd\\ename=sz:x\\ny\n"));
        HostRegistryKey old(HostRegistryKey::CurrentUser, QStringLiteral("Environment\\Old"));
        QCOMPARE(old.value(QStringLiteral("Path")).toString(), QStringLiteral("C:\\a;C:\\b"));
        QCOMPARE(old.value(QStringLiteral("odd=name")).toString(), QStringLiteral("x\ny"));
    }

    void setenvFallsBackToTheUser()
    {
        // A host root that cannot hold a hive stands for missing rights.
        const QString blocked = m_sandbox->path() + QStringLiteral("/blocked");
        QVERIFY(TestSandbox::writeFile(blocked, "not a folder"));
        qputenv("ZELMANAGER_HOST_ROOT", QFile::encodeName(blocked + QStringLiteral("/host")));
        QVERIFY(run(QStringLiteral("setenv('VANTOR_USER', 'yes')")));
        QCOMPARE(registryValue(HostRegistryKey::CurrentUser, UserEnvironmentKey, QStringLiteral("VANTOR_USER")),
            QStringLiteral("yes"));
        QVERIFY(errors().isEmpty());
    }

    void shortcutsAreCreatedAndRemoved()
    {
        const QString menu = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
        const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        QVERIFY(menu.startsWith(m_sandbox->path()));
        QVERIFY(desktop.startsWith(m_sandbox->path()));
        writeProgram(QStringLiteral("bin/tool.sh"), "exit 0\n");
        QVERIFY(run(QStringLiteral("addmenulnk('/Vantor Tools/Sub/Tool.lnk', 'bin/tool.sh', 'a b', '-c');"
                                   "addmenulnk('Vantor Tools/Other.lnk', 'bin/tool.sh');"
                                   "adddesktoplnk('Tool.lnk', 'bin/tool.sh')")));
        const QString menuLink = ShellLink::hostFilePath(menu + QStringLiteral("/Vantor Tools/Sub/Tool.lnk"));
        const QString desktopLink = ShellLink::hostFilePath(desktop + QStringLiteral("/Tool.lnk"));
        const QString launcher = TestSandbox::readFile(menuLink);
        QVERIFY2(launcher.contains(QStringLiteral("Exec=") + path("bin/tool.sh") + QStringLiteral(" \"a b\" -c")),
            qPrintable(launcher));
        QVERIFY(TestSandbox::readFile(desktopLink).contains(path("bin/tool.sh")));

        QVERIFY(run(QStringLiteral("rmmenulnk('Vantor Tools/Sub/Tool.lnk'); rmdesktoplnk('/Tool.lnk')")));
        QVERIFY(!QFileInfo::exists(menuLink));
        QVERIFY(!QFileInfo::exists(desktopLink));
        QVERIFY(!QFileInfo::exists(menu + QStringLiteral("/Vantor Tools/Sub")));
        QVERIFY(QFileInfo::exists(menu + QStringLiteral("/Vantor Tools"))); // still holds Other
        QVERIFY(run(QStringLiteral("rmmenulnk('Vantor Tools/Other.lnk'); rmmenulnk('Vantor Tools/Other.lnk')")));
        QVERIFY(!QFileInfo::exists(menu + QStringLiteral("/Vantor Tools")));
        QVERIFY(QFileInfo(menu).isDir());
        QVERIFY(errors().isEmpty());

        // Shortcuts stay below their folders.
        QVERIFY(!run(QStringLiteral("rmdesktoplnk('../x.lnk')")));
        QCOMPARE(descriptions(), QStringList(QStringLiteral("rmdesktoplnk: link path invalid: ../x.lnk")));
    }

    void runawayScriptIsStopped()
    {
        engine()->setTimeLimit(300);
        QVERIFY(!run(QStringLiteral("var i = 0; while (true) { try { ++i } catch (e) {} }")));
        const QString stopped = QStringLiteral("script stopped after running for more than 0.3 seconds");
        QCOMPARE(engine()->lastError(), stopped);
        QCOMPARE(descriptions(), QStringList(stopped));

        // A program that never ends is killed with its script.
        writeProgram(QStringLiteral("bin/hang.sh"), "echo $$ > hang.pid\nexec sleep 600\n");
        QVERIFY(!run(QStringLiteral("exec('bin/hang.sh'); copy('hang.pid', 'after.pid')")));
        QCOMPARE(descriptions(), QStringList({ stopped, stopped }));
        QVERIFY(!exists(QStringLiteral("after.pid")));
        const QString pid = read(QStringLiteral("hang.pid")).trimmed();
        QVERIFY(!pid.isEmpty());
        QVERIFY(!QFileInfo::exists(QStringLiteral("/proc/") + pid));

        // The engine works normally afterwards.
        QVERIFY(run(QStringLiteral("var done = 1;")));
        QCOMPARE(errors().size(), 2);
    }

    void scriptStartedWhileAnotherWaits()
    {
        writeProgram(QStringLiteral("bin/pause.sh"), "sleep 0.5\n");
        bool innerOk = true;
        QTimer::singleShot(
            50, this, [&] { innerOk = engine()->evaluate(QStringLiteral("remove()"), QStringLiteral("inner"), 2); });
        QVERIFY(!run(QStringLiteral("exec('bin/pause.sh'); rename()")));
        QVERIFY(!innerOk);
        QCOMPARE(errors().size(), 2);
        QCOMPARE(errors().at(0).package, QStringLiteral("inner"));
        QCOMPARE(errors().at(0).kind, 2);
        QCOMPARE(errors().at(1).package, QStringLiteral("pkg"));
        QCOMPARE(errors().at(1).kind, 3);
        QCOMPARE(engine()->packageName(), QStringLiteral("pkg"));

        // Also while a long loop lets the GUI have its events.
        innerOk = true;
        QTimer::singleShot(
            50, this, [&] { innerOk = engine()->evaluate(QStringLiteral("copy()"), QStringLiteral("inner"), 2); });
        QVERIFY(!run(QStringLiteral("var t = Date.now(); while (Date.now() - t < 500) {} move()")));
        QVERIFY(!innerOk);
        QCOMPARE(errors().at(2).package, QStringLiteral("inner"));
        QCOMPARE(errors().at(3).description, QStringLiteral("move: needs 2 arguments"));
        QCOMPARE(errors().at(3).package, QStringLiteral("pkg"));
    }

private:
    QScopedPointer<TestSandbox> m_sandbox;
};

QTEST_GUILESS_MAIN(TestScriptEngine)
#include "tst_scriptengine.moc"
