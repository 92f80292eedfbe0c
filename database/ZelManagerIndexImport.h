#ifndef ZELMANAGERINDEXIMPORT_H
#define ZELMANAGERINDEXIMPORT_H

#include "ZelManagerIndexReader.h"
#include "ZelManagerSqlStatement.h"

#include <QCoreApplication>
#include <QString>

struct sqlite3;

// Replaces the content of a repository's file with a repository index, in
// steps of bounded length so that the caller can keep its event loop turning.
//
// Everything happens inside one savepoint: the old rows are deleted and the
// new ones written, and only a completely read, completely written index is
// released. Any failure, an abort, or destroying the import before it
// succeeded rolls the file back to what it held before.
//
// Rows, per package that has a name: one "dependencies" row (architecture,
// package, version, dependency, comparison) per dependency of every file
// entry, one "infos" row (name, maintainer, description), one "categories"
// row (category, package) per category and one "filenames" row (package,
// version, architecture, time, md5sum) per file entry. Values are bound, never
// spliced into the statement text.
class ZelManagerIndexImport
{
    Q_DECLARE_TR_FUNCTIONS(ZelManagerIndexImport)

public:
    enum State { Running, Succeeded, Failed };

    // index must stay unchanged while the import lives.
    ZelManagerIndexImport(sqlite3 *db, const QByteArray &index);
    ~ZelManagerIndexImport();
    ZelManagerIndexImport(const ZelManagerIndexImport &) = delete;
    ZelManagerIndexImport &operator=(const ZelManagerIndexImport &) = delete;

    // Imports packages for about budgetMs milliseconds (at least one
    // package); a budget below 0 imports everything at once.
    State step(int budgetMs);
    // Gives up: the file keeps what it held before.
    void abort(const QString &reason);

    State state() const { return m_state; }
    int progress() const { return m_reader.progress(); }
    QString errorText() const { return m_errorText; }
    int packageCount() const { return m_packageCount; }

private:
    bool begin();
    bool write(const ZelManagerIndexReader::Package &package);
    void succeed();
    void fail(const QString &reason);
    void rollback();
    QString databaseError() const;

    sqlite3 *m_db;
    ZelManagerIndexReader m_reader;
    ZelManagerSqlStatement m_info;
    ZelManagerSqlStatement m_file;
    ZelManagerSqlStatement m_category;
    ZelManagerSqlStatement m_dependency;
    State m_state = Running;
    bool m_open = false;
    QString m_errorText;
    int m_packageCount = 0;
};

#endif // ZELMANAGERINDEXIMPORT_H
