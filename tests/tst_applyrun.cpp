#include "ApplyContext.h"
#include "TestApplyFixture.h"
#include "TestDatabaseFile.h"
#include "ZelManagerApplyRun.h"
#include "ZelManagerDatabase.h"
#include "ZelManagerDownloadManager.h"
#include "ZelManagerOperationModel.h"
#include "ZelManagerPackageDownloader.h"
#include "ZelManagerSettings.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

using Entry = TestApplyFixture::Entry;
using Request = TestApplyFixture::Request;

namespace {

const QByteArray Prefix = "/usr/lib/vantor/cross-compile/toolchain-root-folder/i686-w64-mingw32";
const qint64 FileTime = 1500000000;

const char InfoManual[] = "This is y.info.\n"
                          "INFO-DIR-SECTION Development\n"
                          "START-INFO-DIR-ENTRY\n"
                          "* Y: (y).              The y manual.\n"
                          "END-INFO-DIR-ENTRY\n"
                          "Body.\n";

Entry entry(const QString &path, const QByteArray &data)
{
    Entry result(path, data);
    result.time = FileTime;
    return result;
}

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (int n = 0; n < size; ++n)
        data[n] = char(generator.generate());
    return data;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray gunzipFile(const QString &path)
{
    struct archive *archive = archive_read_new();
    archive_read_support_filter_gzip(archive);
    archive_read_support_format_raw(archive);
    QByteArray result;
    struct archive_entry *header = nullptr;
    if (archive_read_open_filename(archive, QFile::encodeName(path).constData(), 10240) == ARCHIVE_OK
        && archive_read_next_header(archive, &header) == ARCHIVE_OK) {
        char block[8192];
        la_ssize_t got;
        while ((got = archive_read_data(archive, block, sizeof block)) > 0)
            result.append(block, int(got));
    }
    archive_read_free(archive);
    return result;
}

// A JavaScript line that appends text to the log file.
QString logLine(const QString &logFile, const QString &text)
{
    return QStringLiteral("exec(\"/bin/sh\", 0, \"\", \"-c\", \"echo %1 >> %2\");\n").arg(text, logFile);
}

} // namespace

class TestApplyRun : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void installWithDependency();
    void upgradeAndReinstall();
    void removalOfDependantsFirst();
    void fileConflictFailsThePackage();
    void blockedFolderFailsThePackageAndItsDependants();
    void failedDownloadReleasesDependants();
    void stopDuringDownload();
    void stopDuringPreinst();
    void sharedLimitOfOne();
    void dependencyCycleIsInstalled();
    void unusableCacheFolderEndsTheRun();
    void runWithoutOperations();
    void destroyingARunningRunStopsIt();

private:
    QString logFile() const { return m_fixture->sandbox().path() + QStringLiteral("/log"); }
    QString log() const { return TestSandbox::readFile(logFile()); }
    TestApplyFixture::Manifest logged(
        const QString &name, const QString &version, const QStringList &dependencies = {});
    // Builds, indexes and marks the packages; false with a message on failure.
    bool offer(const TestApplyFixture::Manifest &manifest, const QList<Entry> &files);
    bool mark(const QString &name, Request request);
    // Name -> fix flag of every file the database records for the package.
    QMap<QString, int> recorded(const QString &name) const;
    QStringList errors(const QString &name) const;
    bool isInstalled(const QString &name, const QString &version = QString()) const;
    bool exists(const QString &path) const { return QFileInfo::exists(m_fixture->file(path)); }
    QByteArray content(const QString &path) const { return readFile(m_fixture->file(path)); }

    std::unique_ptr<TestApplyFixture> m_fixture;
};

void TestApplyRun::init()
{
    m_fixture.reset(new TestApplyFixture);
    QVERIFY(m_fixture->isValid());
}

void TestApplyRun::cleanup()
{
    m_fixture.reset();
}

TestApplyFixture::Manifest TestApplyRun::logged(
    const QString &name, const QString &version, const QStringList &dependencies)
{
    TestApplyFixture::Manifest manifest = TestApplyFixture::manifest(name, version, dependencies);
    const QString tag = name + QLatin1Char('-') + version;
    manifest.preinst = logLine(logFile(), tag + QStringLiteral(" preinst"));
    manifest.postinst = logLine(logFile(), tag + QStringLiteral(" postinst"));
    manifest.prerm = logLine(logFile(), tag + QStringLiteral(" prerm"));
    manifest.postrm = logLine(logFile(), tag + QStringLiteral(" postrm"));
    return manifest;
}

