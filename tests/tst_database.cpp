#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerSql.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestDatabaseFile.h"
#include "tests/support/TestPackageDatabase.h"
#include "tests/support/TestSandbox.h"

#include <QFile>
#include <QSignalSpy>
#include <QtTest>

namespace {

const QUrl RepositoryA(QStringLiteral("http://a.example.org/repo"));
const QUrl RepositoryB(QStringLiteral("http://b.example.org/repo/"));

// The table texts every program version writes and reads.
const char *const StatusTableTexts[][2] = {
    { "status", "create table status(package varchar(256),status int,requested varchar(256),dependant varchar(256))" },
    { "infos",
        "create table infos(name varchar(256),time bigint,md5sum varchar(33),version varchar(128),"
        "maintainer varchar(128),repository varchar(512),description varchar(4096),"
        "prermscript varchar(4096),postrmscript varchar(4096),preinstscript varchar(4096),"
        "postinstscript varchar(4096))" },
    { "categories", "create table categories(category varchar(512),package varchar(256))" },
    { "dependencies",
        "create table dependencies(package varchar(256),dependency varchar(256),"
        "comparision varchar(256))" },
    { "fileentries", "create table fileentries(nofix int,package varchar(256),entry varchar(512))" },
    { "errors", "create table errors(time bigint,package varchar(256),requested int,description varchar(4096))" },
};
const char *const RepositoryTableTexts[][2] = {
    { "infos", "create table infos(name varchar(256),maintainer varchar(128),description varchar(4096))" },
    { "filenames",
        "create table filenames(package varchar(256),version varchar(256),architecture varchar(6),"
        "time bigint,md5sum varchar(33))" },
    { "categories", "create table categories(category varchar(512),package varchar(256))" },
    { "dependencies",
        "create table dependencies(architecture varchar(6),package varchar(256),"
        "version varchar(256),dependency varchar(256),comparision varchar(256))" },
};

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT

private:
    QString folder() const { return m_sandbox->installPath() + QStringLiteral("/pkgdb"); }
    QString statusFile(const QString &architecture = QStringLiteral("win32")) const
    {
        return folder() + QLatin1Char('/') + architecture + QStringLiteral(".db");
    }
    QString repositoryFile(const QUrl &url) const
    {
        return folder() + QLatin1Char('/') + ZelManagerDatabase::repositoryFileName(url);
    }
    static void refresh(ZelManagerDatabase *database) { TestPackageDatabase::refresh(database); }
    // SQLite keeps a table's text as written, with its first two words in capitals.
    static QString storedText(const char *text)
    {
        return QString::fromLatin1(text).replace(0, 12, QStringLiteral("CREATE TABLE"));
    }
    static QString tableText(TestDatabaseFile &file, const char *table)
    {
        return file.value(QStringLiteral("SELECT sql FROM sqlite_master WHERE type='table' AND name=?;"),
            { QString::fromLatin1(table) });
    }

    QScopedPointer<TestSandbox> m_sandbox;

private slots:
    void init()
    {
        m_sandbox.reset(new TestSandbox);
        ZelManagerSettings *settings = ZelManagerSettings::instance();
        settings->clearRepositories();
        settings->setRepository(RepositoryA, QStringLiteral("A"), true);
        settings->setRepository(RepositoryB, QStringLiteral("B"), true);
        settings->setInstallPath(m_sandbox->installPath());
        settings->setArchitecture(QStringLiteral("win32"));
    }
    void cleanup()
    {
        ZelManagerDatabase::cleanup();
        m_sandbox.reset();
    }

    void repositoryFileName_data();
    void repositoryFileName();
    void createsTablesWithTheirExactText();
    void existingStatusFileLackingOnlyErrors();
    void damagedRepositoryFileOffersNothing();

    void stateRecomputation_data();
    void stateRecomputation();
    void refreshAddsOfferedNamesAndCountsRequests();
    void offersAcrossRepositories();
    void installationAndRemovalRoundTrip();
    void literalKeepsStatementsIntact();
    void errorList();

    void requestChangesAreCoalesced();
    void bookmarkAndRequestAreStored();
    void reopensOnSettingsSignals();
};

