#ifndef ZELMANAGERREMOVEMANAGER_H
#define ZELMANAGERREMOVEMANAGER_H

#include "database/PackageInfo.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

class ZelManagerOperationModel;
class ZelManagerPackageRemover;
struct ApplyContext;

// Removes every package marked for removal in one apply run. A package is
// removed only after the marked packages that depend on it (its blockers),
// several at a time within the context's limit; when the last remover has
// finished, the folders that the removals left empty are deleted, deepest
// first, and finished(bool) is emitted once.
//
// Packages that can never start are not left silently: marked dependants
// that depend on each other in a cycle get an error naming the cycle, and a
// package whose blocker failed or was never removed gets an error naming
// it; both count as failures.
//
// Emitting cancelRequest() cancels every running remover and starts no
// more; the manager stays busy until their threads have ended, and its
// destructor waits for any that still run, so no thread outlives the run's
// context. GUI thread only.
class ZelManagerRemoveManager : public QObject
{
    Q_OBJECT

public:
    // Parented to the context's operation model. Reads the installed
    // version of every package that the model marks for removal into the
    // context's package table.
    explicit ZelManagerRemoveManager(ApplyContext *context);
    ~ZelManagerRemoveManager() override;

    // Starts as many removals as the blockers and the limit allow. Called
    // once; with nothing to remove, finished(true) is emitted at once.
    void start();
    // True while a started remover has not finished.
    bool isBusy() const { return m_finishedCount < m_startedCount; }

    // The names not started yet, in the order of the run.
    QStringList queue() const;
    QStringList blockers(const QString &name) const { return m_blockers.value(name); }

signals:
    // True when every marked package was removed.
    void finished(bool ok);
    // Connected to every remover's cancel(); emitting it stops the run.
    void cancelRequest();

public slots:
    void onRemoverFinished(bool ok);
    bool startRemovePackage(const QString &name);

private:
    void onCancelRequest();
    void startQueued();
    void finishIfDone();
    void reportStuckPackages();
    QStringList cycleThrough(const QString &name) const;
    void failWaiting(const QString &name, const QString &description);

    int m_failedCount = 0;
    int m_startedCount = 0;
    int m_finishedCount = 0;
    QStringList m_folders;
    QStringList m_order; // every name of the run, in the model's order
    ApplyContext *m_context;
    ZelManagerOperationModel *m_model;
    QHash<QString, QStringList> m_blockers;
    // The installed entries read at the start, handed to the removers. (The
    // context's package table also holds the entries that downloads bring.)
    QHash<QString, PackageInfo> m_installed;

    QSet<QString> m_queued; // not started yet
    QHash<QString, int> m_position; // name -> index in m_order
    // The queued names whose blockers are all removed, by position: a
    // finished removal looks at its dependencies only, not at the queue.
    QMap<int, QString> m_ready;
    QHash<QString, QStringList> m_waiting; // blocker -> the names it blocks
    QList<QPointer<ZelManagerPackageRemover>> m_removers; // started, not yet finished
    bool m_canceled = false;
    int m_starting = 0; // nesting depth of start loops (scripts process events)
    bool m_done = false;
};

#endif // ZELMANAGERREMOVEMANAGER_H