bool TestApplyRun::offer(const TestApplyFixture::Manifest &manifest, const QList<Entry> &files)
{
    if (!m_fixture->addPackage(manifest, files)) {
        qWarning() << m_fixture->errorText();
        return false;
    }
    if (!m_fixture->updateIndex()) {
        qWarning() << m_fixture->errorText();
        return false;
    }
    return true;
}

bool TestApplyRun::mark(const QString &name, Request request)
{
    const QString message = m_fixture->request(name, request);
    if (!message.isEmpty())
        qWarning() << message;
    return message.isEmpty();
}

QMap<QString, int> TestApplyRun::recorded(const QString &name) const
{
    QMap<QString, int> files;
    TestDatabaseFile status(m_fixture->statusFile());
    const QList<QStringList> rows
        = status.rows(QStringLiteral("SELECT entry,nofix FROM fileentries WHERE package=?;"), { name });
    for (const QStringList &row : rows)
        files.insert(row.value(0), row.value(1).toInt());
    return files;
}

QStringList TestApplyRun::errors(const QString &name) const
{
    QStringList texts;
    ZelManagerDatabase *database = m_fixture->database();
    for (const qint64 id : database->errorIds()) {
        const ZelManagerDatabase::ErrorRecord record = database->error(id);
        if (record.package == name)
            texts.append(record.description);
    }
    return texts;
}

bool TestApplyRun::isInstalled(const QString &name, const QString &version) const
{
    const ZelManagerPackage package = m_fixture->database()->package(name);
    return package.isInstalled() && package.requestFlags() == 0
        && (version.isEmpty() || package.installedVersion() == version);
}

// y is installed before x, which needs it; every file is recorded with its
// fix flag, relocated where it is fix-enabled, and the Info manual is
// compressed and listed in the rebuilt "dir".
void TestApplyRun::installWithDependency()
{
    TestApplyFixture::Manifest y = logged(QStringLiteral("y"), QStringLiteral("1.0"));
    y.nofix = QStringList { QStringLiteral("share/doc/y/*") };
    const QByteArray text = "ROOT=" + Prefix + "/bin/tool\nnext\n";
    const QByteArray binary = QByteArray("\x7f"
                                         "ELF",
                                  4)
        + Prefix + QByteArray("/lib\0tail", 9);
    QVERIFY(offer(y,
        { entry(QStringLiteral("share/y/config.txt"), text), entry(QStringLiteral("lib/y.dll"), binary),
            entry(QStringLiteral("share/info/y.info"), InfoManual),
            entry(QStringLiteral("share/doc/y/raw.txt"), text) }));
    QVERIFY(offer(logged(QStringLiteral("x"), QStringLiteral("2.0"), { QStringLiteral("y >= 1.0") }),
        { entry(QStringLiteral("bin/x.exe"), "x program") }));
    QVERIFY(mark(QStringLiteral("x"), TestApplyFixture::Install));
    QVERIFY(m_fixture->database()->package(QStringLiteral("y")).isAutomatic());

    ZelManagerApplyRun run;
    QVERIFY(run.exec());
    QCOMPARE(run.outcome(), ZelManagerApplyRun::Succeeded);
    QVERIFY(run.errors().isEmpty());
    QVERIFY(!run.context());
    QCOMPARE(run.operationModel()->rowCount(), 0);

    QCOMPARE(log(), QStringLiteral("y-1.0 preinst\ny-1.0 postinst\nx-2.0 preinst\nx-2.0 postinst\n"));
    QVERIFY(isInstalled(QStringLiteral("x"), QStringLiteral("2.0")));
    QVERIFY(isInstalled(QStringLiteral("y"), QStringLiteral("1.0")));
    const QMap<QString, int> yFiles { { "share/y/config.txt", 1 }, { "lib/y.dll", 1 }, { "share/info/y.info.gz", 1 },
        { "share/doc/y/raw.txt", 0 } };
    QCOMPARE(recorded(QStringLiteral("y")), yFiles);
    QCOMPARE(recorded(QStringLiteral("x")), (QMap<QString, int> { { "bin/x.exe", 1 } }));

    const QByteArray target = m_fixture->target().toUtf8();
    const int gap = Prefix.size() - target.size();
    QCOMPARE(content(QStringLiteral("share/y/config.txt")),
        "ROOT=" + target + "/bin/tool" + QByteArray(gap, ' ') + "\nnext\n");
    QCOMPARE(content(QStringLiteral("lib/y.dll")),
        QByteArray("\x7f"
                   "ELF",
            4)
            + target + "/lib" + QByteArray(gap, '\0') + QByteArray("\0tail", 5));
    QCOMPARE(content(QStringLiteral("share/doc/y/raw.txt")), text);
    QVERIFY(ZelManagerSettings::instance()->excludedFiles().contains(QStringLiteral("share/doc/y/raw.txt")));
    QVERIFY(!ZelManagerSettings::instance()->excludedFiles().contains(QStringLiteral("share/y/config.txt")));
    QVERIFY(!exists(QStringLiteral("share/info/y.info")));
    QCOMPARE(gunzipFile(m_fixture->file(QStringLiteral("share/info/y.info.gz"))), QByteArray(InfoManual));
    QVERIFY(content(QStringLiteral("share/info/dir")).contains("* Y: (y)."));
    QCOMPARE(QFileInfo(m_fixture->file(QStringLiteral("bin/x.exe"))).lastModified().toSecsSinceEpoch(), FileTime);

    TestDatabaseFile status(m_fixture->statusFile());
    QCOMPARE(status.value(QStringLiteral("SELECT comparision FROM dependencies WHERE package='x' AND dependency='y';")),
        QStringLiteral(">= 1.0"));
    QCOMPARE(status.value(QStringLiteral("SELECT version FROM infos WHERE name='y';")), QStringLiteral("1.0"));
    QVERIFY(status.value(QStringLiteral("SELECT postinstscript FROM infos WHERE name='x';")).contains("postinst"));
}

