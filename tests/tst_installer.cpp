#include "database/ZelManagerDatabase.h"
#include "engine/ApplyContext.h"
#include "engine/ZelManagerFixupStream.h"
#include "engine/ZelManagerPackageDownloader.h"
#include "engine/ZelManagerPackageInstaller.h"
#include "engine/ZelManagerScriptEngine.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestDatabaseFile.h"
#include "tests/support/TestPackageDatabase.h"
#include "tools/ZelManagerRepositoryBuilder.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <archive.h>
#include <archive_entry.h>

#include <cstring>
#include <memory>

using Entry = ZelManagerRepositoryBuilder::ArchiveEntry;

namespace {

const QByteArray OldPrefix = "/build/prefix/root"; // 18 bytes
const QByteArray NewPrefix = "/vp/w"; // 5 bytes: 13 bytes of gap

QByteArray fixed(QByteArray data, const QByteArray &oldPrefix = OldPrefix, const QByteArray &newPrefix = NewPrefix)
{
    // An exact allocation, so that a write past the data is caught.
    std::unique_ptr<char[]> buffer(new char[size_t(data.size())]);
    std::memcpy(buffer.get(), data.constData(), size_t(data.size()));
    ZelManagerFixupStream::fixPaths(buffer.get(), data.size(), oldPrefix, newPrefix);
    return QByteArray(buffer.get(), data.size());
}

QByteArray gunzip(const QByteArray &data)
{
    struct archive *archive = archive_read_new();
    archive_read_support_filter_gzip(archive);
    archive_read_support_format_raw(archive);
    QByteArray result;
    struct archive_entry *entry = nullptr;
    if (archive_read_open_memory(archive, data.constData(), size_t(data.size())) == ARCHIVE_OK
        && archive_read_next_header(archive, &entry) == ARCHIVE_OK) {
        char block[8192];
        la_ssize_t got;
        while ((got = archive_read_data(archive, block, sizeof block)) > 0)
            result.append(block, int(got));
        if (got < 0)
            result = "read error";
    }
    archive_read_free(archive);
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

} // namespace

class TestInstaller : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void fixPaths_data();
    void fixPaths();
    void fixPathsOnRandomData();
    void streamMatchesWholeData();
    void gzipOfIncompressibleData();
    void unfixedAndRepeatedEntries();
    void hostileEntryPathsStayInside();
    void unreadableArchives_data();
    void unreadableArchives();
    void skippedEntriesAreReported();
    void cancelBeforeUnpacking();
    void upgradeKeepsAnOldFileThatCannotBeDeleted();
    void replacedCacheFileIsRefused();

private:
    PackageInfo info(const QMap<QString, bool> &files = {}) const;
    // Writes the package's archive into the cache and takes its MD5 sum.
    bool cache(PackageInfo &info, const QList<Entry> &entries);
    bool install(ApplyContext &context, bool *ok);
    QStringList errors() const;
    QString target() const { return ZelManagerSettings::instance()->targetPath(); }

    std::unique_ptr<TestPackageDatabase> m_fixture;
};

void TestInstaller::init()
{
    m_fixture.reset(new TestPackageDatabase);
    TestDatabaseFile status(m_fixture->statusFile(), TestDatabaseFile::Status);
    status.addStatus(QStringLiteral("h"), 0x100);
    ZelManagerSettings::instance()->setCachePath(m_fixture->sandbox().path() + QStringLiteral("/cache"));
    ZelManagerDatabase::instance();
}

void TestInstaller::cleanup()
{
    ZelManagerScriptEngine::cleanup();
    m_fixture.reset();
}

