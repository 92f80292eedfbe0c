#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerRepositoryUpdater.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestDatabaseFile.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TestPackageDatabase.h"
#include "tests/support/TestRepository.h"

#include <QDir>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#ifdef Q_OS_LINUX
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using Rows = QList<QStringList>;

const QByteArray Alpha = " <package>\n"
                         "  <name>alpha</name>\n"
                         "  <maintainer>Ann O'Neill &lt;ann@example.org&gt;</maintainer>\n"
                         "  <description>It's \"fast\" &amp; small'); DROP TABLE infos; --</description>\n"
                         "  <categories><category>Libraries</category><category>Development/Tools</category>"
                         "</categories>\n"
                         "  <files>\n"
                         "   <file><version>1.2-1</version><architecture>win32</architecture><time>1500000000</time>"
                         "<md5sum>0123456789abcdef0123456789abcdef</md5sum>"
                         "<dependency>zlib &gt;= 1.2</dependency><dependency>beta</dependency></file>\n"
                         "   <file><version>1.2-1</version><architecture>win64</architecture><time>1500000100</time>"
                         "<md5sum>fedcba9876543210fedcba9876543210</md5sum>"
                         "<dependency>zlib &gt;= 1.2</dependency></file>\n"
                         "  </files>\n"
                         " </package>\n";

QByteArray simplePackage(const QByteArray &name, const QByteArray &version = "1.0")
{
    return "<package><name>" + name + "</name><files><file><version>" + version
        + "</version><architecture>win32</architecture><time>7</time><md5sum>m</md5sum></file></files></package>\n";
}

// An index of count packages, large enough that its import takes a while.
QByteArray largeIndex(int count)
{
    QByteArray packages;
    for (int n = 0; n < count; ++n) {
        const QByteArray name = "package-" + QByteArray::number(n);
        packages += "<package><name>" + name + "</name><description>Package number " + QByteArray::number(n)
            + "</description><categories><category>Group</category></categories><files><file><version>1."
            + QByteArray::number(n) + "</version><architecture>win32</architecture><time>5</time><md5sum>m</md5sum>"
            + "<dependency>package-" + QByteArray::number(n / 2) + " &gt;= 1.0</dependency></file></files></package>\n";
    }
    return TestRepository::index(packages);
}

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT

private:
    QString folder() const { return m_fixture->sandbox().path() + QStringLiteral("/repo"); }
    QString pkgdb() const { return m_fixture->sandbox().installPath() + QStringLiteral("/pkgdb"); }
    Rows rows(const QString &sql, const QUrl &url = QUrl()) const
    {
        TestDatabaseFile file(m_fixture->repositoryFile(url.isEmpty() ? m_repository : url));
        return file.rows(sql);
    }
    Rows names(const QUrl &url = QUrl()) const { return rows(QStringLiteral("SELECT name FROM infos;"), url); }
    TestRepository::Run update(const QByteArray &xml, const TestRepository::WorkHook &hook = {})
    {
        TestRepository::writeIndex(folder(), xml);
        return TestRepository::update(m_database, m_repository, hook);
    }
    QString servedIndex() const { return m_fixture->sandbox().path() + QStringLiteral("/served/repo/packages.xml"); }
    // An HTTP repository served from the sandbox, enabled, and updated once
    // to offer Alpha; invalid if that failed.
    QUrl addServedRepository(TestHttpServer &server)
    {
        if (!TestSandbox::writeFile(servedIndex(), TestRepository::index(Alpha))
            || !server.start(m_fixture->sandbox().path() + QStringLiteral("/served")))
            return QUrl();
        const QUrl url(server.url().toString() + QStringLiteral("/repo"));
        ZelManagerSettings::instance()->setRepository(url, QStringLiteral("served"), true);
        return TestRepository::update(m_database, url).errorText.isEmpty() ? url : QUrl();
    }
    static void checkFailedRun(const TestRepository::Run &run)
    {
        QVERIFY(run.created);
        QCOMPARE(run.finishedCount, 1);
        QVERIFY(!run.errorText.isEmpty());
        QCOMPARE(run.work, QStringLiteral("Done"));
    }

    QScopedPointer<TestPackageDatabase> m_fixture;
    QUrl m_repository;
    ZelManagerDatabase *m_database = nullptr;

