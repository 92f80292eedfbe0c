#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerPackage.h"
#include "engine/ZelManagerApplyRun.h"
#include "integration/HostEnvironment.h"
#include "integration/WindowsSupport.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestApplyFixture.h"
#include "tests/support/TestPackageDatabase.h"
#include "tests/support/TestRepository.h"
#include "tools/ZelManagerRepositoryIndex.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// The repository the build makes from demo/packages.
QString demoRepository()
{
    return QStringLiteral(ZEL_BINARY_DIR "/demo/medium/packages");
}

QString dependencyName(const QString &dependency)
{
    return dependency.section(QLatin1Char(' '), 0, 0);
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Every file below a folder, relative to it.
QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

} // namespace

// The demo repository keeps what the README promises of it: enough packages
// and categories to browse, deep and shared dependencies, an upgrade, and
// every kind of file the program integrates with the system; and each of
// its packages installs and goes again without a single error.
class TestDemoRepository : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void indexOffersWhatTheDemoShows();
    void everyPackageInstallsIntegratesAndGoes();
    void commandLineUpdateReadsTheMedium();

private:
    ZelManagerRepositoryIndex m_index;
};

void TestDemoRepository::initTestCase()
{
    QVERIFY2(m_index.load(demoRepository() + QStringLiteral("/packages.xml")), qPrintable(m_index.errorText()));
}

void TestDemoRepository::indexOffersWhatTheDemoShows()
{
    const QUrl url = QUrl::fromLocalFile(demoRepository());
    TestPackageDatabase fixture({ url });
    ZelManagerDatabase *database = fixture.open();
    database->beginTransaction();
    const TestRepository::Run run = TestRepository::update(database, url);
    database->endTransaction(true);
    QVERIFY2(run.errorText.isEmpty(), qPrintable(run.errorText));

    const QHash<QString, ZelManagerPackage> packages = database->packages();
    QVERIFY2(packages.size() >= 30, qPrintable(QString::number(packages.size())));
    QSet<QString> topLevels;
    bool twoLevels = false;
    for (const QString &category : database->categories()) {
        topLevels.insert(category.section(QLatin1Char('/'), 0, 0));
        twoLevels = twoLevels || category.contains(QLatin1Char('/'));
    }
    QVERIFY2(topLevels.size() >= 6, qPrintable(QStringList(topLevels.values()).join(',')));
    QVERIFY(twoLevels);

    // Dependencies as the database offers them: every one resolves, some
    // chain is at least three links long, some package is needed by several.
    QHash<QString, QStringList> dependencies;
    QHash<QString, int> dependants;
    for (const QString &name : packages.keys()) {
        const PackageInfo info = database->packageEntry(name, QString(), false);
        QCOMPARE(info.name, name);
        for (const QString &dependency : info.dependencies) {
            QVERIFY2(packages.contains(dependencyName(dependency)), qPrintable(name + ": " + dependency));
            dependencies[name].append(dependencyName(dependency));
            ++dependants[dependencyName(dependency)];
        }
    }
    std::function<int(const QString &)> depth = [&](const QString &name) {
        int deepest = 0;
        for (const QString &dependency : dependencies.value(name))
            deepest = qMax(deepest, 1 + depth(dependency));
        return deepest;
    };
    int longest = 0;
    for (const QString &name : packages.keys())
        longest = qMax(longest, depth(name));
    QVERIFY2(longest >= 3, qPrintable(QString::number(longest)));
    int mostShared = 0;
    for (int count : dependants)
        mostShared = qMax(mostShared, count);
    QVERIFY2(mostShared >= 3, qPrintable(QString::number(mostShared)));

    // A package offered in two versions: with the older one installed, the
    // newer one is an upgrade.
    QString name, older, newer;
    for (const ZelManagerRepositoryIndex::Package &package : m_index.packages()) {
        if (package.files.size() >= 2) {
            name = package.name;
            older = package.files.first().version;
            newer = package.files.last().version;
        }
    }
    QVERIFY(!name.isEmpty());
    if (compareVersions(older, newer) > 0)
        qSwap(older, newer);
    QVERIFY(compareVersions(older, newer) < 0);
    QVERIFY(!packages.value(name).isUpgradable());
    database->beginTransaction();
    database->recordInstallation(database->packageEntry(name, older, false), {});
    database->endTransaction(true);
    const ZelManagerPackage upgradable = database->package(name);
    QVERIFY(upgradable.isInstalled());
    QVERIFY(upgradable.isUpgradable());
    QCOMPARE(upgradable.installedVersion(), older);
    QCOMPARE(upgradable.availableVersion(), newer);
}

