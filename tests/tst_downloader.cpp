#include "database/ZelManagerDatabase.h"
#include "engine/ApplyContext.h"
#include "engine/MMd5SumCalculator.h"
#include "engine/ZelManagerPackageDownloader.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestDatabaseFile.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TestPackageDatabase.h"
#include "tools/ZelManagerRepositoryBuilder.h"
#include "ui/ZelManagerOperationModel.h"

#include <QDir>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <memory>
#include <sys/resource.h>

#if defined(__SANITIZE_ADDRESS__)
// From the address sanitizer's runtime (its header is not always installed).
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*)(const volatile void *, size_t), void (*)(const volatile void *));
extern "C" size_t __sanitizer_get_allocated_size(const volatile void *);
#define ZEL_ASAN 1

// The sanitizer's own count of bytes in use goes wrong for a moment when a
// thread that freed memory ends; count the bytes in use here instead.
namespace {
std::atomic<qint64> s_liveBytes { 0 };
void countAllocation(const volatile void *, size_t size)
{
    s_liveBytes.fetch_add(qint64(size), std::memory_order_relaxed);
}
void countRelease(const volatile void *pointer)
{
    if (pointer)
        s_liveBytes.fetch_sub(qint64(__sanitizer_get_allocated_size(pointer)), std::memory_order_relaxed);
}
const int s_hooksInstalled = __sanitizer_install_malloc_and_free_hooks(countAllocation, countRelease);
}
#endif

using Entry = ZelManagerRepositoryBuilder::ArchiveEntry;
using Compression = ZelManagerRepositoryBuilder::Compression;

namespace {

const QString Version = QStringLiteral("1.0");
const qint64 BuildTime = 1234;
const int RunTimeoutMs = 30000;

QString md5Of(const QByteArray &data)
{
    MMd5SumCalculator md5;
    md5.addData(data);
    return md5.calculateMd5Sum();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray randomBytes(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(size);
    for (int n = 0; n < size; ++n)
        data[n] = char(generator.generate());
    return data;
}

QByteArray controlFile(const QStringList &nofix, const QString &postinst = QString())
{
    QByteArray xml
        = "<?xml version=\"1.0\"?>\n<package>\n <name>p</name>\n <unknown><postinst>no</postinst></unknown>\n";
    if (!postinst.isEmpty())
        xml += " <postinst><![CDATA[" + postinst.toUtf8() + "]]></postinst>\n";
    for (const QString &pattern : nofix)
        xml += " <nofix>" + pattern.toUtf8() + "</nofix>\n";
    return xml + "</package>\n";
}

Entry directory(const QString &path)
{
    Entry entry(path, QByteArray());
    entry.type = Entry::Directory;
    return entry;
}

// The largest value any sample of the live memory reached since start():
// the peak resident size where the kernel keeps it, else (under the
// address sanitizer, whose quarantine keeps freed memory resident) the
// allocator's count of bytes in use, sampled.
class PeakMeter
{
public:
    void start()
    {
#ifndef ZEL_ASAN
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        m_hwm = clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
#endif
        m_base = live();
        m_peak = m_base;
    }
    void sample()
    {
        m_peak = qMax(m_peak, live());
    }
    qint64 growth()
    {
        sample();
        return (m_hwm ? statusValue("VmHWM:") : m_peak) - m_base;
    }

private:
    static qint64 statusValue(const char *key)
    {
        const QList<QByteArray> lines = readAll(QStringLiteral("/proc/self/status")).split('\n');
        for (const QByteArray &line : lines) {
            if (line.startsWith(key))
                return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toLongLong() * 1024;
        }
        return 0;
    }
    static qint64 live()
    {
#ifdef ZEL_ASAN
        return s_liveBytes.load(std::memory_order_relaxed);
#else
        return statusValue("VmRSS:");
#endif
    }

    bool m_hwm = false;
    qint64 m_base = 0;
    qint64 m_peak = 0;
};

} // namespace

class TestDownloader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cacheFilePath();
    void downloadsAndParses_data();
    void downloadsAndParses();
    void reusesVerifiedCache();
    void replacesMismatchedCache();
    void conflicts();
    void failsWithoutUsableSource_data();
    void failsWithoutUsableSource();
    void serverMisbehaviour_data();
    void serverMisbehaviour();
    void slowServer();
    void cacheWriteFails();
    void cancelDuringTransfer();
    void cancelAfterError();
    void damagedArchives_data();
    void damagedArchives();
    void memoryStaysBounded();

private:
    // One apply run on a sandboxed installation whose repository is the test
    // server's folder "repo".
    struct Run
    {
        explicit Run(const QUrl &repository)
            : fixture({ repository })
            , url(repository)
        {
            ZelManagerSettings::instance()->setCachePath(cacheFolder());
        }
        QString cacheFolder() const { return fixture.sandbox().path() + QStringLiteral("/cache"); }
        QString statusFile() const { return fixture.statusFile(); }
        QString repositoryFile() const { return fixture.repositoryFile(url); }

