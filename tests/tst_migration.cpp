#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerApplyRun.h"
#include "engine/ZelManagerInstallLock.h"
#include "integration/HostRegistryKey.h"
#include "integration/WindowsSupport.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestApplyFixture.h"
#include "tests/support/TestModalCloser.h"
#include "tools/ZelManagerFileCopier.h"
#include "tools/ZelManagerMigration.h"
#include "ui/ZelManagerApplyTargetDlg.h"
#include "ui/ZelManagerPreferencePanel.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocalServer>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QtTest>

#include <memory>

using Entry = TestApplyFixture::Entry;

namespace {

const qint64 FileTime = 1500000000;

Entry entry(const QString &path, const QByteArray &data)
{
    Entry result(path, data);
    result.time = FileTime;
    return result;
}

QByteArray root()
{
    return ZelManagerSettings::toolchainRoot(QStringLiteral("win32")).toUtf8();
}

// What the installer makes of "<root>/bin/tool" followed by end in a
// target folder: the folder, the tail, then padding up to the old length.
QByteArray relocated(const QString &target, const QByteArray &tail, char filler)
{
    const QByteArray prefix = shortPathName(target).toUtf8();
    return prefix + tail + QByteArray(root().size() - prefix.size(), filler);
}

QString canonical(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

} // namespace

class TestMigration : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void migrateMovesTheInstallation();
    void migrateToALongerFolder();
    void switchLeavesTheFilesWhereTheyAre();
    void movesThatWouldLoseDataAreRefused();
    void failedCopyLeavesTheOldInstallation();
    void panelAppliesTheTargetSettings();

private:
    QString sandbox() const { return m_fixture->sandbox().path(); }
    QString oldPath() const { return m_fixture->sandbox().installPath(); }
    QString oldTarget() const { return oldPath() + QStringLiteral("/win32"); }
    // One character shorter than the old folder: the relocation pads.
    QString newPath() const { return sandbox() + QStringLiteral("/n"); }
    QString newTarget() const { return newPath() + QStringLiteral("/win32"); }
    QString logFile() const { return sandbox() + QStringLiteral("/log"); }
    QStringList log() const;
    QString scriptLine(const QString &tag) const;
    void installPackage();
    QVariant variable(const QString &name) const;
    bool isInstalled() const;

    std::unique_ptr<TestApplyFixture> m_fixture;
    std::unique_ptr<ZelManagerInstallLock> m_lock;
};

void TestMigration::init()
{
    m_fixture.reset(new TestApplyFixture);
    QVERIFY(m_fixture->isValid());
    // The program's own lock, as the window holds it.
    m_lock.reset(new ZelManagerInstallLock(oldPath()));
    QVERIFY(m_lock->tryLock());
    ZelManagerInstallLock::setCurrent(m_lock.get());
    installPackage();
}

void TestMigration::cleanup()
{
    ZelManagerInstallLock::setCurrent(nullptr);
    m_lock.reset();
    m_fixture.reset();
}

