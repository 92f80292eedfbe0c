#ifndef ZELMANAGERAPPLYRUN_H
#define ZELMANAGERAPPLYRUN_H

#include "database/ZelManagerDatabase.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <memory>

class ZelManagerDownloadManager;
class ZelManagerOperationModel;
class ZelManagerRemoveManager;
struct ApplyContext;

// One apply run of every marked operation, without widgets: the apply panel
// drives it, tests and tools run it directly.
//
// start() opens a database batch, begins the triggers, refreshes the
// operation model from the marks, creates the run's context and both
// managers, and starts the removals, then the installations. The run moves
// only when workers report (no polling); when both managers have finished,
// the triggers finish, the batch ends with a refresh, the errors of the run
// are read, the managers and the context are released and finished(bool)
// is emitted. exec() does all of this and returns when the run has ended,
// turning the event loop meanwhile.
//
// stop() asks every running worker to stop and starts no new one; the run
// then ends as above once their threads have ended, so the context is
// released only when no worker uses it any more. Stopping does not block: a
// stop requested from inside a script's event loop takes effect when the
// script returns.
class ZelManagerApplyRun : public QObject
{
    Q_OBJECT

public:
    enum Outcome { NotStarted, Running, Succeeded, Failed, Stopped };

    // Uses model for the run's operations (refreshing it at the start), or
    // a model of its own when none is given.
    explicit ZelManagerApplyRun(ZelManagerOperationModel *model = nullptr, QObject *parent = nullptr);
    // A run still going on is stopped and waited for; do not destroy a run
    // from a worker's or a script's callback.
    ~ZelManagerApplyRun() override;

    // How many workers may run at once; 0 (the default) keeps the context's
    // own limit (processor count less two, at least one).
    void setLimit(int limit) { m_limit = limit; }

    // False when a run is going on already.
    bool start();
    // Starts and waits; true when the run succeeded.
    bool exec();

    bool isRunning() const { return m_state != State::Idle; }
    Outcome outcome() const { return isRunning() ? Running : m_outcome; }
    bool ok() const { return outcome() == Succeeded; }
    // The error list of the run, in the database's order (read at its end).
    QList<ZelManagerDatabase::ErrorRecord> errors() const { return m_errors; }

    ZelManagerOperationModel *operationModel() const { return m_model; }
    // While the run is going on.
    ApplyContext *context() const { return m_context.get(); }
    ZelManagerDownloadManager *downloadManager() const { return m_downloadManager; }
    ZelManagerRemoveManager *removeManager() const { return m_removeManager; }

public slots:
    void stop();

signals:
    void finished(bool ok);
    // The download manager's progress of one archive (bytes received, size
    // or -1 while unknown).
    void downloadProgress(const QString &name, qint64 received, qint64 total);

private slots:
    void onRemoveManagerFinished(bool ok);
    void onDownloadManagerFinished(bool failed);
    void finishRun();

private:
    // The run's lifecycle:
    //   Idle -> Running -> Finishing -> Idle
    //   Running -> Stopping -> Finishing
    // Running: the managers work. Stopping: stop() has told them to cancel
    // their workers; the run waits for them as before. Finishing: both have
    // reported and finishRun() is queued. Idle before the first run and
    // after each (outcome() tells how the last one ended).
    enum class State { Idle, Running, Stopping, Finishing };
    // What a manager has reported. The two managers report independently and
    // in either order, so their reports are facts of the run, not steps of
    // its lifecycle; together they decide the outcome of a run that was not
    // stopped.
    enum class Report { Pending, Succeeded, Failed };

    void setState(State next);
    static bool canMove(State from, State to);
    void finishWhenIdle();

    ZelManagerOperationModel *m_model;
    std::unique_ptr<ZelManagerOperationModel> m_ownModel;
    std::unique_ptr<ApplyContext> m_context;
    ZelManagerRemoveManager *m_removeManager = nullptr;
    ZelManagerDownloadManager *m_downloadManager = nullptr;
    QList<ZelManagerDatabase::ErrorRecord> m_errors;
    State m_state = State::Idle;
    Report m_removals = Report::Pending;
    Report m_installations = Report::Pending;
    // How the last run ended; never Running (outcome() derives that from the
    // state).
    Outcome m_outcome = NotStarted;
    int m_limit = 0;
};

#endif // ZELMANAGERAPPLYRUN_H
