#ifndef ZELMANAGERREQUESTPLANNER_H
#define ZELMANAGERREQUESTPLANNER_H

#include "database/ZelManagerPackage.h"

#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

class ZelManagerDatabase;

// Works out, without changing anything, which packages an install or an
// upgrade request pulls in: the dependencies to install automatically, the
// installed ones to upgrade along, and the dependency items that nothing can
// satisfy. The database then applies the plan only when nothing is missing,
// so a refused request leaves every request as it was.
class ZelManagerRequestPlanner
{
public:
    explicit ZelManagerRequestPlanner(const ZelManagerDatabase *database);

    // The dependencies of package's newest version, transitively.
    bool planInstall(const ZelManagerPackage &package);
    // The direct dependencies of package's newest version; installed ones are
    // upgraded along (with their own dependencies), missing ones installed.
    bool planUpgrade(const ZelManagerPackage &package);

    // Names to give an automatic install or upgrade, in the order found.
    QStringList installs() const { return m_state.installs; }
    QStringList upgrades() const { return m_state.upgrades; }
    // The refusal: one block per package whose dependencies are missing.
    QString failureMessage() const;

    // A comparison ">= 1.2" split into operator and version; a text of
    // operator characters only has no operator (it is never satisfied).
    static QPair<QString, QString> splitComparison(const QString &comparison);
    static bool satisfies(const QString &version, const QString &comparison);
    // "== Package <name> dependencies not satisfied:" and one indented line
    // per item, each ending in a line feed.
    static QString failureBlock(const QString &name, const QStringList &items);

private:
    enum Decision { Satisfied, Schedule, Unsatisfied };
    struct State
    {
        QSet<QString> visited;
        QStringList installs;
        QStringList upgrades;
        QList<QPair<QString, QStringList>> failures;
    };

    Decision installDecision(const ZelManagerPackage &dependency, const QString &comparison) const;
    void scheduleDependencies(const QString &owner, QStringList work);
    void planUpgradeDependencies(const ZelManagerPackage &package);
    bool installAlong(const ZelManagerPackage &dependency);
    bool upgradeAlong(const ZelManagerPackage &dependency, bool required);
    QStringList dependencies(const ZelManagerPackage &package) const;
    void addFailure(const QString &name, const QStringList &items);

    const ZelManagerDatabase *m_database;
    State m_state;
};

#endif // ZELMANAGERREQUESTPLANNER_H
