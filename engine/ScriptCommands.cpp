#include "engine/ScriptCommands.h"

#include "engine/ScriptCommandCall.h"
#include "engine/ZelManagerTargetFolder.h"
#include "integration/HostRegistryKey.h"
#include "integration/ShellLink.h"
#include "integration/WindowsSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QScriptContext>
#include <QScriptEngine>
#include <QStandardPaths>

namespace {

using Tr = ScriptCommandCall;

const qint64 PieceSize = 40960;
// A chatty program must not fill the memory or the error list: only the end
// of its output is kept.
const int OutputKept = 64 * 1024;

// ---- files ----

QString destinationFor(const QString &source, const QString &target, bool intoFolder)
{
    return intoFolder ? target + QLatin1Char('/') + QFileInfo(source).fileName() : target;
}

// Copying a file onto itself would truncate it (and "move" would then delete
// it): such a pair is left alone.
bool isSameFile(const QString &source, const QString &destination)
{
    const QString canonical = QFileInfo(source).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(destination).canonicalFilePath();
}

// Copies in pieces into a temporary file that replaces the destination only
// when complete, so a failed copy leaves the old destination as it was.
bool copyFile(const ScriptCommandCall &call, const QString &source, const QString &destination)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        call.record(Tr::tr(": can not read file %1").arg(source));
        return false;
    }
    QSaveFile out(destination);
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly)) {
        call.record(Tr::tr(": can not write file %1").arg(destination));
        return false;
    }
    QByteArray piece;
    while (!(piece = in.read(PieceSize)).isEmpty()) {
        if (out.write(piece) != piece.size())
            break;
    }
    if (in.error() != QFileDevice::NoError) {
        out.cancelWriting();
        call.record(Tr::tr(": can not read file %1").arg(source));
        return false;
    }
    if (!out.commit()) {
        call.record(Tr::tr(": can not write file %1").arg(destination));
        return false;
    }
    // Programs and scripts stay executable.
    QFile::setPermissions(destination, in.permissions());
    return true;
}

// A target that names a folder ("x/") is made; for a file target, its folder.
bool prepareTarget(const QString &target)
{
    if (target.endsWith(QLatin1Char('/')))
        makePath(target);
    else if (!QFileInfo(target).isDir())
        makePath(QFileInfo(target).absolutePath());
    return QFileInfo(target).isDir();
}

QScriptValue copyCommand(QScriptContext *context, QScriptEngine *engine)
{
    const ScriptCommandCall call("copy", context, engine);
    if (call.count() < 2)
        return call.argumentCountError(2, false);
    const QString pattern = call.resolve(call.argument(call.count() - 1));
    const QStringList targets = ScriptCommandCall::expand(pattern);
    if (targets.size() != 1)
        return call.fail(Tr::tr(": target folder invalid: %1").arg(pattern));
    const QString target = targets.first();
    const bool intoFolder = prepareTarget(target);
    for (int i = 0; i < call.count() - 1; ++i) {
        for (const QString &source : call.resolveAndExpand(i)) {
            const QString destination = destinationFor(source, target, intoFolder);
            if (!QFileInfo(source).isDir() && !isSameFile(source, destination))
                copyFile(call, source, destination);
        }
    }
    return engine->undefinedValue();
}

QScriptValue moveCommand(QScriptContext *context, QScriptEngine *engine)
{
    const ScriptCommandCall call("move", context, engine);
    if (call.count() != 2)
        return call.argumentCountError(2, true);
    const QStringList sources = call.resolveAndExpand(0);
    const QStringList targets = call.resolveAndExpand(1);
    if (targets.size() != 1)
        return call.fail(Tr::tr(": target invalid"));
    if (sources.isEmpty())
        return call.fail(Tr::tr(": source file invalid"));
    const QString target = targets.first();
    const bool intoFolder = prepareTarget(target);
    // Several files moved onto one path would each replace the one before.
    if (sources.size() > 1 && !intoFolder)
        return call.fail(Tr::tr(": target must be folder for multiple sources"));
    for (const QString &source : sources) {
        const QString destination = destinationFor(source, target, intoFolder);
        if (isSameFile(source, destination) || !copyFile(call, source, destination))
            continue; // the source stays unless its copy is complete
        if (!QFile::remove(source))
            call.record(Tr::tr(": can not remove file %1").arg(source));
    }
    return engine->undefinedValue();
}

QScriptValue removeCommand(QScriptContext *context, QScriptEngine *engine)
{
    const ScriptCommandCall call("remove", context, engine);
    if (call.count() < 1)
        return call.argumentCountError(1, false);
    for (int i = 0; i < call.count(); ++i) {
        for (const QString &match : call.resolveAndExpand(i)) {
            if (QFileInfo(match).isFile() && !QFile::remove(match))
                call.record(Tr::tr(": can not remove file %1").arg(match));
        }
    }
    return engine->undefinedValue();
}