void TestDatabase::repositoryFileName_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QString>("file");
    QTest::newRow("trailing slash") << QUrl(QStringLiteral("http://example.org/repo/")) << "http_example.org_repo_.db";
    QTest::newRow("port") << QUrl(QStringLiteral("https://example.org:8080/a/b")) << "https_example.org_8080_a_b.db";
    QTest::newRow("local folder") << QUrl::fromLocalFile(QStringLiteral("/media/cd/packages"))
                                  << "file__media_cd_packages.db";
    QTest::newRow("double slash inside") << QUrl(QStringLiteral("http://h/a//b")) << "http_h_ab.db";
}

void TestDatabase::repositoryFileName()
{
    QFETCH(QUrl, url);
    QFETCH(QString, file);
    QCOMPARE(ZelManagerDatabase::repositoryFileName(url), file);
}

void TestDatabase::createsTablesWithTheirExactText()
{
    ZelManagerDatabase::instance();
    QVERIFY(QFile::exists(folder() + QStringLiteral("/http_b.example.org_repo_.db")));
    TestDatabaseFile status(statusFile());
    for (const auto &table : StatusTableTexts)
        QCOMPARE(tableText(status, table[0]), storedText(table[1]));
    TestDatabaseFile repository(repositoryFile(RepositoryA));
    for (const auto &table : RepositoryTableTexts)
        QCOMPARE(tableText(repository, table[0]), storedText(table[1]));
}