void TestApplyRun::upgradeAndReinstall()
{
    QVERIFY(offer(logged(QStringLiteral("p"), QStringLiteral("1.0")),
        { entry(QStringLiteral("share/p/a.txt"), "old"), entry(QStringLiteral("share/p/old/only.txt"), "gone") }));
    QVERIFY(mark(QStringLiteral("p"), TestApplyFixture::Install));
    QVERIFY(ZelManagerApplyRun().exec());
    QVERIFY(isInstalled(QStringLiteral("p"), QStringLiteral("1.0")));
    QVERIFY(QFile::remove(logFile()));

    QVERIFY(offer(logged(QStringLiteral("p"), QStringLiteral("2.0")),
        { entry(QStringLiteral("share/p/a.txt"), "new"), entry(QStringLiteral("share/p/new/only.txt"), "added") }));
    QVERIFY(m_fixture->database()->package(QStringLiteral("p")).isUpgradable());
    QVERIFY(mark(QStringLiteral("p"), TestApplyFixture::Upgrade));
    {
        ZelManagerApplyRun run;
        QVERIFY(run.exec());
    }
    QCOMPARE(log(), QStringLiteral("p-1.0 prerm\np-1.0 postrm\np-2.0 postinst\n"));
    QVERIFY(isInstalled(QStringLiteral("p"), QStringLiteral("2.0")));
    QCOMPARE(content(QStringLiteral("share/p/a.txt")), QByteArray("new"));
    QVERIFY(!exists(QStringLiteral("share/p/old")));
    QCOMPARE(
        recorded(QStringLiteral("p")), (QMap<QString, int> { { "share/p/a.txt", 1 }, { "share/p/new/only.txt", 1 } }));
    QVERIFY(!m_fixture->database()->package(QStringLiteral("p")).isUpgradable());

    // A reinstall puts back what the user changed; no preinst.
    QVERIFY(QFile::remove(logFile()));
    QVERIFY(TestSandbox::writeFile(m_fixture->file(QStringLiteral("share/p/a.txt")), "changed"));
    QVERIFY(QFile::remove(m_fixture->file(QStringLiteral("share/p/new/only.txt"))));
    QVERIFY(mark(QStringLiteral("p"), TestApplyFixture::Reinstall));
    {
        ZelManagerApplyRun run;
        QVERIFY(run.exec());
    }
    QCOMPARE(log(), QStringLiteral("p-2.0 prerm\np-2.0 postrm\np-2.0 postinst\n"));
    QCOMPARE(content(QStringLiteral("share/p/a.txt")), QByteArray("new"));
    QCOMPARE(content(QStringLiteral("share/p/new/only.txt")), QByteArray("added"));
    QVERIFY(isInstalled(QStringLiteral("p"), QStringLiteral("2.0")));
    QCOMPARE(recorded(QStringLiteral("p")).size(), 2);
}