void TestDemoRepository::everyPackageInstallsIntegratesAndGoes()
{
    TestApplyFixture fixture;
    QVERIFY(fixture.isValid());
    for (const QString &file : QDir(demoRepository()).entryList(QDir::Files))
        QVERIFY(QFile::copy(demoRepository() + '/' + file, fixture.repositoryFolder() + '/' + file));
    QVERIFY2(fixture.updateIndex(), qPrintable(fixture.errorText()));
    const QStringList names = fixture.database()->packages().keys();
    for (const QString &name : names)
        QCOMPARE(fixture.request(name, TestApplyFixture::Install), QString());

    {
        ZelManagerApplyRun run;
        QVERIFY(run.exec());
        for (const ZelManagerDatabase::ErrorRecord &error : run.errors())
            qWarning("%s: %s", qPrintable(error.package), qPrintable(error.description));
        QVERIFY(run.ok());
        QVERIFY(run.errors().isEmpty());
    }
    for (const QString &name : names)
        QVERIFY2(fixture.database()->package(name).isInstalled(), qPrintable(name));

    const QString target = fixture.target();
    const QString prefix = ZelManagerSettings::instance()->toolchainRoot();
    // Configuration carries the installation folder in place of the build
    // prefix, except where a package exempts a file.
    const QString netwire = readText(fixture.file(QStringLiteral("etc/netwire/netwire.conf")));
    QVERIFY(netwire.contains(shortPathName(target) + QStringLiteral("/etc/ssl/certs/ca-bundle.crt")));
    QVERIFY(!netwire.contains(prefix));
    QVERIFY(readText(fixture.file(QStringLiteral("lib/fennel/tests/prefix.txt"))).contains(prefix));

    // What the maintainer scripts did.
    QVERIFY(QFileInfo::exists(fixture.file(QStringLiteral("lib/vcc/options"))));
    QVERIFY(QFileInfo::exists(fixture.file(QStringLiteral("etc/crate/crate.conf"))));
    QVERIFY(!QFileInfo::exists(fixture.file(QStringLiteral("etc/crate/crate.conf.sample"))));
    QVERIFY(readText(fixture.file(QStringLiteral("lib/fennel/site.cfg")))
                .contains(QStringLiteral("home = ") + target + QStringLiteral("/lib/fennel")));
    const QString environment = readText(HostEnvironment::environmentScriptFile());
    QVERIFY2(environment.contains(target + QStringLiteral("/bin")), qPrintable(environment));

    // What the triggers made of the integration files.
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QString menu = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    const QStringList shortcuts = filesBelow(desktop) + filesBelow(menu);
    for (const char *expected :
        { "Vantor Editor", "Utility Tools/Vantor Editor", "Utility Tools/Hex View", "Graphics Tools/Sketchpad",
            "Vantor Tools/Vantor Platform Handbook", "Sketchpad Samples", "Vantor Tools/Vantor Shell (login)" }) {
        const bool found = std::any_of(shortcuts.begin(), shortcuts.end(),
            [expected](const QString &file) { return file.startsWith(QLatin1String(expected)); });
        QVERIFY2(found, qPrintable(QString::fromLatin1(expected) + " in " + shortcuts.join(',')));
    }
    QVERIFY(!filesBelow(desktop).join(',').contains(QStringLiteral("Hex View")));
    const QString dir = readText(fixture.file(QStringLiteral("share/info/dir")));
    for (const char *entry :
        { "* vcc: (vcc).", "* vld: (binkit)vld.", "* Handbook: (handbook).", "Development\n", "Vantor Platform\n" })
        QVERIFY2(dir.contains(QLatin1String(entry)), entry);
    QVERIFY(readText(fixture.file(QStringLiteral("share/icons/hicolor/index.theme")))
                .contains(QStringLiteral("[32x32/apps]")));
    QVERIFY(readText(fixture.file(QStringLiteral("share/icons/vantor-classic/index.theme")))
                .contains(QStringLiteral("Name=Vantor Classic")));
    QCOMPARE(readText(fixture.file(QStringLiteral("share/alternatives/cc.config"))), QStringLiteral("CC=bin/vcc.exe"));
    QCOMPARE(readText(fixture.file(QStringLiteral("share/alternatives/editor.config"))),
        QStringLiteral("EDITOR=bin/vedit.exe"));
    const QString variables = readText(HostEnvironment::machineHiveFile());
    for (const QString &variable : { QStringLiteral("FENNEL_HOME"), QStringLiteral("VANTOR_SYSCONFDIR"),
             QStringLiteral("CC"), QStringLiteral("EDITOR") })
        QVERIFY2(variables.contains(variable + QLatin1Char('=')), qPrintable(variable));

    // Removing everything leaves nothing of the packages behind: no file in
    // the installation folder but the index the icon theme trigger made for
    // the shared theme (no package owns it), no shortcut, no Path entry.
    for (const QString &name : names)
        QCOMPARE(fixture.request(name, TestApplyFixture::Remove), QString());
    {
        ZelManagerApplyRun run;
        QVERIFY(run.exec());
        for (const ZelManagerDatabase::ErrorRecord &error : run.errors())
            qWarning("%s: %s", qPrintable(error.package), qPrintable(error.description));
        QVERIFY(run.ok());
    }
    for (const QString &name : names)
        QVERIFY2(!fixture.database()->package(name).isInstalled(), qPrintable(name));
    QCOMPARE(filesBelow(target), QStringList { QStringLiteral("share/icons/hicolor/index.theme") });
    QCOMPARE(filesBelow(desktop) + filesBelow(menu), QStringList());
    QVERIFY(!readText(HostEnvironment::environmentScriptFile()).contains(target + QStringLiteral("/bin")));
}

// The command-line tool started from the folder above the repository (a
// distribution medium) reads its index into the database of the default
// install folder.
void TestDemoRepository::commandLineUpdateReadsTheMedium()
{
    TestSandbox sandbox;
    QProcess process;
    process.setWorkingDirectory(QFileInfo(demoRepository()).absolutePath());
    process.start(QStringLiteral(ZEL_BINARY_DIR "/zelpkg"), { QStringLiteral("update") });
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 0);
    const QString url = QUrl::fromLocalFile(demoRepository()).toString();
    const QString output = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    QVERIFY2(output.contains(url), qPrintable(output));
    const QString pkgdb = sandbox.path() + QStringLiteral("/Program Files/Vantor Platform/pkgdb/");
    QVERIFY(QFileInfo::exists(pkgdb + QStringLiteral("win32.db")));
    QVERIFY(QFileInfo(pkgdb + ZelManagerDatabase::repositoryFileName(QUrl(url))).size() > 0);
}

QTEST_MAIN(TestDemoRepository)
#include "tst_demorepository.moc"