private slots:
    void init()
    {
        m_fixture.reset(new TestPackageDatabase(QList<QUrl>()));
        m_repository = QUrl::fromLocalFile(folder());
        ZelManagerSettings::instance()->setRepository(m_repository, QStringLiteral("local"), true);
        m_database = m_fixture->open();
    }
    void cleanup()
    {
        m_database = nullptr;
        m_fixture.reset();
    }

    void indexLocation_data();
    void indexLocation();
    void importsEveryTable();
    void architectureNames();
    void dependencyTexts_data();
    void dependencyTexts();
    void unknownElementsAreSkippedWithTheirContent();
    void packageWithoutNameOrWithNameLast();
    void emptyIndexEmptiesTheRepository();
    void malformedIndexKeepsPreviousContent_data();
    void malformedIndexKeepsPreviousContent();
    void otherRootIsRefusedAtOnce();
    void largeIndexIsReadInPieces();
    void everyRowKeepsItsPlaceInLargeIndexes();
    void lateUncommonMarkupIsReadAgain();
    void importInsideBatchReachesRecords();
    void swapNeverLeavesTheFileMissing();
    void download_data();
    void download();
    void cancelWhileDownloading();
    void cancelOrDeleteWhileImporting();
    void progressOfUnknownTotal();
    void createUpdaterRefusals();
    void updatersOfOneRepositoryAtOnce();
    void repositoryRemovedWhileImporting();
    void foreignHandleGetsRowsCopied();
};

void TestUpdater::indexLocation_data()
{
    QTest::addColumn<QUrl>("repository");
    QTest::addColumn<QUrl>("index");
    QTest::newRow("plain") << QUrl("http://repo.example.org/vp") << QUrl("http://repo.example.org/vp/packages.xml");
    QTest::newRow("trailing slash") << QUrl("http://repo.example.org/vp/")
                                    << QUrl("http://repo.example.org/vp//packages.xml");
    QTest::newRow("file") << QUrl("file:///media/dvd/repo") << QUrl("file:///media/dvd/repo/packages.xml");
}

void TestUpdater::indexLocation()
{
    QFETCH(QUrl, repository);
    QFETCH(QUrl, index);
    QCOMPARE(ZelManagerRepositoryUpdater::indexUrl(repository), index);
}

void TestUpdater::importsEveryTable()
{
    const TestRepository::Run run = update(TestRepository::index(Alpha));
    QCOMPARE(run.errorText, QString());
    QCOMPARE(run.works, QStringList({ "Downloading", "Parsing", "Done" }));
    QCOMPARE(run.packageCount, 1);

    QCOMPARE(rows("SELECT * FROM infos;"),
        Rows({ { "alpha", "Ann O'Neill <ann@example.org>", "It's \"fast\" & small'); DROP TABLE infos; --" } }));
    QCOMPARE(rows("SELECT * FROM categories;"), Rows({ { "Libraries", "alpha" }, { "Development/Tools", "alpha" } }));
    QCOMPARE(rows("SELECT * FROM filenames;"),
        Rows({ { "alpha", "1.2-1", "win32", "1500000000", "0123456789abcdef0123456789abcdef" },
            { "alpha", "1.2-1", "win64", "1500000100", "fedcba9876543210fedcba9876543210" } }));
    QCOMPARE(rows("SELECT * FROM dependencies;"),
        Rows({ { "win32", "alpha", "1.2-1", "zlib", ">= 1.2" }, { "win32", "alpha", "1.2-1", "beta", "" },
            { "win64", "alpha", "1.2-1", "zlib", ">= 1.2" } }));
    QCOMPARE(rows("SELECT typeof(time) FROM filenames;"), Rows({ { "integer" }, { "integer" } }));
    // Nothing of the import is left over.
    QTRY_COMPARE(QDir(pkgdb()).entryList({ "*.import*", "*.old", "*-journal" }, QDir::Files), QStringList());
}

