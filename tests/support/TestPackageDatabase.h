#ifndef TESTPACKAGEDATABASE_H
#define TESTPACKAGEDATABASE_H

#include "tests/support/TestSandbox.h"

#include <QList>
#include <QString>
#include <QUrl>

class ZelManagerDatabase;

// A sandboxed installation (architecture "win32") with the given
// repositories enabled, whose package database a test fills through its
// files (TestDatabaseFile) before it opens it. Destroying the fixture
// destroys the database and the settings store before the sandbox goes.
class TestPackageDatabase
{
public:
    static QUrl defaultRepository() { return QUrl(QStringLiteral("http://repo.example.org/vp")); }

    explicit TestPackageDatabase(const QList<QUrl> &repositories = { defaultRepository() });
    ~TestPackageDatabase();
    TestPackageDatabase(const TestPackageDatabase &) = delete;
    TestPackageDatabase &operator=(const TestPackageDatabase &) = delete;

    const TestSandbox &sandbox() const { return m_sandbox; }
    QString statusFile() const;
    QString repositoryFile(const QUrl &url = defaultRepository()) const;

    // The database instance, opened on the files as they are.
    ZelManagerDatabase *open();
    // One empty batch with refresh: states are recomputed from the files.
    static void refresh(ZelManagerDatabase *database);

private:
    TestSandbox m_sandbox;
};

#endif // TESTPACKAGEDATABASE_H
