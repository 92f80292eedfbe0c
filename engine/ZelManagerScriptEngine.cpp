#include "engine/ZelManagerScriptEngine.h"

#include "database/ZelManagerDatabase.h"
#include "engine/ScriptCommands.h"
#include "settings/ZelManagerSettings.h"

#include <QScriptEngine>
#include <QTimer>

ZelManagerScriptEngine *ZelManagerScriptEngine::s_instance = nullptr;

namespace {

// How often a long-running script lets the GUI process its events; the time
// limit is noticed at the same moments.
const int EventInterval = 100;

} // namespace

ZelManagerScriptEngine *ZelManagerScriptEngine::instance()
{
    if (!s_instance)
        s_instance = new ZelManagerScriptEngine;
    return s_instance;
}

void ZelManagerScriptEngine::cleanup()
{
    delete s_instance;
    s_instance = nullptr;
}

ZelManagerScriptEngine::ZelManagerScriptEngine()
    : m_engine(new QScriptEngine(this))
    , m_watchdog(new QTimer(this))
{
    m_watchdog->setSingleShot(true);
    connect(m_watchdog, &QTimer::timeout, this, &ZelManagerScriptEngine::onTimeLimitReached);
    connect(m_engine, &QScriptEngine::signalHandlerException, this, &ZelManagerScriptEngine::onSignalHandlerException);
    m_engine->setProcessEventsInterval(EventInterval);
    registerScriptCommands(m_engine);
    // Package paths are relative to the target folder; the apply run sets it
    // again before each run.
    setInstallFolder(ZelManagerSettings::instance()->targetPath());
    setOperationType(0);
    setPackageName(QString());
}

ZelManagerScriptEngine::~ZelManagerScriptEngine() = default;

void ZelManagerScriptEngine::setGlobal(const char *name, const QScriptValue &value)
{
    m_engine->globalObject().setProperty(QLatin1String(name), value, QScriptValue::KeepExistingFlags);
}

void ZelManagerScriptEngine::setInstallFolder(const QString &folder)
{
    setGlobal("installFolder", QScriptValue(folder));
}

void ZelManagerScriptEngine::setOperationType(int type)
{
    setGlobal("operationType", QScriptValue(type));
}

void ZelManagerScriptEngine::setPackageName(const QString &name)
{
    setGlobal("packageName", QScriptValue(name));
}

QString ZelManagerScriptEngine::installFolder() const
{
    return m_engine->globalObject().property(QStringLiteral("installFolder")).toString();
}

int ZelManagerScriptEngine::operationType() const
{
    return m_engine->globalObject().property(QStringLiteral("operationType")).toInt32();
}

QString ZelManagerScriptEngine::packageName() const
{
    return m_engine->globalObject().property(QStringLiteral("packageName")).toString();
}

bool ZelManagerScriptEngine::evaluate(const QString &script)
{
    const QString text = script.trimmed();
    if (text.isEmpty())
        return true;
    if (m_depth == 0) {
        m_stopping = false;
        m_watchdog->start(m_timeLimit);
    }
    ++m_depth;
    m_engine->evaluate(text, QString(), 1);
    --m_depth;
    const bool ok = finishEvaluation();
    if (m_depth == 0)
        m_watchdog->stop();
    return ok;
}

bool ZelManagerScriptEngine::evaluate(const QString &script, const QString &packageName, int operationType)
{
    const QString outerName = this->packageName();
    const int outerType = this->operationType();
    setPackageName(packageName);
    setOperationType(operationType);
    const bool ok = evaluate(script);
    // A script that ran while another one waited: the waiting one carries on
    // under its own package.
    if (isEvaluating()) {
        setPackageName(outerName);
        setOperationType(outerType);
    }
    return ok;
}

bool ZelManagerScriptEngine::finishEvaluation()
{
    if (m_stopping) {
        m_lastError = tr("script stopped after running for more than %1 seconds").arg(m_timeLimit / 1000.0);
        recordError(m_lastError);
        m_engine->clearExceptions();
        return false;
    }
    if (!m_engine->hasUncaughtException())
        return true;
    const QScriptValue exception = m_engine->uncaughtException();
    m_lastError = exception.toString();
    // Errors of the script itself (syntax, unknown names, its own throw) would
    // otherwise go unnoticed; the commands have filed theirs already.
    if (!exception.strictlyEquals(m_commandError))
        recordError(tr("script error in line %1: %2").arg(m_engine->uncaughtExceptionLineNumber()).arg(m_lastError));
    m_engine->clearExceptions();
    m_commandError = QScriptValue();
    return false;
}

void ZelManagerScriptEngine::recordError(const QString &description)
{
    ZelManagerDatabase::instance()->addError(packageName(), operationType(), description);
}

void ZelManagerScriptEngine::onTimeLimitReached()
{
    if (m_depth == 0)
        return;
    m_stopping = true;
    m_engine->abortEvaluation(QScriptValue(tr("script stopped")));
}

void ZelManagerScriptEngine::onSignalHandlerException(const QScriptValue &exception)
{
    Q_UNUSED(exception)
}
