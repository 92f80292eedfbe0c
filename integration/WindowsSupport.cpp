#include "integration/WindowsSupport.h"

#include "diagnostics/ZelManagerLogging.h"
#include "integration/HostEnvironment.h"
#include "integration/HostRegistryKey.h"
#include "settings/ZelManagerSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <utime.h>

const char *const MachineEnvironmentKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char *const UserEnvironmentKey = "Environment";
const char *const FileSystemKey = "SYSTEM\\CurrentControlSet\\Control\\FileSystem";

namespace {

const QString PathValue = QStringLiteral("Path");

// The machine key when it can be opened with full access, else the user's.
void openEnvironmentKey(HostRegistryKey &key)
{
    if (!key.open(HostRegistryKey::LocalMachine, QLatin1String(MachineEnvironmentKey)))
        key.open(HostRegistryKey::CurrentUser, QLatin1String(UserEnvironmentKey));
}

QString absoluteNativeFolder(const QString &folder)
{
    // "C:\\..." is absolute on Windows and stays so here.
    static const QRegularExpression absolute(QStringLiteral("^([A-Za-z]:)?[/\\\\]"));
    QString path = folder;
    if (!absolute.match(path).hasMatch())
        path = ZelManagerSettings::instance()->targetPath() + QLatin1Char('/') + folder;
    return QDir::toNativeSeparators(path);
}

QStringList trimmedPathParts(const QString &value, const QString &dropped)
{
    QStringList parts;
    const QString droppedLower = dropped.toLower();
    for (const QString &part : value.split(QLatin1Char(';'))) {
        QString trimmed = part.trimmed();
        if (!trimmed.isEmpty() && trimmed.toLower() != droppedLower)
            parts << trimmed;
    }
    return parts;
}

QString shellQuoted(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// name (as written) -> value, for every string value of one environment key.
QMap<QString, QString> environmentValues(HostRegistryKey::Root root, const QString &keyPath)
{
    QMap<QString, QString> values;
    HostRegistryKey key(root, keyPath);
    for (const QString &name : key.valueNames()) {
        HostRegistryKey::ValueType type = HostRegistryKey::String;
        QVariant v = key.value(name, &type);
        if (v.isValid() && type != HostRegistryKey::Dword)
            values.insert(name, v.toString());
    }
    return values;
}

} // namespace

// False when the machine key cannot be written (no rights), as on Windows.
bool setSystemEnvironmentVariable(const QString &name, const QString &value)
{
    HostRegistryKey key(HostRegistryKey::LocalMachine, QLatin1String(MachineEnvironmentKey));
    const bool ok = key.setString(name, value, HostRegistryKey::ExpandString);
    key.close();
    broadcastEnvironmentChange();
    return ok;
}

// True when the variable is gone, also when there was none.
bool removeSystemEnvironmentVariable(const QString &name)
{
    HostRegistryKey key(HostRegistryKey::LocalMachine, QLatin1String(MachineEnvironmentKey));
    const bool ok = key.isOpen() && (key.deleteValue(name) || !key.hasValue(name));
    key.close();
    broadcastEnvironmentChange();
    return ok;
}

void addToSystemPath(const QString &folder)
{
    HostRegistryKey key;
    openEnvironmentKey(key);
    const QString old = key.value(PathValue).toString();
    const QString native = absoluteNativeFolder(folder);
    QStringList parts = trimmedPathParts(old, native);
    parts.prepend(native);
    key.setString(PathValue, parts.join(QLatin1Char(';')), HostRegistryKey::ExpandString);
    key.close();
    broadcastEnvironmentChange();
}

void removeFromSystemPath(const QString &folder)
{
    HostRegistryKey key;
    openEnvironmentKey(key);
    const QString old = key.value(PathValue).toString();
    const QStringList parts = trimmedPathParts(old, absoluteNativeFolder(folder));
    if (parts.isEmpty())
        key.deleteValue(PathValue);
    else
        key.setString(PathValue, parts.join(QLatin1Char(';')), HostRegistryKey::ExpandString);
    key.close();
    broadcastEnvironmentChange();
}

// Other programs learn of the change from the environment script: machine
// values first, the user's values override them, and the two Path values are
// joined (machine first), as a Windows login does.
void broadcastEnvironmentChange()
{
    QMap<QString, QString> machine
        = environmentValues(HostRegistryKey::LocalMachine, QLatin1String(MachineEnvironmentKey));
    const QMap<QString, QString> user
        = environmentValues(HostRegistryKey::CurrentUser, QLatin1String(UserEnvironmentKey));
    QStringList pathParts;
    const QMap<QString, QString> *const both[] = { &machine, &user };
    for (const QMap<QString, QString> *values : both) {
        for (auto it = values->begin(); it != values->end(); ++it) {
            if (it.key().compare(PathValue, Qt::CaseInsensitive) == 0)
                pathParts += it.value().split(QLatin1Char(';'), Qt::SkipEmptyParts);
        }
    }
    for (auto it = user.begin(); it != user.end(); ++it)
        machine.insert(it.key(), it.value());

    static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    QString text = QStringLiteral("# Environment managed by zelmanager; source it from a login shell.\n");
    for (auto it = machine.begin(); it != machine.end(); ++it) {
        if (it.key().compare(PathValue, Qt::CaseInsensitive) == 0 || !identifier.match(it.key()).hasMatch())
            continue;
        text += QStringLiteral("export %1=%2\n").arg(it.key(), shellQuoted(it.value()));
    }
    if (!pathParts.isEmpty()) {
        text += QStringLiteral("export Path=%1\n").arg(shellQuoted(pathParts.join(QLatin1Char(';'))));
        text
            += QStringLiteral("export PATH=%1\"${PATH:+:$PATH}\"\n").arg(shellQuoted(pathParts.join(QLatin1Char(':'))));
    }
    const QString file = HostEnvironment::environmentScriptFile();
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSaveFile out(file);
    bool ok = out.open(QIODevice::WriteOnly);
    if (ok) {
        out.write(text.toUtf8());
        ok = out.commit();
    }
    if (!ok) {
        qCWarning(
            zelHost, "cannot write environment script %s: %s", qUtf8Printable(file), qUtf8Printable(out.errorString()));
    }
}

void enableShortNameCreation()
{
    const QString name = QStringLiteral("NtfsDisable8dot3NameCreation");
    HostRegistryKey key;
    if (!key.open(HostRegistryKey::LocalMachine, QLatin1String(FileSystemKey)))
        key.open(HostRegistryKey::CurrentUser, QLatin1String(UserEnvironmentKey));
    HostRegistryKey::ValueType type = HostRegistryKey::Dword;
    QVariant value = key.value(name, &type);
    quint32 disabled = value.isValid() && type == HostRegistryKey::Dword ? value.value<quint32>() : 0;
    if (disabled == 0)
        return;
    key.setDword(name, 0);
    key.close();
    broadcastEnvironmentChange();
}

bool setFileTime(const QString &path, qint64 time)
{
    struct utimbuf times;
    times.actime = static_cast<time_t>(time);
    times.modtime = static_cast<time_t>(time);
    if (utime(QFile::encodeName(path).constData(), &times) == 0)
        return true;
    qCWarning(zelHost, "cannot set the time of %s: %s", qUtf8Printable(path), strerror(errno));
    return false;
}

// This host's file systems have no 8.3 names: every path is its own short
// form, which is also the rule for a path that cannot be converted.
QString shortPathName(const QString &path)
{
    return path;
}

bool makePath(const QString &folder)
{
    const QStringList parts = QDir::fromNativeSeparators(folder).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return false;
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:$"));
    // A drive is a root that exists; on this host the first folder below "/"
    // is an ordinary folder and is created like the others.
    const bool hasDrive = drive.match(parts.first()).hasMatch();
    QString sofar = hasDrive ? parts.first() + QLatin1Char('/') : QStringLiteral("/");
    for (int i = hasDrive ? 1 : 0; i < parts.size(); ++i) {
        const QString &part = parts.at(i);
        QFileInfo info(sofar + part);
        if (info.exists() && !info.isDir())
            return false;
        if (!info.exists() && !QDir(sofar).mkdir(part) && !QFileInfo(sofar + part).isDir())
            return false;
        if (part.contains(QLatin1Char(' ')))
            sofar = shortPathName(sofar + part) + QLatin1Char('/');
        else
            sofar += part + QLatin1Char('/');
    }
    return QFileInfo(sofar).isDir();
}