void TestUpdater::architectureNames()
{
    const QList<QPair<QString, QString>> names
        = { { "win64", "win64" }, { "i386", "win32" }, { "amd64", "win64" }, { "arm64", "arm64" } };
    for (const auto &name : names) {
        const QByteArray package = "<package><name>p</name><files><file><version>1</version><architecture>"
            + name.first.toUtf8() + "</architecture><dependency>q</dependency></file></files></package>";
        QCOMPARE(update(TestRepository::index(package)).errorText, QString());
        QCOMPARE(rows("SELECT architecture FROM filenames;"), Rows({ { name.second } }));
        QCOMPARE(rows("SELECT architecture FROM dependencies;"), Rows({ { name.second } }));
    }
}

void TestUpdater::dependencyTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("comparison");
    const QList<QStringList> texts = { { "bare name", "zlib", "zlib", "" },
        { "blanks around", "  zlib \n", "zlib", "" }, { "=", "zlib = 1.2", "zlib", "= 1.2" },
        { "<", "zlib<1.2", "zlib", "<1.2" }, { ">", "zlib > 1.2", "zlib", "> 1.2" },
        { "<=", "zlib <= 1.2-3", "zlib", "<= 1.2-3" }, { ">=", "zlib >= 1.2", "zlib", ">= 1.2" },
        { "!=", "zlib != 1.2", "zlib", "!= 1.2" }, { "operator first", ">= 2.0", "", ">= 2.0" },
        { "operator only", "zlib >=", "zlib", ">=" }, { "quote", "o'caml >= 4", "o'caml", ">= 4" } };
    for (const QStringList &text : texts)
        QTest::newRow(qPrintable(text.at(0))) << text.at(1) << text.at(2) << text.at(3);
}

void TestUpdater::dependencyTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, name);
    QFETCH(QString, comparison);
    const QByteArray package = "<package><name>p</name><files><file><version>1</version>"
                               "<architecture>win32</architecture><dependency>"
        + text.toHtmlEscaped().toUtf8() + "</dependency></file></files></package>";
    QCOMPARE(update(TestRepository::index(package)).errorText, QString());
    QCOMPARE(rows("SELECT dependency, comparision FROM dependencies;"), Rows({ { name, comparison } }));
}

void TestUpdater::unknownElementsAreSkippedWithTheirContent()
{
    const QByteArray xml = "<?xml version=\"1.0\"?>\n<!-- written by a newer tool -->\n"
                           "<vantor-packages>\n"
                           " <mirror><package><name>ghost</name></package></mirror>\n"
                           " <package>\n"
                           "  <homepage><name>wrong</name></homepage>\n"
                           "  <name>real</name><maintainer>  Bob  </maintainer>\n"
                           "  <description><![CDATA[Line one\n<b>two</b> & 'three']]></description>\n"
                           "  <categories><category> A </category><tag><category>B</category></tag></categories>\n"
                           "  <files>\n"
                           "   <signature><file><version>9</version></file></signature>\n"
                           "   <file><version>1.0</version><extra><version>2.0</version><dependency>bad</dependency>"
                           "</extra><architecture>win32</architecture><time>5</time><md5sum>m</md5sum></file>\n"
                           "  </files>\n"
                           "  <future kind=\"x\"><description>no</description></future>\n"
                           " </package>\n"
                           "</vantor-packages>\n";
    QCOMPARE(update(xml).errorText, QString());
    // Texts are kept as the index gives them, blanks and markup included.
    QCOMPARE(rows("SELECT * FROM infos;"), Rows({ { "real", "  Bob  ", "Line one\n<b>two</b> & 'three'" } }));
    QCOMPARE(rows("SELECT * FROM categories;"), Rows({ { " A ", "real" } }));
    QCOMPARE(rows("SELECT * FROM filenames;"), Rows({ { "real", "1.0", "win32", "5", "m" } }));
    QCOMPARE(rows("SELECT count(*) FROM dependencies;"), Rows({ { "0" } }));
}

// Nothing of a nameless package can be offered, its dependencies included; a
// name given after the files still owns their dependencies.
void TestUpdater::packageWithoutNameOrWithNameLast()
{
    const QByteArray nameless = "<package><maintainer>m</maintainer><categories><category>C</category></categories>"
                                "<files><file><version>1</version><architecture>win32</architecture>"
                                "<dependency>zlib</dependency></file></files></package>\n";
    const QByteArray late = "<package><files><file><version>1</version><architecture>win32</architecture>"
                            "<dependency>zlib</dependency></file></files><name>late</name></package>";
    QCOMPARE(update(TestRepository::index(nameless + simplePackage("named") + late)).errorText, QString());
    QCOMPARE(rows("SELECT package FROM filenames ORDER BY package;"), Rows({ { "late" }, { "named" } }));
    QCOMPARE(rows("SELECT count(*) FROM categories;"), Rows({ { "0" } }));
    QCOMPARE(rows("SELECT package, version, dependency FROM dependencies;"), Rows({ { "late", "1", "zlib" } }));
}

