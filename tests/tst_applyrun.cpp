#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerSql.h"
#include "engine/ApplyContext.h"
#include "engine/ZelManagerApplyRun.h"
#include "engine/ZelManagerDownloadManager.h"
#include "engine/ZelManagerPackageDownloader.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestApplyFixture.h"
#include "tests/support/TestDatabaseFile.h"
#include "ui/ZelManagerOperationModel.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <memory>

using Entry = TestApplyFixture::Entry;
using Request = TestApplyFixture::Request;

namespace {

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
    void stopDuringPreinst();
    void sharedLimitOfOne();
    void unusableCacheFolderEndsTheRun();
    void runWithoutOperations();
    void stopWhileTheRunFinishes();
    void destroyingARunningRunStopsIt();
    void lockedDatabaseFailsTheRun();

private:
    QString logFile() const { return m_fixture->sandbox().path() + QStringLiteral("/log"); }
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

// What a run leaves beside the files (the tree and the file records are
// the scenarios' part): the installed versions' database rows, the file
// times, an emptied operation list and a released context.
void TestApplyRun::installWithDependency()
{
    QVERIFY(offer(logged(QStringLiteral("y"), QStringLiteral("1.0")),
        { entry(QStringLiteral("share/info/y.info"), InfoManual), entry(QStringLiteral("lib/y.dll"), "y") }));
    QVERIFY(offer(logged(QStringLiteral("x"), QStringLiteral("2.0"), { QStringLiteral("y >= 1.0") }),
        { entry(QStringLiteral("bin/x.exe"), "x program") }));
    QVERIFY(mark(QStringLiteral("x"), TestApplyFixture::Install));
    QVERIFY(m_fixture->database()->package(QStringLiteral("y")).isAutomatic());

    ZelManagerApplyRun run;
    QSignalSpy spy(&run, &ZelManagerApplyRun::finished);
    QVERIFY(run.exec());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(run.outcome(), ZelManagerApplyRun::Succeeded);
    QVERIFY(run.errors().isEmpty());
    QVERIFY(!run.context() && !run.downloadManager() && !run.removeManager());
    QCOMPARE(run.operationModel()->rowCount(), 0);
    QVERIFY(!m_fixture->database()->isInTransaction());
    QVERIFY(!m_fixture->database()->package(QStringLiteral("y")).isAutomatic());
    for (const char *path : { "bin/x.exe", "lib/y.dll", "share/info/y.info.gz" })
        QCOMPARE(QFileInfo(m_fixture->file(QLatin1String(path))).lastModified().toSecsSinceEpoch(), FileTime);

    TestDatabaseFile status(m_fixture->statusFile());
    QCOMPARE(status.value(QStringLiteral("SELECT comparision FROM dependencies WHERE package='x' AND dependency='y';")),
        QStringLiteral(">= 1.0"));
    const QStringList infos = status
                                  .rows(QStringLiteral("SELECT name,time,md5sum,version,repository FROM infos "
                                                       "WHERE name='y';"))
                                  .value(0);
    QCOMPARE(infos.value(3), QStringLiteral("1.0"));
    QCOMPARE(infos.value(1), QStringLiteral("1600000000"));
    QCOMPARE(infos.value(2).size(), 32);
    QCOMPARE(infos.value(4), m_fixture->repository().toString());
    QVERIFY(
        status.value(QStringLiteral("SELECT postinstscript FROM infos WHERE name='x';")).contains("x-2.0 postinst"));
    QVERIFY(status.value(QStringLiteral("SELECT prermscript FROM infos WHERE name='x';")).contains("x-2.0 prerm"));
    QCOMPARE(status.value(QStringLiteral("SELECT status FROM status WHERE package='y';")).toInt(),
        ZelManagerPackage::FlagInstalled | ZelManagerPackage::FlagInstallable);
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

// Without operations both managers report inside start(), so the run is
// finishing when stop() comes: the stop still decides the outcome, once,
// and does not carry over to the next run.
void TestApplyRun::stopWhileTheRunFinishes()
{
    ZelManagerApplyRun run;
    QSignalSpy spy(&run, &ZelManagerApplyRun::finished);
    QVERIFY(run.start());
    QCOMPARE(run.outcome(), ZelManagerApplyRun::Running);
    run.stop();
    run.stop();
    QVERIFY(spy.wait(30000));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toBool(), false);
    QCOMPARE(run.outcome(), ZelManagerApplyRun::Stopped);
    QVERIFY(!run.context() && !m_fixture->database()->isInTransaction());
    QVERIFY(run.exec());
    QCOMPARE(run.outcome(), ZelManagerApplyRun::Succeeded);
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
    // The request stays for the next run, and no partial archive is cached.
    QVERIFY(m_fixture->database()->package(QStringLiteral("big")).isInstallRequested());
    QVERIFY(QDir(m_fixture->cacheFolder()).entryList(QDir::Files).isEmpty());
}

// Another program holds the status file's write lock for the whole run:
// nothing can be recorded, so nothing is installed or removed, and the run
// says so instead of reporting success. Once the lock is gone the same
// requests go through.
void TestApplyRun::lockedDatabaseFailsTheRun()
{
    QVERIFY(offer(TestApplyFixture::manifest("old", "1.0"), { entry("bin/old.exe", "old") }));
    QCOMPARE(m_fixture->request("old", Request::Install), QString());
    QVERIFY(ZelManagerApplyRun().exec());
    QVERIFY(offer(TestApplyFixture::manifest("y", "1.0"), { entry("bin/y.exe", "y") }));
    QCOMPARE(m_fixture->request("y", Request::Install), QString());
    QCOMPARE(m_fixture->request("old", Request::Remove), QString());

    const int timeout = ZelManagerSql::busyTimeout();
    ZelManagerSql::setBusyTimeout(20);
    TestDatabaseFile other(m_fixture->statusFile());
    QVERIFY(other.exec(QStringLiteral("BEGIN IMMEDIATE;")));
    ZelManagerApplyRun run;
    const bool ok = run.exec();
    QVERIFY(other.exec(QStringLiteral("ROLLBACK;")));
    ZelManagerSql::setBusyTimeout(timeout);

    QVERIFY(!ok);
    QCOMPARE(run.outcome(), ZelManagerApplyRun::Failed);
    QStringList texts;
    for (const ZelManagerDatabase::ErrorRecord &error : run.errors())
        texts.append(error.package + QLatin1String(": ") + error.description);
    QVERIFY2(texts.contains("y: Can not record the start of the installation: database is locked"),
        qPrintable(texts.join('\n')));
    QVERIFY2(texts.contains("old: Can not record the start of the removal: database is locked"),
        qPrintable(texts.join('\n')));
    QVERIFY(!QFileInfo::exists(m_fixture->file("bin/y.exe")));
    QVERIFY(QFileInfo::exists(m_fixture->file("bin/old.exe")));
    ZelManagerDatabase *db = m_fixture->database();
    QVERIFY(!db->package("y").isInstalled());
    QVERIFY(db->package("old").isInstalled());

    ZelManagerApplyRun again;
    QVERIFY(again.exec());
    QVERIFY(db->package("y").isInstalled());
    QVERIFY(!db->package("old").isInstalled());
    QVERIFY(!QFileInfo::exists(m_fixture->file("bin/old.exe")));
}

QTEST_GUILESS_MAIN(TestApplyRun)
#include "tst_applyrun.moc"