// a depends on b: removing b removes a first; folders they alone used go,
// the one c shares stays.
void TestApplyRun::removalOfDependantsFirst()
{
    QVERIFY(offer(logged(QStringLiteral("b"), QStringLiteral("1")),
        { entry(QStringLiteral("lib/shared/b.dll"), "b"), entry(QStringLiteral("share/b/deep/x"), "b") }));
    QVERIFY(offer(logged(QStringLiteral("a"), QStringLiteral("1"), { QStringLiteral("b") }),
        { entry(QStringLiteral("lib/shared/a.dll"), "a"), entry(QStringLiteral("share/a/x"), "a") }));
    QVERIFY(offer(TestApplyFixture::manifest(QStringLiteral("c"), QStringLiteral("1")),
        { entry(QStringLiteral("lib/shared/c.dll"), "c") }));
    QVERIFY(mark(QStringLiteral("a"), TestApplyFixture::Install));
    QVERIFY(mark(QStringLiteral("c"), TestApplyFixture::Install));
    QVERIFY(ZelManagerApplyRun().exec());
    QVERIFY(QFile::remove(logFile()));

    QVERIFY(mark(QStringLiteral("b"), TestApplyFixture::Remove));
    QVERIFY(m_fixture->database()->package(QStringLiteral("a")).isRemoveRequested());
    ZelManagerApplyRun run;
    QVERIFY(run.exec());
    QCOMPARE(log(), QStringLiteral("a-1 prerm\na-1 postrm\nb-1 prerm\nb-1 postrm\n"));
    QVERIFY(!m_fixture->database()->package(QStringLiteral("a")).isInstalled());
    QVERIFY(!m_fixture->database()->package(QStringLiteral("b")).isInstalled());
    QVERIFY(recorded(QStringLiteral("a")).isEmpty() && recorded(QStringLiteral("b")).isEmpty());
    QVERIFY(!exists(QStringLiteral("share")));
    QVERIFY(exists(QStringLiteral("lib/shared/c.dll")));
    QVERIFY(!exists(QStringLiteral("lib/shared/a.dll")));
    QVERIFY(isInstalled(QStringLiteral("c")));
}

void TestApplyRun::fileConflictFailsThePackage()
{
    QVERIFY(offer(TestApplyFixture::manifest(QStringLiteral("y"), QStringLiteral("1")),
        { entry(QStringLiteral("lib/y.dll"), "mine") }));
    QVERIFY(mark(QStringLiteral("y"), TestApplyFixture::Install));
    QVERIFY(ZelManagerApplyRun().exec());
    QVERIFY(offer(TestApplyFixture::manifest(QStringLiteral("z"), QStringLiteral("1")),
        { entry(QStringLiteral("lib/y.dll"), "theirs"), entry(QStringLiteral("lib/z.dll"), "z") }));
    QVERIFY(mark(QStringLiteral("z"), TestApplyFixture::Install));

    ZelManagerApplyRun run;
    QVERIFY(!run.exec());
    QCOMPARE(run.outcome(), ZelManagerApplyRun::Failed);
    QCOMPARE(errors(QStringLiteral("z")), QStringList { "Conflicts encountered:\n  Entry lib/y.dll in package y" });
    QCOMPARE(run.errors().size(), 1);
    QCOMPARE(run.errors().first().kind, int(ZelManagerDatabase::ErrorInstall));
    QCOMPARE(content(QStringLiteral("lib/y.dll")), QByteArray("mine"));
    QVERIFY(!exists(QStringLiteral("lib/z.dll")));
    QVERIFY(!m_fixture->database()->package(QStringLiteral("z")).isInstalled());
    QVERIFY(recorded(QStringLiteral("z")).isEmpty());
    QCOMPARE(recorded(QStringLiteral("y")).keys(), QStringList { "lib/y.dll" });
}

