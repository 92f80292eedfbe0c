#include "tests/support/TestPackageCatalogue.h"

#include "database/ZelManagerDatabase.h"
#include "tests/support/TestDatabaseFile.h"
#include "tests/support/TestPackageDatabase.h"

ZelManagerDatabase *TestPackageCatalogue::open(TestPackageDatabase &fixture)
{
    const QString url = TestPackageDatabase::defaultRepository().toString();
    {
        TestDatabaseFile repository(fixture.repositoryFile(), TestDatabaseFile::Repository);
        TestDatabaseFile status(fixture.statusFile(), TestDatabaseFile::Status);
        const QString maintainer = QStringLiteral("Packager <p@example.org>");
        repository.addRepositoryPackage(QStringLiteral("alpha"), maintainer, QStringLiteral("The alpha compiler"),
            { QStringLiteral("development/compilers") });
        repository.addRepositoryFile(QStringLiteral("alpha"), QStringLiteral("1.0"), QStringLiteral("win32"), 1000,
            QStringLiteral("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"));
        repository.addRepositoryPackage(QStringLiteral("beta"), maintainer, QStringLiteral("The beta debugger"),
            { QStringLiteral("development/debuggers") });
        repository.addRepositoryFile(QStringLiteral("beta"), QStringLiteral("2.0"), QStringLiteral("win32"), 2000,
            QStringLiteral("bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"));
        status.addStatus(QStringLiteral("beta"), ZelManagerPackage::FlagInstalled);
        status.addInstalled(
            QStringLiteral("beta"), QStringLiteral("1.0"), 500, url, maintainer, QStringLiteral("The beta debugger"));
        repository.addRepositoryPackage(
            QStringLiteral("gamma"), maintainer, QStringLiteral("The gamma utility"), { QStringLiteral("utilities") });
        repository.addRepositoryFile(QStringLiteral("gamma"), QStringLiteral("1.0"), QStringLiteral("win32"), 600,
            QStringLiteral("cccccccccccccccccccccccccccccccc"), { QStringLiteral("beta >= 1.0") });
        status.addStatus(QStringLiteral("gamma"), ZelManagerPackage::FlagInstalled);
        status.addInstalled(
            QStringLiteral("gamma"), QStringLiteral("1.0"), 600, url, maintainer, QStringLiteral("The gamma utility"));
        status.exec(QStringLiteral("INSERT INTO dependencies VALUES('gamma','beta','>= 1.0');"));
        status.exec(QStringLiteral("INSERT INTO fileentries VALUES(1,'gamma','bin/gamma.exe');"));
        status.exec(QStringLiteral("INSERT INTO fileentries VALUES(0,'gamma','etc/gamma.conf');"));
        for (const QString &name :
            { QStringLiteral("broken1"), QStringLiteral("broken2"), QStringLiteral("broken3") }) {
            repository.addRepositoryPackage(
                name, maintainer, QStringLiteral("Needs a missing library"), { QStringLiteral("utilities") });
            repository.addRepositoryFile(name, QStringLiteral("1.0"), QStringLiteral("win32"), 700, QString(),
                { QStringLiteral("missing-lib") });
        }
    }
    ZelManagerDatabase *database = fixture.open();
    TestPackageDatabase::refresh(database);
    return database;
}