void TestUpdater::emptyIndexEmptiesTheRepository()
{
    QCOMPARE(update(TestRepository::index(Alpha)).errorText, QString());
    QCOMPARE(update("<vantor-packages/>").errorText, QString());
    for (const char *table : { "infos", "filenames", "categories", "dependencies" })
        QCOMPARE(rows(QStringLiteral("SELECT count(*) FROM %1;").arg(table)), Rows({ { "0" } }));
}

void TestUpdater::malformedIndexKeepsPreviousContent_data()
{
    QTest::addColumn<QByteArray>("xml");
    const QByteArray good = simplePackage("first");
    QTest::newRow("mismatched tag") << TestRepository::index(good + "<package><name>b</name></pkg>\n");
    QTest::newRow("unknown entity") << TestRepository::index(good + "<package><name>&bogus;</name></package>\n");
    QTest::newRow("cut short") << TestRepository::index(good + simplePackage("second")).left(150);
    QTest::newRow("no root end") << "<vantor-packages>\n" + good;
    QTest::newRow("not xml") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11);
    QTest::newRow("other root") << QByteArray("<html><body><package><name>x</name></package></body></html>");
    QTest::newRow("text after the root") << TestRepository::index(good) + "<html>Not found</html>\n";
    QTest::newRow("bad UTF-8 in a late package")
        << largeIndex(400).replace("</vantor-packages>", "<package><name>b\xff</name></package></vantor-packages>");
}

void TestUpdater::malformedIndexKeepsPreviousContent()
{
    QFETCH(QByteArray, xml);
    QCOMPARE(update(TestRepository::index(Alpha)).errorText, QString());
    const TestRepository::Run run = update(xml);
    checkFailedRun(run);
    QCOMPARE(names(), Rows({ { "alpha" } }));
    QCOMPARE(rows("SELECT count(*) FROM dependencies;"), Rows({ { "3" } }));
    QTRY_COMPARE(QDir(pkgdb()).entryList({ "*.import*", "*.old" }, QDir::Files), QStringList());
}

// A document of another kind is refused at its root element, with the name
// it has; what follows the root's start (here malformed) is never read.
void TestUpdater::otherRootIsRefusedAtOnce()
{
    QCOMPARE(update(TestRepository::index(Alpha)).errorText, QString());
    const QByteArray page = "<?xml version=\"1.0\"?><!-- a server's error page -->\n<html><body>"
                            "<vantor-packages><package><name>x</name></package></vantor-packages></p></html>";
    const TestRepository::Run run = update(page);
    checkFailedRun(run);
    QCOMPARE(run.errorText,
        QStringLiteral("The file is not a repository index: its root element is \"html\", not \"vantor-packages\"."));
    QCOMPARE(names(), Rows({ { "alpha" } }));
}

// The index is handed to the XML reader in pieces: packages that straddle
// two pieces are read whole, and an index cut short far beyond the first
// piece still fails as a whole.
void TestUpdater::largeIndexIsReadInPieces()
{
    const QByteArray index = largeIndex(3000);
    QVERIFY(index.size() > 256 * 1024);
    QCOMPARE(update(index).errorText, QString());
    QCOMPARE(
        rows("SELECT count(*), min(name), max(name) FROM infos;"), Rows({ { "3000", "package-0", "package-999" } }));
    QCOMPARE(rows("SELECT count(*) FROM dependencies WHERE comparision='>= 1.0';"), Rows({ { "3000" } }));
    QCOMPARE(rows("SELECT description FROM infos WHERE name='package-2999';"), Rows({ { "Package number 2999" } }));

    const TestRepository::Run cut = update(index.left(index.size() - 1000));
    checkFailedRun(cut);
    QVERIFY2(cut.errorText.contains(QStringLiteral("malformed")), qPrintable(cut.errorText));
    QCOMPARE(rows("SELECT count(*) FROM infos;"), Rows({ { "3000" } }));
}

