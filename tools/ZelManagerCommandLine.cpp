#include "tools/ZelManagerCommandLine.h"

#include "engine/ZelManagerErrorSummary.h"

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerRepositoryUpdater.h"
#include "engine/ZelManagerApplyRun.h"
#include "engine/ZelManagerInstallLock.h"
#include "engine/ZelManagerRecovery.h"
#include "engine/ZelManagerScriptEngine.h"
#include "integration/ZelManagerTrigger.h"
#include "settings/ZelManagerSettings.h"
#include "tools/ZelManagerPackageList.h"
#include "tools/ZelManagerRunProgress.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>

#include <algorithm>

volatile std::sig_atomic_t ZelManagerCommandLine::s_interrupted = 0;

namespace {

QString stateName(const ZelManagerPackage &package)
{
    if (package.isUpgradable())
        return QStringLiteral("upgradable");
    if (package.isInstalled())
        return QStringLiteral("installed");
    if (package.isInstallable())
        return QStringLiteral("installable");
    return QStringLiteral("unavailable");
}

QString requestName(const ZelManagerPackage &package)
{
    if (package.isRemoveRequested())
        return QStringLiteral("remove");
    if (package.isReinstallRequested())
        return QStringLiteral("reinstall");
    if (package.isUpgradeRequested())
        return QStringLiteral("upgrade");
    if (package.isInstallRequested())
        return QStringLiteral("install");
    return QString();
}

bool inCategory(const ZelManagerPackage &package, const QString &category)
{
    const QStringList wanted = category.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (wanted.isEmpty())
        return true;
    for (const QString &path : package.categories()) {
        const QStringList levels = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (levels.size() >= wanted.size() && levels.mid(0, wanted.size()) == wanted)
            return true;
    }
    return false;
}

QList<ZelManagerPackage> sortedByName(QList<ZelManagerPackage> packages)
{
    std::sort(packages.begin(), packages.end(),
        [](const ZelManagerPackage &a, const ZelManagerPackage &b) { return a.name() < b.name(); });
    return packages;
}

} // namespace

ZelManagerCommandLine::ZelManagerCommandLine(std::FILE *out, std::FILE *err, bool terminal, QObject *parent)
    : QObject(parent)
    , m_out(out)
    , m_err(err)
    , m_terminal(terminal)
{
}

ZelManagerCommandLine::~ZelManagerCommandLine()
{
    if (m_triggersCreated)
        destroyTriggers();
    ZelManagerDatabase::cleanup();
    ZelManagerScriptEngine::cleanup();
    m_lock.reset();
}

ZelManagerDatabase *ZelManagerCommandLine::database()
{
    return ZelManagerDatabase::instance();
}

void ZelManagerCommandLine::message(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), m_err);
    if (!text.endsWith(QLatin1Char('\n')))
        std::fputc('\n', m_err);
    std::fflush(m_err);
}

void ZelManagerCommandLine::output(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), m_out);
    if (!text.endsWith(QLatin1Char('\n')))
        std::fputc('\n', m_out);
    std::fflush(m_out);
}

void ZelManagerCommandLine::printJson(const QJsonValue &value)
{
    const QJsonDocument document = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    std::fputs(document.toJson(QJsonDocument::Indented).constData(), m_out);
    std::fflush(m_out);
}

// Before anything opens the installation's files.
bool ZelManagerCommandLine::lock(int *status)
{
    m_lock.reset(new ZelManagerInstallLock(ZelManagerSettings::instance()->installPath()));
    if (m_lock->tryLock()) {
        // What an ended run left half done is put right first.
        const QStringList recovered
            = ZelManagerRecovery::recover(database(), ZelManagerSettings::instance()->targetPath());
        for (const QString &text : recovered)
            message(text);
        return true;
    }
    message(m_lock->errorText());
    *status = m_lock->isHeldElsewhere() ? Locked : Failure;
    return false;
}

void ZelManagerCommandLine::interrupt()
{
    s_interrupted = 1;
    if (m_run && m_run->isRunning()) {
        if (!m_stopping)
            message(tr("Stopping: waiting for the running operations to end..."));
        m_stopping = true;
        m_run->stop();
    }
    emit interrupted();
}