        TestPackageDatabase fixture;
        QUrl url;
        ZelManagerDatabase *database = nullptr;
        std::unique_ptr<ZelManagerOperationModel> model;
        std::unique_ptr<ApplyContext> context;
        QList<int> statuses; // of the package under test, each change once
    };

    QUrl repository() const { return QUrl(m_server.url().toString() + QStringLiteral("/repo")); }
    QString archivePath(const QString &name) const;
    QString urlPath(const QString &name) const;
    QString publish(const QString &name, const QList<Entry> &entries, Compression compression = Compression::Plain);
    void publishBytes(const QString &name, const QByteArray &bytes);
    QList<Entry> sampleEntries() const;
    void offer(Run &run, const QString &name, const QString &md5sum);
    void open(Run &run, const QString &name, bool refresh = true);
    ZelManagerPackageDownloader *downloader(Run &run, const QString &name);
    bool execute(ZelManagerPackageDownloader *downloader, int timeoutMs = RunTimeoutMs);
    QString cachePath(const QString &name, const QString &md5sum) const;

    QTemporaryDir m_served;
    TestHttpServer m_server;
};

void TestDownloader::initTestCase()
{
    QVERIFY(m_served.isValid());
    QVERIFY(QDir().mkpath(m_served.path() + QStringLiteral("/repo")));
    QVERIFY(m_server.start(m_served.path()));
}

void TestDownloader::init()
{
    QVERIFY(m_server.reset());
    ZelManagerPackageDownloader::setTransferTimeout(60000);
}

QString TestDownloader::archivePath(const QString &name) const
{
    return m_served.path() + QStringLiteral("/repo/")
        + ZelManagerRepositoryBuilder::archiveFileName(name, Version, QStringLiteral("win32"));
}

QString TestDownloader::urlPath(const QString &name) const
{
    return QStringLiteral("/repo/")
        + ZelManagerRepositoryBuilder::archiveFileName(name, Version, QStringLiteral("win32"));
}

QString TestDownloader::publish(const QString &name, const QList<Entry> &entries, Compression compression)
{
    QString md5sum;
    QString error;
    if (!ZelManagerRepositoryBuilder::writeArchive(archivePath(name), entries, compression, &md5sum, &error))
        qWarning("%s", qPrintable(error));
    return md5sum;
}