// A file written by an older program: its tables (written in another style
// here) stay untouched, only "errors" is added, and its packages load. Files
// it recorded in an untidy form are stored in their clean form, unsafe ones
// as they were.
void TestDatabase::existingStatusFileLackingOnlyErrors()
{
    {
        TestDatabaseFile file(statusFile());
        QVERIFY(file.exec(QStringLiteral("CREATE TABLE status (package varchar(256), status int, "
                                         "requested varchar(256), dependant varchar(256))")));
        for (int i = 1; i < 5; ++i)
            QVERIFY(file.exec(QString::fromLatin1(StatusTableTexts[i][1])));
        file.addStatus(QStringLiteral("zlib"), 0x2006, QString(), QStringLiteral("libpng;;curl"));
        file.addInstalled(QStringLiteral("zlib"), QStringLiteral("1.2.11-1"), 100, RepositoryA.toString(),
            QStringLiteral("Jean"), QStringLiteral("Compression library"));
        for (const char *entry : { "lib/./z.dll", "lib//zz.dll", "./share/z/", "bin/z.exe", "../up.txt" })
            QVERIFY(file.exec(QStringLiteral("INSERT INTO fileentries VALUES(1,'zlib',?);"), { QString(entry) }));
    }
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    TestDatabaseFile file(statusFile());
    QCOMPARE(database->packageEntry(QStringLiteral("zlib"), QString(), true).fileEntries.keys(),
        QStringList({ "../up.txt", "bin/z.exe", "lib/z.dll", "lib/zz.dll", "share/z" }));
    QCOMPARE(tableText(file, "status"),
        QStringLiteral("CREATE TABLE status (package varchar(256), status int, "
                       "requested varchar(256), dependant varchar(256))"));
    QCOMPARE(tableText(file, "errors"), storedText(StatusTableTexts[5][1]));
    // The six tables and the two of the journal.
    QCOMPARE(file.value(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table';")), QStringLiteral("8"));

    const ZelManagerPackage zlib = database->package(QStringLiteral("zlib"));
    QCOMPARE(zlib.installedVersion(), QStringLiteral("1.2.11-1"));
    QCOMPARE(zlib.dependants(), QStringList({ QStringLiteral("libpng"), QStringLiteral("curl") }));
    QVERIFY(zlib.matches(QStringLiteral("Compression"), 0x4));
    QVERIFY(!zlib.matches(QStringLiteral("compression"), 0));
}

void TestDatabase::damagedRepositoryFileOffersNothing()
{
    QVERIFY(TestSandbox::writeFile(repositoryFile(RepositoryA), QByteArray(4096, 'x')));
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    QVERIFY(database->packages().isEmpty());
    refresh(database);
    QVERIFY(database->packages().isEmpty());
}

void TestDatabase::stateRecomputation_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("installed"); // version, empty when not installed
    QTest::addColumn<qint64>("installedTime");
    QTest::addColumn<QString>("offered"); // version, empty when not offered
    QTest::addColumn<qint64>("offeredTime");
    QTest::addColumn<int>("expected"); // -1: the name is dropped

    QTest::newRow("installed only") << 0x2 << "1.0" << qint64(100) << "" << qint64(0) << 0x4;
    QTest::newRow("offered only") << 0xC << "" << qint64(0) << "1.0" << qint64(100) << 0x2;
    QTest::newRow("newer offered") << 0x6 << "1.0" << qint64(100) << "1.1" << qint64(50) << 0xE;
    QTest::newRow("older offered") << 0xE << "2.0" << qint64(100) << "1.9" << qint64(500) << 0x6;
    QTest::newRow("same version") << 0xE << "1.0-1" << qint64(100) << "1.0-1" << qint64(100) << 0x6;
    QTest::newRow("same version built later") << 0x6 << "1.0-1" << qint64(100) << "1.0-1" << qint64(101) << 0xE;
    QTest::newRow("same version built earlier") << 0x6 << "1.0-1" << qint64(100) << "1.0-1" << qint64(99) << 0x6;
    QTest::newRow("marks and requests kept") << 0x3106 << "" << qint64(0) << "1.0" << qint64(1) << 0x3102;
    QTest::newRow("broken bit kept") << 0x5 << "1.0" << qint64(1) << "1.0" << qint64(1) << 0x7;
    QTest::newRow("neither") << 0x2102 << "" << qint64(0) << "" << qint64(0) << -1;
}

void TestDatabase::stateRecomputation()
{
    QFETCH(int, stored);
    QFETCH(QString, installed);
    QFETCH(qint64, installedTime);
    QFETCH(QString, offered);
    QFETCH(qint64, offeredTime);
    QFETCH(int, expected);
    const QString name = QStringLiteral("pkg");
    {
        TestDatabaseFile status(statusFile(), TestDatabaseFile::Status);
        status.addStatus(name, stored);
        if (!installed.isEmpty())
            status.addInstalled(name, installed, installedTime, RepositoryA.toString());
        TestDatabaseFile repository(repositoryFile(RepositoryB), TestDatabaseFile::Repository);
        if (!offered.isEmpty())
            repository.addRepositoryFile(name, offered, QStringLiteral("win32"), offeredTime);
        // Another architecture's offer does not count.
        repository.addRepositoryFile(name, QStringLiteral("9.9"), QStringLiteral("win64"), 999);
    }
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    refresh(database);
    TestDatabaseFile status(statusFile());
    const QList<QStringList> rows = status.rows(QStringLiteral("SELECT status FROM status WHERE package=?;"), { name });
    if (expected < 0) {
        QVERIFY(rows.isEmpty());
        QVERIFY(database->package(name).isNull());
        return;
    }
    QCOMPARE(rows, QList<QStringList>({ { QString::number(expected) } }));
    QCOMPARE(database->package(name).flags(), expected);
}

// The case of a package whose repository stopped offering it, the insertion
// of newly offered names, and the request count of the refresh signals.
void TestDatabase::refreshAddsOfferedNamesAndCountsRequests()
{
    {
        TestDatabaseFile status(statusFile(), TestDatabaseFile::Status);
        status.addStatus(QStringLiteral("old"), 0x6);
        status.addInstalled(QStringLiteral("old"), QStringLiteral("1.0"), 5, RepositoryA.toString());
        status.addStatus(QStringLiteral("wanted"), 0x1102, QStringLiteral("other"));
        TestDatabaseFile repository(repositoryFile(RepositoryA), TestDatabaseFile::Repository);
        for (const char *name : { "wanted", "new1", "new2" })
            repository.addRepositoryFile(QString::fromLatin1(name), QStringLiteral("1"), QStringLiteral("win32"), 1);
    }
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    QCOMPARE(database->packages().size(), 2);
    QSignalSpy changed(database, &ZelManagerDatabase::packagesChanged);
    QSignalSpy requests(database, &ZelManagerDatabase::packagesRequestsChanged);

    database->endTransaction(true); // no batch open: nothing happens
    QCOMPARE(changed.count(), 0);

    const ZelManagerPackage kept = database->package(QStringLiteral("wanted"));
    refresh(database);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(requests.first().first().toInt(), 1);
    QVERIFY(database->package(QStringLiteral("wanted")) == kept); // the same record, refilled
    QCOMPARE(database->package(QStringLiteral("old")).flags(), 0x4);
    QCOMPARE(database->package(QStringLiteral("new1")).flags(), 0x2);
    QCOMPARE(kept.requestedBy(), QStringList(QStringLiteral("other")));
    TestDatabaseFile status(statusFile());
    QCOMPARE(status.rows(QStringLiteral("SELECT * FROM status WHERE package='new2';")),
        QList<QStringList>({ { QStringLiteral("new2"), QStringLiteral("2"), QString(), QString() } }));
}

// Offers of several repositories: the newest version wins even when built
// earlier, the same version built later wins over the first one met, and a
// disabled repository or another architecture offers nothing.
void TestDatabase::offersAcrossRepositories()
{
    const QUrl disabled(QStringLiteral("http://c.example.org/repo"));
    ZelManagerSettings::instance()->setRepository(disabled, QStringLiteral("C"), false);
    const QString win32 = QStringLiteral("win32");
    {
        TestDatabaseFile status(statusFile(), TestDatabaseFile::Status);
        status.addStatus(QStringLiteral("x"), 0x2);
        TestDatabaseFile a(repositoryFile(RepositoryA), TestDatabaseFile::Repository);
        a.addRepositoryPackage(QStringLiteral("x"), QStringLiteral("Ann"), QString(), { QStringLiteral("Libraries") });
        a.addRepositoryFile(QStringLiteral("x"), QStringLiteral("1.0"), win32, 100, "a1", { "lib >= 1.0" });
        a.addRepositoryFile(QStringLiteral("x"), QStringLiteral("2.0"), win32, 50, "a2", { "lib >= 2.0", "zlib" });
        a.addRepositoryFile(QStringLiteral("tool"), QStringLiteral("1"), win32, 1, QString(), { "lib" });
        a.addRepositoryFile(QStringLiteral("lib"), QStringLiteral("2.1"), win32, 1);
        TestDatabaseFile b(repositoryFile(RepositoryB), TestDatabaseFile::Repository);
        b.addRepositoryPackage(QStringLiteral("x"), QStringLiteral("Bob"), QString(),
            { QStringLiteral("Libraries/Graphics"), QStringLiteral("Development") });
        b.addRepositoryFile(QStringLiteral("x"), QStringLiteral("2.0"), win32, 80, "b2", { "lib" });
        b.addRepositoryFile(QStringLiteral("x"), QStringLiteral("1.5"), win32, 900);
        b.addRepositoryFile(QStringLiteral("x"), QStringLiteral("7.0"), QStringLiteral("win64"), 1);
        TestDatabaseFile c(repositoryFile(disabled), TestDatabaseFile::Repository);
        c.addRepositoryFile(QStringLiteral("x"), QStringLiteral("5.0"), win32, 1);
    }
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    const ZelManagerPackage x = database->package(QStringLiteral("x"));
    QCOMPARE(x.availableVersion(), QStringLiteral("2.0"));
    QCOMPARE(x.availableTime(), qint64(80));
    QCOMPARE(x.maintainer(), QStringLiteral("Bob"));
    QCOMPARE(
        x.availableVersions(), QStringList({ QStringLiteral("1.0"), QStringLiteral("2.0"), QStringLiteral("1.5") }));
    QCOMPARE(database->categories(),
        QStringList(
            { QStringLiteral("Development"), QStringLiteral("Libraries"), QStringLiteral("Libraries/Graphics") }));

    const PackageInfo newest = database->packageEntry(QStringLiteral("x"), QString(), false);
    QCOMPARE(newest.md5sum, QStringLiteral("b2"));
    QCOMPARE(newest.repository, RepositoryB);
    QCOMPARE(newest.dependencies, QStringList(QStringLiteral("lib")));
    const PackageInfo named = database->packageEntry(QStringLiteral("x"), QStringLiteral("1.0"), false);
    QCOMPARE(named.md5sum, QStringLiteral("a1"));
    QCOMPARE(named.dependencies, QStringList(QStringLiteral("lib >= 1.0")));
    // Not installed: the flag still gives the offer.
    QCOMPARE(database->packageEntry(QStringLiteral("x"), QStringLiteral("2.0"), true).md5sum, QStringLiteral("b2"));
    for (const char *version : { "7.0", "5.0" })
        QVERIFY(database->packageEntry(QStringLiteral("x"), QLatin1String(version), false).version.isEmpty());
    QVERIFY(database->packageEntry(QStringLiteral("nothing"), QString(), false).version.isEmpty());
    // Dependants: every package of that repository naming lib, once.
    QCOMPARE(database->packageEntry(QStringLiteral("lib"), QString(), false).dependants,
        QStringList({ QStringLiteral("x"), QStringLiteral("tool") }));

    // Switching the architecture reads the other offers.
    ZelManagerSettings::instance()->setArchitecture(QStringLiteral("amd64"));
    QVERIFY(QFile::exists(statusFile(QStringLiteral("win64"))));
    QVERIFY(database->package(QStringLiteral("x")).isNull());
    refresh(database);
    QCOMPARE(database->package(QStringLiteral("x")).availableVersion(), QStringLiteral("7.0"));
}

// Names and texts with quotes, semicolons and comment marks go through every
// table and come back unchanged; no statement is cut short or extended.
void TestDatabase::installationAndRemovalRoundTrip()
{
    const QString name = QStringLiteral("o'neil'); DROP TABLE status;--");
    const QString description = QStringLiteral("it's \"quoted\"; -- not a comment '");
    const QString category = QStringLiteral("Dev'Tools");
    const QString version = QStringLiteral("1'0");
    const QString odd = QStringLiteral("share/it's; --.png");
    {
        TestDatabaseFile status(statusFile(), TestDatabaseFile::Status);
        status.addStatus(name, 0x102);
        status.addStatus(QStringLiteral("user"), 0x6);
        status.exec(QStringLiteral("INSERT INTO dependencies VALUES('user',?,'>= 1.0');"), { name });
        status.exec(QStringLiteral("INSERT INTO dependencies VALUES('user',?,'< 3');"), { name });
        TestDatabaseFile a(repositoryFile(RepositoryA), TestDatabaseFile::Repository);
        a.addRepositoryPackage(name, QStringLiteral("Mc'Donald"), description, { category });
        a.addRepositoryFile(name, version, QStringLiteral("win32"), 20, QStringLiteral("ab'"), { "d'ep >= 1'0" });
    }
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    QCOMPARE(database->package(name).maintainer(), QStringLiteral("Mc'Donald"));
    PackageInfo entry = database->packageEntry(name, version, false);
    entry.preinst = QStringLiteral("echo('; DROP TABLE infos; --');");
    entry.fileEntries.insert(QStringLiteral("bin/app.exe"), true);
    entry.fileEntries.insert(QStringLiteral("share/info/app.info"), true);
    entry.fileEntries.insert(odd, false);

    database->beginTransaction();
    database->recordRemoval(name, 0x6, { QStringLiteral("r'q") }, { QStringLiteral("d'p") });
    database->recordInstallation(
        entry, { QStringLiteral("bin/app.exe"), QStringLiteral("share/info/app.info.gz"), odd });
    database->addError(name, ZelManagerDatabase::ErrorInstall, description);
    database->endTransaction(true);

    const ZelManagerPackage package = database->package(name);
    QCOMPARE(package.flags(), 0x6);
    QCOMPARE(package.requestedBy(), QStringList(QStringLiteral("r'q")));
    QCOMPARE(package.dependants(), QStringList(QStringLiteral("d'p")));
    const PackageInfo installed = database->packageEntry(name, version, true);
    QCOMPARE(installed.md5sum, QStringLiteral("ab'"));
    QCOMPARE(installed.repository, RepositoryA);
    QCOMPARE(installed.preinst, entry.preinst);
    QCOMPARE(installed.dependencies, QStringList(QStringLiteral("d'ep >= 1'0")));
    QCOMPARE(installed.dependants, QStringList(QStringLiteral("user")));
    QMap<QString, bool> files;
    files.insert(QStringLiteral("bin/app.exe"), true);
    files.insert(QStringLiteral("share/info/app.info.gz"), true);
    files.insert(odd, false);
    QCOMPARE(installed.fileEntries, files);
    QVERIFY(database->fileEntries().contains({ name, odd }));
    QCOMPARE(database->errorDescriptions(name), description);
    QVERIFY(database->categories().contains(category));
    TestDatabaseFile status(statusFile());
    QCOMPARE(
        status.value(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table';")), QStringLiteral("8"));
    QCOMPARE(status.value(QStringLiteral("SELECT comparision FROM dependencies WHERE package=?;"), { name }),
        QStringLiteral(">= 1'0"));

    // Removal forgets every installed row, "infos" included, and stores the
    // lists given.
    database->beginTransaction();
    database->recordRemoval(name, 0x2, { QStringLiteral("a") }, { QStringLiteral("b"), QStringLiteral("c") });
    database->endTransaction(true);
    for (const char *table : { "infos", "fileentries", "categories" })
        QCOMPARE(
            status.value(QStringLiteral("SELECT count(*) FROM %1;").arg(QLatin1String(table))), QStringLiteral("0"));
    QCOMPARE(status.value(QStringLiteral("SELECT count(*) FROM dependencies;")), QStringLiteral("2"));
    QCOMPARE(status.rows(QStringLiteral("SELECT * FROM status WHERE package=?;"), { name }),
        QList<QStringList>({ { name, QStringLiteral("2"), QStringLiteral("a"), QStringLiteral("b;c") } }));
    QCOMPARE(status.value(QStringLiteral("SELECT count(*) FROM status;")), QStringLiteral("1"));
    QVERIFY(database->packageEntry(name, QString(), true).version.isEmpty());
}

// The text form that the repository import uses for its statements.
void TestDatabase::literalKeepsStatementsIntact()
{
    TestDatabaseFile file(m_sandbox->path() + QStringLiteral("/literal.db"), TestDatabaseFile::Repository);
    for (const QString &value :
        { QStringLiteral("''''"), QStringLiteral("x'); DELETE FROM infos; --"), QStringLiteral("a -- b /* c"),
            QStringLiteral("C:\\Program Files\\'"), QString::fromUtf8("caf\xc3\xa9 \xe2\x80\x99"), QString() }) {
        QVERIFY(file.exec(QStringLiteral("DELETE FROM infos;")));
        QVERIFY(file.exec(QStringLiteral("INSERT INTO infos VALUES('keep','','');")));
        const QString statement = QStringLiteral("insert into infos values(%1,%2,'d');")
                                      .arg(ZelManagerSql::literal(value), ZelManagerSql::literal(value));
        QCOMPARE(ZelManagerSql::exec(file.handle(), statement), 0);
        QCOMPARE(file.rows(QStringLiteral("SELECT name,maintainer,description FROM infos;")),
            QList<QStringList>(
                { { QStringLiteral("keep"), QString(), QString() }, { value, value, QStringLiteral("d") } }));
    }
}

void TestDatabase::errorList()
{
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    QSignalSpy errors(database, &ZelManagerDatabase::errorsChanged);
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    database->addError(QStringLiteral("a"), ZelManagerDatabase::ErrorRemove, QStringLiteral("first"));
    database->addError(QStringLiteral("b"), ZelManagerDatabase::ErrorInstall, QStringLiteral("other"));
    database->addError(QStringLiteral("a"), ZelManagerDatabase::ErrorRemove, QStringLiteral("second"));
    QCOMPARE(errors.at(2).first().toInt(), 3);
    const ZelManagerDatabase::ErrorRecord record = database->error(database->errorIds().at(1));
    QCOMPARE(record.kind, int(ZelManagerDatabase::ErrorInstall));
    QVERIFY(record.time >= before && record.time <= QDateTime::currentMSecsSinceEpoch());
    QVERIFY(database->error(9999).package.isEmpty());
    QCOMPARE(database->errorDescriptions(QStringLiteral("a")), QStringLiteral("first\nsecond"));

    database->beginTransaction();
    QCOMPARE(errors.last().first().toInt(), 0);
    QVERIFY(database->errorIds().isEmpty());
    database->addError(QStringLiteral("c"), ZelManagerDatabase::ErrorUpgrade, QStringLiteral("kept"));
    database->endTransaction(false);
    QCOMPARE(database->errorCount(), 1);
}

// A burst of request changes gives one signal, after a delay, with the number
// of requested packages.
void TestDatabase::requestChangesAreCoalesced()
{
    {
        TestDatabaseFile status(statusFile(), TestDatabaseFile::Status);
        for (int i = 0; i < 12; ++i)
            status.addStatus(QStringLiteral("p%1").arg(i), 0x2);
    }
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    QSignalSpy requests(database, &ZelManagerDatabase::packagesRequestsChanged);
    QVERIFY(requests.wait(1000)); // the count scheduled by opening
    QCOMPARE(requests.takeFirst().first().toInt(), 0);

    database->beginTransaction();
    for (int i = 0; i < 10; ++i) {
        database->package(QStringLiteral("p%1").arg(i)).setRequest(ZelManagerPackage::RequestInstall);
        QCoreApplication::processEvents(); // a burst that lets the event loop turn
    }
    QCOMPARE(requests.count(), 0); // nothing before the delay has passed
    QVERIFY(requests.wait(1000));
    QTest::qWait(300);
    QCOMPARE(requests.count(), 1);
    QCOMPARE(requests.first().first().toInt(), 10);
    database->endTransaction(false);
}

void TestDatabase::bookmarkAndRequestAreStored()
{
    {
        TestDatabaseFile status(statusFile(), TestDatabaseFile::Status);
        status.addStatus(QStringLiteral("p"), 0x2);
    }
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    ZelManagerPackage package = database->package(QStringLiteral("p"));
    package.setBookmarked(true);
    package.setRequest(0x1100, QStringLiteral("a"));
    package.setRequest(0x1100, QStringLiteral("b"));
    // A record the database does not hold changes nothing stored.
    ZelManagerPackage(QStringLiteral("p"), 0).setRequest(0x800, QStringLiteral("z"));
    TestDatabaseFile status(statusFile());
    QCOMPARE(status.rows(QStringLiteral("SELECT * FROM status;")),
        QList<QStringList>({ { QStringLiteral("p"), QString::number(0x3102), QStringLiteral("a;b"), QString() } }));
    // The settings store saved the install path and repositories: the same files open again.
    ZelManagerDatabase::cleanup();
    QCOMPARE(ZelManagerDatabase::instance()->package(QStringLiteral("p")).requestedBy(),
        QStringList({ QStringLiteral("a"), QStringLiteral("b") }));
}

void TestDatabase::reopensOnSettingsSignals()
{
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    ZelManagerSettings *settings = ZelManagerSettings::instance();
    const QUrl added(QStringLiteral("http://d.example.org/x"));
    settings->setRepository(added, QStringLiteral("D"), true);
    QVERIFY(QFile::exists(repositoryFile(added)));
    {
        TestDatabaseFile d(repositoryFile(added));
        d.addRepositoryFile(QStringLiteral("fromD"), QStringLiteral("1"), QStringLiteral("win32"), 1);
    }
    refresh(database);
    QCOMPARE(database->package(QStringLiteral("fromD")).repository(), added.toString());

    settings->removeRepository(added);
    QVERIFY(!QFile::exists(repositoryFile(added)));
    refresh(database);
    QVERIFY(database->package(QStringLiteral("fromD")).isNull());

    const QString elsewhere = m_sandbox->path() + QStringLiteral("/other");
    {
        TestDatabaseFile status(elsewhere + QStringLiteral("/pkgdb/win32.db"), TestDatabaseFile::Status);
        status.addStatus(QStringLiteral("there"), 0x4);
    }
    QSignalSpy changed(database, &ZelManagerDatabase::packagesChanged);
    settings->setInstallPath(elsewhere);
    QCOMPARE(changed.count(), 1);
    QVERIFY(!database->package(QStringLiteral("there")).isNull());
    QVERIFY(QFile::exists(elsewhere + QStringLiteral("/pkgdb/") + ZelManagerDatabase::repositoryFileName(RepositoryA)));

    // An install path whose "pkgdb" cannot be a folder: nothing stays open.
    const QString blocked = m_sandbox->path() + QStringLiteral("/blocked");
    QVERIFY(TestSandbox::writeFile(blocked + QStringLiteral("/pkgdb"), "file"));
    settings->setInstallPath(blocked);
    QCOMPARE(changed.count(), 2);
    QVERIFY(database->packages().isEmpty());
    database->addError(QStringLiteral("there"), 3, QStringLiteral("lost"));
    QVERIFY(database->errorIds().isEmpty());
    refresh(database);
}

QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"
