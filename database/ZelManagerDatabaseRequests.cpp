// The database's request operations: what the user marks, and what those
// marks pull in (automatic installs, upgrades and removals) or undo.
//
// A package's requestedBy list names every request that needs it: for
// automatic installs and upgrades the packages the user marked, for automatic
// removals the removed package it depends on. An automatic request lasts as
// long as one of its requesters still holds a request of the same direction
// (install or removal); cancelling a request releases what only it needed.

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerRequestPlanner.h"

#include <QSet>

namespace {

const int AutomaticInstall = ZelManagerPackage::RequestInstall | ZelManagerPackage::FlagAutomatic;
const int AutomaticUpgrade = ZelManagerPackage::RequestUpgrade | ZelManagerPackage::FlagAutomatic;
const int AutomaticRemove = ZelManagerPackage::RequestRemove | ZelManagerPackage::FlagAutomatic;

// Install, upgrade and reinstall pull dependencies in; removal pushes
// dependants out.
int direction(const ZelManagerPackage &package)
{
    return package.flags() & (ZelManagerPackage::FlagRequestInstall | ZelManagerPackage::FlagRequestRemove);
}

// Gives package an automatic request from requester. A package that already
// carries a request of that kind keeps it (a user's own request stays the
// user's) and notes the requester as well.
void requestAlong(ZelManagerPackage package, int bits, const QString &requester)
{
    const int kind = bits & ~ZelManagerPackage::FlagAutomatic;
    if ((package.requestFlags() & ~ZelManagerPackage::FlagAutomatic) == kind) {
        package.setRequest(package.requestFlags(), requester);
        return;
    }
    if (package.isRequested())
        package.setRequest(0);
    package.setRequest(bits, requester);
}

void setRequesters(ZelManagerPackage package, int bits, const QStringList &requesters)
{
    package.setRequest(0);
    if (requesters.isEmpty())
        package.setRequest(bits);
    for (const QString &requester : requesters)
        package.setRequest(bits, requester);
}

// Automatic requests left without a requester of their direction are
// dropped, and what they held is released in turn.
void releaseRequests(ZelManagerDatabase &database, const QString &name)
{
    QList<ZelManagerPackage> requested;
    for (const ZelManagerPackage &package : database.packages()) {
        if (package.isRequested() && !package.requestedBy().isEmpty())
            requested.append(package);
    }
    QStringList released { name };
    while (!released.isEmpty()) {
        const QString requester = released.takeFirst();
        for (ZelManagerPackage package : qAsConst(requested)) {
            if (!package.isRequested() || !package.requestedBy().contains(requester))
                continue;
            QStringList remaining;
            for (const QString &other : package.requestedBy()) {
                if (other != requester && direction(database.package(other)) == direction(package))
                    remaining.append(other);
            }
            if (package.isAutomatic() && remaining.isEmpty()) {
                package.setRequest(0);
                released.append(package.name());
            } else {
                setRequesters(package, package.requestFlags(), remaining);
            }
        }
    }
}

// A package that stays keeps what it depends on; a package that is not
// installed after all cannot satisfy the requests that needed it.
void cancelRequestChain(ZelManagerDatabase &database, ZelManagerPackage package, QSet<QString> &cancelling)
{
    if (cancelling.contains(package.name()) || !package.isRequested())
        return;
    cancelling.insert(package.name());
    const int kind = direction(package);
    if (package.isRemoveRequested()) {
        for (const QString &item :
            database.packageEntry(package.name(), package.installedVersion(), true).dependencies) {
            const ZelManagerPackage dependency = database.package(splitDependency(item).first);
            if (dependency.isRemoveRequested())
                cancelRequestChain(database, dependency, cancelling);
        }
    } else if (!package.isReinstallRequested()) {
        for (const QString &name : package.requestedBy()) {
            const ZelManagerPackage requester = database.package(name);
            if (direction(requester) == kind)
                cancelRequestChain(database, requester, cancelling);
        }
    }
    package.setRequest(0);
    releaseRequests(database, package.name());
}

void requestRemoveChain(ZelManagerDatabase &database, ZelManagerPackage package, QSet<QString> &visited)
{
    const QStringList dependants = database.packageEntry(package.name(), package.installedVersion(), true).dependants;
    for (const QString &name : dependants) {
        ZelManagerPackage dependant = database.package(name);
        if (visited.contains(name) || !dependant.isInstalled())
            continue;
        if (dependant.isRemoveRequested()) {
            if (dependant.isAutomatic())
                dependant.setRequest(dependant.requestFlags(), package.name());
            continue;
        }
        visited.insert(name);
        if (dependant.isRequested())
            database.cancelRequest(dependant);
        requestRemoveChain(database, dependant, visited);
        dependant.setRequest(AutomaticRemove, package.name());
    }
    package.setRequest(ZelManagerPackage::RequestRemove);
}

} // namespace

QString ZelManagerDatabase::requestInstall(ZelManagerPackage package)
{
    if (!holds(package) || package.isInstallRequested())
        return QString();
    ZelManagerRequestPlanner planner(this);
    if (!planner.planInstall(package))
        return planner.failureMessage();
    if (package.isRequested())
        cancelRequest(package);
    package.setRequest(ZelManagerPackage::RequestInstall);
    for (const QString &name : planner.installs())
        requestAlong(this->package(name), AutomaticInstall, package.name());
    return QString();
}

QString ZelManagerDatabase::requestUpgrade(ZelManagerPackage package, const QString &requester)
{
    if (!holds(package) || !package.isUpgradable() || package.isUpgradeRequested())
        return QString();
    ZelManagerRequestPlanner planner(this);
    if (!planner.planUpgrade(package))
        return planner.failureMessage();
    if (requester.isEmpty()) {
        if (package.isRequested())
            cancelRequest(package);
        package.setRequest(ZelManagerPackage::RequestUpgrade);
    } else {
        requestAlong(package, AutomaticUpgrade, requester);
    }
    const QString root = requester.isEmpty() ? package.name() : requester;
    for (const QString &name : planner.upgrades())
        requestAlong(this->package(name), AutomaticUpgrade, root);
    for (const QString &name : planner.installs())
        requestAlong(this->package(name), AutomaticInstall, root);
    return QString();
}

QString ZelManagerDatabase::requestReinstall(ZelManagerPackage package)
{
    if (!holds(package) || package.isReinstallRequested())
        return QString();
    if (package.isRequested())
        cancelRequest(package);
    package.setRequest(ZelManagerPackage::RequestReinstall);
    return QString();
}

// Every installed package that depends on a removed one goes too, each noting
// the package it depends on. Dependency cycles end at packages already seen.
QString ZelManagerDatabase::requestRemove(ZelManagerPackage package)
{
    if (!holds(package) || package.isRemoveRequested())
        return QString();
    if (package.isRequested())
        cancelRequest(package);
    QSet<QString> visited { package.name() };
    requestRemoveChain(*this, package, visited);
    return QString();
}

QString ZelManagerDatabase::cancelRequest(ZelManagerPackage package)
{
    if (!holds(package) || !package.isRequested())
        return QString();
    QSet<QString> cancelling;
    cancelRequestChain(*this, package, cancelling);
    return QString();
}
