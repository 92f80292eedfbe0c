#include "engine/ScriptCommandCall.h"

#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerScriptEngine.h"

#include <QDir>
#include <QFileInfo>
#include <QScriptContext>
#include <QScriptEngine>

namespace {

const QChar Wildcard = QLatin1Char('*');

// Walks parts from index below base (a folder path ending in "/"): parts
// without a wildcard extend the folder, the first part with one is matched
// against the folder's entries. Only entries that exist are results.
void expandFrom(QString base, const QStringList &parts, int index, QStringList &results)
{
    while (index < parts.size() && !parts.at(index).contains(Wildcard))
        base += parts.at(index++) + QLatin1Char('/');
    if (index == parts.size()) {
        base.chop(1);
        if (QFileInfo::exists(base))
            results << base;
        return;
    }
    const bool last = index == parts.size() - 1;
    const QFileInfoList entries = QDir(base).entryInfoList(QStringList(parts.at(index)),
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &entry : entries) {
        if (last)
            results << entry.absoluteFilePath();
        else if (entry.isDir())
            expandFrom(entry.absoluteFilePath() + QLatin1Char('/'), parts, index + 1, results);
    }
}

} // namespace

ScriptCommandCall::ScriptCommandCall(const char *name, QScriptContext *context, QScriptEngine *engine)
    : m_name(QLatin1String(name))
    , m_context(context)
    , m_engine(engine)
{
    const QScriptValue global = engine->globalObject();
    m_packageName = global.property(QStringLiteral("packageName")).toString();
    m_kind = global.property(QStringLiteral("operationType")).toInt32();
}

int ScriptCommandCall::count() const
{
    return m_context->argumentCount();
}

QString ScriptCommandCall::argument(int index) const
{
    return m_context->argument(index).toString();
}

QStringList ScriptCommandCall::arguments(int from) const
{
    QStringList list;
    for (int i = from; i < count(); ++i)
        list << argument(i);
    return list;
}

bool ScriptCommandCall::isSet(int index) const
{
    return m_context->argument(index).toInt32() != 0;
}

QString ScriptCommandCall::installFolder() const
{
    return m_engine->globalObject().property(QStringLiteral("installFolder")).toString();
}

QString ScriptCommandCall::resolve(const QString &path) const
{
    // Scripts are written for Windows, where a backslash separates folders as well.
    QString resolved = path;
    resolved.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QFileInfo(resolved).isRelative() ? installFolder() + QLatin1Char('/') + resolved : resolved;
}

QStringList ScriptCommandCall::resolveAndExpand(int index) const
{
    return expand(resolve(argument(index)));
}

QStringList ScriptCommandCall::expand(const QString &pattern)
{
    if (!pattern.contains(Wildcard))
        return QStringList(pattern);
    // Leading slashes stay: "/usr/..." is a root path on this host.
    int lead = 0;
    while (lead < pattern.size() && pattern.at(lead) == QLatin1Char('/'))
        ++lead;
    QStringList results;
    expandFrom(pattern.left(lead), pattern.split(QLatin1Char('/'), Qt::SkipEmptyParts), 0, results);
    return results;
}

QScriptValue ScriptCommandCall::argumentCountError(int needed, bool exact) const
{
    QString text;
    if (exact && needed == 1)
        text = tr("%1: needs 1 argument");
    else if (exact)
        text = tr("%1: needs 2 arguments");
    else if (needed == 1)
        text = tr("%1: needs 1 or more arguments");
    else if (needed == 2)
        text = tr("%1: needs 2 or more arguments");
    else
        text = tr("%1: needs 3 or more arguments");
    return throwError(text.arg(m_name));
}

void ScriptCommandCall::record(const QString &text) const
{
    file(m_name + text);
}

QScriptValue ScriptCommandCall::fail(const QString &text) const
{
    return throwError(m_name + text);
}

bool ScriptCommandCall::isStopping() const
{
    const ZelManagerScriptEngine *engine = owner();
    return engine && engine->isStopping();
}

QScriptValue ScriptCommandCall::throwError(const QString &message) const
{
    file(message);
    const QScriptValue error = m_context->throwError(message);
    if (ZelManagerScriptEngine *engine = owner())
        engine->noteCommandError(error);
    return error;
}

void ScriptCommandCall::file(const QString &message) const
{
    ZelManagerDatabase::instance()->addError(m_packageName, m_kind, message);
}

ZelManagerScriptEngine *ScriptCommandCall::owner() const
{
    return qobject_cast<ZelManagerScriptEngine *>(m_engine->parent());
}