ZelManagerPackage ZelManagerCommandLine::findPackage(const QString &name, int *status)
{
    const ZelManagerPackage package = database()->package(name);
    if (package.isNull()) {
        message(tr("Unknown package: %1").arg(name));
        *status = UsageError;
    }
    return package;
}

// Update

int ZelManagerCommandLine::update()
{
    int status = Success;
    if (!lock(&status))
        return status;
    ZelManagerSettings *settings = ZelManagerSettings::instance();
    ZelManagerDatabase *db = database();
    QList<QUrl> urls;
    for (const QUrl &url : settings->repositories()) {
        if (settings->isRepositoryEnabled(url))
            urls.append(url);
    }
    if (urls.isEmpty()) {
        message(tr("No repository is enabled."));
        return Failure;
    }
    db->beginTransaction();
    QEventLoop loop;
    QList<ZelManagerRepositoryUpdater *> updaters;
    int open = 0;
    for (const QUrl &url : qAsConst(urls)) {
        ZelManagerRepositoryUpdater *updater = db->createUpdater(url);
        if (!updater) {
            message(tr("%1: the update could not be started.").arg(url.toString()));
            status = Failure;
            continue;
        }
        updaters.append(updater);
        ++open;
        output(QStringLiteral("%1: %2").arg(url.toString(), updater->work()));
        connect(updater, &ZelManagerRepositoryUpdater::workChanged, this,
            [this, url](const QString &work) { output(QStringLiteral("%1: %2").arg(url.toString(), work)); });
        connect(updater, &ZelManagerRepositoryUpdater::finished, &loop, [&loop, &open] {
            if (--open == 0)
                loop.quit();
        });
        connect(this, &ZelManagerCommandLine::interrupted, updater, &ZelManagerRepositoryUpdater::cancel);
    }
    if (open > 0)
        loop.exec();
    for (ZelManagerRepositoryUpdater *updater : qAsConst(updaters)) {
        if (updater->errorText().isEmpty()) {
            output(tr("%1: %2 packages").arg(updater->url().toString()).arg(updater->packageCount()));
        } else {
            message(tr("%1: %2").arg(updater->url().toString(), updater->errorText()));
            status = Failure;
        }
        delete updater;
    }
    db->endTransaction(true);
    int upgradable = 0;
    for (const ZelManagerPackage &package : db->packages())
        upgradable += package.isUpgradable() ? 1 : 0;
    output(tr("%1 packages can be upgraded.").arg(upgradable));
    return status;
}

// Read-only commands

QJsonObject ZelManagerCommandLine::packageObject(const ZelManagerPackage &package)
{
    QJsonObject object;
    object.insert(QStringLiteral("name"), package.name());
    object.insert(QStringLiteral("installedVersion"), package.installedVersion());
    object.insert(QStringLiteral("availableVersion"), package.availableVersion());
    object.insert(QStringLiteral("state"), stateName(package));
    object.insert(QStringLiteral("request"), requestName(package));
    object.insert(QStringLiteral("automatic"), package.isRequested() && package.isAutomatic());
    object.insert(QStringLiteral("bookmarked"), package.isBookmarked());
    object.insert(QStringLiteral("description"), package.description());
    return object;
}

QJsonObject ZelManagerCommandLine::packageDetails(const ZelManagerPackage &package) const
{
    ZelManagerDatabase *db = ZelManagerDatabase::instance();
    QJsonObject object = packageObject(package);
    object.insert(QStringLiteral("availableVersions"), QJsonArray::fromStringList(package.availableVersions()));
    object.insert(QStringLiteral("repository"), package.repository());
    object.insert(QStringLiteral("maintainer"), package.maintainer());
    object.insert(QStringLiteral("categories"), QJsonArray::fromStringList(package.categories()));
    const PackageInfo installed = db->packageEntry(package.name(), QString(), true);
    const PackageInfo newest = package.availableVersion().isEmpty()
        ? installed
        : db->packageEntry(package.name(), package.availableVersion(), false);
    object.insert(QStringLiteral("dependencies"), QJsonArray::fromStringList(newest.dependencies));
    QStringList dependants = installed.dependants;
    dependants.removeDuplicates();
    std::sort(dependants.begin(), dependants.end());
    object.insert(QStringLiteral("dependants"), QJsonArray::fromStringList(dependants));
    object.insert(QStringLiteral("requestedBy"), QJsonArray::fromStringList(package.requestedBy()));
    return object;
}