// Packages of one to three files with none to three dependencies each, one to
// two categories: the tables get hundreds of rows, in runs of every length,
// across the reader's batches. Each row must come out as listed, and in the
// index's order.
void TestUpdater::everyRowKeepsItsPlaceInLargeIndexes()
{
    QByteArray packages;
    Rows infos, categories, filenames, dependencies;
    for (int n = 0; n < 700; ++n) {
        const QString name = QStringLiteral("p%1").arg(n);
        const QString maintainer = QStringLiteral("m%1").arg(n % 7);
        const QString description = QStringLiteral("d%1 & more").arg(n);
        packages += "<package><name>" + name.toUtf8() + "</name><maintainer>" + maintainer.toUtf8()
            + "</maintainer><description>" + description.toHtmlEscaped().toUtf8() + "</description><categories>";
        infos.append({ name, maintainer, description });
        for (int c = 0; c <= n % 2; ++c) {
            const QString category = QStringLiteral("c%1").arg((n + c) % 5);
            packages += "<category>" + category.toUtf8() + "</category>";
            categories.append({ category, name });
        }
        packages += "</categories><files>";
        for (int f = 0; f <= n % 3; ++f) {
            const QString version = QStringLiteral("%1.%2").arg(n).arg(f);
            const QString architecture = f == 1 ? QStringLiteral("win64") : QStringLiteral("win32");
            const QString time = QString::number(1000000 + n * 10 + f);
            const QString md5sum = QStringLiteral("sum%1-%2").arg(n).arg(f);
            packages += "<file><version>" + version.toUtf8() + "</version><architecture>" + architecture.toUtf8()
                + "</architecture><time>" + time.toUtf8() + "</time><md5sum>" + md5sum.toUtf8() + "</md5sum>";
            filenames.append({ name, version, architecture, time, md5sum });
            for (int d = 0; d < (n + f) % 4; ++d) {
                const QString dependency = QStringLiteral("p%1").arg((n * 7 + d) % 700);
                const QString comparison = d == 1 ? QString() : QStringLiteral(">= %1").arg(d);
                packages += "<dependency>" + (dependency + QLatin1Char(' ') + comparison).toHtmlEscaped().toUtf8()
                    + "</dependency>";
                dependencies.append({ architecture, name, version, dependency, comparison });
            }
            packages += "</file>";
        }
        packages += "</files></package>\n";
    }
    QCOMPARE(update(TestRepository::index(packages)).errorText, QString());
    QCOMPARE(rows("SELECT * FROM infos ORDER BY rowid;"), infos);
    QCOMPARE(rows("SELECT * FROM categories ORDER BY rowid;"), categories);
    QCOMPARE(rows("SELECT * FROM filenames ORDER BY rowid;"), filenames);
    QCOMPARE(rows("SELECT * FROM dependencies ORDER BY rowid;"), dependencies);
    QCOMPARE(rows("SELECT count(*) FROM filenames WHERE typeof(time)='integer';"),
        Rows({ { QString::number(filenames.size()) } }));
    QCOMPARE(rows("SELECT min(rowid), max(rowid) FROM dependencies;"),
        Rows({ { "1", QString::number(dependencies.size()) } }));
    QCOMPARE(rows("PRAGMA integrity_check;"), Rows({ { "ok" } }));
}

// Markup that the byte-level reading leaves to the XML stream reader (here a
// namespace) far into the index: the index is read again from its start, and
// every package is stored once.
void TestUpdater::lateUncommonMarkupIsReadAgain()
{
    QByteArray index = largeIndex(3000);
    const QByteArray last = "<name>package-2999</name>";
    index.replace(last, last + "<x:signature xmlns:x=\"urn:sig\"><x:name>no</x:name></x:signature>");
    index += "<!-- written by a newer tool -->\n";
    QCOMPARE(update(index).errorText, QString());
    QCOMPARE(rows("SELECT count(*), count(DISTINCT name) FROM infos;"), Rows({ { "3000", "3000" } }));
    QCOMPARE(rows("SELECT count(*) FROM dependencies;"), Rows({ { "3000" } }));
    QCOMPARE(rows("SELECT description FROM infos WHERE name='package-2999';"), Rows({ { "Package number 2999" } }));
}

