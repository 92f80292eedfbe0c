#include "database/ZelManagerDatabase.h"
#include "engine/ApplyContext.h"
#include "engine/ZelManagerPackageRemover.h"
#include "engine/ZelManagerRemoveManager.h"
#include "engine/ZelManagerScriptEngine.h"
#include "engine/ZelManagerTargetFolder.h"
#include "integration/HostProcessRelease.h"
#include "integration/ZelManagerApplicationTrigger.h"
#include "integration/ZelManagerTrigger.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestDatabaseFile.h"
#include "tests/support/TestPackageDatabase.h"
#include "ui/ZelManagerOperationModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <csignal>

#include <memory>

namespace {

struct Package
{
    QString name;
    QMap<QString, bool> files; // path -> fix flag
    QStringList dependencies;
    QString prerm;
    QString postrm;
    int flags = 0x804; // installed, removal requested
};

// One apply run of the removals, bracketed like the apply panel does it.
struct RemoveRun
{
    explicit RemoveRun(int limit = 4)
        : context(&model)
    {
        context.limit = limit;
        database->beginTransaction();
        beginTriggers();
        model.refresh();
        manager = new ZelManagerRemoveManager(&context);
    }
    ~RemoveRun()
    {
        delete manager;
        finish();
    }

    // Until the manager has finished; statuses stay readable until finish().
    bool exec()
    {
        QSignalSpy spy(manager, &ZelManagerRemoveManager::finished);
        manager->start();
        if (spy.isEmpty() && !spy.wait(60000))
            return false;
        ok = spy.first().first().toBool();
        return spy.count() == 1;
    }

    // The end of the run: the reload of the records resets their statuses.
    void finish()
    {
        if (finished)
            return;
        finished = true;
        finishTriggers();
        database->endTransaction(true);
    }

    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    ZelManagerOperationModel model;
    ApplyContext context;
    ZelManagerRemoveManager *manager;
    bool ok = false;
    bool finished = false;
};

// A JavaScript line that appends the shell's output of command to log.
QString shellLine(const QString &command)
{
    return QStringLiteral("exec(\"/bin/sh\", 0, \"\", \"-c\", \"%1\");\n").arg(command);
}

} // namespace

class TestRemover : public QObject
{
    Q_OBJECT

private:
    QString target() const { return ZelManagerSettings::instance()->targetPath(); }
    QString file(const QString &path) const { return target() + QLatin1Char('/') + path; }
    bool exists(const QString &path) const { return QFileInfo::exists(file(path)); }
    QString logFile() const { return m_fixture->sandbox().path() + QStringLiteral("/log"); }
    QString log() const { return TestSandbox::readFile(logFile()); }

    // Records the packages as installed and writes their files.
    void install(const QList<Package> &packages)
    {
        TestDatabaseFile status(m_fixture->statusFile(), TestDatabaseFile::Status);
        status.exec(QStringLiteral("begin transaction;"));
        for (const Package &package : packages) {
            status.addStatus(package.name, package.flags);
            status.addInstalled(package.name, QStringLiteral("1.0"), 1);
            status.exec(QStringLiteral("UPDATE infos SET prermscript=?,postrmscript=? WHERE name=?;"),
                { package.prerm, package.postrm, package.name });
            for (const QString &dependency : package.dependencies)
                status.exec(QStringLiteral("INSERT INTO dependencies VALUES(?,?,'');"), { package.name, dependency });
            for (auto it = package.files.cbegin(); it != package.files.cend(); ++it) {
                status.exec(QStringLiteral("INSERT INTO fileentries VALUES(?,?,?);"),
                    { int(it.value()), package.name, it.key() });
                if (ZelManagerTargetFolder::installedName(it.key()) == it.key())
                    QVERIFY(TestSandbox::writeFile(file(it.key()), package.name.toUtf8()));
            }
        }
        status.exec(QStringLiteral("end transaction;"));
    }

    static Package package(const QString &name, const QStringList &files, const QStringList &dependencies = {})
    {
        Package package;
        package.name = name;
        for (const QString &path : files)
            package.files.insert(path, true);
        package.dependencies = dependencies;
        return package;
    }

    // prerm and postrm scripts that note themselves in the log.
    Package loggedPackage(const QString &name, const QStringList &files, const QStringList &dependencies = {})
    {
        Package result = package(name, files, dependencies);
        result.prerm = shellLine(QStringLiteral("echo %1 prerm >> %2").arg(name, logFile()));
        result.postrm = shellLine(QStringLiteral("echo %1 postrm >> %2").arg(name, logFile()));
        return result;
    }