int ZelManagerCommandLine::printPackages(const QList<ZelManagerPackage> &packages, const Options &options)
{
    if (options.json) {
        QJsonArray array;
        for (const ZelManagerPackage &package : packages)
            array.append(packageObject(package));
        printJson(array);
        return Success;
    }
    QString text;
    for (const ZelManagerPackage &package : packages) {
        QString version = package.installedVersion();
        if (version.isEmpty() || package.isUpgradable())
            version = package.availableVersion();
        QString state = stateName(package);
        if (package.isUpgradable())
            state += QStringLiteral(" from ") + package.installedVersion();
        if (package.isRequested())
            state += QStringLiteral(", ") + requestName(package) + QStringLiteral(" requested");
        text += QStringLiteral("%1/%2 [%3]\n").arg(package.name(), version, state);
        const QString summary = package.description().section(QLatin1Char('\n'), 0, 0).trimmed();
        if (!summary.isEmpty())
            text += QStringLiteral("  ") + summary + QLatin1Char('\n');
    }
    if (!text.isEmpty())
        output(text);
    return Success;
}

int ZelManagerCommandLine::search(const QString &text, const Options &options)
{
    QList<ZelManagerPackage> found;
    for (const ZelManagerPackage &package : database()->packages()) {
        if (package.matches(text, 0))
            found.append(package);
    }
    return printPackages(sortedByName(found), options);
}

int ZelManagerCommandLine::list(const Options &options)
{
    QList<ZelManagerPackage> found;
    for (const ZelManagerPackage &package : database()->packages()) {
        if (package.matches(QString(), options.listFilter) && inCategory(package, options.category))
            found.append(package);
    }
    return printPackages(sortedByName(found), options);
}

int ZelManagerCommandLine::show(const QString &name, const Options &options)
{
    int status = Success;
    const ZelManagerPackage package = findPackage(name, &status);
    if (package.isNull())
        return status;
    const QJsonObject details = packageDetails(package);
    if (options.json) {
        printJson(details);
        return Success;
    }
    auto joined = [&details](const char *key) {
        QStringList items;
        for (const QJsonValue &value : details.value(QLatin1String(key)).toArray())
            items.append(value.toString());
        return items.join(QStringLiteral(", "));
    };
    QString text;
    text += tr("Name: %1").arg(package.name()) + QLatin1Char('\n');
    text += tr("Installed version: %1").arg(package.installedVersion()) + QLatin1Char('\n');
    text += tr("Available versions: %1").arg(joined("availableVersions")) + QLatin1Char('\n');
    text += tr("Repository: %1").arg(package.repository()) + QLatin1Char('\n');
    text += tr("Maintainer: %1").arg(package.maintainer()) + QLatin1Char('\n');
    text += tr("Categories: %1").arg(joined("categories")) + QLatin1Char('\n');
    text += tr("Depends on: %1").arg(joined("dependencies")) + QLatin1Char('\n');
    text += tr("Needed by: %1").arg(joined("dependants")) + QLatin1Char('\n');
    text += tr("State: %1").arg(stateName(package)) + QLatin1Char('\n');
    QString request = requestName(package);
    if (!request.isEmpty() && package.isAutomatic())
        request += QLatin1Char(' ') + tr("(for %1)").arg(joined("requestedBy"));
    text += tr("Request: %1").arg(request) + QLatin1Char('\n');
    text += tr("Description:") + QLatin1Char('\n');
    for (const QString &line : package.description().split(QLatin1Char('\n')))
        text += QStringLiteral("  ") + line + QLatin1Char('\n');
    output(text);
    return Success;
}

int ZelManagerCommandLine::files(const QString &name, const Options &options)
{
    int status = Success;
    const ZelManagerPackage package = findPackage(name, &status);
    if (package.isNull())
        return status;
    if (!package.isInstalled()) {
        message(tr("Package %1 is not installed.").arg(name));
        return Failure;
    }
    const QStringList entries = database()->packageEntry(name, QString(), true).fileEntries.keys();
    if (options.json) {
        QJsonObject object;
        object.insert(QStringLiteral("package"), name);
        object.insert(QStringLiteral("files"), QJsonArray::fromStringList(entries));
        printJson(object);
    } else if (!entries.isEmpty()) {
        output(entries.join(QLatin1Char('\n')));
    }
    return Success;
}