#ifdef Q_OS_LINUX
namespace {

// The names of pkgdb's entries that left the folder (deleted or renamed away)
// while watching.
class FolderWatch
{
public:
    explicit FolderWatch(const QString &folder)
        : m_fd(inotify_init1(IN_NONBLOCK))
    {
        if (m_fd >= 0)
            inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), IN_DELETE | IN_MOVED_FROM);
    }
    ~FolderWatch() { ::close(m_fd); }
    bool isValid() const { return m_fd >= 0; }
    QStringList departed()
    {
        QStringList names;
        alignas(inotify_event) char buffer[16384];
        ssize_t length;
        while ((length = ::read(m_fd, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < length;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                if (event->len)
                    names.append(QFile::decodeName(event->name));
                at += ssize_t(sizeof(inotify_event)) + event->len;
            }
        }
        return names;
    }

private:
    int m_fd;
};

ino_t inode(const QString &file)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(file).constData(), &info) == 0 ? info.st_ino : 0;
}

} // namespace
#endif

// The new file takes the old one's name in one step: the repository's file is
// never deleted nor renamed away; a failed import leaves the old file as it
// was, the same file with the same bytes.
void TestUpdater::swapNeverLeavesTheFileMissing()
{
#ifdef Q_OS_LINUX
    const QString file = m_fixture->repositoryFile(m_repository);
    const QString name = QFileInfo(file).fileName();
    QCOMPARE(update(TestRepository::index(Alpha)).errorText, QString());
    FolderWatch watch(pkgdb());
    QVERIFY(watch.isValid());
    const ino_t before = inode(file);
    m_database->beginTransaction();
    QCOMPARE(update(TestRepository::index(simplePackage("zlib", "1.3"))).errorText, QString());
    m_database->endTransaction(true);
    QVERIFY(inode(file) != before);
    QCOMPARE(m_database->package("zlib").availableVersion(), QString("1.3"));
    QCOMPARE(names(), Rows({ { "zlib" } }));
    QVERIFY2(!watch.departed().contains(name), qPrintable(name));

    const ino_t kept = inode(file);
    QFile in(file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray raw = in.readAll();
    in.close();
    checkFailedRun(update(TestRepository::index(simplePackage("x") + "<package><name>b</name></pkg>\n")));
    QVERIFY(!watch.departed().contains(name));
    QCOMPARE(inode(file), kept);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QCOMPARE(in.readAll(), raw);
    QCOMPARE(m_database->package("zlib").availableVersion(), QString("1.3"));
    QTRY_COMPARE(QDir(pkgdb()).entryList({ "*.import*", "*.old" }, QDir::Files), QStringList());
#else
    QSKIP("watches the folder with inotify");
#endif
}

void TestUpdater::importInsideBatchReachesRecords()
{
    QSignalSpy changed(m_database, &ZelManagerDatabase::packagesChanged);
    m_database->beginTransaction();
    QCOMPARE(update(TestRepository::index(Alpha + simplePackage("zlib", "1.2.11"))).errorText, QString());
    m_database->endTransaction(true);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(m_database->package("alpha").description(), QString("It's \"fast\" & small'); DROP TABLE infos; --"));
    QCOMPARE(m_database->packageEntry("alpha", QString(), false).dependencies, QStringList({ "zlib >= 1.2", "beta" }));
    // A later batch works on the replaced file.
    m_database->beginTransaction();
    QCOMPARE(update(TestRepository::index(simplePackage("zlib", "1.3"))).errorText, QString());
    m_database->endTransaction(true);
    QVERIFY(m_database->package("alpha").isNull());
    QCOMPARE(m_database->package("zlib").availableVersion(), QString("1.3"));
    // Entries are read from the new file, not through statements of the old.
    QCOMPARE(m_database->packageEntry("zlib", QString(), false).version, QString("1.3"));
    QVERIFY(m_database->packageEntry("alpha", QString(), false).version.isEmpty());
}

void TestUpdater::download_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<int>("interval");
    QTest::addColumn<bool>("succeeds");
    QTest::newRow("normal") << int(TestHttpServer::Normal) << qint64(0) << 0 << true;
    // Qt reports download progress at most every 100 ms: trickle for longer.
    QTest::newRow("trickle") << int(TestHttpServer::Trickle) << qint64(8192) << 60 << true;
    QTest::newRow("not found") << int(TestHttpServer::NotFound) << qint64(0) << 0 << false;
    QTest::newRow("dropped") << int(TestHttpServer::DropAfter) << qint64(3000) << 0 << false;
    QTest::newRow("shorter length") << int(TestHttpServer::WrongLength) << qint64(3000) << 0 << false;
    QTest::newRow("longer length") << int(TestHttpServer::WrongLength) << qint64(10000000) << 0 << false;
}