void TestDownloader::publishBytes(const QString &name, const QByteArray &bytes)
{
    QFile file(archivePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QList<Entry> TestDownloader::sampleEntries() const
{
    return { Entry(QStringLiteral("package.xml"), controlFile({})),
        Entry(QStringLiteral("bin/a.dll"), randomBytes(40000)),
        Entry(QStringLiteral("share/doc/readme.txt"), QByteArray(30000, 'r')) };
}

void TestDownloader::offer(Run &run, const QString &name, const QString &md5sum)
{
    TestDatabaseFile file(run.repositoryFile(), TestDatabaseFile::Repository);
    file.addRepositoryPackage(name, QStringLiteral("Maintainer"), QStringLiteral("Package ") + name);
    file.addRepositoryFile(name, Version, QStringLiteral("win32"), BuildTime, md5sum);
}

// Opens the database and requests the package, so that the operation model
// holds a row for it and reports every status change.
void TestDownloader::open(Run &run, const QString &name, bool refresh)
{
    run.database = run.fixture.open();
    if (refresh)
        TestPackageDatabase::refresh(run.database);
    ZelManagerPackage package = run.database->package(name);
    if (!package.isNull() && !package.isRequested())
        package.setRequest(ZelManagerPackage::RequestInstall);
    run.model.reset(new ZelManagerOperationModel);
    run.model->refresh();
    run.context.reset(new ApplyContext(run.model.get()));
    connect(run.model.get(), &QAbstractItemModel::dataChanged, this, [&run, name]() {
        const int status = run.database->package(name).status();
        if (run.statuses.isEmpty() || run.statuses.last() != status)
            run.statuses.append(status);
    });
}

ZelManagerPackageDownloader *TestDownloader::downloader(Run &run, const QString &name)
{
    return new ZelManagerPackageDownloader(run.context.get(), name);
}

bool TestDownloader::execute(ZelManagerPackageDownloader *downloader, int timeoutMs)
{
    QSignalSpy spy(downloader, &ZelManagerPackageDownloader::finished);
    downloader->execute();
    if (!spy.wait(timeoutMs)) {
        qWarning("the downloader did not finish");
        return false;
    }
    return spy.count() == 1 && spy.at(0).at(0).toBool();
}

QString TestDownloader::cachePath(const QString &name, const QString &md5sum) const
{
    PackageInfo info;
    info.name = name;
    info.version = Version;
    info.md5sum = md5sum;
    info.time = BuildTime;
    return ApplyContext::cacheFilePath(info);
}

void TestDownloader::cacheFilePath()
{
    PackageInfo info;
    info.name = QStringLiteral("foo");
    info.version = QStringLiteral("1.0");
    info.time = 1234;
    info.md5sum = QStringLiteral("0123456789abcdef0123456789abcdef");
    QCOMPARE(ApplyContext::cacheFilePath(QStringLiteral("/c"), QStringLiteral("win32"), info),
        QStringLiteral("/c/foo_1.0_win32_0123456789abcdef0123456789abcdef-1234.cache"));

    // Nothing that names another folder may reach the file name.
    for (const QString &name :
        { QStringLiteral("../foo"), QStringLiteral("a/b"), QStringLiteral("a\\b"), QStringLiteral("c:foo") }) {
        PackageInfo bad = info;
        bad.name = name;
        QVERIFY2(ApplyContext::cacheFilePath(QStringLiteral("/c"), QStringLiteral("win32"), bad).isEmpty(),
            qPrintable(name));
        bad = info;
        bad.version = name;
        QVERIFY(ApplyContext::cacheFilePath(QStringLiteral("/c"), QStringLiteral("win32"), bad).isEmpty());
    }
    info.name = QStringLiteral("foo..bar");
    QVERIFY(!ApplyContext::cacheFilePath(QStringLiteral("/c"), QStringLiteral("win32"), info).isEmpty());
}

void TestDownloader::downloadsAndParses_data()
{
    QTest::addColumn<int>("compression");
    QTest::newRow("plain tar") << int(Compression::Plain);
    QTest::newRow("lzma") << int(Compression::Lzma);
}

// Entries named with "./" like some tar writers do, the control file among
// them; two nofix patterns; directories and links are not files.
void TestDownloader::downloadsAndParses()
{
    QFETCH(int, compression);
    Run run(repository());
    Entry link(QStringLiteral("./bin/link.dll"), QByteArray());
    link.type = Entry::Symlink;
    link.linkTarget = QStringLiteral("a.dll");
    const QString postinst = QStringLiteral("shortcut(\"x\");\n<&>");
    const QString md5sum = publish(QStringLiteral("pkg"),
        { directory(QStringLiteral("./")),
            Entry(QStringLiteral("./package.xml"),
                controlFile({ QStringLiteral("share/doc/*"), QStringLiteral("bin/*.dll") }, postinst)),
            directory(QStringLiteral("./bin")), Entry(QStringLiteral("./bin/a.dll"), randomBytes(70000)),
            Entry(QStringLiteral("./bin/tool.exe"), QByteArray(5000, 't')), link,
            Entry(QStringLiteral("./share/doc/readme.txt"), "read me"),
            Entry(QStringLiteral("./share/doc/html/index.html"), "<html/>"),
            Entry(QStringLiteral("./lib/a.dll"), "lib") },
        Compression(compression));
    offer(run, QStringLiteral("pkg"), md5sum);
    open(run, QStringLiteral("pkg"));

    ZelManagerPackageDownloader *worker = downloader(run, QStringLiteral("pkg"));
    QVERIFY(execute(worker));
    QCOMPARE(m_server.requestCount(urlPath(QStringLiteral("pkg"))), 1);
    const PackageInfo info = run.context->info(QStringLiteral("pkg"));
    QCOMPARE(info.version, Version);
    QCOMPARE(info.postinst, postinst);
    QVERIFY(info.preinst.isEmpty());
    const QMap<QString, bool> expected { { QStringLiteral("bin/a.dll"), false },
        { QStringLiteral("bin/tool.exe"), true }, { QStringLiteral("share/doc/readme.txt"), false },
        { QStringLiteral("share/doc/html/index.html"), true }, { QStringLiteral("lib/a.dll"), true } };
    QCOMPARE(info.fileEntries, expected);

    const ZelManagerPackage package = run.database->package(QStringLiteral("pkg"));
    QCOMPARE(package.status(), int(ZelManagerPackage::Downloaded));
    QCOMPARE(package.progress(), 100);
    QCOMPARE(run.statuses.first(), int(ZelManagerPackage::Downloading));
    QVERIFY(!run.statuses.contains(ZelManagerPackage::Error));
    QCOMPARE(run.database->errorCount(), 0);
    QCOMPARE(run.context->running, 0);
    // The archive is in the cache, whole, and nothing else is.
    QCOMPARE(readAll(cachePath(QStringLiteral("pkg"), md5sum)), readAll(archivePath(QStringLiteral("pkg"))));
    QCOMPARE(QDir(run.cacheFolder()).entryList(QDir::Files).size(), 1);

    // An unknown total must not divide by zero.
    worker->onDownloadProgress(50, 0);
    QCOMPARE(package.progress(), 0);
    worker->onDownloadProgress(50, -1);
    QCOMPARE(package.progress(), 0);
}

void TestDownloader::reusesVerifiedCache()
{
    Run run(repository());
    const QString md5sum = publish(QStringLiteral("cached"), sampleEntries());
    offer(run, QStringLiteral("cached"), md5sum);
    QVERIFY(QDir().mkpath(run.cacheFolder()));
    QVERIFY(QFile::copy(archivePath(QStringLiteral("cached")), cachePath(QStringLiteral("cached"), md5sum)));
    QVERIFY(QFile::remove(archivePath(QStringLiteral("cached"))));
    open(run, QStringLiteral("cached"));

    QVERIFY(execute(downloader(run, QStringLiteral("cached"))));
    QCOMPARE(m_server.requestCount(urlPath(QStringLiteral("cached"))), 0);
    const QList<int> expected { ZelManagerPackage::Downloading, ZelManagerPackage::Parsing,
        ZelManagerPackage::Downloaded };
    QCOMPARE(run.statuses, expected);
    QCOMPARE(run.context->info(QStringLiteral("cached")).fileEntries.keys(),
        QStringList({ QStringLiteral("bin/a.dll"), QStringLiteral("share/doc/readme.txt") }));
    QCOMPARE(run.context->running, 0);
}

// The stale file holds another, valid archive: what the reader lists shows
// which bytes it was given.
void TestDownloader::replacesMismatchedCache()
{
    Run run(repository());
    const QString md5sum = publish(QStringLiteral("stale"), sampleEntries());
    offer(run, QStringLiteral("stale"), md5sum);
    QString oldMd5;
    QString error;
    QVERIFY(QDir().mkpath(run.cacheFolder()));
    QVERIFY(ZelManagerRepositoryBuilder::writeArchive(cachePath(QStringLiteral("stale"), md5sum),
        { Entry(QStringLiteral("old/file.txt"), "old") }, Compression::Plain, &oldMd5, &error));
    open(run, QStringLiteral("stale"));

    QVERIFY(execute(downloader(run, QStringLiteral("stale"))));
    QCOMPARE(m_server.requestCount(urlPath(QStringLiteral("stale"))), 1);
    QVERIFY(!run.statuses.contains(ZelManagerPackage::Parsing));
    const QMap<QString, bool> entries = run.context->info(QStringLiteral("stale")).fileEntries;
    QVERIFY(!entries.contains(QStringLiteral("old/file.txt")));
    QVERIFY(entries.contains(QStringLiteral("bin/a.dll")));
    QCOMPARE(ZelManagerRepositoryBuilder::fileMd5Sum(cachePath(QStringLiteral("stale"), md5sum)), md5sum);
}

// bin/a.dll belongs to another installed package; the package's own rows
// (upgrade, reinstall) do not count.
void TestDownloader::conflicts()
{
    Run run(repository());
    QList<Entry> entries = sampleEntries();
    entries.append(Entry(QStringLiteral("share/info/m.info"), "manual"));
    entries.append(Entry(QStringLiteral("share/info/dir.txt"), "not the dir file"));
    const QString md5sum = publish(QStringLiteral("newer"), entries);
    offer(run, QStringLiteral("newer"), md5sum);
    {
        TestDatabaseFile status(run.statusFile(), TestDatabaseFile::Status);
        status.exec(QStringLiteral("INSERT INTO fileentries VALUES(1,'newer','share/doc/readme.txt');"));
        status.exec(QStringLiteral("INSERT INTO fileentries VALUES(1,'older','bin/a.dll');"));
        status.exec(QStringLiteral("INSERT INTO fileentries VALUES(1,'older','bin/b.dll');"));
        status.exec(QStringLiteral("INSERT INTO fileentries VALUES(1,'manual','share/info/m.info.gz');"));
        status.exec(QStringLiteral("INSERT INTO fileentries VALUES(1,'manual','share/info/dir');"));
    }
    open(run, QStringLiteral("newer"));

    QVERIFY(!execute(downloader(run, QStringLiteral("newer"))));
    QCOMPARE(run.database->errorDescriptions(QStringLiteral("newer")),
        QStringLiteral("Conflicts encountered:\n  Entry bin/a.dll in package older\n"
                       "  Entry share/info/m.info.gz in package manual"));
    QCOMPARE(run.database->package(QStringLiteral("newer")).status(), int(ZelManagerPackage::Error));
    QVERIFY(run.context->packageTable.isEmpty());

    // Without the other package the same archive is fine.
    {
        TestDatabaseFile status(run.statusFile(), TestDatabaseFile::Status);
        status.exec(QStringLiteral("DELETE FROM fileentries WHERE package<>'newer';"));
    }
    QVERIFY(execute(downloader(run, QStringLiteral("newer"))));
}

void TestDownloader::failsWithoutUsableSource_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("message");
    QTest::newRow("no version") << "no version"
                                << "No available version of package found";
    QTest::newRow("no repository") << "no repository"
                                   << "No repository found";
    QTest::newRow("name leaves the cache")
        << "bad name"
        << "Package name or version can not be used in a file name: ../../x/evil 1.0";
    QTest::newRow("cache not writable") << "cache blocked"
                                        << "Can not save downloaded file";
}

void TestDownloader::failsWithoutUsableSource()
{
    QFETCH(QString, setup);
    QFETCH(QString, message);
    Run run(repository());
    QString name = QStringLiteral("pkg");
    if (setup == QLatin1String("no version")) {
        TestDatabaseFile status(run.statusFile(), TestDatabaseFile::Status);
        status.addStatus(name, ZelManagerPackage::RequestInstall);
    } else if (setup == QLatin1String("no repository")) {
        TestDatabaseFile status(run.statusFile(), TestDatabaseFile::Status);
        status.addStatus(name, ZelManagerPackage::FlagInstalled | ZelManagerPackage::RequestReinstall);
        status.addInstalled(name, Version, BuildTime);
    } else if (setup == QLatin1String("bad name")) {
        name = QStringLiteral("../../x/evil");
        offer(run, name, md5Of("x"));
    } else {
        offer(run, name, publish(name, sampleEntries()));
        QVERIFY(TestSandbox::writeFile(run.fixture.sandbox().path() + QStringLiteral("/blocker"), "file"));
        ZelManagerSettings::instance()->setCachePath(run.fixture.sandbox().path() + QStringLiteral("/blocker/cache"));
    }
    open(run, name, setup != QLatin1String("no version") && setup != QLatin1String("no repository"));

    QVERIFY(!execute(downloader(run, name)));
    QCOMPARE(run.database->errorDescriptions(name), message);
    QCOMPARE(run.database->package(name).status(), int(ZelManagerPackage::Error));
    QCOMPARE(run.context->running, 0);
    QCOMPARE(m_server.requestCount(urlPath(QStringLiteral("pkg"))), 0);
    QVERIFY(!QFileInfo::exists(run.fixture.sandbox().path() + QStringLiteral("/x")));
}

void TestDownloader::serverMisbehaviour_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QString>("message"); // the error holds one of these, split at "|"
    QTest::newRow("not found") << int(TestHttpServer::NotFound) << qint64(0) << "Not Found";
    QTest::newRow("dropped connection") << int(TestHttpServer::DropAfter) << qint64(3000)
                                        << "closed|Download incomplete: 3000 of|md5sum not match";
    QTest::newRow("length too short") << int(TestHttpServer::WrongLength) << qint64(100)
                                      << "Downloaded file md5sum not match";
    QTest::newRow("length too long") << int(TestHttpServer::WrongLength) << qint64(1000000)
                                     << "closed|Download incomplete:|md5sum not match";
}