// A regular file where a folder has to go (the tests run as root, so modes
// would not stop them).
void TestApplyRun::blockedFolderFailsThePackageAndItsDependants()
{
    QVERIFY(offer(TestApplyFixture::manifest(QStringLiteral("x"), QStringLiteral("1")),
        { entry(QStringLiteral("bin/x.exe"), "x"), entry(QStringLiteral("share/doc/x/readme.txt"), "read me") }));
    QVERIFY(offer(TestApplyFixture::manifest(QStringLiteral("w"), QStringLiteral("1"), { QStringLiteral("x") }),
        { entry(QStringLiteral("bin/w.exe"), "w") }));
    QVERIFY(offer(TestApplyFixture::manifest(QStringLiteral("v"), QStringLiteral("1"), { QStringLiteral("w") }),
        { entry(QStringLiteral("bin/v.exe"), "v") }));
    QVERIFY(TestSandbox::writeFile(m_fixture->file(QStringLiteral("share/doc/x")), "in the way"));
    QVERIFY(mark(QStringLiteral("v"), TestApplyFixture::Install));

    ZelManagerApplyRun run;
    QVERIFY(!run.exec());
    QCOMPARE(run.outcome(), ZelManagerApplyRun::Failed);
    QCOMPARE(errors(QStringLiteral("x")),
        QStringList {
            QStringLiteral("Failed to install: ") + m_fixture->file(QStringLiteral("share/doc/x/readme.txt")) });
    QCOMPARE(errors(QStringLiteral("w")),
        QStringList { QStringLiteral("Not installed: it depends on x, which could not be installed") });
    QCOMPARE(errors(QStringLiteral("v")),
        QStringList { QStringLiteral("Not installed: it depends on w, which could not be installed") });
    for (const char *name : { "x", "w", "v" }) {
        QVERIFY(!m_fixture->database()->package(QLatin1String(name)).isInstalled());
        QVERIFY(recorded(QLatin1String(name)).isEmpty());
    }
    QVERIFY(exists(QStringLiteral("bin/x.exe"))); // written files stay
    QVERIFY(!exists(QStringLiteral("bin/w.exe")));
    QCOMPARE(content(QStringLiteral("share/doc/x")), QByteArray("in the way"));
}

void TestApplyRun::failedDownloadReleasesDependants()
{
    QVERIFY(offer(TestApplyFixture::manifest(QStringLiteral("d"), QStringLiteral("1")),
        { entry(QStringLiteral("lib/y.dll"), "d") }));
    QVERIFY(offer(TestApplyFixture::manifest(QStringLiteral("x"), QStringLiteral("1"), { QStringLiteral("d") }),
        { entry(QStringLiteral("bin/x.exe"), "x") }));
    QVERIFY(offer(TestApplyFixture::manifest(QStringLiteral("z"), QStringLiteral("1")),
        { entry(QStringLiteral("bin/z.exe"), "z") }));
    QVERIFY(m_fixture->server().setBehaviour(
        m_fixture->archiveUrlPath(QStringLiteral("d"), QStringLiteral("1")), TestHttpServer::NotFound));
    QVERIFY(mark(QStringLiteral("x"), TestApplyFixture::Install));
    QVERIFY(mark(QStringLiteral("z"), TestApplyFixture::Install));

    ZelManagerApplyRun run;
    run.setLimit(1);
    QVERIFY(!run.exec());
    QCOMPARE(run.outcome(), ZelManagerApplyRun::Failed);
    QCOMPARE(errors(QStringLiteral("d")).size(), 1);
    QCOMPARE(errors(QStringLiteral("x")),
        QStringList { QStringLiteral("Not installed: it depends on d, which could not be installed") });
    QVERIFY(!m_fixture->database()->package(QStringLiteral("x")).isInstalled());
    QVERIFY(!exists(QStringLiteral("bin/x.exe")));
    QVERIFY(isInstalled(QStringLiteral("z")));
    // d comes first in the list: x is not downloaded in vain.
    QCOMPARE(m_fixture->server().requestCount(m_fixture->archiveUrlPath(QStringLiteral("x"), QStringLiteral("1"))), 0);
}