// Over HTTP, every way of failing keeps what the repository offered before.
void TestUpdater::download()
{
    QFETCH(int, behaviour);
    QFETCH(qint64, value);
    QFETCH(int, interval);
    QFETCH(bool, succeeds);
    TestHttpServer server;
    const QUrl url = addServedRepository(server);
    QVERIFY(url.isValid());
    QVERIFY(TestSandbox::writeFile(servedIndex(), largeIndex(400)));
    QVERIFY(server.setBehaviour("/repo/packages.xml", TestHttpServer::Behaviour(behaviour), value, interval));
    const TestRepository::Run run = TestRepository::update(m_database, url);
    QCOMPARE(run.finishedCount, 1);
    QCOMPARE(run.work, QString("Done"));
    if (succeeds) {
        QCOMPARE(run.errorText, QString());
        QCOMPARE(names(url).size(), 400);
        QCOMPARE(run.packageCount, 400);
        if (behaviour == TestHttpServer::Trickle) {
            const bool between = std::any_of(
                run.progress.cbegin(), run.progress.cend(), [](int value) { return value > 0 && value < 100; });
            QVERIFY2(between, "no progress between 0 and 100 while trickling");
        }
    } else {
        QVERIFY(!run.errorText.isEmpty());
        QCOMPARE(names(url), Rows({ { "alpha" } }));
    }
}

void TestUpdater::cancelWhileDownloading()
{
    TestHttpServer server;
    const QUrl url = addServedRepository(server);
    QVERIFY(url.isValid());
    QVERIFY(TestSandbox::writeFile(servedIndex(), TestRepository::index(simplePackage("other"))));
    QVERIFY(server.setBehaviour("/repo/packages.xml", TestHttpServer::Stall, 20000));
    const TestRepository::Run run
        = TestRepository::update(m_database, url, [](ZelManagerRepositoryUpdater *updater, const QString &work) {
              if (work == QLatin1String("Downloading"))
                  QTimer::singleShot(100, updater, &ZelManagerRepositoryUpdater::cancel);
          });
    checkFailedRun(run);
    QCOMPARE(run.works, QStringList({ "Downloading", "Done" }));
    QCOMPARE(names(url), Rows({ { "alpha" } }));
}

// Stopped in the middle of its import, by a cancel or by its deletion, an
// updater keeps the previous content and leaves no new file behind.
void TestUpdater::cancelOrDeleteWhileImporting()
{
    for (const bool deleted : { false, true }) {
        QCOMPARE(update(TestRepository::index(Alpha)).errorText, QString());
        const TestRepository::Run run
            = update(largeIndex(20000), [deleted](ZelManagerRepositoryUpdater *updater, const QString &work) {
                  if (work == QLatin1String("Parsing") && deleted)
                      updater->deleteLater();
                  else if (work == QLatin1String("Parsing"))
                      QTimer::singleShot(0, updater, &ZelManagerRepositoryUpdater::cancel);
              });
        if (deleted)
            QCOMPARE(run.finishedCount, 0);
        else
            checkFailedRun(run);
        QCOMPARE(names(), Rows({ { "alpha" } }));
        QTRY_COMPARE(QDir(pkgdb()).entryList({ "*.import*" }, QDir::Files), QStringList());
    }
}