// Each failure leaves an earlier cache file as it was and no partial file.
void TestDownloader::serverMisbehaviour()
{
    QFETCH(int, behaviour);
    QFETCH(qint64, value);
    QFETCH(QString, message);
    Run run(repository());
    const QString md5sum = publish(QStringLiteral("bad"), sampleEntries());
    offer(run, QStringLiteral("bad"), md5sum);
    QVERIFY(TestSandbox::writeFile(cachePath(QStringLiteral("bad"), md5sum), "stale"));
    QVERIFY(m_server.setBehaviour(urlPath(QStringLiteral("bad")), TestHttpServer::Behaviour(behaviour), value));
    open(run, QStringLiteral("bad"));

    QVERIFY(!execute(downloader(run, QStringLiteral("bad"))));
    const QString error = run.database->errorDescriptions(QStringLiteral("bad"));
    bool expected = false;
    for (const QString &part : message.split(QLatin1Char('|')))
        expected = expected || error.contains(part);
    QVERIFY2(expected, qPrintable(error));
    QCOMPARE(run.database->errorIds().size(), 1);
    QCOMPARE(run.database->package(QStringLiteral("bad")).status(), int(ZelManagerPackage::Error));
    QVERIFY(run.context->packageTable.isEmpty());
    QCOMPARE(run.context->running, 0);
    QCOMPARE(readAll(cachePath(QStringLiteral("bad"), md5sum)), QByteArray("stale"));
    QCOMPARE(QDir(run.cacheFolder()).entryList(QDir::Files).size(), 1);
}