    ZelManagerDatabase *database() const { return ZelManagerDatabase::instance(); }
    bool isInstalled(const QString &name) const { return database()->package(name).isInstalled(); }
    QStringList recordedFiles(const QString &name) const
    {
        QStringList files;
        for (const auto &entry : database()->fileEntries()) {
            if (entry.first == name)
                files.append(entry.second);
        }
        return files;
    }
    QStringList errors(const QString &name) const
    {
        QStringList texts;
        for (qint64 id : database()->errorIds()) {
            const ZelManagerDatabase::ErrorRecord record = database()->error(id);
            if (record.package == name) {
                texts.append(record.description);
                if (record.kind != ZelManagerDatabase::ErrorRemove)
                    texts.append(QStringLiteral("wrong kind %1").arg(record.kind));
            }
        }
        return texts;
    }

    std::unique_ptr<TestPackageDatabase> m_fixture;

private slots:
    void init()
    {
        m_fixture.reset(new TestPackageDatabase);
        createTriggers();
    }
    void cleanup()
    {
        destroyTriggers();
        ZelManagerScriptEngine::cleanup();
        m_fixture.reset();
    }

    void dependantsFirstAndEmptiedFolders();
    void infoManualsTakeTheDirFile();
    void companionsGoWithTheirFiles();
    void pathsOutsideTheTargetAreLeftAlone();
    void failedFileKeepsThePackage();
    void dependantCycleIsReported();
    void limitIsKeptAndNeverStalls();
    void cancelStopsTheRun();
    void destroyingABusyManagerWaits();
    void heldProgramsKeepRunning();
    void releaseEndsHoldersInsideOnly();
    void scriptsAroundTriggersAndDeletion();
    void removerBeforeAnUpgradeKeepsTheRequest();
};

// a depends on b, both marked; c shares a folder with them and stays.
void TestRemover::dependantsFirstAndEmptiedFolders()
{
    Package a = package(QStringLiteral("a"),
        { "bin/a.exe", "lib/shared/a.dll", "share/doc/a/readme.txt", "share/doc/a/deep/er/x" }, { "b" });
    a.files["share/doc/a/readme.txt"] = false;
    const Package b = package(QStringLiteral("b"), { "bin/b.exe", "lib/shared/b.dll", "share/doc/b/x.txt" });
    Package c = package(QStringLiteral("c"), { "lib/shared/c.dll" });
    c.flags = 0x4;
    install({ a, b, c });
    ZelManagerSettings::instance()->addExcludedFile(QStringLiteral("share/doc/a/readme.txt"));
    database();

    RemoveRun run;
    QCOMPARE(run.manager->blockers(QStringLiteral("b")), QStringList { "a" });
    QVERIFY(run.manager->blockers(QStringLiteral("a")).isEmpty());
    QVERIFY(run.exec());
    QVERIFY(run.ok);
    QVERIFY(!run.manager->isBusy());
    QCOMPARE(run.context.running, 0);
    // Order, emptied and shared folders and the file records are the
    // apply-remove-dependant scenario's part.
    QVERIFY(!exists(QStringLiteral("bin")) && exists(QStringLiteral("lib/shared/c.dll")));
    QVERIFY(QFileInfo(target()).isDir());
    QCOMPARE(database()->package(QStringLiteral("a")).requestFlags(), 0);
    QVERIFY(!ZelManagerSettings::instance()->excludedFiles().contains(QStringLiteral("share/doc/a/readme.txt")));
    QCOMPARE(database()->errorCount(), 0);
    QCOMPARE(run.model.rowCount(), 0);
}

// The triggers are left out here: the Info trigger takes "dir" away on any
// manual's removal and rebuilds it at the end of the run.
void TestRemover::infoManualsTakeTheDirFile()
{
    destroyTriggers();
    Package x = package(QStringLiteral("x"), { "share/info/x.info" });
    Package y = package(QStringLiteral("y"), { "share/info/y.info.gz" });
    y.flags = 0x4;
    install({ x, y });
    QVERIFY(TestSandbox::writeFile(file(QStringLiteral("share/info/x.info.gz")), "gz"));
    QVERIFY(TestSandbox::writeFile(file(QStringLiteral("share/info/dir")), "index"));
    database();
    {
        RemoveRun run;
        QVERIFY(run.exec() && run.ok);
    }
    QVERIFY(!exists(QStringLiteral("share/info/x.info.gz")));
    QVERIFY(exists(QStringLiteral("share/info/dir"))); // y's manual is still listed

    database()->package(QStringLiteral("y")).setRequest(0x800);
    {
        RemoveRun run;
        QVERIFY(run.exec() && run.ok);
    }
    QVERIFY(!exists(QStringLiteral("share/info/y.info.gz")));
    QVERIFY(!exists(QStringLiteral("share/info/dir")));
    QVERIFY(!exists(QStringLiteral("share")));
}

