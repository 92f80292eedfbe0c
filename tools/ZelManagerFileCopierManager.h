#ifndef ZELMANAGERFILECOPIERMANAGER_H
#define ZELMANAGERFILECOPIERMANAGER_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>

class QTimer;
class ZelManagerFileCopier;

// Copies the files of an installation folder into a new one with up to
// QThread::idealThreadCount() copier threads at a time. The copiers hand
// each other the files through one atomic cursor into the list, so a copier
// that finishes a file starts the next at once; progress(int) reports the
// number of files done every 100 milliseconds and once at the end.
//
// The first failed copy stops the others after their current file: a failed
// copy is given up as a whole (the caller removes what was written).
class ZelManagerFileCopierManager : public QObject
{
    Q_OBJECT

public:
    struct File
    {
        QString path; // relative to both folders, "/"-separated
        bool fix = false; // relocate the old installation path inside it
    };

    ZelManagerFileCopierManager(const QString &oldFolder, const QString &newFolder, QObject *parent = nullptr);
    ~ZelManagerFileCopierManager() override;

    // The old and new installation path as the installed files carry them.
    void setPrefixes(const QByteArray &oldPrefix, const QByteArray &newPrefix);
    void setFiles(const QList<File> &files) { m_files = files; }
    int fileCount() const { return m_files.size(); }

    // Starts the copiers; finished(bool) follows (at once for no files).
    void start();
    bool isBusy() const { return m_running > 0; }
    // Starts and waits, processing events (but not the user's input).
    bool exec();

    int doneCount() const { return m_done; }
    // "path: reason" for every file that failed.
    QStringList failures() const { return m_failures; }

signals:
    void progress(int done);
    void finished(bool ok);

public slots:
    void onCopierFinished();
    void cancel() { m_stop = true; }

private:
    friend class ZelManagerFileCopier;

    // Copier threads: the next file to copy, or -1 when none is left.
    int takeFile();
    void fileDone(bool ok);
    void reportProgress();

    QString m_oldFolder;
    QString m_newFolder;
    QByteArray m_oldPrefix;
    QByteArray m_newPrefix;
    QList<File> m_files;
    QList<ZelManagerFileCopier *> m_copiers;
    QStringList m_failures;
    QTimer *m_timer;
    int m_running = 0;
    int m_reported = -1;
    std::atomic<int> m_next { 0 };
    std::atomic<int> m_done { 0 };
    std::atomic<bool> m_stop { false };
};

#endif // ZELMANAGERFILECOPIERMANAGER_H