void TestInstaller::fixPaths_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray spaces(13, ' ');
    const QByteArray zeros(13, '\0');

    QTest::newRow("text line") << QByteArray("PATH=/build/prefix/root/bin/tool\nnext")
                               << "PATH=/vp/w/bin/tool" + spaces + "\nnext";
    QTest::newRow("tab") << QByteArray("x=/build/prefix/root/y\tz") << "x=/vp/w/y" + spaces + "\tz";
    QTest::newRow("carriage return") << QByteArray("/build/prefix/root/a\r\n") << "/vp/w/a" + spaces + "\r\n";
    QTest::newRow("binary") << QByteArray("\x01/build/prefix/root/lib\0rest", 28)
                            << QByteArray("\x01/vp/w/lib", 10) + zeros + QByteArray("\0rest", 5);
    QTest::newRow("other control byte") << QByteArray("/build/prefix/root/x\x02") << "/vp/w/x" + zeros + "\x02";
    QTest::newRow("first byte") << QByteArray("/build/prefix/root/x y") << "/vp/w/x" + spaces + " y";
    QTest::newRow("end of data") << QByteArray("a /build/prefix/root/end") << "a /vp/w/end" + zeros;
    QTest::newRow("prefix is the end") << QByteArray("ab/build/prefix/root") << "ab/vp/w" + zeros;
    QTest::newRow("high bytes belong to the path")
        << QByteArray("/build/prefix/root/caf\xc3\xa9/\xff\x80x\n") << "/vp/w/caf\xc3\xa9/\xff\x80x" + spaces + "\n";
    QTest::newRow("two on one line") << QByteArray("/build/prefix/root/a:/build/prefix/root/b\n")
                                     << "/vp/w/a:/vp/w/b" + spaces + spaces + "\n";
    QTest::newRow("partial prefix") << QByteArray("x /build/prefix/roo") << QByteArray("x /build/prefix/roo");
    QTest::newRow("none") << QByteArray("nothing to see\n") << QByteArray("nothing to see\n");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestInstaller::fixPaths()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, expected);
    QCOMPARE(fixed(data), expected);
}

// Random mixtures of prefixes, parts of prefixes, controls and high bytes:
// the size stays, every prefix is gone, and nothing is written past the end.
void TestInstaller::fixPathsOnRandomData()
{
    const QList<QByteArray> pieces = { OldPrefix, OldPrefix.left(7), "/", "a", " ", "\n", "\t", QByteArray(1, '\0'),
        "\x80", "\xff", "\x1f", "/bin" };
    QRandomGenerator generator(42);
    for (int round = 0; round < 2000; ++round) {
        QByteArray data;
        const int count = int(generator.bounded(12));
        for (int n = 0; n < count; ++n)
            data += pieces.at(int(generator.bounded(pieces.size())));
        const QByteArray result = fixed(data);
        QCOMPARE(result.size(), data.size());
        QVERIFY2(!result.contains(OldPrefix), data.toHex().constData());
        QCOMPARE(result.count(NewPrefix), data.count(OldPrefix));
    }
    // A longer install folder does not fit: the data stays as it is.
    const QByteArray data = "x /build/prefix/root/y\n";
    QCOMPARE(fixed(data, OldPrefix, OldPrefix + "/longer"), data);
    QCOMPARE(fixed(data, OldPrefix, QByteArray()), data);
}

namespace {

// The stream's output for data cut into pieces at the given sizes (cycled).
QByteArray streamed(const QByteArray &data, const QList<int> &cuts, bool enabled = true,
    int flushSize = ZelManagerFixupStream::DefaultFlushSize)
{
    QByteArray output;
    ZelManagerFixupStream stream(
        OldPrefix, NewPrefix, enabled,
        [&output](const char *bytes, qint64 size) {
            output.append(bytes, int(size));
            return true;
        },
        flushSize);
    int at = 0;
    for (int n = 0; at < data.size(); ++n) {
        const int size = qMin(cuts.at(n % cuts.size()), data.size() - at);
        if (!stream.write(data.constData() + at, size))
            return "write failed";
        at += size;
    }
    return stream.finish() ? output : "finish failed";
}

} // namespace