void TestRemover::companionsGoWithTheirFiles()
{
    install({ package(QStringLiteral("p"), { "lib/py/mod.py", "lib/py/solo/m.PY", "qml/View.qml" }) });
    const QStringList made
        = { "lib/py/mod.pyc", "lib/py/__pycache__/mod.cpython-311.pyc", "lib/py/__pycache__/mod.cpython-39.opt-1.pyc",
              "lib/py/solo/__pycache__/m.cpython-311.pyc", "qml/View.qmlc", "qml/View.qml.qmlc" };
    const QStringList others
        = { "lib/py/__pycache__/modx.cpython-311.pyc", "lib/py/__pycache__/other.cpython-311.pyc", "lib/py/other.pyc" };
    for (const QString &path : made + others)
        QVERIFY(TestSandbox::writeFile(file(path), "cache"));
    database();

    RemoveRun run;
    QVERIFY(run.exec() && run.ok);
    for (const QString &path : made)
        QVERIFY2(!exists(path), qPrintable(path));
    for (const QString &path : others)
        QVERIFY2(exists(path), qPrintable(path));
    QVERIFY(!exists(QStringLiteral("lib/py/solo"))); // its emptied cache went with it
    QVERIFY(!exists(QStringLiteral("qml")));
}

void TestRemover::pathsOutsideTheTargetAreLeftAlone()
{
    const QString outside = m_fixture->sandbox().path() + QStringLiteral("/outside");
    QVERIFY(TestSandbox::writeFile(outside + QStringLiteral("/victim.dll"), "keep"));
    QVERIFY(TestSandbox::writeFile(outside + QStringLiteral("/abs.txt"), "keep"));
    const QString escape = m_fixture->sandbox().installPath() + QStringLiteral("/escape.txt"); // target/../escape.txt
    QVERIFY(TestSandbox::writeFile(escape, "keep"));
    QVERIFY(QDir().mkpath(file(QStringLiteral("share"))));
    QVERIFY(QFile::link(outside, file(QStringLiteral("share/link"))));
    install({ package(QStringLiteral("h"),
        { "../escape.txt", "bin/../../escape.txt", outside + QStringLiteral("/abs.txt"), "share/link/victim.dll",
            "share\\link\\victim.dll", "share/own.txt" }) });
    database();

    RemoveRun run;
    QVERIFY(run.exec() && run.ok);
    QVERIFY(QFileInfo::exists(outside + QStringLiteral("/victim.dll")));
    QVERIFY(QFileInfo::exists(outside + QStringLiteral("/abs.txt")));
    QVERIFY(QFileInfo::exists(escape));
    QVERIFY(QFileInfo(file(QStringLiteral("share/link"))).isSymLink());
    QVERIFY(!exists(QStringLiteral("share/own.txt")));
    QVERIFY(!isInstalled(QStringLiteral("h")));
}

// Tests run as root, where file modes do not stop a deletion; a recorded
// file that has become a folder with content cannot be deleted by anyone.
void TestRemover::failedFileKeepsThePackage()
{
    install({ loggedPackage(QStringLiteral("a"), { "bin/a.exe", "share/stuck", "share/also" }, { "b" }),
        loggedPackage(QStringLiteral("b"), { "bin/b.exe" }) });
    for (const char *folder : { "share/stuck", "share/also" }) {
        QVERIFY(QFile::remove(file(QLatin1String(folder))));
        QVERIFY(TestSandbox::writeFile(file(QLatin1String(folder) + QStringLiteral("/inside")), "x"));
    }
    database();

    RemoveRun run;
    QVERIFY(run.exec());
    QVERIFY(!run.ok);
    QCOMPARE(
        errors(QStringLiteral("a")), QStringList({ "Failed to remove: share/also", "Failed to remove: share/stuck" }));
    QCOMPARE(errors(QStringLiteral("b")),
        QStringList { "Not removed: it is still needed by a, whose removal did not succeed" });
    QVERIFY(!exists(QStringLiteral("bin/a.exe"))); // the other files went
    QVERIFY(exists(QStringLiteral("bin/b.exe")));
    QCOMPARE(log(), QStringLiteral("a prerm\n")); // no postrm after a failure, b never started
    QVERIFY(isInstalled(QStringLiteral("a")) && isInstalled(QStringLiteral("b")));
    QCOMPARE(recordedFiles(QStringLiteral("a")).size(), 3);
    QCOMPARE(database()->package(QStringLiteral("a")).status(), int(ZelManagerPackage::Error));
    QCOMPARE(database()->package(QStringLiteral("b")).status(), int(ZelManagerPackage::Error));
}

