#ifndef TESTAPPLYFIXTURE_H
#define TESTAPPLYFIXTURE_H

#include "tests/support/TestHttpServer.h"
#include "tests/support/TestPackageDatabase.h"
#include "tools/ZelManagerRepositoryBuilder.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

class ZelManagerDatabase;

// A sandboxed installation whose one repository is a folder served by the
// test HTTP server: packages are built into it with the repository builder
// (archives and "packages.xml"), the database imports the index through its
// updater, and apply runs download the archives from the server. The six
// triggers exist while the fixture lives.
//
//     TestApplyFixture fixture;
//     fixture.addPackage(fixture.manifest("y", "1.0"), { { "bin/y.txt", "y" } });
//     fixture.updateIndex();
//     fixture.request("y", TestApplyFixture::Install);
//     ZelManagerApplyRun run;
//     run.exec();
class TestApplyFixture
{
public:
    using Manifest = ZelManagerRepositoryBuilder::Manifest;
    using Entry = ZelManagerRepositoryBuilder::ArchiveEntry;
    enum Request { Install, Upgrade, Reinstall, Remove, Cancel };

    TestApplyFixture();
    ~TestApplyFixture();
    TestApplyFixture(const TestApplyFixture &) = delete;
    TestApplyFixture &operator=(const TestApplyFixture &) = delete;

    bool isValid() const { return m_valid; }
    TestHttpServer &server() { return m_server; }
    const TestSandbox &sandbox() const { return m_database->sandbox(); }
    QUrl repository() const;
    QString repositoryFolder() const { return m_served.path() + QStringLiteral("/repo"); }
    // The URL path of a package's archive on the server ("/repo/...").
    QString archiveUrlPath(const QString &name, const QString &version) const;
    QString statusFile() const { return m_database->statusFile(); }
    QString cacheFolder() const;
    QString target() const;
    QString file(const QString &path) const { return target() + QLatin1Char('/') + path; }
    ZelManagerDatabase *database() const;

    static Manifest manifest(const QString &name, const QString &version, const QStringList &dependencies = {});
    // Builds the archive into the served repository and adds it to its
    // index; errorText() says why not.
    bool addPackage(const Manifest &manifest, const QList<Entry> &files,
        ZelManagerRepositoryBuilder::Compression compression = ZelManagerRepositoryBuilder::Plain);
    QString errorText() const { return m_errorText; }
    // Imports the served index into the database, as a repository update
    // does (one batch, states recomputed).
    bool updateIndex();
    // Marks a package, as the packages panel does (one batch); the empty
    // text on success, else the refusal.
    QString request(const QString &name, Request request);

private:
    QTemporaryDir m_served;
    TestHttpServer m_server;
    std::unique_ptr<TestPackageDatabase> m_database;
    QString m_errorText;
    bool m_valid = false;
};

#endif // TESTAPPLYFIXTURE_H