int ZelManagerCommandLine::owner(const QString &path, const Options &options)
{
    const QString target = ZelManagerSettings::instance()->targetPath();
    QString entry = QDir::cleanPath(QDir::fromNativeSeparators(path));
    if (QFileInfo(entry).isAbsolute()) {
        if (!entry.startsWith(target + QLatin1Char('/'))) {
            message(tr("%1 is not below the installation folder %2.").arg(path, QDir::toNativeSeparators(target)));
            return Failure;
        }
        entry = entry.mid(target.size() + 1);
    }
    QStringList owners;
    for (const auto &file : database()->fileEntries()) {
        if (file.second == entry && !owners.contains(file.first))
            owners.append(file.first);
    }
    if (options.json) {
        QJsonObject object;
        object.insert(QStringLiteral("path"), entry);
        object.insert(QStringLiteral("packages"), QJsonArray::fromStringList(owners));
        printJson(object);
    } else if (!owners.isEmpty()) {
        output(QStringLiteral("%1: %2").arg(owners.join(QStringLiteral(", ")), entry));
    }
    if (owners.isEmpty()) {
        message(tr("No package owns %1.").arg(entry));
        return Failure;
    }
    return Success;
}

// Commands that change the installation

QString ZelManagerCommandLine::mark(
    ZelManagerApplyPlan::Operation operation, const ZelManagerPackage &package, bool *changed)
{
    ZelManagerDatabase *db = database();
    *changed = false;
    const QString name = package.name();
    switch (operation) {
    case ZelManagerApplyPlan::Install:
        if (package.isInstalled() && !package.isUpgradable()) {
            message(tr("Package %1 is already installed (%2).").arg(name, package.installedVersion()));
            return QString();
        }
        *changed = true;
        return package.isInstalled() ? db->requestUpgrade(package, QString()) : db->requestInstall(package);
    case ZelManagerApplyPlan::Upgrade:
        if (!package.isInstalled()) {
            message(tr("Package %1 is not installed.").arg(name));
            return QString();
        }
        if (!package.isUpgradable()) {
            message(tr("Package %1 is up to date.").arg(name));
            return QString();
        }
        *changed = true;
        return db->requestUpgrade(package, QString());
    case ZelManagerApplyPlan::Reinstall:
    case ZelManagerApplyPlan::Remove:
        if (!package.isInstalled()) {
            message(tr("Package %1 is not installed.").arg(name));
            return QString();
        }
        *changed = true;
        return operation == ZelManagerApplyPlan::Remove ? db->requestRemove(package) : db->requestReinstall(package);
    }
    return QString();
}

int ZelManagerCommandLine::change(
    ZelManagerApplyPlan::Operation operation, const QStringList &names, const Options &options)
{
    int status = Success;
    if (!lock(&status))
        return status;
    QList<ZelManagerPackage> packages;
    for (const QString &name : names) {
        const ZelManagerPackage package = findPackage(name, &status);
        if (package.isNull())
            continue;
        const bool installing = operation == ZelManagerApplyPlan::Install || operation == ZelManagerApplyPlan::Upgrade;
        if (installing && !package.isInstallable() && !package.isInstalled()) {
            message(tr("Package %1 is not offered by any enabled repository.").arg(name));
            status = UsageError;
        }
        packages.append(package);
    }
    if (status != Success)
        return status;

    ZelManagerDatabase *db = database();
    ZelManagerApplyPlan plan(db);
    plan.snapshot();
    bool refused = false;
    db->beginTransaction();
    for (const ZelManagerPackage &package : qAsConst(packages)) {
        bool changed = false;
        const QString refusal = mark(operation, package, &changed);
        if (!refusal.isEmpty()) {
            message(refusal);
            refused = true;
        }
    }
    db->endTransaction(true);
    if (refused) {
        plan.restore();
        return Failure;
    }
    return finishChange(plan, options);
}