// a and b depend on each other; a also depends on c, which therefore waits
// for the cycle; d is independent and is removed.
void TestRemover::dependantCycleIsReported()
{
    install({ package(QStringLiteral("a"), { "bin/a.exe" }, { "b", "c" }),
        package(QStringLiteral("b"), { "bin/b.exe" }, { "a" }), package(QStringLiteral("c"), { "bin/c.exe" }),
        package(QStringLiteral("d"), { "bin/d.exe" }) });
    database();

    RemoveRun run;
    QVERIFY(run.exec());
    QVERIFY(!run.ok);
    const QString cycle
        = QStringLiteral("Not removed: the packages marked for removal depend on each other in a cycle: %1");
    QCOMPARE(errors(QStringLiteral("a")), QStringList { cycle.arg("a -> b -> a") });
    QCOMPARE(errors(QStringLiteral("b")), QStringList { cycle.arg("b -> a -> b") });
    QCOMPARE(errors(QStringLiteral("c")),
        QStringList { "Not removed: it is still needed by a, whose removal did not succeed" });
    QVERIFY(errors(QStringLiteral("d")).isEmpty());
    for (const char *name : { "a", "b", "c" })
        QVERIFY(isInstalled(QLatin1String(name)));
    QVERIFY(!isInstalled(QStringLiteral("d")));
    QVERIFY(exists(QStringLiteral("bin/a.exe")) && !exists(QStringLiteral("bin/d.exe")));
}

// Other workers of the run fill the limit already: the removals still go
// on, one at a time, and never more than the limit plus that one run.
void TestRemover::limitIsKeptAndNeverStalls()
{
    for (int others : { 0, 2 }) {
        QList<Package> packages;
        for (int i = 0; i < 6; ++i) {
            QStringList files;
            for (int f = 0; f < 200; ++f)
                files.append(QStringLiteral("p%1/%2/f%3").arg(others).arg(i).arg(f));
            packages.append(package(QStringLiteral("p%1-%2").arg(others).arg(i), files));
        }
        install(packages);
        if (!others)
            database();
        else
            database()->reloadPackages();

        RemoveRun run(2);
        run.context.running = others;
        int most = 0;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, [&] { most = qMax(most, run.context.running); });
        sampler.start(0);
        QVERIFY(run.exec() && run.ok);
        QCOMPARE(run.context.running, others);
        QVERIFY2(most <= (others ? others + 1 : 2), qPrintable(QString::number(most)));
        QVERIFY(most > others);
        QVERIFY(!exists(QStringLiteral("p%1").arg(others)));
    }
}

// The stop comes while the first package's prerm script runs: nothing of it
// is deleted, the second never starts, and the run ends once the thread has.
void TestRemover::cancelStopsTheRun()
{
    Package slow = loggedPackage(QStringLiteral("a"), { "bin/a.exe", "share/applications/a.desktop" });
    slow.prerm = shellLine(QStringLiteral("sleep 0.5; echo a prerm >> %1").arg(logFile()));
    install({ slow, loggedPackage(QStringLiteral("b"), { "bin/b.exe" }) });
    QVERIFY(TestSandbox::writeFile(file(QStringLiteral("share/applications/a.desktop")),
        "[Desktop Entry]\nType=Application\nName=Slow\nExec=bin/a"));
    triggerForType(TriggerType::Application)->installFile(QStringLiteral("share/applications/a.desktop"));
    const QString launcher = ZelManagerApplicationTrigger::desktopFolder() + QStringLiteral("/Slow.desktop");
    QVERIFY(QFileInfo::exists(launcher));
    database();

    RemoveRun run(1);
    QTimer::singleShot(100, run.manager, &ZelManagerRemoveManager::cancelRequest);
    QVERIFY(run.exec());
    QVERIFY(!run.ok);
    QVERIFY(!run.manager->isBusy());
    QCOMPARE(run.context.running, 0);
    QCOMPARE(log(), QStringLiteral("a prerm\n"));
    QVERIFY(exists(QStringLiteral("bin/a.exe")) && exists(QStringLiteral("bin/b.exe")));
    QVERIFY(QFileInfo::exists(launcher)); // the installed package keeps its shortcut
    QVERIFY(isInstalled(QStringLiteral("a")) && isInstalled(QStringLiteral("b")));
    QCOMPARE(database()->package(QStringLiteral("a")).status(), int(ZelManagerPackage::Canceling));
    QCOMPARE(database()->errorCount(), 0);
}