// Pieces cut anywhere, through a prefix or a path that goes on in the next
// piece, give what the relocation of the whole data gives; a sink that
// fails stops the stream.
void TestInstaller::streamMatchesWholeData()
{
    const QList<QByteArray> pieces = { OldPrefix, OldPrefix.left(9), "/bin", "x", " ", "\n", QByteArray(1, '\0') };
    QRandomGenerator generator(7);
    for (int round = 0; round < 300; ++round) {
        QByteArray data;
        while (data.size() < 20000)
            data += pieces.at(int(generator.bounded(pieces.size())));
        const QList<int> cuts = { 1 + int(generator.bounded(40)), 1 + int(generator.bounded(5000)) };
        QCOMPARE(streamed(data, cuts, true, 1 + int(generator.bounded(200))), fixed(data));
        QCOMPARE(streamed(data, cuts), fixed(data));
    }
    // Large pieces, a path longer than a flush that ends only at the end,
    // and a prefix cut across the flush boundary.
    QByteArray big = randomBytes(3 * 1024 * 1024, 9).replace('\0', 'z');
    for (int i = 0; i < big.size(); ++i) {
        if (uchar(big[i]) < 0x20 || uchar(big[i]) == 0x7f || big[i] == ' ')
            big[i] = 'a';
    }
    big = "\n" + OldPrefix + big + "\n" + big.left(1024 * 1024 - 7) + OldPrefix + "/tail";
    QCOMPARE(streamed(big, { 40960 }), fixed(big));
    QCOMPARE(streamed(big, { 5 * 1024 * 1024 }, false), big);

    int calls = 0;
    ZelManagerFixupStream failing(
        OldPrefix, NewPrefix, true, [&calls](const char *, qint64) { return ++calls > 1 && false; });
    QVERIFY(!failing.write(big.constData(), big.size()) || !failing.finish());
    QVERIFY(!failing.write("more", 4));
}

void TestInstaller::gzipOfIncompressibleData()
{
    const QByteArray noise = randomBytes(200000, 7);
    QByteArray compressed;
    QVERIFY(ZelManagerPackageInstaller::gzipCompress(noise, QStringLiteral("noise.info"), &compressed));
    QVERIFY(compressed.size() > noise.size());
    QCOMPARE(gunzip(compressed), noise);

    QVERIFY(ZelManagerPackageInstaller::gzipCompress(QByteArray(), QStringLiteral("e.info"), &compressed));
    QVERIFY(!compressed.isEmpty());
    QCOMPARE(gunzip(compressed), QByteArray());
}

PackageInfo TestInstaller::info(const QMap<QString, bool> &files) const
{
    PackageInfo result;
    result.name = QStringLiteral("h");
    result.version = QStringLiteral("1.0");
    result.md5sum = QStringLiteral("0123456789abcdef0123456789abcdef");
    result.time = 1;
    result.fileEntries = files;
    return result;
}

bool TestInstaller::cache(PackageInfo &info, const QList<Entry> &entries)
{
    QString error;
    const QString folder = ZelManagerSettings::instance()->cachePath();
    const QString building = folder + QStringLiteral("/building.tmp");
    if (!QDir().mkpath(folder)
        || !ZelManagerRepositoryBuilder::writeArchive(
            building, entries, ZelManagerRepositoryBuilder::Plain, &info.md5sum, &error))
        return false;
    const QString path = ApplyContext::cacheFilePath(info);
    QFile::remove(path);
    return QFile::rename(building, path);
}

bool TestInstaller::install(ApplyContext &context, bool *ok)
{
    ZelManagerPackageInstaller installer(&context, QStringLiteral("h"));
    QSignalSpy spy(&installer, &ZelManagerPackageInstaller::finished);
    installer.execute();
    if (!spy.wait(30000) || spy.count() != 1)
        return false;
    *ok = spy.first().first().toBool();
    return context.running == 0;
}

QStringList TestInstaller::errors() const
{
    QStringList texts;
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    for (const qint64 id : database->errorIds())
        texts.append(database->error(id).description);
    return texts;
}

