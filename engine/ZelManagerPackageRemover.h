#ifndef ZELMANAGERPACKAGEREMOVER_H
#define ZELMANAGERPACKAGEREMOVER_H

#include "database/PackageInfo.h"
#include "database/ZelManagerPackage.h"
#include "engine/ZelManagerTargetFolder.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class HostProcessRelease;
class ZelManagerDatabase;
class ZelManagerOperationModel;
class ZelManagerRemoveWorker;
class ZelManagerSettings;
struct ApplyContext;

// Removes the installed version of one package: the prerm script and the
// triggers' removeFile() run on the GUI thread, the files are deleted in the
// run's remove worker thread (run()), then the postrm script runs and the
// package is recorded as not installed. Used by the remove manager for marked
// removals and by the installer before an upgrade or a reinstall.
//
// Files are deleted only below the target folder: a recorded path that is
// absolute, climbs with ".." or leads through a link out of the folder is
// reported as a failed file and nothing outside is touched. A library or
// program that a running process holds is released first (its holders are
// asked to end, then ended), so that no program keeps running from a
// removed package.
//
// A remover that failed (some file could not be deleted) leaves the package
// recorded as installed with one "Failed to remove: %1" error per file; a
// cancelled one leaves the database as it was. finished(bool) comes exactly
// once after start(); the owner deletes the remover afterwards.
class ZelManagerPackageRemover : public QObject
{
    Q_OBJECT

public:
    // The remover is parented to the context's operation model. The
    // installed version's entry is read from the database, or given by a
    // caller that has read it already.
    ZelManagerPackageRemover(ApplyContext *context, const QString &name);
    ZelManagerPackageRemover(ApplyContext *context, const QString &name, const PackageInfo &installed);
    // Stops the deletion and waits for it, so that a remover never goes
    // while its files are still being deleted.
    ~ZelManagerPackageRemover() override;

    QString name() const { return m_name; }
    // Makes the remover the switch of a staged upgrade or reinstall: its
    // thread first moves each staged file (installed names below the target
    // folder, see ZelManagerTargetFolder::stagedName()) into place, then
    // deletes the old files that the new version does not have. The switch
    // is not stopped half way, and the installer records the outcome (and
    // keeps the journal), not the remover. The switch succeeds when every
    // staged file is in place, even if an old file could not be deleted
    // (failedFiles() names those, with an error each). Before start().
    void setReplacement(const QStringList &stagedFiles);

    // Runs prerm and the triggers' removeFile(), then queues the deletion.
    // Called once, right after construction.
    void start();

    // Read after finished(): every folder part of the removed paths, each
    // prefix once (for a/b/c.txt: a and a/b).
    QStringList folders() const { return m_folders; }
    // Listed paths that could not be deleted; of a switch, also the staged
    // files that could not be moved into place.
    QStringList failedFiles() const { return m_failedFiles; }
    QStringList failedSwitches() const { return m_failedSwitches; }

signals:
    // True when the package is removed.
    void finished(bool ok);

public slots:
    void cancel();

private:
    // Idle -> Removing -> Completing -> Finished, each step entered once.
    // Removing covers prerm, the triggers and the deletion;
    // Completing reports the failed files or runs postrm and records the
    // removal. The remover is counted running in the context from Removing
    // to Completing, and emits finished(bool) on entering Finished.
    enum class State { Idle, Removing, Completing, Finished };

    void queueDeletion();
    void run();
    void onDeletionFinished();
    void setState(State next);
    void setStatus(PackageStatus status, const QString &message = QString());
    void setProgress(int value);
    void callTriggers();
    bool recordRemoval();
    bool finishRemoval();
    void switchStagedFiles();
    bool removeFile(const QString &target);
    bool removeOnce(const QString &target);
    void removeCompanions(const QString &target);
    void removeManualIndex();
    const QSet<QString> &namesIn(const QString &folder);
    void removeListed(const QString &folder, const QString &name);

    QString m_name;
    QElapsedTimer m_progressTimer;
    QStringList m_folders;
    QStringList m_removedUnfixedFiles;
    QStringList m_failedFiles;
    ApplyContext *m_context;
    ZelManagerPackage m_package;
    PackageInfo m_info;
    ZelManagerSettings *m_settings;
    ZelManagerDatabase *m_database;
    ZelManagerOperationModel *m_model;
    std::atomic<bool> m_stop { false };
    bool m_replacing = false;
    QStringList m_stagedFiles;
    QStringList m_failedSwitches;
    QSet<QString> m_keptKeys; // pathKey() of the staged files
    QString m_journalError; // the removal could not be journaled
    bool m_recordFailed = false; // done, but not recorded: the journal stays
    std::shared_ptr<ZelManagerRemoveWorker> m_worker;
    std::shared_ptr<const ZelManagerTargetFolder> m_targetPrototype; // the run's, copied in run()
    quint64 m_job = 0; // the deletion's ticket with the worker, 0 before it

    // Worker thread only.
    ZelManagerTargetFolder m_target; // targetPath()
    HostProcessRelease *m_release = nullptr;
    QHash<QString, QSet<QString>> m_folderNames; // namesIn(), for one removal
    bool m_removedManual = false;
    State m_state = State::Idle;
};

#endif // ZELMANAGERPACKAGEREMOVER_H