QScriptValue renameCommand(QScriptContext *context, QScriptEngine *engine)
{
    const ScriptCommandCall call("rename", context, engine);
    if (call.count() != 2)
        return call.argumentCountError(2, true);
    const QString sourcePattern = call.resolve(call.argument(0));
    const QStringList sources = ScriptCommandCall::expand(sourcePattern);
    if (sources.size() != 1)
        return call.fail(Tr::tr(": source file invalid: %1").arg(sourcePattern));
    const QString targetPattern = call.resolve(call.argument(1));
    const QStringList targets = ScriptCommandCall::expand(targetPattern);
    if (targets.size() != 1)
        return call.fail(Tr::tr(": target file invalid: %1").arg(targetPattern));
    if (!QFile::rename(sources.first(), targets.first()))
        return call.fail(Tr::tr(": failed to rename %1 to %2").arg(sources.first(), targets.first()));
    return engine->undefinedValue();
}

// Works on the bytes, so that the parts of a file that are not UTF-8 come back
// unchanged; for UTF-8 text it is the same as replacing characters.
QScriptValue replaceTextCommand(QScriptContext *context, QScriptEngine *engine)
{
    const ScriptCommandCall call("replacetext", context, engine);
    if (call.count() < 3)
        return call.argumentCountError(3, false);
    const QByteArray before = call.argument(0).toUtf8();
    const QByteArray after = call.argument(1).toUtf8();
    for (int i = 2; i < call.count(); ++i) {
        const QString path = call.resolve(call.argument(i));
        QFile in(path);
        if (!in.open(QIODevice::ReadOnly)) {
            call.record(Tr::tr(": can not read file %1").arg(path));
            continue;
        }
        QByteArray data = in.readAll();
        in.close();
        if (before.isEmpty() || !data.contains(before))
            continue;
        data.replace(before, after);
        QSaveFile out(path);
        out.setDirectWriteFallback(true);
        if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit())
            call.record(Tr::tr(": can not write file %1").arg(path));
    }
    return engine->undefinedValue();
}

QScriptValue findFilePathCommand(QScriptContext *context, QScriptEngine *engine)
{
    const ScriptCommandCall call("findfilepath", context, engine);
    if (call.count() != 1)
        return call.argumentCountError(1, true);
    const QString pattern = call.resolve(call.argument(0));
    const QStringList matches = ScriptCommandCall::expand(pattern);
    if (matches.size() != 1)
        return call.fail(Tr::tr(": file not match exact 1 file: %1").arg(pattern));
    return QScriptValue(matches.first());
}

// ---- processes ----

void appendOutput(QByteArray &output, QProcess &process)
{
    output += process.readAllStandardError();
    output += process.readAllStandardOutput();
    if (output.size() > 2 * OutputKept)
        output = "...\n" + output.right(OutputKept);
}

// Waits with the GUI alive; a script stopped for running too long takes the
// program down with it.
void runProgram(const ScriptCommandCall &call, const QString &program, const QStringList &arguments,
    const QString &folder, bool check)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    // Nobody answers a program that asks for input: it reads end-of-file.
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments, QIODevice::ReadOnly);
    QByteArray output;
    while (process.state() != QProcess::NotRunning) {
        if (call.isStopping()) {
            process.kill();
            process.waitForFinished(5000);
            break;
        }
        process.waitForFinished(100);
        QCoreApplication::processEvents();
        appendOutput(output, process);
    }
    appendOutput(output, process);
    if (!check || call.isStopping())
        return;
    if (process.error() == QProcess::FailedToStart)
        call.record(Tr::tr(": can not start program %1").arg(program));
    else if (process.exitStatus() == QProcess::CrashExit)
        call.record(Tr::tr(": program crashed, output:\n%1").arg(QString::fromUtf8(output)));
    else if (process.exitCode() != 0)
        call.record(Tr::tr(": program exits with code %1, output:\n%2")
                        .arg(QString::number(process.exitCode()), QString::fromUtf8(output)));
}

QScriptValue execCommand(QScriptContext *context, QScriptEngine *engine)
{
    const ScriptCommandCall call("exec", context, engine);
    if (call.count() < 1)
        return call.argumentCountError(1, false);
    const QString program = call.resolve(call.argument(0));
    const QStringList programs = ScriptCommandCall::expand(program);
    if (programs.size() != 1)
        return call.fail(Tr::tr(": program path invalid: %1").arg(program));
    QString folder = call.installFolder();
    if (call.count() >= 3 && !call.argument(2).isEmpty()) {
        const QString pattern = call.resolve(call.argument(2));
        const QStringList folders = ScriptCommandCall::expand(pattern);
        if (folders.size() != 1)
            return call.fail(
                Tr::tr(": working folder invalid: %1, matched: %2").arg(pattern, folders.join(QLatin1Char(';'))));
        folder = folders.first();
    }
    const bool check = call.count() == 1 || call.isSet(1);
    runProgram(call, programs.first(), call.arguments(3), folder, check);
    return engine->undefinedValue();
}

// ---- environment ----

