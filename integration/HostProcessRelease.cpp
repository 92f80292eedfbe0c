#include "integration/HostProcessRelease.h"

#include "engine/ZelManagerTargetFolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {

const int PollMilliseconds = 50;
// How long a killed process may take to let go of its files.
const int KillMilliseconds = 2000;

QByteArray readProcFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return QByteArray();
    return file.readAll();
}

// The path of one /proc/<pid>/maps line: what follows the address, mode,
// offset, device and inode columns. Anonymous and removed mappings give none.
QString mappedPath(const QByteArray &line)
{
    int column = 0;
    int i = 0;
    const int size = line.size();
    while (i < size && column < 5) {
        while (i < size && line.at(i) != ' ')
            ++i;
        while (i < size && line.at(i) == ' ')
            ++i;
        ++column;
    }
    if (i >= size || line.at(i) != '/' || line.endsWith(" (deleted)"))
        return QString();
    return QFile::decodeName(line.mid(i));
}

} // namespace

// The root is resolved when a file is first released: most removals never
// need it, and resolving walks every folder of the path.
HostProcessRelease::HostProcessRelease(const QString &root)
    : m_givenRoot(root)
{
}

bool HostProcessRelease::mayBeHeld(const QString &file)
{
    static const QStringList suffixes = { QStringLiteral("so"), QStringLiteral("dll"), QStringLiteral("exe"),
        QStringLiteral("pyd"), QStringLiteral("sep") };
    return suffixes.contains(QFileInfo(file).suffix().toLower());
}

int HostProcessRelease::release(const QString &file)
{
    if (m_root.isNull())
        m_root = resolved(m_givenRoot);
    const QString path = resolved(file);
    if (!path.startsWith(m_root + QLatin1Char('/')))
        return 0; // only files of the installation are ever released
    int ended = 0;
    for (const Process &process : candidates()) {
        if (filesOf(process.pid, QFileInfo(path).path()).contains(path) && end(process))
            ++ended;
    }
    return ended;
}

QList<qint64> HostProcessRelease::holders(const QString &file)
{
    const QString path = resolved(file);
    QList<qint64> pids;
    for (const Process &process : candidates()) {
        if (filesOf(process.pid, QFileInfo(path).path()).contains(path))
            pids.append(process.pid);
    }
    return pids;
}

// /proc shows the files of a process by their real paths.
QString HostProcessRelease::resolved(const QString &file)
{
    const QFileInfo info(file);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

#ifdef Q_OS_LINUX

// Every process of this user except this one and its ancestors.
QList<HostProcessRelease::Process> HostProcessRelease::candidates()
{
    QSet<qint64> excluded;
    for (qint64 pid = getpid(); pid > 0 && !excluded.contains(pid);) {
        excluded.insert(pid);
        qint64 parent = 0;
        startTimeOf(pid, &parent);
        pid = parent;
    }

    const uid_t user = geteuid();
    QList<Process> processes;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        struct stat status;
        if (!number || pid <= 0 || excluded.contains(pid))
            continue;
        if (::stat(QFile::encodeName(QStringLiteral("/proc/") + entry).constData(), &status) != 0
            || status.st_uid != user)
            continue;
        Process process;
        process.pid = pid;
        process.startTime = startTimeOf(pid);
        if (process.startTime)
            processes.append(process);
    }
    return processes;
}

// The executable and mapped files of a process that lie below root.
QSet<QString> HostProcessRelease::filesOf(qint64 pid, const QString &root)
{
    QSet<QString> files;
    const QString base = QStringLiteral("/proc/%1/").arg(pid);
    const QString executable = QFileInfo(base + QStringLiteral("exe")).symLinkTarget();
    if (ZelManagerTargetFolder::isBelow(executable, root))
        files.insert(executable);
    const QByteArray maps = readProcFile(base + QStringLiteral("maps"));
    for (const QByteArray &line : maps.split('\n')) {
        const QString path = mappedPath(line);
        if (ZelManagerTargetFolder::isBelow(path, root))
            files.insert(path);
    }
    return files;
}

// Field 22 of /proc/<pid>/stat, the start time; 0 when there is no such
// process. The command name (field 2) may hold spaces and parentheses, so
// the fields are counted from the last ')'.
quint64 HostProcessRelease::startTimeOf(qint64 pid, qint64 *parent, char *state)
{
    const QByteArray stat = readProcFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // fields[0] is field 3 (state), fields[1] field 4 (parent), fields[19] field 22.
    if (fields.size() < 20)
        return 0;
    if (parent)
        *parent = fields.at(1).toLongLong();
    if (state)
        *state = fields.at(0).isEmpty() ? '?' : fields.at(0).at(0);
    return fields.at(19).toULongLong();
}

// Still the process that was found holding the file, and not yet ended (a
// zombie holds no files any more).
bool HostProcessRelease::isSameProcess(const Process &process)
{
    char state = '?';
    if (startTimeOf(process.pid, nullptr, &state) != process.startTime)
        return false;
    return state != 'Z' && state != 'X';
}

bool HostProcessRelease::waitForEnd(const Process &process, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (isSameProcess(process)) {
        if (timer.elapsed() >= milliseconds)
            return false;
        QThread::msleep(PollMilliseconds);
    }
    return true;
}

bool HostProcessRelease::end(const Process &process)
{
    if (!isSameProcess(process))
        return true;
    if (::kill(pid_t(process.pid), SIGTERM) != 0)
        return errno == ESRCH;
    if (waitForEnd(process, GraceMilliseconds))
        return true;
    if (isSameProcess(process) && ::kill(pid_t(process.pid), SIGKILL) != 0 && errno != ESRCH)
        return false;
    return waitForEnd(process, KillMilliseconds);
}

#else

// Other hosts do not let a held file be deleted; nothing is ever ended here.
QList<HostProcessRelease::Process> HostProcessRelease::candidates()
{
    return QList<Process>();
}

QSet<QString> HostProcessRelease::filesOf(qint64, const QString &)
{
    return QSet<QString>();
}

quint64 HostProcessRelease::startTimeOf(qint64, qint64 *, char *)
{
    return 0;
}

bool HostProcessRelease::isSameProcess(const Process &)
{
    return false;
}

bool HostProcessRelease::waitForEnd(const Process &, int)
{
    return true;
}

bool HostProcessRelease::end(const Process &)
{
    return false;
}

#endif