QStringList TestMigration::log() const
{
    return TestSandbox::readFile(logFile()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// A script line that logs the tag and the folder the script runs in.
QString TestMigration::scriptLine(const QString &tag) const
{
    return QStringLiteral("exec(\"/bin/sh\", 0, \"\", \"-c\", \"echo %1 $(pwd -P) >> %2\");\n").arg(tag, logFile());
}

void TestMigration::installPackage()
{
    TestApplyFixture::Manifest manifest = TestApplyFixture::manifest(QStringLiteral("app"), QStringLiteral("1.0"));
    manifest.prerm = scriptLine(QStringLiteral("prerm"));
    manifest.postrm = scriptLine(QStringLiteral("postrm"));
    manifest.postinst = scriptLine(QStringLiteral("postinst"));
    manifest.nofix = QStringList { QStringLiteral("doc/*") };
    const QList<Entry> files {
        entry(QStringLiteral("etc/app.conf"), "P=" + root() + "/bin/tool\nend\n"),
        entry(QStringLiteral("lib/app.dll"), QByteArray("MZ\0", 3) + root() + QByteArray("/lib/x.dll\0tail", 15)),
        entry(QStringLiteral("doc/readme.txt"), "built in " + root() + "\n"),
        entry(QStringLiteral("share/environments/app.desktop"),
            "[Desktop Entry]\nType=Environment\nName=APP_HOME\nPath=bin\n"),
    };
    QVERIFY2(m_fixture->addPackage(manifest, files), qPrintable(m_fixture->errorText()));
    QVERIFY2(m_fixture->updateIndex(), qPrintable(m_fixture->errorText()));
    QCOMPARE(m_fixture->request(QStringLiteral("app"), TestApplyFixture::Install), QString());
    ZelManagerApplyRun run;
    QVERIFY(run.exec());
    QVERIFY(isInstalled());
    QCOMPARE(variable(QStringLiteral("APP_HOME")).toString(), oldTarget() + QStringLiteral("/bin"));
    QFile::remove(logFile());
}

QVariant TestMigration::variable(const QString &name) const
{
    return HostRegistryKey(HostRegistryKey::LocalMachine, QLatin1String(MachineEnvironmentKey)).value(name);
}

bool TestMigration::isInstalled() const
{
    return ZelManagerDatabase::instance()->package(QStringLiteral("app")).isInstalled();
}

void TestMigration::migrateMovesTheInstallation()
{
    QVERIFY(TestSandbox::writeFile(oldPath() + QStringLiteral("/notes/mine.txt"), "kept"));
    // A program running from the old folder: its file can be deleted, so it
    // is not ended.
    const QString program = oldTarget() + QStringLiteral("/bin/sleeper.exe");
    QVERIFY(QDir().mkpath(oldTarget() + QStringLiteral("/bin")));
    QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), program));
    QVERIFY(QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner));
    QProcess running;
    running.start(program, { QStringLiteral("60") });
    QVERIFY(running.waitForStarted());
    const QByteArray plain = TestSandbox::readFile(oldTarget() + QStringLiteral("/doc/readme.txt")).toUtf8();
    ZelManagerMigration migration(newPath());
    QStringList formats;
    connect(&migration, &ZelManagerMigration::stepStarted, this,
        [&formats](const QString &format, int) { formats.append(format); });
    int confirmations = 0;
    migration.setRemovalConfirmation([&confirmations] { return ++confirmations > 0; });
    QVERIFY2(migration.run(ZelManagerMigration::Migrate), qPrintable(migration.errorText()));
    QCOMPARE(confirmations, 1);
    QCOMPARE(formats,
        QStringList({ "Collecting information ...", "Preparing folders (%v/%m) ...", "Copying files (%v/%m) ...",
            "Processing pre-rms ...", "Processing triggers ...", "Removing files (%v/%m) ...",
            "Removing folders (%v/%m) ...", "Processing post-rms ...", "Processing triggers ...",
            "Processing post-insts ..." }));

    // The installation works from the new folder, and the old one is gone.
    QCOMPARE(ZelManagerSettings::instance()->installPath(), newPath());
    QVERIFY(!QFileInfo::exists(oldPath()));
    QVERIFY(isInstalled());
    QCOMPARE(TestSandbox::readFile(newPath() + QStringLiteral("/notes/mine.txt")), QStringLiteral("kept"));
    QCOMPARE(running.state(), QProcess::Running);
    QVERIFY(QFileInfo(newTarget() + QStringLiteral("/bin/sleeper.exe")).isExecutable());
    running.kill();
    running.waitForFinished();
    QCOMPARE(TestSandbox::readFile(newTarget() + QStringLiteral("/etc/app.conf")).toUtf8(),
        "P=" + relocated(newTarget(), "/bin/tool", ' ') + "\nend\n");
    QFile binary(newTarget() + QStringLiteral("/lib/app.dll"));
    QVERIFY(binary.open(QIODevice::ReadOnly));
    QCOMPARE(
        binary.readAll(), QByteArray("MZ\0", 3) + relocated(newTarget(), "/lib/x.dll", '\0') + QByteArray("\0tail", 5));
    QCOMPARE(TestSandbox::readFile(newTarget() + QStringLiteral("/doc/readme.txt")).toUtf8(), plain);
    QCOMPARE(QFileInfo(newTarget() + QStringLiteral("/etc/app.conf")).lastModified().toSecsSinceEpoch(), FileTime);
    QVERIFY(TestSandbox::readFile(newTarget() + QStringLiteral("/etc/zelfixrc")).contains(newTarget()));

    // prerm ran in the old folder, postrm and postinst in the new one.
    QCOMPARE(log(),
        QStringList({ "prerm " + canonical(sandbox()) + "/vp/win32", "postrm " + canonical(newTarget()),
            "postinst " + canonical(newTarget()) }));
    QCOMPARE(variable(QStringLiteral("APP_HOME")).toString(), newTarget() + QStringLiteral("/bin"));

    // The program's lock came along; the new folder is refused to others.
    QCOMPARE(m_lock->path(), ZelManagerInstallLock::lockFilePath(newPath()));
    QVERIFY(m_lock->isLocked());
    ZelManagerInstallLock other(newPath());
    QVERIFY(!other.tryLock());
}