void TestApplyRun::stopDuringDownload()
{
    QVERIFY(offer(TestApplyFixture::manifest(QStringLiteral("big"), QStringLiteral("1")),
        { entry(QStringLiteral("data/big.bin"), randomBytes(1 << 20, 1)) }));
    QVERIFY(offer(TestApplyFixture::manifest(QStringLiteral("top"), QStringLiteral("1"), { QStringLiteral("big") }),
        { entry(QStringLiteral("bin/top.exe"), "top") }));
    const QString path = m_fixture->archiveUrlPath(QStringLiteral("big"), QStringLiteral("1"));
    QVERIFY(m_fixture->server().setBehaviour(path, TestHttpServer::Trickle, 8192, 50));
    QVERIFY(mark(QStringLiteral("top"), TestApplyFixture::Install));

    ZelManagerApplyRun run;
    QTimer::singleShot(600, &run, &ZelManagerApplyRun::stop);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!run.exec());
    QVERIFY(timer.elapsed() < 20000);
    QCOMPARE(run.outcome(), ZelManagerApplyRun::Stopped);
    QVERIFY(!run.context());
    QVERIFY(run.errors().isEmpty());
    QVERIFY(!m_fixture->database()->package(QStringLiteral("big")).isInstalled());
    QVERIFY(!m_fixture->database()->package(QStringLiteral("top")).isInstalled());
    QVERIFY(!exists(QStringLiteral("data/big.bin")));
    // The requests stay for the next run, and no partial archive is cached.
    QVERIFY(m_fixture->database()->package(QStringLiteral("top")).isInstallRequested());
    QVERIFY(QDir(m_fixture->cacheFolder()).entryList(QDir::Files).isEmpty());
}

void TestApplyRun::stopDuringPreinst()
{
    TestApplyFixture::Manifest slow = TestApplyFixture::manifest(QStringLiteral("slow"), QStringLiteral("1"));
    slow.preinst = QStringLiteral("exec(\"/bin/sh\", 0, \"\", \"-c\", \"sleep 1\");");
    QVERIFY(offer(slow, { entry(QStringLiteral("bin/slow.exe"), "slow") }));
    QVERIFY(mark(QStringLiteral("slow"), TestApplyFixture::Install));

    ZelManagerApplyRun run;
    connect(run.operationModel(), &QAbstractItemModel::dataChanged, &run, [&run]() {
        const ZelManagerPackage package = ZelManagerDatabase::instance()->package(QStringLiteral("slow"));
        if (package.status() == ZelManagerPackage::Installing)
            run.stop();
    });
    QVERIFY(!run.exec());
    QCOMPARE(run.outcome(), ZelManagerApplyRun::Stopped);
    QVERIFY(!exists(QStringLiteral("bin/slow.exe")));
    QVERIFY(!m_fixture->database()->package(QStringLiteral("slow")).isInstalled());
    QVERIFY(recorded(QStringLiteral("slow")).isEmpty());
}

// Removals and installations share one slot and both get through.
void TestApplyRun::sharedLimitOfOne()
{
    QVERIFY(offer(TestApplyFixture::manifest(QStringLiteral("old"), QStringLiteral("1")),
        { entry(QStringLiteral("bin/old.exe"), "old") }));
    QVERIFY(mark(QStringLiteral("old"), TestApplyFixture::Install));
    QVERIFY(ZelManagerApplyRun().exec());
    for (const char *name : { "n1", "n2", "n3" }) {
        QVERIFY(offer(TestApplyFixture::manifest(QLatin1String(name), QStringLiteral("1")),
            { entry(QStringLiteral("bin/%1.exe").arg(QLatin1String(name)), name) }));
        QVERIFY(mark(QLatin1String(name), TestApplyFixture::Install));
    }
    QVERIFY(mark(QStringLiteral("old"), TestApplyFixture::Remove));

    ZelManagerApplyRun run;
    run.setLimit(1);
    int most = 0;
    connect(run.operationModel(), &QAbstractItemModel::dataChanged, &run, [&run, &most]() {
        if (run.context())
            most = qMax(most, run.context()->running);
    });
    QVERIFY(run.exec());
    QCOMPARE(most, 1);
    QVERIFY(!m_fixture->database()->package(QStringLiteral("old")).isInstalled());
    for (const char *name : { "n1", "n2", "n3" })
        QVERIFY(isInstalled(QLatin1String(name)));
}