QScriptValue setEnvCommand(QScriptContext *context, QScriptEngine *engine)
{
    const ScriptCommandCall call("setenv", context, engine);
    if (call.count() != 2)
        return call.argumentCountError(2, true);
    bool written = false;
    {
        HostRegistryKey key;
        if (!key.open(HostRegistryKey::LocalMachine, QLatin1String(MachineEnvironmentKey)))
            key.open(HostRegistryKey::CurrentUser, QLatin1String(UserEnvironmentKey));
        written = key.setString(call.argument(0), call.argument(1), HostRegistryKey::ExpandString);
        key.close();
    }
    if (!written)
        call.record(Tr::tr(": can not set variable %1").arg(call.argument(0)));
    broadcastEnvironmentChange();
    return engine->undefinedValue();
}

QScriptValue addEnvPathCommand(QScriptContext *context, QScriptEngine *engine)
{
    const ScriptCommandCall call("addenvpath", context, engine);
    if (call.count() != 1)
        return call.argumentCountError(1, true);
    addToSystemPath(call.argument(0));
    return engine->undefinedValue();
}

QScriptValue rmEnvPathCommand(QScriptContext *context, QScriptEngine *engine)
{
    const ScriptCommandCall call("rmenvpath", context, engine);
    if (call.count() != 1)
        return call.argumentCountError(1, true);
    removeFromSystemPath(call.resolve(call.argument(0)));
    return engine->undefinedValue();
}

// ---- shortcuts ----

QString menuLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
}

QString desktopLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

// The link argument below the location, relative and clean; empty when it
// would lead out of the location.
QString linkBelow(const QString &location, QString link)
{
    link.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (link.startsWith(QLatin1Char('/')))
        link.remove(0, 1);
    return ZelManagerTargetFolder(location).relativePath(link);
}

QScriptValue addShortcut(const ScriptCommandCall &call, QScriptEngine *engine, const QString &location)
{
    const QString link = linkBelow(location, call.argument(0));
    if (link.isEmpty())
        return call.fail(Tr::tr(": link path invalid: %1").arg(call.argument(0)));
    const QString path = location + QLatin1Char('/') + link;
    ShellLink shortcut;
    shortcut.setPath(QDir::toNativeSeparators(call.resolve(call.argument(1))));
    shortcut.setArguments(call.arguments(2));
    if (!shortcut.save(path))
        call.record(Tr::tr(": can not write file %1").arg(path));
    return engine->undefinedValue();
}

// Deletes the shortcut, then each of its folders below the location that it
// leaves empty.
QScriptValue removeShortcut(const ScriptCommandCall &call, QScriptEngine *engine, const QString &location)
{
    const QString link = linkBelow(location, call.argument(0));
    if (link.isEmpty())
        return call.fail(Tr::tr(": link path invalid: %1").arg(call.argument(0)));
    ShellLink::remove(location + QLatin1Char('/') + link);
    ZelManagerTargetFolder(location).removeEmptyFoldersFrom(QFileInfo(link).path());
    return engine->undefinedValue();
}

QScriptValue addMenuLinkCommand(QScriptContext *context, QScriptEngine *engine)
{
    const ScriptCommandCall call("addmenulnk", context, engine);
    if (call.count() < 2)
        return call.argumentCountError(2, false);
    return addShortcut(call, engine, menuLocation());
}

QScriptValue addDesktopLinkCommand(QScriptContext *context, QScriptEngine *engine)
{
    const ScriptCommandCall call("adddesktoplnk", context, engine);
    if (call.count() != 2)
        return call.argumentCountError(2, true);
    return addShortcut(call, engine, desktopLocation());
}

QScriptValue rmMenuLinkCommand(QScriptContext *context, QScriptEngine *engine)
{
    const ScriptCommandCall call("rmmenulnk", context, engine);
    if (call.count() != 1)
        return call.argumentCountError(1, true);
    return removeShortcut(call, engine, menuLocation());
}

QScriptValue rmDesktopLinkCommand(QScriptContext *context, QScriptEngine *engine)
{
    const ScriptCommandCall call("rmdesktoplnk", context, engine);
    if (call.count() != 1)
        return call.argumentCountError(1, true);
    return removeShortcut(call, engine, desktopLocation());
}

} // namespace

void registerScriptCommands(QScriptEngine *engine)
{
    static const struct
    {
        const char *name;
        QScriptEngine::FunctionSignature function;
    } commands[] = {
        { "exec", execCommand },
        { "copy", copyCommand },
        { "move", moveCommand },
        { "remove", removeCommand },
        { "rename", renameCommand },
        { "setenv", setEnvCommand },
        { "addenvpath", addEnvPathCommand },
        { "rmenvpath", rmEnvPathCommand },
        { "rmmenulnk", rmMenuLinkCommand },
        { "addmenulnk", addMenuLinkCommand },
        { "rmdesktoplnk", rmDesktopLinkCommand },
        { "adddesktoplnk", addDesktopLinkCommand },
        { "replacetext", replaceTextCommand },
        { "findfilepath", findFilePathCommand },
    };
    QScriptValue global = engine->globalObject();
    for (const auto &command : commands)
        global.setProperty(QLatin1String(command.name), engine->newFunction(command.function));
}