// The paths grow into the padding the installer left after them.
void TestMigration::migrateToALongerFolder()
{
    const QString longer = sandbox() + QStringLiteral("/longer-folder");
    const QString target = longer + QStringLiteral("/win32");
    ZelManagerMigration migration(longer);
    QVERIFY2(migration.run(ZelManagerMigration::Migrate), qPrintable(migration.errorText()));
    QCOMPARE(TestSandbox::readFile(target + QStringLiteral("/etc/app.conf")).toUtf8(),
        "P=" + relocated(target, "/bin/tool", ' ') + "\nend\n");
    QFile binary(target + QStringLiteral("/lib/app.dll"));
    QVERIFY(binary.open(QIODevice::ReadOnly));
    QCOMPARE(binary.readAll(), QByteArray("MZ\0", 3) + relocated(target, "/lib/x.dll", '\0') + QByteArray("\0tail", 5));
    QVERIFY(!QFileInfo::exists(oldPath()));

    // Without padding enough after it a path stays as it is.
    QByteArray data = "a=/o/bin  \nb=/o/lib \nc=/o";
    QCOMPARE(ZelManagerFileCopier::growPaths(data, "/o", "/new"), 1);
    QCOMPARE(data, QByteArray("a=/new/bin\nb=/o/lib \nc=/o"));
}

void TestMigration::switchLeavesTheFilesWhereTheyAre()
{
    ZelManagerMigration migration(newPath());
    bool asked = false;
    migration.setRemovalConfirmation([&asked] { return asked = true; });
    QVERIFY2(migration.run(ZelManagerMigration::Switch), qPrintable(migration.errorText()));
    QVERIFY(!asked);
    QCOMPARE(ZelManagerSettings::instance()->installPath(), newPath());
    QVERIFY(QFileInfo::exists(oldTarget() + QStringLiteral("/etc/app.conf")));
    QVERIFY(QFileInfo::exists(oldTarget() + QStringLiteral("/share/environments/app.desktop")));
    QVERIFY(!QFileInfo::exists(newTarget()));
    // Unregistered from the old folder; the new folder has no packages yet.
    QVERIFY(!isInstalled());
    QVERIFY(!variable(QStringLiteral("APP_HOME")).isValid());
    // The new folder holds no installation: nothing is registered there.
    QCOMPARE(log(), QStringList { "prerm " + canonical(oldTarget()) });
    QCOMPARE(m_lock->path(), ZelManagerInstallLock::lockFilePath(newPath()));
    QVERIFY(!QFileInfo::exists(ZelManagerInstallLock::lockFilePath(oldPath())));

    // And back: the old installation is whole again.
    ZelManagerMigration back(oldPath());
    QVERIFY2(back.run(ZelManagerMigration::Switch), qPrintable(back.errorText()));
    QVERIFY(isInstalled());
    QCOMPARE(variable(QStringLiteral("APP_HOME")).toString(), oldTarget() + QStringLiteral("/bin"));
    QCOMPARE(log().last(), "postinst " + canonical(oldTarget()));
}

