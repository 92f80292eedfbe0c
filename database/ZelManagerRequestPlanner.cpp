#include "database/ZelManagerRequestPlanner.h"

#include "database/ZelManagerDatabase.h"

#include <QCoreApplication>

namespace {

bool isOffered(const ZelManagerPackage &package)
{
    return !package.availableVersion().isEmpty();
}

} // namespace

ZelManagerRequestPlanner::ZelManagerRequestPlanner(const ZelManagerDatabase *database)
    : m_database(database)
{
}

QPair<QString, QString> ZelManagerRequestPlanner::splitComparison(const QString &comparison)
{
    const QString text = comparison.trimmed();
    int length = 0;
    while (length < text.size() && QStringLiteral("<=>!").contains(text.at(length)))
        ++length;
    const QString version = text.mid(length).trimmed();
    if (version.isEmpty())
        return { QString(), text };
    return { text.left(length).trimmed(), version };
}

bool ZelManagerRequestPlanner::satisfies(const QString &version, const QString &comparison)
{
    const QPair<QString, QString> parts = splitComparison(comparison);
    return versionSatisfies(version, parts.second, parts.first);
}

QString ZelManagerRequestPlanner::failureBlock(const QString &name, const QStringList &items)
{
    QString text = QStringLiteral("== ")
        + QCoreApplication::translate("ZelManagerPackage", "Package %1 dependencies not satisfied:").arg(name)
        + QLatin1Char('\n');
    for (QString item : items)
        text += QStringLiteral("   ") + item.replace(QLatin1Char('|'), QLatin1Char(' ')) + QLatin1Char('\n');
    return text;
}

// The package asked for comes first, then those pulled in along.
QString ZelManagerRequestPlanner::failureMessage() const
{
    QString text;
    for (auto failure = m_state.failures.crbegin(); failure != m_state.failures.crend(); ++failure)
        text += failureBlock(failure->first, failure->second);
    return text;
}

QStringList ZelManagerRequestPlanner::dependencies(const ZelManagerPackage &package) const
{
    return m_database->packageEntry(package.name(), package.availableVersion(), false).dependencies;
}

void ZelManagerRequestPlanner::addFailure(const QString &name, const QStringList &items)
{
    if (!items.isEmpty())
        m_state.failures.append({ name, items });
}

bool ZelManagerRequestPlanner::planInstall(const ZelManagerPackage &package)
{
    m_state.visited.insert(package.name());
    scheduleDependencies(package.name(), dependencies(package));
    return m_state.failures.isEmpty();
}

bool ZelManagerRequestPlanner::planUpgrade(const ZelManagerPackage &package)
{
    m_state.visited.insert(package.name());
    planUpgradeDependencies(package);
    return m_state.failures.isEmpty();
}

// A dependency that is missing, or marked for removal, satisfies nothing; an
// installed one whose installed version fits needs nothing more.
ZelManagerRequestPlanner::Decision ZelManagerRequestPlanner::installDecision(
    const ZelManagerPackage &dependency, const QString &comparison) const
{
    if (dependency.isNull() || dependency.isRemoveRequested())
        return Unsatisfied;
    if (comparison.isEmpty()) {
        if (dependency.isInstalled())
            return Satisfied;
        return isOffered(dependency) ? Schedule : Unsatisfied;
    }
    if (dependency.isInstalled() && satisfies(dependency.installedVersion(), comparison))
        return Satisfied;
    if (!isOffered(dependency) || !satisfies(dependency.availableVersion(), comparison))
        return Unsatisfied;
    // An installed dependency that only its newest version satisfies is not
    // upgraded along, unless a reinstall was asked for it anyway.
    if (dependency.isInstalled() && !dependency.isReinstallRequested())
        return Satisfied;
    return Schedule;
}

// Breadth first through the dependencies of the newest versions; the items
// nothing satisfies are reported under owner.
void ZelManagerRequestPlanner::scheduleDependencies(const QString &owner, QStringList work)
{
    QStringList missing;
    while (!work.isEmpty()) {
        const QString item = work.takeFirst();
        const QPair<QString, QString> parts = splitDependency(item);
        if (m_state.visited.contains(parts.first))
            continue;
        const ZelManagerPackage dependency = m_database->package(parts.first);
        switch (installDecision(dependency, parts.second)) {
        case Satisfied:
            break;
        case Schedule:
            m_state.visited.insert(parts.first);
            m_state.installs.append(parts.first);
            work += dependencies(dependency);
            break;
        case Unsatisfied:
            if (!missing.contains(item))
                missing.append(item);
            break;
        }
    }
    addFailure(owner, missing);
}

// A dependency without a usable comparison is upgraded along when it can be
// (and left as it is when its own upgrade is impossible); one whose installed
// version does not fit must be upgraded; a missing one is installed.
void ZelManagerRequestPlanner::planUpgradeDependencies(const ZelManagerPackage &package)
{
    QStringList missing;
    for (const QString &item : dependencies(package)) {
        const QPair<QString, QString> parts = splitDependency(item);
        if (m_state.visited.contains(parts.first))
            continue;
        const ZelManagerPackage dependency = m_database->package(parts.first);
        const QPair<QString, QString> comparison = splitComparison(parts.second);
        const bool plain = comparison.first.isEmpty() || comparison.second.isEmpty();
        if (dependency.isNull() || dependency.isRemoveRequested()) {
            missing.append(item);
        } else if (!plain && dependency.isInstalled() && satisfies(dependency.installedVersion(), parts.second)) {
            continue;
        } else if (!plain && !(isOffered(dependency) && satisfies(dependency.availableVersion(), parts.second))) {
            missing.append(item);
        } else if (!dependency.isInstalled()) {
            if (!isOffered(dependency) || !installAlong(dependency))
                missing.append(item);
        } else if (!plain || dependency.isUpgradable()) {
            if (!upgradeAlong(dependency, !plain))
                missing.append(item);
        } else {
            m_state.visited.insert(parts.first);
        }
    }
    addFailure(package.name(), missing);
}

bool ZelManagerRequestPlanner::installAlong(const ZelManagerPackage &dependency)
{
    const int failures = m_state.failures.size();
    m_state.visited.insert(dependency.name());
    m_state.installs.append(dependency.name());
    scheduleDependencies(dependency.name(), dependencies(dependency));
    return m_state.failures.size() == failures;
}

// An upgrade that is only nice to have is dropped when it cannot be done;
// one that is needed fails its requester as well. True when it can be done.
bool ZelManagerRequestPlanner::upgradeAlong(const ZelManagerPackage &dependency, bool required)
{
    const State before = m_state;
    m_state.visited.insert(dependency.name());
    m_state.upgrades.append(dependency.name());
    planUpgradeDependencies(dependency);
    if (m_state.failures.size() == before.failures.size())
        return true;
    if (!required) {
        m_state = before;
        m_state.visited.insert(dependency.name());
        return true;
    }
    return false;
}
