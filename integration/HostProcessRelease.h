#ifndef HOSTPROCESSRELEASE_H
#define HOSTPROCESSRELEASE_H

#include <QList>
#include <QSet>
#include <QString>

// Frees files that running programs hold, so that a package's libraries and
// programs can be removed. On Windows a loaded module cannot be deleted, so
// the remover comes here when a deletion failed; on this host a deletion
// succeeds while the program keeps running from the removed file, and no
// program is ended for it.
//
// A holder is a process of the same user whose executable or mapped files
// include the file. This process and its ancestors are never holders, so a
// removal can never end the program that runs it or the session around it.
// Releasing asks each holder to end (SIGTERM), gives it three seconds, then
// kills it (SIGKILL); a process id that has meanwhile been reused by another
// program is left alone.
//
// One object serves one removal and releases only files below its root.
// Any thread.
class HostProcessRelease
{
public:
    enum { GraceMilliseconds = 3000 };

    // Releases files below root (an absolute folder) only.
    explicit HostProcessRelease(const QString &root);

    // Whether a file of this kind ("so", "dll", "exe", "pyd", "sep", in any
    // case) can be held by a running program.
    static bool mayBeHeld(const QString &file);

    // Ends the processes that hold the file now; the number ended.
    int release(const QString &file);

    // The processes that hold the file now, by process id.
    static QList<qint64> holders(const QString &file);

private:
    struct Process
    {
        qint64 pid = 0;
        quint64 startTime = 0; // ticks since boot; tells a reused id apart
    };

    static QList<Process> candidates();
    static QSet<QString> filesOf(qint64 pid, const QString &root);
    static QString resolved(const QString &file);
    static bool end(const Process &process);
    static bool waitForEnd(const Process &process, int milliseconds);
    static bool isSameProcess(const Process &process);
    static quint64 startTimeOf(qint64 pid, qint64 *parent = nullptr, char *state = nullptr);

    QString m_givenRoot;
    QString m_root; // m_givenRoot resolved, once needed
};

#endif // HOSTPROCESSRELEASE_H
