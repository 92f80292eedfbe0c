#ifndef SCRIPTCOMMANDCALL_H
#define SCRIPTCOMMANDCALL_H

#include <QCoreApplication>
#include <QScriptValue>
#include <QString>
#include <QStringList>

class QScriptContext;
class QScriptEngine;
class ZelManagerScriptEngine;

// One call of a built-in script command: its arguments, the package and
// error kind it files errors under (read from the globals when the call
// begins), path resolution and pattern expansion, and error reporting.
class ScriptCommandCall
{
    Q_DECLARE_TR_FUNCTIONS(ZelManagerScriptEngine)

public:
    ScriptCommandCall(const char *name, QScriptContext *context, QScriptEngine *engine);

    QString name() const { return m_name; }
    int count() const;
    QString argument(int index) const;
    QStringList arguments(int from) const;
    // Whether the argument converts to a non-zero integer.
    bool isSet(int index) const;

    QString installFolder() const;
    // A relative path is taken below installFolder.
    QString resolve(const QString &path) const;
    QStringList resolveAndExpand(int index) const;
    // A path without "*" is its own single result, whether it exists or not;
    // otherwise the existing entries that match, folder level by folder level.
    static QStringList expand(const QString &pattern);

    // Files "<command>: needs N ..." and throws it.
    QScriptValue argumentCountError(int needed, bool exact) const;
    // Files the command name followed by text; the command goes on.
    void record(const QString &text) const;
    // Files the command name followed by text and throws it: the script ends.
    QScriptValue fail(const QString &text) const;
    // True once the evaluation is being stopped for running too long.
    bool isStopping() const;

private:
    QScriptValue throwError(const QString &message) const;
    void file(const QString &message) const;
    ZelManagerScriptEngine *owner() const;

    QString m_name;
    QScriptContext *m_context;
    QScriptEngine *m_engine;
    QString m_packageName;
    int m_kind;
};

#endif // SCRIPTCOMMANDCALL_H