void TestApplyRun::dependencyCycleIsInstalled()
{
    QVERIFY(offer(TestApplyFixture::manifest(QStringLiteral("p"), QStringLiteral("1"), { QStringLiteral("q") }),
        { entry(QStringLiteral("bin/p.exe"), "p") }));
    QVERIFY(offer(TestApplyFixture::manifest(QStringLiteral("q"), QStringLiteral("1"), { QStringLiteral("p") }),
        { entry(QStringLiteral("bin/q.exe"), "q") }));
    QVERIFY(mark(QStringLiteral("p"), TestApplyFixture::Install));
    QVERIFY(m_fixture->database()->package(QStringLiteral("q")).isInstallRequested());

    ZelManagerApplyRun run;
    QVERIFY(run.exec());
    QVERIFY(isInstalled(QStringLiteral("p")) && isInstalled(QStringLiteral("q")));
}

void TestApplyRun::unusableCacheFolderEndsTheRun()
{
    QVERIFY(offer(TestApplyFixture::manifest(QStringLiteral("y"), QStringLiteral("1")),
        { entry(QStringLiteral("lib/y.dll"), "y") }));
    QVERIFY(mark(QStringLiteral("y"), TestApplyFixture::Install));
    const QString blocker = m_fixture->sandbox().path() + QStringLiteral("/blocker");
    QVERIFY(TestSandbox::writeFile(blocker, "file"));
    ZelManagerSettings::instance()->setCachePath(blocker + QStringLiteral("/cache"));

    ZelManagerApplyRun run;
    QVERIFY(!run.exec());
    QCOMPARE(errors(QStringLiteral("y")),
        QStringList { QStringLiteral("Can not create the cache folder ") + blocker + QStringLiteral("/cache") });
    QVERIFY(!m_fixture->database()->package(QStringLiteral("y")).isInstalled());
}

void TestApplyRun::runWithoutOperations()
{
    ZelManagerApplyRun run;
    QSignalSpy spy(&run, &ZelManagerApplyRun::finished);
    QVERIFY(run.exec());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(run.outcome(), ZelManagerApplyRun::Succeeded);
    QVERIFY(!m_fixture->database()->isInTransaction());
    // A run can be started again once it has ended.
    QVERIFY(run.exec());
    QCOMPARE(spy.count(), 2);
}

// The destructor stops the workers and waits for them before the context,
// the managers and the model go.
void TestApplyRun::destroyingARunningRunStopsIt()
{
    QVERIFY(offer(TestApplyFixture::manifest(QStringLiteral("big"), QStringLiteral("1")),
        { entry(QStringLiteral("data/big.bin"), randomBytes(1 << 20, 1)) }));
    QVERIFY(m_fixture->server().setBehaviour(
        m_fixture->archiveUrlPath(QStringLiteral("big"), QStringLiteral("1")), TestHttpServer::Trickle, 8192, 50));
    QVERIFY(mark(QStringLiteral("big"), TestApplyFixture::Install));
    auto run = std::make_unique<ZelManagerApplyRun>();
    QVERIFY(run->start());
    QVERIFY(!run->start());
    QTRY_COMPARE(m_fixture->database()->package(QStringLiteral("big")).status(), int(ZelManagerPackage::Downloading));
    QTest::qWait(200);
    QVERIFY(run->isRunning());
    run.reset();
    QVERIFY(!m_fixture->database()->isInTransaction());
    QVERIFY(!m_fixture->database()->package(QStringLiteral("big")).isInstalled());
    QVERIFY(!exists(QStringLiteral("data/big.bin")));
}

QTEST_GUILESS_MAIN(TestApplyRun)
#include "tst_applyrun.moc"