// Files exempt from fix-up, unknown to the package's list, compressed, or
// held twice by the archive: each is written and recorded once, with the
// fix flag it really got.
void TestInstaller::unfixedAndRepeatedEntries()
{
    const QByteArray prefix = ZelManagerSettings::instance()->toolchainRoot().toUtf8();
    const QByteArray text = "at " + prefix + "/bin\n";
    PackageInfo package = info(
        { { "a.txt", true }, { "n.txt", false }, { "share/info/m.info", true }, { "share/info/n.info", false } });
    QVERIFY(cache(package,
        { Entry(QStringLiteral("a.txt"), "first"), Entry(QStringLiteral("n.txt"), text),
            Entry(QStringLiteral("extra.txt"), text), Entry(QStringLiteral("share/info/m.info"), text),
            Entry(QStringLiteral("share/info/n.info"), text), Entry(QStringLiteral("a.txt"), text) }));
    ApplyContext context;
    context.putInfo(QStringLiteral("h"), package);
    ZelManagerPackageInstaller installer(&context, QStringLiteral("h"));
    QSignalSpy spy(&installer, &ZelManagerPackageInstaller::finished);
    installer.execute();
    QVERIFY(spy.wait(30000));
    QVERIFY(spy.first().first().toBool());
    QCOMPARE(installer.writtenFiles(),
        QStringList({ "a.txt", "n.txt", "extra.txt", "share/info/m.info.gz", "share/info/n.info.gz" }));
    QCOMPARE(installer.unfixedFiles(), QStringList({ "n.txt", "extra.txt", "share/info/n.info.gz" }));
    const QByteArray relocated
        = "at " + target().toUtf8() + "/bin" + QByteArray(prefix.size() - target().size(), ' ') + "\n";
    QCOMPARE(TestSandbox::readFile(target() + QStringLiteral("/a.txt")).toUtf8(), relocated);
    QCOMPARE(TestSandbox::readFile(target() + QStringLiteral("/n.txt")).toUtf8(), text);
    QCOMPARE(TestSandbox::readFile(target() + QStringLiteral("/extra.txt")).toUtf8(), text);

    TestDatabaseFile status(m_fixture->statusFile());
    QMap<QString, QString> flags;
    for (const QStringList &row : status.rows(QStringLiteral("SELECT entry,nofix FROM fileentries WHERE package='h';")))
        flags.insert(row.value(0), row.value(1));
    const QMap<QString, QString> expected { { "a.txt", "1" }, { "n.txt", "0" }, { "extra.txt", "0" },
        { "share/info/m.info.gz", "1" }, { "share/info/n.info.gz", "0" } };
    QCOMPARE(flags, expected);
    const QSet<QString> excluded = ZelManagerSettings::instance()->excludedFiles();
    for (const QString &path : installer.unfixedFiles())
        QVERIFY2(excluded.contains(path), qPrintable(path));
    QVERIFY(!excluded.contains(QStringLiteral("a.txt")));
    const ZelManagerPackage record = ZelManagerDatabase::instance()->package(QStringLiteral("h"));
    QVERIFY(record.isInstalled());
    QCOMPARE(record.requestFlags(), 0);
}

