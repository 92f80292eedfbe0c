#ifndef ZELMANAGERINDEXIMPORT_H
#define ZELMANAGERINDEXIMPORT_H

#include <QAtomicInt>
#include <QByteArray>
#include <QCoreApplication>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVector>

#include "database/ZelManagerIndexBatch.h"

class ZelManagerSqlStatement;
struct sqlite3;

// Builds a complete repository file from a repository index in a thread of
// its own, so that the GUI keeps turning while 60,000 packages are read and
// written. The file is made anew, with the program's repository tables; rows
// go in without lookup indexes, which are created once all rows are there.
// The owner moves the finished file into place (the repository's previous
// content is never touched here), or destroys the import, which removes it.
//
// Rows, per package that has a name: one "dependencies" row (architecture,
// package, version, dependency, comparison) per dependency of every file
// entry, one "infos" row (name, maintainer, description), one "categories"
// row (category, package) per category and one "filenames" row (package,
// version, architecture, time, md5sum) per file entry. Values are bound, never
// spliced into the statement text, so any text of the index is stored as it is.
class ZelManagerIndexImport : public QThread
{
    Q_OBJECT

public:
    // indexFile (the downloaded index) must stay unchanged while the import
    // lives; file is replaced.
    ZelManagerIndexImport(const QString &indexFile, const QString &file);
    // Stops and waits for the thread; removes the file unless it was taken.
    // Once finished() has come, the file is complete and closed (or, after a
    // failure, gone).
    ~ZelManagerIndexImport() override;

    QString fileName() const { return m_fileName; }
    // Makes the thread end soon; the import then fails.
    void stop();
    // 0..100, readable while the thread runs.
    int progress() const { return m_progress.loadRelaxed(); }

    // Results, valid once the thread has finished.
    bool succeeded() const { return m_succeeded; }
    QString errorText() const { return m_errorText; }
    int packageCount() const { return m_packageCount; }
    // The owner has moved the file away: it is no longer removed.
    void takeFile() { m_fileTaken = true; }

protected:
    void run() override;

private:
    struct Statements;
    static const int RingSlots = 8;

    bool build();
    bool prepareFile(int &synchronous);
    bool importPackages(Statements &statements);
    void readIndex();
    ZelManagerIndexBatch *nextFreeSlot();
    bool writePackages(Statements &statements);
    bool fail(const QString &reason);
    QString databaseError() const;
    void removeFile();
    void closeDatabase();

    QString m_indexFile;
    QString m_fileName;
    sqlite3 *m_db = nullptr;
    QMutex m_dbLock; // between closing the connection and stop()
    QAtomicInt m_stop;
    QAtomicInt m_progress;
    bool m_succeeded = false;
    bool m_fileTaken = false;
    QString m_errorText;
    int m_packageCount = 0;
    QList<QByteArray> m_indexes; // statements creating the lookup indexes
    // Reader to writer: the reader fills the slot at the head and moves the
    // head on, the writer writes the slot at the tail and moves the tail on.
    // A slot keeps its buffers from batch to batch, so memory is neither
    // allocated nor freed per package across the two threads.
    ZelManagerIndexBatch m_ring[RingSlots];
    QAtomicInt m_head;
    QAtomicInt m_tail;
    QAtomicInt m_readDone;
    QString m_readError;
};

#endif // ZELMANAGERINDEXIMPORT_H