// A trickling server is waited for; a silent one fails after the transfer
// timeout instead of holding the run.
void TestDownloader::slowServer()
{
    Run run(repository());
    const QString md5sum = publish(QStringLiteral("slow"), sampleEntries());
    offer(run, QStringLiteral("slow"), md5sum);
    open(run, QStringLiteral("slow"));
    QVERIFY(m_server.setBehaviour(urlPath(QStringLiteral("slow")), TestHttpServer::Trickle, 4096, 10));
    QVERIFY(execute(downloader(run, QStringLiteral("slow"))));
    QCOMPARE(ZelManagerRepositoryBuilder::fileMd5Sum(cachePath(QStringLiteral("slow"), md5sum)), md5sum);

    QVERIFY(QFile::remove(cachePath(QStringLiteral("slow"), md5sum)));
    ZelManagerPackageDownloader::setTransferTimeout(300);
    QVERIFY(m_server.setBehaviour(urlPath(QStringLiteral("slow")), TestHttpServer::Stall, 3000));
    QVERIFY(!execute(downloader(run, QStringLiteral("slow"))));
    QCOMPARE(run.database->errorDescriptions(QStringLiteral("slow")), QStringLiteral("Connection timed out"));
}

// The process may write files of 30000 bytes at most while the archive
// arrives: the save file's writes fail as on a full disk.
void TestDownloader::cacheWriteFails()
{
    Run run(repository());
    const QString md5sum = publish(QStringLiteral("full"), sampleEntries());
    offer(run, QStringLiteral("full"), md5sum);
    open(run, QStringLiteral("full"));

    rlimit unlimited {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    const auto restore = [unlimited]() { setrlimit(RLIMIT_FSIZE, &unlimited); };
    connect(run.model.get(), &QAbstractItemModel::dataChanged, this, [&run, restore]() {
        if (run.database->package(QStringLiteral("full")).status() == ZelManagerPackage::Error)
            restore();
    });
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = unlimited;
    limited.rlim_cur = 30000;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool ok = execute(downloader(run, QStringLiteral("full")));
    restore();
    QVERIFY(!ok);
    QCOMPARE(run.database->errorDescriptions(QStringLiteral("full")), QStringLiteral("Can not write downloaded file"));
    QVERIFY(QDir(run.cacheFolder()).entryList(QDir::Files).isEmpty());
}

void TestDownloader::cancelDuringTransfer()
{
    Run run(repository());
    const QString md5sum = publish(QStringLiteral("long"), sampleEntries());
    offer(run, QStringLiteral("long"), md5sum);
    open(run, QStringLiteral("long"));
    QVERIFY(m_server.setBehaviour(urlPath(QStringLiteral("long")), TestHttpServer::Trickle, 512, 50));

    ZelManagerPackageDownloader *worker = downloader(run, QStringLiteral("long"));
    QSignalSpy spy(worker, &ZelManagerPackageDownloader::finished);
    worker->execute();
    QTRY_VERIFY(run.database->package(QStringLiteral("long")).progress() > 0);
    worker->cancel();
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.at(0).at(0).toBool(), false);
    QCOMPARE(run.database->package(QStringLiteral("long")).status(), int(ZelManagerPackage::Canceling));
    QCOMPARE(run.database->errorCount(), 0);
    QCOMPARE(run.context->running, 0);
    QVERIFY(QDir(run.cacheFolder()).entryList(QDir::Files).isEmpty());
}