// Archives that the downloader would refuse can still reach the installer
// (a cache file replaced behind its back): it writes nothing outside.
void TestInstaller::hostileEntryPathsStayInside()
{
    const QString outside = m_fixture->sandbox().path() + QStringLiteral("/outside");
    QVERIFY(QDir().mkpath(outside));
    QVERIFY(QDir().mkpath(target()));
    QVERIFY(QFile::link(outside, target() + QStringLiteral("/link")));
    const QString absolute = m_fixture->sandbox().path() + QStringLiteral("/absolute.txt");
    const QList<Entry> entries
        = { Entry(QStringLiteral("good/ok.txt"), "ok"), Entry(QStringLiteral("../escape.txt"), "bad"),
              Entry(absolute, "bad"), Entry(QStringLiteral("a/../../climb.txt"), "bad"),
              Entry(QStringLiteral("link/inside.txt"), "bad"), Entry(QStringLiteral("link/deeper/inside.txt"), "bad") };
    PackageInfo hostile = info({ { "good/ok.txt", true }, { "link/inside.txt", true } });
    QVERIFY(cache(hostile, entries));

    ApplyContext context;
    context.putInfo(QStringLiteral("h"), hostile);
    bool ok = true;
    QVERIFY(install(context, &ok));
    QVERIFY(!ok);
    QCOMPARE(TestSandbox::readFile(target() + QStringLiteral("/good/ok.txt")), QStringLiteral("ok"));
    QVERIFY(!QFileInfo::exists(m_fixture->sandbox().installPath() + QStringLiteral("/escape.txt")));
    QVERIFY(!QFileInfo::exists(m_fixture->sandbox().installPath() + QStringLiteral("/climb.txt")));
    QVERIFY(!QFileInfo::exists(absolute));
    QVERIFY(QDir(outside).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());

    const QStringList texts = errors();
    QVERIFY2(
        texts.contains(QStringLiteral("Unsafe path in package archive: ../escape.txt")), qPrintable(texts.join('|')));
    QVERIFY(texts.contains(QStringLiteral("Unsafe path in package archive: a/../../climb.txt")));
    QVERIFY(texts.contains(QStringLiteral("Unsafe path in package archive: ") + absolute));
    QVERIFY(texts.contains(QStringLiteral("Failed to install: ") + target() + QStringLiteral("/link/inside.txt")));
    QVERIFY(
        texts.contains(QStringLiteral("Failed to install: ") + target() + QStringLiteral("/link/deeper/inside.txt")));
    QCOMPARE(texts.size(), 5);
    const ZelManagerPackage package = ZelManagerDatabase::instance()->package(QStringLiteral("h"));
    QVERIFY(!package.isInstalled());
    QCOMPARE(package.status(), int(ZelManagerPackage::Error));
    QVERIFY(ZelManagerDatabase::instance()->fileEntries().isEmpty());
}