int ZelManagerCommandLine::upgradeAll(const Options &options)
{
    int status = Success;
    if (!lock(&status))
        return status;
    ZelManagerDatabase *db = database();
    ZelManagerApplyPlan plan(db);
    plan.snapshot();
    db->beginTransaction();
    for (const ZelManagerPackage &package : sortedByName(db->packages().values())) {
        if (!package.isUpgradable())
            continue;
        const QString refusal = db->requestUpgrade(package, QString());
        if (!refusal.isEmpty())
            message(refusal);
    }
    db->endTransaction(true);
    return finishChange(plan, options);
}

int ZelManagerCommandLine::apply(const Options &options)
{
    int status = Success;
    if (!lock(&status))
        return status;
    ZelManagerApplyPlan plan(database());
    plan.snapshot();
    return finishChange(plan, options);
}

int ZelManagerCommandLine::finishChange(ZelManagerApplyPlan &plan, const Options &options)
{
    plan.build();
    if (plan.isEmpty()) {
        output(tr("Nothing to do."));
        return Success;
    }
    plan.measure();
    output(plan.text());
    if (options.dryRun) {
        plan.restore();
        return Success;
    }
    if (!plan.fits()) {
        message(tr("Not enough free space on %1: %2 needed, %3 free.")
                    .arg(QDir::toNativeSeparators(plan.drive()), ZelManagerApplyPlan::sizeText(plan.spaceNeeded()),
                        ZelManagerApplyPlan::sizeText(plan.freeSpace())));
        plan.restore();
        return Failure;
    }
    if (s_interrupted || (!options.yes && !confirm())) {
        plan.restore();
        message(tr("Nothing was changed."));
        return Failure;
    }
    return run(plan);
}

bool ZelManagerCommandLine::confirm()
{
    std::fputs(tr("Do you want to continue? [y/N] ").toLocal8Bit().constData(), m_err);
    std::fflush(m_err);
    char line[256];
    if (!std::fgets(line, sizeof line, stdin) || s_interrupted) {
        std::fputc('\n', m_err);
        if (!s_interrupted)
            message(tr("No answer; --yes applies without asking."));
        return false;
    }
    const QString answer = QString::fromLocal8Bit(line).trimmed().toLower();
    return answer == QLatin1String("y") || answer == QLatin1String("yes") || answer == tr("y") || answer == tr("yes");
}

int ZelManagerCommandLine::run(const ZelManagerApplyPlan &plan)
{
    if (!m_triggersCreated) {
        createTriggers();
        m_triggersCreated = true;
    }
    QStringList names;
    for (const ZelManagerApplyPlan::Entry &entry : plan.entries())
        names.append(entry.name);
    ZelManagerApplyRun run;
    m_run = &run;
    ZelManagerRunProgress progress(names, run.operationModel(), m_out, m_terminal);
    progress.start();
    run.exec();
    m_run = nullptr;
    progress.finish(endStatus(plan, run));
    return reportRun(plan, run);
}

// What each package of the plan came to, from the installation as the run
// left it and the run's errors.
QHash<QString, int> ZelManagerCommandLine::endStatus(const ZelManagerApplyPlan &plan, const ZelManagerApplyRun &run)
{
    QHash<QString, int> result;
    for (const ZelManagerDatabase::ErrorRecord &error : run.errors())
        result.insert(error.package, ZelManagerPackage::Error);
    for (const ZelManagerApplyPlan::Entry &entry : plan.entries()) {
        if (!result.contains(entry.name) && isDone(entry))
            result.insert(entry.name,
                entry.operation == ZelManagerApplyPlan::Remove ? ZelManagerPackage::Removed
                                                               : ZelManagerPackage::Finished);
    }
    return result;
}

bool ZelManagerCommandLine::isDone(const ZelManagerApplyPlan::Entry &entry)
{
    const ZelManagerPackage package = ZelManagerDatabase::instance()->package(entry.name);
    if (entry.operation == ZelManagerApplyPlan::Remove)
        return !package.isInstalled();
    return package.isInstalled() && !package.isRequested() && package.installedVersion() == entry.newVersion;
}