void TestDownloader::cancelAfterError()
{
    Run run(repository());
    offer(run, QStringLiteral("gone"), md5Of("gone"));
    open(run, QStringLiteral("gone"));

    ZelManagerPackageDownloader *worker = downloader(run, QStringLiteral("gone"));
    connect(run.model.get(), &QAbstractItemModel::dataChanged, worker, [&run, worker]() {
        if (run.database->package(QStringLiteral("gone")).status() == ZelManagerPackage::Error)
            worker->cancel();
    });
    QVERIFY(!execute(worker));
    QCOMPARE(run.database->package(QStringLiteral("gone")).status(), int(ZelManagerPackage::Error));
    QCOMPARE(run.database->errorIds().size(), 1);
    QVERIFY(run.database->errorDescriptions(QStringLiteral("gone")).contains(QLatin1String("Not Found")));
}

void TestDownloader::damagedArchives_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");

    QTemporaryDir dir;
    const auto build = [&dir](const QList<Entry> &entries, Compression compression) {
        QString md5sum;
        QString error;
        ZelManagerRepositoryBuilder::writeArchive(
            dir.path() + QStringLiteral("/a"), entries, compression, &md5sum, &error);
        return readAll(dir.path() + QStringLiteral("/a"));
    };
    const QList<Entry> entries { Entry(QStringLiteral("package.xml"), controlFile({})),
        Entry(QStringLiteral("bin/a.dll"), randomBytes(60000)) };
    const QByteArray plain = build(entries, Compression::Plain);
    const QByteArray lzma = build(entries, Compression::Lzma);
    QTest::newRow("truncated tar") << plain.left(plain.size() / 2) << "Damaged package archive: ";
    QTest::newRow("truncated lzma") << lzma.left(lzma.size() / 2) << "Damaged package archive: ";
    QTest::newRow("not an archive") << randomBytes(20000) << "Damaged package archive: ";
    const QString unsafe = QStringLiteral("Unsafe path in package archive: ");
    for (const QString &path : { QStringLiteral("../evil.txt"), QStringLiteral("./../evil.txt"),
             QStringLiteral("/tmp/evil.txt"), QStringLiteral("bin/../../evil.txt"), QStringLiteral("C:/evil.txt") }) {
        QList<Entry> hostile = entries;
        hostile.append(Entry(path, "evil"));
        hostile.append(Entry(QStringLiteral("bin/b.dll"), "b"));
        QTest::newRow(qPrintable(path)) << build(hostile, Compression::Plain)
                                        << unsafe + (path.startsWith(QLatin1String("./")) ? path.mid(2) : path);
    }
}