// The cache file is replaced by another valid archive after its sum was
// checked: the bytes unpacked are found not to be the package's, and what
// they brought is gone again, nothing recorded.
void TestInstaller::replacedCacheFileIsRefused()
{
    QVERIFY(QDir().mkpath(target() + QStringLiteral("/bin")));
    QVERIFY(TestSandbox::writeFile(target() + QStringLiteral("/bin/other.txt"), "other"));
    PackageInfo package = info({ { "bin/tool.exe", true } });
    QVERIFY(cache(package, { Entry(QStringLiteral("bin/tool.exe"), "tool") }));
    PackageInfo replacement = package;
    QVERIFY(cache(replacement,
        { Entry(QStringLiteral("bin/tool.exe"), "evil"), Entry(QStringLiteral("lib/deep/evil.dll"), "evil"),
            Entry(QStringLiteral("share/info/evil.info"), "evil"),
            Entry(QStringLiteral("data/big.bin"), randomBytes(300000, 5)) }));
    QVERIFY(replacement.md5sum != package.md5sum);
    QVERIFY(QFile::remove(ApplyContext::cacheFilePath(package)));
    QVERIFY(QFile::rename(ApplyContext::cacheFilePath(replacement), ApplyContext::cacheFilePath(package)));

    ApplyContext context;
    context.putInfo(QStringLiteral("h"), package);
    bool ok = true;
    QVERIFY(install(context, &ok));
    QVERIFY(!ok);
    const QStringList texts = errors();
    QCOMPARE(texts.size(), 1);
    QVERIFY2(texts.first().contains(QStringLiteral("does not match its md5sum")), qPrintable(texts.first()));
    QDirIterator left(target(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    QStringList files;
    while (left.hasNext())
        files.append(left.next().mid(target().size() + 1));
    QCOMPARE(files, QStringList({ QStringLiteral("bin"), QStringLiteral("bin/other.txt") }));
    const ZelManagerPackage record = ZelManagerDatabase::instance()->package(QStringLiteral("h"));
    QVERIFY(!record.isInstalled());
    QCOMPARE(record.status(), int(ZelManagerPackage::Error));
    QVERIFY(ZelManagerDatabase::instance()->fileEntries().isEmpty());
    QVERIFY(!QFile::exists(ApplyContext::cacheFilePath(package)));

    // The package's own archive installs.
    QVERIFY(cache(package, { Entry(QStringLiteral("bin/tool.exe"), "tool") }));
    QVERIFY(install(context, &ok));
    QVERIFY(ok);
    QCOMPARE(TestSandbox::readFile(target() + QStringLiteral("/bin/tool.exe")), QStringLiteral("tool"));
}

void TestInstaller::unreadableArchives_data()
{
    QTest::addColumn<QByteArray>("bytes"); // empty: no cache file
    QTest::addColumn<QString>("error");
    QTest::newRow("missing") << QByteArray() << QStringLiteral("Can not open package archive ");
    QTest::newRow("not an archive") << QByteArray("this is no tar file at all").repeated(40)
                                    << QStringLiteral("Damaged package archive: ");
    QTest::newRow("cut short") << QByteArray("cut") << QStringLiteral("Damaged package archive: ");
}

// An archive that does not open or ends early fails the package; it is
// not recorded as installed.
void TestInstaller::unreadableArchives()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    PackageInfo broken = info({ { "data/big.bin", true } });
    if (bytes == "cut")
        QVERIFY(cache(broken, { Entry(QStringLiteral("data/big.bin"), randomBytes(300000, 3)) }));
    const QString path = ApplyContext::cacheFilePath(broken);
    if (bytes == "cut") {
        QFile file(path);
        QVERIFY(file.resize(150000));
    } else if (!bytes.isEmpty()) {
        QVERIFY(TestSandbox::writeFile(path, bytes));
    }

    ApplyContext context;
    context.putInfo(QStringLiteral("h"), broken);
    bool ok = true;
    QVERIFY(install(context, &ok));
    QVERIFY(!ok);
    const QStringList texts = errors();
    QCOMPARE(texts.size(), 1);
    QVERIFY2(texts.first().startsWith(error), qPrintable(texts.first()));
    const ZelManagerPackage package = ZelManagerDatabase::instance()->package(QStringLiteral("h"));
    QVERIFY(!package.isInstalled());
    QCOMPARE(package.status(), int(ZelManagerPackage::Error));
    QVERIFY(ZelManagerDatabase::instance()->fileEntries().isEmpty());
    // A damaged archive would fail again: it does not stay in the cache.
    QVERIFY(!QFile::exists(path));
    // Nor does the file that it cut short.
    QVERIFY(!QFile::exists(target() + QStringLiteral("/data/big.bin")));
}

// Links and other special entries are left out of the install folder, said
// in the log and in the package's status; the package is installed.
void TestInstaller::skippedEntriesAreReported()
{
    PackageInfo package = info({ { "bin/tool.exe", true } });
    Entry link(QStringLiteral("bin/tool-link.exe"), QByteArray());
    link.type = Entry::Symlink;
    link.linkTarget = QStringLiteral("tool.exe");
    Entry outside = link;
    outside.path = QStringLiteral("bin/escape");
    outside.linkTarget = QStringLiteral("/etc/passwd");
    QVERIFY(cache(package, { Entry(QStringLiteral("bin/tool.exe"), "tool"), link, outside }));
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression("h: entry bin/tool-link.exe skipped: links are not supported"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("h: entry bin/escape skipped: links are not supported"));

    ApplyContext context;
    context.putInfo(QStringLiteral("h"), package);
    bool ok = false;
    QVERIFY(install(context, &ok));
    QVERIFY(ok);
    QVERIFY(QFileInfo(target() + QStringLiteral("/bin/tool.exe")).isFile());
    QVERIFY(!QFileInfo::exists(target() + QStringLiteral("/bin/tool-link.exe")));
    QVERIFY(!QFileInfo(target() + QStringLiteral("/bin/escape")).isSymLink());
    const ZelManagerPackage record = ZelManagerDatabase::instance()->package(QStringLiteral("h"));
    QVERIFY(record.isInstalled());
    QCOMPARE(record.statusText(), QStringLiteral("installed, 2 entries skipped: links are not supported"));
}

// A cancel during the preinst script: nothing is unpacked, nothing recorded.
void TestInstaller::cancelBeforeUnpacking()
{
    PackageInfo cancelled = info({ { "bin/x.txt", true } });
    cancelled.preinst = QStringLiteral("exec(\"/bin/sh\", 0, \"\", \"-c\", \"sleep 0.3\");");
    QVERIFY(cache(cancelled, { Entry(QStringLiteral("bin/x.txt"), "x") }));
    QVERIFY(QDir().mkpath(target())); // the script's working folder
    ApplyContext context;
    context.putInfo(QStringLiteral("h"), cancelled);
    ZelManagerPackageInstaller installer(&context, QStringLiteral("h"));
    QSignalSpy spy(&installer, &ZelManagerPackageInstaller::finished);
    QTimer::singleShot(50, &installer, &ZelManagerPackageInstaller::cancel);
    installer.execute();
    QVERIFY(spy.count() == 1 || spy.wait(30000));
    QCOMPARE(spy.first().first().toBool(), false);
    QCOMPARE(context.running, 0);
    QVERIFY(!QFileInfo::exists(target() + QStringLiteral("/bin/x.txt")));
    QCOMPARE(ZelManagerDatabase::instance()->package(QStringLiteral("h")).status(), int(ZelManagerPackage::Canceling));
    QVERIFY(errors().isEmpty());
}

// The new version is staged, then switched in; an old file that cannot be
// deleted then stays, recorded with the new version, and the package ends
// with its error. The installer leaves the context's count as it found it.
void TestInstaller::upgradeKeepsAnOldFileThatCannotBeDeleted()
{
    {
        TestDatabaseFile status(m_fixture->statusFile(), TestDatabaseFile::Status);
        status.exec(QStringLiteral("UPDATE status SET status=? WHERE package='h';"), { 0x30E });
        status.addInstalled(QStringLiteral("h"), QStringLiteral("0.9"), 1);
        status.exec(QStringLiteral("INSERT INTO fileentries VALUES(1,'h','share/stuck');"));
    }
    // A folder with an entry where the old version's file was.
    QVERIFY(TestSandbox::writeFile(target() + QStringLiteral("/share/stuck/inside"), "x"));
    ZelManagerDatabase::instance()->reloadPackages();
    PackageInfo upgrade = info({ { "bin/new.txt", true } });
    QVERIFY(cache(upgrade, { Entry(QStringLiteral("bin/new.txt"), "new") }));

    ApplyContext context;
    context.putInfo(QStringLiteral("h"), upgrade);
    bool ok = true;
    QVERIFY(install(context, &ok));
    QVERIFY(!ok);
    QCOMPARE(TestSandbox::readFile(target() + QStringLiteral("/bin/new.txt")), QStringLiteral("new"));
    QCOMPARE(errors(), QStringList({ "Failed to remove: share/stuck" }));
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    QVERIFY(database->package(QStringLiteral("h")).isInstalled());
    QCOMPARE(database->packageEntry(QStringLiteral("h"), QString(), true).fileEntries.keys(),
        QStringList({ "bin/new.txt", "share/stuck" }));
    QVERIFY(database->journal().isEmpty());
}

QTEST_GUILESS_MAIN(TestInstaller)
#include "tst_installer.moc"