int ZelManagerCommandLine::reportRun(const ZelManagerApplyPlan &plan, ZelManagerApplyRun &run)
{
    ZelManagerDatabase *db = database();
    int done = 0;
    for (const ZelManagerApplyPlan::Entry &entry : plan.entries())
        done += isDone(entry) ? 1 : 0;
    output(tr("%1 of %2 operations done.").arg(done).arg(plan.entries().size()));
    const QString summary = ZelManagerErrorSummary::text(run.errors());
    if (!summary.isEmpty())
        message(summary);
    if (run.outcome() == ZelManagerApplyRun::Succeeded)
        return Success;
    int marked = 0;
    for (const ZelManagerPackage &package : db->packages())
        marked += package.isRequested() ? 1 : 0;
    if (run.outcome() == ZelManagerApplyRun::Stopped)
        message(tr("Stopped."));
    if (marked > 0)
        message(tr("%1 operations remain marked: \"zelpkg apply\" carries them out, \"zelpkg cancel --all\" "
                   "drops them.")
                    .arg(marked));
    return Failure;
}

int ZelManagerCommandLine::cancel(const QStringList &names, bool all)
{
    int status = Success;
    if (!lock(&status))
        return status;
    ZelManagerDatabase *db = database();
    QList<ZelManagerPackage> packages;
    if (all) {
        for (const ZelManagerPackage &package : db->packages()) {
            if (package.isRequested())
                packages.append(package);
        }
    }
    for (const QString &name : names) {
        const ZelManagerPackage package = findPackage(name, &status);
        if (!package.isNull())
            packages.append(package);
    }
    if (status != Success)
        return status;
    db->beginTransaction();
    int cancelled = 0;
    for (const ZelManagerPackage &package : qAsConst(packages)) {
        if (!package.isRequested()) {
            if (!all)
                message(tr("Package %1 has no request.").arg(package.name()));
            continue;
        }
        db->cancelRequest(package);
        ++cancelled;
    }
    db->endTransaction(true);
    output(tr("%1 requests cancelled.").arg(cancelled));
    return Success;
}

// Package selection and cache

int ZelManagerCommandLine::exportList(const QString &fileName)
{
    ZelManagerPackageList list;
    if (!list.exportTo(fileName, database())) {
        message(list.errorText());
        return Failure;
    }
    output(tr("%1 installed packages written to %2.")
               .arg(ZelManagerPackageList::installedNames(database()).size())
               .arg(QDir::toNativeSeparators(fileName)));
    return Success;
}

int ZelManagerCommandLine::importList(const QString &fileName, const Options &options)
{
    ZelManagerPackageList list;
    if (!list.read(fileName)) {
        message(list.errorText());
        return Failure;
    }
    int status = Success;
    if (!lock(&status))
        return status;
    ZelManagerDatabase *db = database();
    list.compare(db);
    if (!list.unknownNames().isEmpty())
        message(tr("Skipped packages no repository offers: %1").arg(list.unknownNames().join(QStringLiteral(", "))));
    const QStringList removals = options.keepInstalled ? QStringList() : list.removeList();
    if (list.installList().isEmpty() && removals.isEmpty()) {
        output(tr("All packages are installed properly!"));
        return Success;
    }
    ZelManagerApplyPlan plan(db);
    plan.snapshot();
    db->beginTransaction();
    for (const QString &name : removals)
        db->requestRemove(db->package(name));
    for (const QString &name : list.installList()) {
        const QString refusal = db->requestInstall(db->package(name));
        if (!refusal.isEmpty())
            message(refusal);
    }
    db->endTransaction(true);
    return finishChange(plan, options);
}

int ZelManagerCommandLine::clean()
{
    int status = Success;
    if (!lock(&status))
        return status;
    const QDir cache(ZelManagerSettings::instance()->cachePath());
    int count = 0;
    qint64 size = 0;
    for (const QFileInfo &file : cache.entryInfoList({ QStringLiteral("*.cache") }, QDir::Files)) {
        const qint64 fileSize = file.size();
        if (QFile::remove(file.filePath())) {
            ++count;
            size += fileSize;
        } else {
            message(tr("Can not delete %1.").arg(QDir::toNativeSeparators(file.filePath())));
            status = Failure;
        }
    }
    output(tr("%1 cached archives deleted (%2).").arg(count).arg(ZelManagerApplyPlan::sizeText(size)));
    return status;
}