void TestRemover::destroyingABusyManagerWaits()
{
    QStringList files;
    for (int i = 0; i < 3000; ++i)
        files.append(QStringLiteral("data/%1/f%2").arg(i % 30).arg(i));
    install({ package(QStringLiteral("big"), files) });
    database();

    auto run = std::make_unique<RemoveRun>();
    run->manager->start();
    QVERIFY(run->manager->isBusy());
    run.reset(); // cancels, waits for the thread, and leaves the database alone
    QVERIFY(isInstalled(QStringLiteral("big")));
    QCOMPARE(recordedFiles(QStringLiteral("big")).size(), 3000);
}

// A program started from the install folder, one that ignores SIGTERM, and
// one that maps a library from it keep running while the files are deleted:
// a deletion succeeds under a running program here, and nothing is ended
// for it.
void TestRemover::heldProgramsKeepRunning()
{
    QString zlib;
    for (const char *candidate : { "/usr/lib/x86_64-linux-gnu/libz.so.1", "/lib/x86_64-linux-gnu/libz.so.1" }) {
        if (QFileInfo::exists(QLatin1String(candidate)))
            zlib = QLatin1String(candidate);
    }
    if (zlib.isEmpty())
        QSKIP("no zlib to map into a helper");
    QVERIFY(QDir().mkpath(file(QStringLiteral("bin"))));
    QVERIFY(QFile::copy(QStringLiteral("/usr/bin/sleep"), file(QStringLiteral("bin/helper.exe"))));
    QVERIFY(QFile::copy(QStringLiteral("/usr/bin/dash"), file(QStringLiteral("bin/stubborn.exe"))));
    QVERIFY(QFile::copy(zlib, file(QStringLiteral("bin/zlib1.dll"))));
    for (const char *program : { "bin/helper.exe", "bin/stubborn.exe" })
        QFile::setPermissions(file(QLatin1String(program)), QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);

    QProcess helper, stubborn, mapper;
    helper.start(file(QStringLiteral("bin/helper.exe")), { "60" });
    stubborn.start(file(QStringLiteral("bin/stubborn.exe")), { "-c", "trap '' TERM; while :; do sleep 0.1; done" });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_PRELOAD"), file(QStringLiteral("bin/zlib1.dll")));
    mapper.setProcessEnvironment(environment);
    mapper.start(QStringLiteral("/usr/bin/sleep"), { "60" });
    for (QProcess *process : { &helper, &stubborn, &mapper })
        QVERIFY(process->waitForStarted());
    QTRY_COMPARE(
        HostProcessRelease::holders(file(QStringLiteral("bin/zlib1.dll"))), QList<qint64> { mapper.processId() });
    QCOMPARE(HostProcessRelease::holders(file(QStringLiteral("bin/helper.exe"))), QList<qint64> { helper.processId() });

    TestDatabaseFile status(m_fixture->statusFile(), TestDatabaseFile::Status);
    status.addStatus(QStringLiteral("held"), 0x804);
    status.addInstalled(QStringLiteral("held"), QStringLiteral("1.0"), 1);
    for (const char *path : { "bin/helper.exe", "bin/stubborn.exe", "bin/zlib1.dll" })
        status.exec(QStringLiteral("INSERT INTO fileentries VALUES(1,'held',?);"), { QLatin1String(path) });
    database();

    RemoveRun run;
    QVERIFY(run.exec() && run.ok);
    QVERIFY(!exists(QStringLiteral("bin")));
    QVERIFY(!isInstalled(QStringLiteral("held")));
    for (QProcess *process : { &helper, &stubborn, &mapper }) {
        QCOMPARE(process->state(), QProcess::Running);
        process->kill();
        process->waitForFinished(5000);
    }
}