void TestMigration::movesThatWouldLoseDataAreRefused()
{
    QVERIFY(QDir().mkpath(sandbox() + QStringLiteral("/full")));
    QVERIFY(TestSandbox::writeFile(sandbox() + QStringLiteral("/full/theirs.txt"), "theirs"));
    QVERIFY(QFile::link(oldPath(), sandbox() + QStringLiteral("/alias")));
    ZelManagerInstallLock held(sandbox() + QStringLiteral("/held"));
    QVERIFY(held.tryLock());
    const QString tooLong = sandbox() + QLatin1Char('/') + QString(70 - sandbox().size(), QLatin1Char('x'));
    const struct
    {
        QString path;
        ZelManagerMigration::Mode mode;
        QString message;
    } cases[] = {
        { oldPath() + QStringLiteral("/"), ZelManagerMigration::Migrate, "is the current one" },
        { sandbox() + QStringLiteral("/alias"), ZelManagerMigration::Switch, "is the current one" },
        { oldPath() + QStringLiteral("/sub"), ZelManagerMigration::Migrate, "lies inside the current one" },
        { oldTarget(), ZelManagerMigration::Switch, "lies inside the current one" },
        { sandbox(), ZelManagerMigration::Migrate, "lies inside the new one" },
        { sandbox() + QStringLiteral("/full"), ZelManagerMigration::Migrate, "already holds files" },
        { sandbox() + QStringLiteral("/held"), ZelManagerMigration::Switch, "in use" },
        { tooLong, ZelManagerMigration::Switch, "only 62 characters allowed" },
    };
    for (const auto &test : cases) {
        ZelManagerMigration migration(test.path);
        QVERIFY(!migration.run(test.mode));
        QVERIFY2(migration.errorText().contains(test.message), qPrintable(test.path + ": " + migration.errorText()));
        QCOMPARE(ZelManagerSettings::instance()->installPath(), oldPath());
        QVERIFY(!QFileInfo::exists(oldPath() + QStringLiteral("/sub")));
    }
    QCOMPARE(QDir(sandbox() + QStringLiteral("/full")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
        QStringList { "theirs.txt" });
    QVERIFY(held.isLocked());
    QVERIFY(log().isEmpty());
    QVERIFY(isInstalled());
    QCOMPARE(m_lock->path(), ZelManagerInstallLock::lockFilePath(oldPath()));

    // The folder choice: the longest allowed install folder, a drive root.
    int allowed = 0;
    const QString longest = QStringLiteral("/") + QString(61, QLatin1Char('a'));
    QVERIFY(ZelManagerMigration::folderRefusal(longest, QStringLiteral("win32"), &allowed).isEmpty());
    QCOMPARE(allowed, 62);
    QCOMPARE(ZelManagerMigration::folderRefusal(longest + "a", QStringLiteral("win32")),
        QStringLiteral("Selected path tool long, only 62 characters allowed"));
    QCOMPARE(ZelManagerMigration::folderRefusal(QStringLiteral("D:/"), QStringLiteral("win32")),
        QStringLiteral("Selected path is root folder, not acceptable"));
}

void TestMigration::failedCopyLeavesTheOldInstallation()
{
    // Files around one that can not be read (a socket).
    for (int i = 0; i < 40; ++i)
        QVERIFY(TestSandbox::writeFile(oldPath() + QStringLiteral("/data/f%1.txt").arg(i), "data"));
    QLocalServer server;
    QVERIFY(server.listen(oldPath() + QStringLiteral("/data/m-socket")));
    // Into a folder whose parent does not exist yet either.
    ZelManagerMigration migration(sandbox() + QStringLiteral("/deep/n"));
    bool asked = false;
    migration.setRemovalConfirmation([&asked] { return asked = true; });
    QVERIFY(!migration.run(ZelManagerMigration::Migrate));
    QCOMPARE(migration.errorText(), QStringLiteral("Failed to copy installed files into new folder!"));
    QVERIFY2(migration.errorDetails().contains(QStringLiteral("m-socket")), qPrintable(migration.errorDetails()));
    QVERIFY(!asked);
    QVERIFY(!QFileInfo::exists(sandbox() + QStringLiteral("/deep")));
    QCOMPARE(ZelManagerSettings::instance()->installPath(), oldPath());
    QVERIFY(isInstalled());
    QCOMPARE(variable(QStringLiteral("APP_HOME")).toString(), oldTarget() + QStringLiteral("/bin"));
    QVERIFY(log().isEmpty());
    QCOMPARE(QDir(oldPath() + QStringLiteral("/data")).entryList(QDir::Files).size(), 40);
    QCOMPARE(m_lock->path(), ZelManagerInstallLock::lockFilePath(oldPath()));
    QVERIFY(m_lock->isLocked());
}

void TestMigration::panelAppliesTheTargetSettings()
{
    QWidget window;
    auto *panel = new ZelManagerPreferencePanel(&window);
    window.show();
    auto *edit = panel->findChild<QLineEdit *>(QStringLiteral("installFolderEdit"));
    auto *apply = panel->findChild<QPushButton *>(QStringLiteral("applyTargetSettingsButton"));
    auto *stack = panel->findChild<QStackedWidget *>(QStringLiteral("targetStackedWidget"));
    auto *architecture = panel->findChild<QComboBox *>(QStringLiteral("architectureComboBox"));
    auto *bar = panel->findChild<QProgressBar *>(QStringLiteral("targetProgressBar"));
    QVERIFY(!apply->isEnabled());
    {
        // Refused choices leave the edit alone.
        TestModalCloser closer;
        QVERIFY(!panel->chooseInstallFolder(QStringLiteral("/") + QString(62, QLatin1Char('a'))));
        QTRY_COMPARE(closer.titles(), QStringList { "Path Error" });
        QCOMPARE(closer.texts(), QStringList { "Selected path tool long, only 62 characters allowed" });
    }
    QCOMPARE(edit->text(), oldPath());
    QVERIFY(panel->chooseInstallFolder(newPath()));
    QVERIFY(apply->isEnabled());
    QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("targetTipPage"));

    // Cancelling the dialog changes nothing.
    {
        TestModalCloser closer;
        QTest::mouseClick(apply, Qt::LeftButton);
        QCOMPARE(closer.titles(), QStringList { "Apply Target Settings" });
    }
    QVERIFY(apply->isEnabled());
    QVERIFY(panel->isInstallFolderPending());

    // A failed copy: the "Path Error" box, still pending.
    QLocalServer server;
    QVERIFY(server.listen(oldPath() + QStringLiteral("/m-socket")));
    const auto migrate = [](QWidget *modal) {
        if (auto *dialog = qobject_cast<ZelManagerApplyTargetDlg *>(modal))
            QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("migrationButton")), Qt::LeftButton);
        else if (auto *box = qobject_cast<QMessageBox *>(modal); box && box->windowTitle() == "Remove Confirm")
            box->button(QMessageBox::Ok)->click();
    };
    {
        TestModalCloser closer(migrate);
        QTest::mouseClick(apply, Qt::LeftButton);
        QCOMPARE(closer.titles(), QStringList({ "Apply Target Settings", "Path Error" }));
        QCOMPARE(closer.texts().last(), QStringLiteral("Failed to copy installed files into new folder!"));
    }
    QVERIFY(panel->isInstallFolderPending());
    QVERIFY(apply->isEnabled());
    QVERIFY(!QFileInfo::exists(newPath()));

    // Migrated, with the architecture changed at the same time.
    server.close();
    QFile::remove(oldPath() + QStringLiteral("/m-socket"));
    architecture->setCurrentIndex(architecture->findData(QStringLiteral("win64")));
    {
        TestModalCloser closer(migrate);
        QTest::mouseClick(apply, Qt::LeftButton);
        QCOMPARE(closer.titles(), QStringList({ "Apply Target Settings", "Remove Confirm" }));
    }
    QCOMPARE(ZelManagerSettings::instance()->installPath(), newPath());
    QCOMPARE(ZelManagerSettings::instance()->architecture(), QStringLiteral("win64"));
    QVERIFY(QFileInfo::exists(newTarget() + QStringLiteral("/etc/app.conf")));
    QVERIFY(!QFileInfo::exists(oldPath()));
    QCOMPARE(bar->format(), QStringLiteral("Processing post-insts ..."));
    QVERIFY(!apply->isEnabled());
    QVERIFY(!panel->isInstallFolderPending() && !panel->isArchitecturePending());

    // Changing only the architecture stores it without asking.
    architecture->setCurrentIndex(architecture->findData(QStringLiteral("win32")));
    QVERIFY(apply->isEnabled());
    {
        TestModalCloser closer;
        QTest::mouseClick(apply, Qt::LeftButton);
        QCOMPARE(closer.count(), 0);
    }
    QCOMPARE(ZelManagerSettings::instance()->architecture(), QStringLiteral("win32"));
    QVERIFY(!apply->isEnabled());
}

QTEST_MAIN(TestMigration)
#include "tst_migration.moc"
