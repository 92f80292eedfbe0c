#ifndef ZELMANAGERSCRIPTENGINE_H
#define ZELMANAGERSCRIPTENGINE_H

#include <QObject>
#include <QScriptValue>
#include <QString>

class QScriptEngine;
class QTimer;

// Runs the maintainer scripts of packages ("preinst", "postinst", "prerm",
// "postrm"). One process-wide ECMAScript engine whose global object holds the
// fourteen file, process, environment and shortcut commands and three
// properties that tell a script about its situation:
//   installFolder  the folder relative paths are resolved against
//   operationType  the error kind under which command errors are filed
//   packageName    the package under which command errors are filed
// The globals persist between scripts: a value a script sets is seen by the
// scripts after it, and installFolder, operationType and packageName keep
// their last values until they are set again. A new engine starts with the
// settings' target folder, kind 0 and no package.
//
// A failing command files its message in the database's error list under
// packageName with kind operationType; argument and path errors also throw
// and end the script. A failed script never stops an installation or a
// removal: evaluate() returns false and keeps the text in lastError().
//
// Callers (the installer, the remover, the migration) run a script with
//     ZelManagerScriptEngine::instance()->evaluate(script, packageName, kind);
// which sets packageName and operationType first, so that every error of the
// script is filed under its own package. The apply run sets installFolder
// once before it starts.
//
// A script that never ends would hold the whole apply run: each evaluation
// is stopped after timeLimit() milliseconds (ten minutes unless set), a
// program that "exec" is waiting for is killed, and the stop is filed as an
// error of the package. Long scripts let the GUI process its events every
// 100 milliseconds, as "exec" does while it waits; a script that another
// worker starts meanwhile runs nested inside the waiting one under its own
// package, shares its time limit, and hands the globals back when it ends.
//
// GUI thread only.
class ZelManagerScriptEngine : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultTimeLimit = 10 * 60 * 1000;

    static ZelManagerScriptEngine *instance();
    static void cleanup();

    void setInstallFolder(const QString &folder);
    void setOperationType(int type);
    void setPackageName(const QString &name);
    QString installFolder() const;
    int operationType() const;
    QString packageName() const;

    // Trims the script and evaluates it; an empty script is not evaluated and
    // counts as success. False when the script ended with an uncaught
    // exception or was stopped; lastError() then holds its text.
    bool evaluate(const QString &script);
    // Sets packageName and operationType, then evaluates.
    bool evaluate(const QString &script, const QString &packageName, int operationType);
    QString lastError() const { return m_lastError; }

    // How long one evaluation may run, in milliseconds (nested scripts count
    // towards the outer one's time).
    void setTimeLimit(int milliseconds) { m_timeLimit = milliseconds; }
    int timeLimit() const { return m_timeLimit; }
    bool isEvaluating() const { return m_depth > 0; }

public slots:
    void onSignalHandlerException(const QScriptValue &exception);

private slots:
    void onTimeLimitReached();

private:
    friend class ScriptCommandCall;

    ZelManagerScriptEngine();
    ~ZelManagerScriptEngine() override;

    void setGlobal(const char *name, const QScriptValue &value);
    bool finishEvaluation();
    void recordError(const QString &description);
    // Set once the time limit has stopped the running evaluation; commands
    // that wait (exec) give up at once.
    bool isStopping() const { return m_stopping; }
    // The exception a command has thrown: already filed, not filed again
    // when it ends the script.
    void noteCommandError(const QScriptValue &error) { m_commandError = error; }

    QString m_lastError;
    QScriptEngine *m_engine;
    QTimer *m_watchdog;
    QScriptValue m_commandError;
    int m_timeLimit = DefaultTimeLimit;
    int m_depth = 0;
    bool m_stopping = false;

    static ZelManagerScriptEngine *s_instance;
};

#endif // ZELMANAGERSCRIPTENGINE_H