// Releasing a file (the remover's answer to a deletion that failed) ends its
// holders, a stubborn one by force; a file outside the installation is never
// released.
void TestRemover::releaseEndsHoldersInsideOnly()
{
    QVERIFY(QDir().mkpath(file(QStringLiteral("bin"))));
    const QString inside = file(QStringLiteral("bin/stubborn.exe"));
    const QString outside = m_fixture->sandbox().path() + QStringLiteral("/outside.exe");
    for (const QString &program : { inside, outside }) {
        QVERIFY(QFile::copy(QStringLiteral("/usr/bin/dash"), program));
        QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);
    }
    const QStringList stubbornScript { "-c", "trap '' TERM; while :; do sleep 0.1; done" };
    QProcess stubborn, other;
    stubborn.start(inside, stubbornScript);
    other.start(outside, stubbornScript);
    QVERIFY(stubborn.waitForStarted() && other.waitForStarted());
    QTRY_COMPARE(HostProcessRelease::holders(outside), QList<qint64> { other.processId() });

    HostProcessRelease release(target());
    QCOMPARE(release.release(outside), 0);
    QCOMPARE(other.state(), QProcess::Running);
    QCOMPARE(release.release(inside), 1);
    QVERIFY(stubborn.state() == QProcess::NotRunning || stubborn.waitForFinished(5000));
    QCOMPARE(stubborn.exitCode(), int(SIGKILL));
    other.kill();
    other.waitForFinished(5000);
}

// prerm sees the files and the shortcut; the trigger removes the shortcut
// before the files go; postrm sees neither.
void TestRemover::scriptsAroundTriggersAndDeletion()
{
    Package tool = package(QStringLiteral("tool"), { "bin/tool.exe", "share/applications/tool.desktop" });
    const QString launcher = ZelManagerApplicationTrigger::desktopFolder() + QStringLiteral("/Tool.desktop");
    const QString check
        = QStringLiteral("echo %1 >> %2; test -e %3 && echo launcher >> %2; test -e %4 && echo files >> %2")
              .arg("%1", logFile(), launcher, file(QStringLiteral("bin/tool.exe")));
    tool.prerm = shellLine(check.arg(QStringLiteral("prerm")));
    tool.postrm = shellLine(check.arg(QStringLiteral("postrm")));
    install({ tool });
    QVERIFY(TestSandbox::writeFile(file(QStringLiteral("share/applications/tool.desktop")),
        "[Desktop Entry]\nType=Application\nName=Tool\nExec=bin/tool"));
    triggerForType(TriggerType::Application)->installFile(QStringLiteral("share/applications/tool.desktop"));
    QVERIFY(QFileInfo::exists(launcher));
    database();

    RemoveRun run;
    QVERIFY(run.exec() && run.ok);
    QCOMPARE(log(), QStringLiteral("prerm\nlauncher\nfiles\npostrm\n"));
    QVERIFY(!QFileInfo::exists(launcher));
}

// The installer removes the installed version before an upgrade with a
// remover of its own; the upgrade request must survive for it.
void TestRemover::removerBeforeAnUpgradeKeepsTheRequest()
{
    Package old = package(QStringLiteral("u"), { "bin/u.exe", "share/u/data" });
    old.flags = 0x1304;
    install({ old });
    ZelManagerDatabase *db = database();
    db->beginTransaction();
    ZelManagerOperationModel model;
    model.refresh();
    ApplyContext context(&model);
    auto *remover = new ZelManagerPackageRemover(&context, QStringLiteral("u"));
    QCOMPARE(remover->parent(), &model);
    QSignalSpy spy(remover, &ZelManagerPackageRemover::finished);
    remover->start();
    QVERIFY(spy.wait(10000));
    QCOMPARE(spy.first().first().toBool(), true);
    QCOMPARE(context.running, 0);
    QCOMPARE(db->package(QStringLiteral("u")).flags() & 0x1F0F, 0x1300);
    QCOMPARE(db->package(QStringLiteral("u")).status(), int(ZelManagerPackage::Removed));
    QVERIFY(recordedFiles(QStringLiteral("u")).isEmpty());
    QVERIFY(!exists(QStringLiteral("bin/u.exe")));
    QCOMPARE(remover->folders(), QStringList({ "bin", "share", "share/u" }));
    delete remover;
    db->endTransaction(false);
}

QTEST_MAIN(TestRemover)
#include "tst_remover.moc"
