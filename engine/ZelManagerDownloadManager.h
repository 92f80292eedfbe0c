#ifndef ZELMANAGERDOWNLOADMANAGER_H
#define ZELMANAGERDOWNLOADMANAGER_H

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

class QThread;
class ZelManagerOperationModel;
struct ApplyContext;

// Turns the packages marked for installation, upgrade or reinstallation into
// a pipeline: one ZelManagerPackageDownloader per package, in the operation
// model's order, then one ZelManagerPackageInstaller per downloaded package,
// each installed only after the marked packages it depends on. Downloads come
// first; installations start once every download has been started. All
// workers share the context's limit: while other workers (the removals) fill
// it, the manager waits, and resume() lets it use the slots they have freed
// (the apply run calls it when the removals have ended).
//
// Files are claimed in an order that does not depend on timing or on the
// number of workers: a downloaded package waits until every package before
// it in the claim order (the upgrades and reinstalls first, then the other
// installations, each in the download order) has claimed its files or
// failed. A file that an earlier package of the run has claimed, or that a
// package installed outside the run owns, is a conflict ("Conflicts
// encountered:"). A file that a removal of the run gives up is free to take,
// and so is one that an upgrade whose new version has claimed its files
// leaves behind; the package that takes it is installed only after that
// removal or upgrade has ended, and fails with the conflict when the file
// has not been given up after all.
//
// A failed download or installation fails the packages that wait for it
// (each gets an error naming the package it needed), so the pipeline always
// comes to an end: finished(bool) is emitted exactly once, when no worker of
// the manager runs and nothing more can start. Marked packages that depend
// on each other in a cycle are installed in the order of their downloads.
//
// Emitting cancelRequest() cancels every running worker and starts no more;
// the manager finishes when their threads have ended. The destructor cancels
// and waits for any that still run, so no worker outlives the context. GUI
// thread only.
class ZelManagerDownloadManager : public QObject
{
    Q_OBJECT

public:
    // Parented to the context's operation model.
    explicit ZelManagerDownloadManager(ApplyContext *context);
    ~ZelManagerDownloadManager() override;

    // Starts what the limit allows. Called once; with nothing to install,
    // finished(false) is emitted at once.
    void start();
    // True until finished() has been emitted (after start()).
    bool isBusy() const { return m_state != State::Finished; }
    int errorCount() const { return m_errorCount; }

    QStringList downloadQueue() const { return m_downloadQueue; }
    QStringList installQueue() const { return m_installQueue; }
    // The marked packages that name still waits for.
    QStringList pending(const QString &name) const { return m_pending.value(name); }

signals:
    // True when at least one download or installation failed.
    void finished(bool failed);
    // Connected to every downloader's and installer's cancel().
    void cancelRequest();
    // A downloader's transfer advanced: bytes of name's archive received so
    // far and its size (-1 while unknown).
    void downloadProgress(const QString &name, qint64 received, qint64 total);

public slots:
    // Each starts one worker when there is one to start; true when it did.
    bool startInstallNext();
    bool startDownloadNext();
    void onInstallerFinished(bool ok);
    void onDownloaderFinished(bool ok);
    // Starts what the limit allows now, e.g. once the removals have ended.
    void resume();

private:
    // Idle -> Running (start()) -> Finished (finished() emitted, or the
    // manager is being destroyed; also straight from Idle then).
    enum class State { Idle, Running, Finished };

    void setState(State next);
    void setUpClaims(const QSet<QString> &members);
    void onCancelRequest();
    void schedule();
    bool hasRoom() const;
    QString nextReady() const;
    QString cycleMember() const;
    bool reaches(const QString &from, const QString &to) const;
    void failWaiting(const QString &failed);
    void failStuck();
    void fail(const QString &name, const QString &description);
    void finishIfDone();
    QString takeFinishedWorker();
    void admitInOrder();
    void admit(const QString &name);
    bool isHeldBack(const QString &name) const;
    bool waitsForRemovals() const;
    bool failsHandover(const QString &name);
    void releaseWaitingFor(const QString &name);

    int m_errorCount = 0;
    QStringList m_installQueue;
    QStringList m_downloadQueue;
    ApplyContext *m_context;
    ZelManagerOperationModel *m_model;
    QMap<QString, QStringList> m_pending;

    QHash<QString, QStringList> m_dependants; // requested package -> those that wait for it
    QSet<QString> m_failed;
    QStringList m_claimOrder; // downloads that have not claimed their files yet
    QSet<QString> m_verified; // downloaded, waiting for their turn to claim
    QSet<QString> m_admitted; // have claimed their files
    QSet<QString> m_replacing; // upgrades and reinstalls of installed packages
    QSet<QString> m_removals; // the run's removals
    QSet<QString> m_afterRemovals; // take files that removals give up
    QHash<QString, QSet<QString>> m_afterUpgrades; // take files those upgrades give up
    QList<QPointer<QThread>> m_workers; // running downloaders and installers
    QHash<QThread *, QString> m_workerNames;
    State m_state = State::Idle;
    // A request, not a step of the lifecycle: it may come before start()
    // (a removal's script turns the event loop while the run starts), and a
    // cancelled manager still runs until its workers have ended.
    bool m_canceled = false;
    int m_scheduling = 0; // nesting depth (scripts process events)
    bool m_scheduleAgain = false;
};

#endif // ZELMANAGERDOWNLOADMANAGER_H