// A verified archive that is cut or hostile ends the reader with an error
// (it does not wait for data that never comes) and nothing of it is passed on.
void TestDownloader::damagedArchives()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    Run run(repository());
    publishBytes(QStringLiteral("broken"), bytes);
    offer(run, QStringLiteral("broken"), md5Of(bytes));
    open(run, QStringLiteral("broken"));

    QVERIFY(!execute(downloader(run, QStringLiteral("broken")), 10000));
    const QString error = run.database->errorDescriptions(QStringLiteral("broken"));
    QVERIFY2(error.startsWith(message), qPrintable(error));
    QCOMPARE(run.database->package(QStringLiteral("broken")).status(), int(ZelManagerPackage::Error));
    QVERIFY(run.context->packageTable.isEmpty());
    QCOMPARE(run.context->running, 0);

    // A refused archive is of no use in the cache: the same bytes taken from
    // there are refused again, and dropped.
    const QString cached = cachePath(QStringLiteral("broken"), md5Of(bytes));
    QVERIFY(!QFile::exists(cached));
    QVERIFY(TestSandbox::writeFile(cached, bytes));
    QVERIFY(!execute(downloader(run, QStringLiteral("broken")), 10000));
    QVERIFY(!QFile::exists(cached));
}

// 50 MB pass through download, hash, cache and reader, and again through the
// cache check: the memory in use grows by a small part of that.
void TestDownloader::memoryStaysBounded()
{
    const int Megabyte = 1024 * 1024;
    const int Files = 50;
    Run run(repository());
    const QString source = run.fixture.sandbox().path() + QStringLiteral("/source.bin");
    QVERIFY(TestSandbox::writeFile(source, randomBytes(Megabyte)));
    QList<Entry> entries { Entry(QStringLiteral("package.xml"), controlFile({ QStringLiteral("data/*.bin") })) };
    for (int n = 0; n < Files; ++n) {
        Entry entry(QStringLiteral("data/%1.bin").arg(n), QByteArray());
        entry.sourceFile = source;
        entries.append(entry);
    }
    const QString md5sum = publish(QStringLiteral("big"), entries);
    QVERIFY(QFileInfo(archivePath(QStringLiteral("big"))).size() > Files * Megabyte);
    offer(run, QStringLiteral("big"), md5sum);
    open(run, QStringLiteral("big"));

    PeakMeter meter;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&meter]() { meter.sample(); });
    connect(run.model.get(), &QAbstractItemModel::dataChanged, this, [&meter]() { meter.sample(); });
    sampler.start(2);

    meter.start();
    QVERIFY(execute(downloader(run, QStringLiteral("big")), 120000));
    const qint64 downloadGrowth = meter.growth();
    QCOMPARE(run.context->info(QStringLiteral("big")).fileEntries.size(), Files);
    QCOMPARE(m_server.requestCount(urlPath(QStringLiteral("big"))), 1);

    meter.start();
    QVERIFY(execute(downloader(run, QStringLiteral("big")), 120000));
    const qint64 reuseGrowth = meter.growth();
    QCOMPARE(m_server.requestCount(urlPath(QStringLiteral("big"))), 1);

    qInfo("memory growth: download %lld KB, cache reuse %lld KB", downloadGrowth / 1024, reuseGrowth / 1024);
    QVERIFY2(downloadGrowth < 12 * Megabyte, qPrintable(QString::number(downloadGrowth)));
    QVERIFY2(reuseGrowth < 8 * Megabyte, qPrintable(QString::number(reuseGrowth)));
    QVERIFY(QFile::remove(archivePath(QStringLiteral("big"))));
}

QTEST_MAIN(TestDownloader)
#include "tst_downloader.moc"
