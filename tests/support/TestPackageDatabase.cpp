#include "tests/support/TestPackageDatabase.h"

#include "database/ZelManagerDatabase.h"
#include "settings/ZelManagerSettings.h"

TestPackageDatabase::TestPackageDatabase(const QList<QUrl> &repositories)
{
    ZelManagerSettings *settings = ZelManagerSettings::instance();
    settings->clearRepositories();
    for (const QUrl &url : repositories)
        settings->setRepository(url, url.host(), true);
    settings->setInstallPath(m_sandbox.installPath());
    settings->setArchitecture(QStringLiteral("win32"));
}

TestPackageDatabase::~TestPackageDatabase()
{
    ZelManagerDatabase::cleanup();
}

QString TestPackageDatabase::statusFile() const
{
    return m_sandbox.installPath() + QStringLiteral("/pkgdb/win32.db");
}

QString TestPackageDatabase::repositoryFile(const QUrl &url) const
{
    return m_sandbox.installPath() + QStringLiteral("/pkgdb/") + ZelManagerDatabase::repositoryFileName(url);
}

ZelManagerDatabase *TestPackageDatabase::open()
{
    return ZelManagerDatabase::instance();
}

void TestPackageDatabase::refresh(ZelManagerDatabase *database)
{
    database->beginTransaction();
    database->endTransaction(true);
}