void TestUpdater::progressOfUnknownTotal()
{
    TestDatabaseFile file(m_fixture->sandbox().path() + QStringLiteral("/other.db"), TestDatabaseFile::Repository);
    ZelManagerRepositoryUpdater updater(file.handle());
    QSignalSpy progress(&updater, QOverload<int>::of(&ZelManagerRepositoryUpdater::progress));
    updater.onDownloadProgress(500, 0);
    updater.onDownloadProgress(500, -1);
    updater.onDownloadProgress(500, 2000);
    QCOMPARE(progress.count(), 3);
    QCOMPARE(progress.at(0).at(0).toInt(), -1);
    QCOMPARE(progress.at(1).at(0).toInt(), -1);
    QCOMPARE(progress.at(2).at(0).toInt(), 25);
}

void TestUpdater::createUpdaterRefusals()
{
    QVERIFY(!m_database->createUpdater(QUrl("http://unknown.example.org/repo")));
    ZelManagerSettings::instance()->setRepositoryEnabled(m_repository, false);
    QVERIFY(!m_database->createUpdater(m_repository));
}

// Two updaters of one repository both finish; the second to finish leaves its
// index. A new file left by an update that never ended is cleaned away.
void TestUpdater::updatersOfOneRepositoryAtOnce()
{
    const QString stale = m_fixture->repositoryFile(m_repository) + QStringLiteral(".import-dead");
    QVERIFY(TestSandbox::writeFile(stale, "half a database"));
    TestRepository::writeIndex(folder(), largeIndex(3000));
    QScopedPointer<ZelManagerRepositoryUpdater> first(m_database->createUpdater(m_repository));
    QScopedPointer<ZelManagerRepositoryUpdater> second(m_database->createUpdater(m_repository));
    QVERIFY(first && second);
    QSignalSpy firstFinished(first.data(), &ZelManagerRepositoryUpdater::finished);
    QSignalSpy secondFinished(second.data(), &ZelManagerRepositoryUpdater::finished);
    QTRY_VERIFY_WITH_TIMEOUT(firstFinished.count() == 1 && secondFinished.count() == 1, 60000);
    QCOMPARE(first->errorText() + second->errorText(), QString());
    QCOMPARE(names().size(), 3000);
    QVERIFY(!QFile::exists(stale));
    QTRY_COMPARE(QDir(pkgdb()).entryList({ "*.import*", "*.old" }, QDir::Files), QStringList());
    QCOMPARE(update(TestRepository::index(Alpha)).errorText, QString());
    QCOMPARE(names(), Rows({ { "alpha" } }));
}

// The import finishes into nothing: the removed repository stays removed.
void TestUpdater::repositoryRemovedWhileImporting()
{
    const QUrl repository = m_repository;
    const TestRepository::Run run
        = update(largeIndex(5000), [repository](ZelManagerRepositoryUpdater *, const QString &work) {
              if (work == QLatin1String("Parsing"))
                  ZelManagerSettings::instance()->removeRepository(repository);
          });
    checkFailedRun(run);
    QVERIFY(!QFile::exists(m_fixture->repositoryFile(m_repository)));
    QTRY_COMPARE(QDir(pkgdb()).entryList({ "*.import*" }, QDir::Files), QStringList());
}

// An updater given a handle the database does not hold copies the rows in.
void TestUpdater::foreignHandleGetsRowsCopied()
{
    TestDatabaseFile file(m_fixture->sandbox().path() + QStringLiteral("/other.db"), TestDatabaseFile::Repository);
    file.addRepositoryPackage("old");
    const auto runOn = [&](const QByteArray &xml) {
        TestRepository::writeIndex(folder(), xml);
        ZelManagerRepositoryUpdater updater(file.handle());
        QSignalSpy finished(&updater, &ZelManagerRepositoryUpdater::finished);
        if (!updater.start(m_repository) || !finished.wait(60000))
            return QStringLiteral("did not finish");
        return updater.errorText();
    };
    QCOMPARE(runOn(TestRepository::index(Alpha)), QString());
    QCOMPARE(file.rows("SELECT name FROM infos;"), Rows({ { "alpha" } }));
    QCOMPARE(file.rows("SELECT count(*) FROM dependencies;"), Rows({ { "3" } }));
    QVERIFY(!runOn("<vantor-packages><package>").isEmpty());
    QCOMPARE(file.rows("SELECT name FROM infos;"), Rows({ { "alpha" } }));
}

QTEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
