#include "tests/support/TestApplyFixture.h"

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerRepositoryUpdater.h"
#include "engine/ZelManagerScriptEngine.h"
#include "integration/ZelManagerTrigger.h"
#include "settings/ZelManagerSettings.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>

namespace {

const int UpdateTimeoutMs = 60000;

} // namespace

TestApplyFixture::TestApplyFixture()
{
    if (!m_served.isValid() || !QDir().mkpath(repositoryFolder()) || !m_server.start(m_served.path()))
        return;
    m_database.reset(new TestPackageDatabase({ repository() }));
    ZelManagerSettings::instance()->setCachePath(cacheFolder());
    createTriggers();
    m_valid = true;
}

TestApplyFixture::~TestApplyFixture()
{
    destroyTriggers();
    ZelManagerScriptEngine::cleanup();
    m_database.reset();
}

QUrl TestApplyFixture::repository() const
{
    return QUrl(m_server.url().toString() + QStringLiteral("/repo"));
}

QString TestApplyFixture::archiveUrlPath(const QString &name, const QString &version) const
{
    return QStringLiteral("/repo/")
        + ZelManagerRepositoryBuilder::archiveFileName(name, version, QStringLiteral("win32"));
}

QString TestApplyFixture::cacheFolder() const
{
    return sandbox().path() + QStringLiteral("/cache");
}

QString TestApplyFixture::target() const
{
    return ZelManagerSettings::instance()->targetPath();
}

ZelManagerDatabase *TestApplyFixture::database() const
{
    return ZelManagerDatabase::instance();
}

TestApplyFixture::Manifest TestApplyFixture::manifest(
    const QString &name, const QString &version, const QStringList &dependencies)
{
    Manifest result;
    result.name = name;
    result.version = version;
    result.maintainer = QStringLiteral("Test Maintainer");
    result.description = QStringLiteral("Package %1").arg(name);
    result.categories = QStringList { QStringLiteral("tools") };
    result.dependencies = dependencies;
    result.time = 1600000000;
    return result;
}

bool TestApplyFixture::addPackage(
    const Manifest &manifest, const QList<Entry> &files, ZelManagerRepositoryBuilder::Compression compression)
{
    ZelManagerRepositoryBuilder builder;
    builder.setCompression(compression);
    if (!builder.buildPackage(manifest, files, repositoryFolder())) {
        m_errorText = builder.errorText();
        return false;
    }
    return true;
}

bool TestApplyFixture::updateIndex()
{
    ZelManagerDatabase *db = database();
    db->beginTransaction();
    ZelManagerRepositoryUpdater *updater = db->createUpdater(repository());
    bool ok = updater;
    if (updater) {
        QEventLoop loop;
        QObject::connect(updater, &ZelManagerRepositoryUpdater::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(UpdateTimeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        ok = updater->errorText().isEmpty();
        m_errorText = updater->errorText();
        delete updater;
    }
    db->endTransaction(true);
    return ok;
}

QString TestApplyFixture::request(const QString &name, Request request)
{
    ZelManagerDatabase *db = database();
    const ZelManagerPackage package = db->package(name);
    if (package.isNull())
        return QStringLiteral("no package %1").arg(name);
    db->beginTransaction();
    QString message;
    switch (request) {
    case Install:
        message = db->requestInstall(package);
        break;
    case Upgrade:
        message = db->requestUpgrade(package, QString());
        break;
    case Reinstall:
        message = db->requestReinstall(package);
        break;
    case Remove:
        message = db->requestRemove(package);
        break;
    case Cancel:
        message = db->cancelRequest(package);
        break;
    }
    db->endTransaction(true);
    return message;
}
