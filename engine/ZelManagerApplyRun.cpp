#include "engine/ZelManagerApplyRun.h"

#include "engine/ApplyContext.h"
#include "engine/ZelManagerDownloadManager.h"
#include "engine/ZelManagerRemoveManager.h"
#include "engine/ZelManagerScriptEngine.h"
#include "integration/WindowsSupport.h"
#include "integration/ZelManagerTrigger.h"
#include "settings/ZelManagerSettings.h"
#include "ui/ZelManagerOperationModel.h"

#include <QEventLoop>

ZelManagerApplyRun::ZelManagerApplyRun(ZelManagerOperationModel *model, QObject *parent)
    : QObject(parent)
    , m_model(model)
{
    if (!m_model) {
        m_ownModel.reset(new ZelManagerOperationModel);
        m_model = m_ownModel.get();
    }
}

ZelManagerApplyRun::~ZelManagerApplyRun()
{
    if (!isRunning())
        return;
    QEventLoop loop;
    connect(this, &ZelManagerApplyRun::finished, &loop, &QEventLoop::quit);
    stop();
    if (isRunning())
        loop.exec();
}

bool ZelManagerApplyRun::start()
{
    if (isRunning())
        return false;
    setState(State::Running);
    m_errors.clear();
    m_removals = m_installations = Report::Pending;

    // The scripts' working folder, also before the first package arrives.
    const QString target = ZelManagerSettings::instance()->targetPath();
    makePath(target);
    ZelManagerScriptEngine::instance()->setInstallFolder(target);
    ZelManagerDatabase::instance()->beginTransaction();
    beginTriggers();
    m_model->refresh();
    m_context.reset(new ApplyContext(m_model, this));
    if (m_limit > 0)
        m_context->limit = m_limit;
    m_removeManager = new ZelManagerRemoveManager(m_context.get());
    m_downloadManager = new ZelManagerDownloadManager(m_context.get());
    connect(m_removeManager, &ZelManagerRemoveManager::finished, this, &ZelManagerApplyRun::onRemoveManagerFinished);
    connect(
        m_downloadManager, &ZelManagerDownloadManager::finished, this, &ZelManagerApplyRun::onDownloadManagerFinished);
    connect(
        m_downloadManager, &ZelManagerDownloadManager::downloadProgress, this, &ZelManagerApplyRun::downloadProgress);
    // Slots that the removals leave free go to the installations.
    connect(m_removeManager, &ZelManagerRemoveManager::finished, m_downloadManager, &ZelManagerDownloadManager::resume);
    m_removeManager->start();
    if (m_downloadManager)
        m_downloadManager->start();
    return true;
}

bool ZelManagerApplyRun::exec()
{
    QEventLoop loop;
    connect(this, &ZelManagerApplyRun::finished, &loop, &QEventLoop::quit);
    if (!start())
        return false;
    // The run may have ended already, inside a script started by start().
    if (isRunning())
        loop.exec();
    return ok();
}

// The context records the request: its workers and managers read it, and
// finishRun() reads it for the outcome. A stop that comes while the run
// finishes still makes the outcome Stopped; the managers have nothing left
// to cancel then.
void ZelManagerApplyRun::stop()
{
    if ((m_state != State::Running && m_state != State::Finishing) || m_context->stop)
        return;
    if (m_state == State::Running)
        setState(State::Stopping);
    m_context->stop = true;
    if (m_removeManager)
        emit m_removeManager->cancelRequest();
    if (m_downloadManager)
        emit m_downloadManager->cancelRequest();
}

void ZelManagerApplyRun::onRemoveManagerFinished(bool ok)
{
    m_removals = ok ? Report::Succeeded : Report::Failed;
    finishWhenIdle();
}

void ZelManagerApplyRun::onDownloadManagerFinished(bool failed)
{
    m_installations = failed ? Report::Failed : Report::Succeeded;
    finishWhenIdle();
}

// From the event loop: the last worker's handler is still on the stack when
// its manager reports, and the managers and the context go with the run.
void ZelManagerApplyRun::finishWhenIdle()
{
    if (m_state != State::Running && m_state != State::Stopping)
        return;
    if (m_removals == Report::Pending || m_installations == Report::Pending)
        return;
    setState(State::Finishing);
    QMetaObject::invokeMethod(this, &ZelManagerApplyRun::finishRun, Qt::QueuedConnection);
}

void ZelManagerApplyRun::finishRun()
{
    finishTriggers();
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    // Each package's outcome is committed when it ends; this commit stores
    // the recomputed states. Either failing fails the run.
    const bool stored = database->endTransaction(true);
    if (!stored) {
        database->addError(QString(), ZelManagerDatabase::ErrorInstall,
            tr("Can not store the outcome of the run in the package database: %1").arg(database->writeError()));
    }
    const QList<qint64> ids = database->errorIds();
    for (const qint64 id : ids)
        m_errors.append(database->error(id));
    delete m_removeManager;
    m_removeManager = nullptr;
    delete m_downloadManager;
    m_downloadManager = nullptr;
    const bool stopped = m_context->stop;
    m_context.reset();
    if (stopped)
        m_outcome = Stopped;
    else
        m_outcome
            = stored && m_removals == Report::Succeeded && m_installations == Report::Succeeded ? Succeeded : Failed;
    setState(State::Idle);
    emit finished(ok());
}

// A transition the lifecycle does not allow is a programming error: it is
// refused (and asserted in debug builds).
void ZelManagerApplyRun::setState(State next)
{
    Q_ASSERT_X(canMove(m_state, next), "ZelManagerApplyRun::setState", "transition not allowed");
    if (canMove(m_state, next))
        m_state = next;
}

bool ZelManagerApplyRun::canMove(State from, State to)
{
    switch (from) {
    case State::Idle:
        return to == State::Running;
    case State::Running:
        return to == State::Stopping || to == State::Finishing;
    case State::Stopping:
        return to == State::Finishing;
    case State::Finishing:
        return to == State::Idle;
    }
    return false;
}
