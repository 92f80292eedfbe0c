#include "ZelManagerIndexImport.h"

#include <QElapsedTimer>

#include <sqlite3.h>

ZelManagerIndexImport::ZelManagerIndexImport(sqlite3 *db, const QByteArray &index)
    : m_db(db)
    , m_reader(index)
    , m_info(db, "INSERT INTO infos VALUES(?,?,?);")
    , m_file(db, "INSERT INTO filenames VALUES(?,?,?,?,?);")
    , m_category(db, "INSERT INTO categories VALUES(?,?);")
    , m_dependency(db, "INSERT INTO dependencies VALUES(?,?,?,?,?);")
{
    if (!begin())
        fail(databaseError());
}

ZelManagerIndexImport::~ZelManagerIndexImport()
{
    rollback();
}

// The savepoint nests inside the batch the caller may have opened on the
// file; without one it is a transaction of its own.
bool ZelManagerIndexImport::begin()
{
    if (!m_db || !m_info.isValid() || !m_file.isValid() || !m_category.isValid() || !m_dependency.isValid())
        return false;
    if (sqlite3_exec(m_db, "SAVEPOINT repository_import;", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    m_open = true;
    return sqlite3_exec(m_db,
               "DELETE FROM infos;DELETE FROM filenames;DELETE FROM categories;DELETE FROM dependencies;", nullptr,
               nullptr, nullptr)
        == SQLITE_OK;
}

ZelManagerIndexImport::State ZelManagerIndexImport::step(int budgetMs)
{
    QElapsedTimer timer;
    timer.start();
    ZelManagerIndexReader::Package package;
    while (m_state == Running) {
        if (!m_reader.readPackage(package)) {
            if (m_reader.atEnd())
                succeed();
            else
                fail(m_reader.errorText());
        } else if (!write(package)) {
            fail(databaseError());
        } else if (budgetMs >= 0 && timer.elapsed() >= budgetMs) {
            break;
        }
    }
    return m_state;
}

void ZelManagerIndexImport::abort(const QString &reason)
{
    if (m_state == Running)
        fail(reason);
}

// A package without a name cannot be offered: nothing of it is written.
bool ZelManagerIndexImport::write(const ZelManagerIndexReader::Package &package)
{
    if (package.name.isEmpty())
        return true;
    bool ok = true;
    for (const ZelManagerIndexReader::File &file : package.files) {
        for (const QPair<QString, QString> &dependency : file.dependencies) {
            m_dependency.bind(1, file.architecture).bind(2, package.name).bind(3, file.version);
            ok &= m_dependency.bind(4, dependency.first).bind(5, dependency.second).exec();
        }
    }
    ok &= m_info.bind(1, package.name).bind(2, package.maintainer).bind(3, package.description).exec();
    for (const QString &category : package.categories)
        ok &= m_category.bind(1, category).bind(2, package.name).exec();
    for (const ZelManagerIndexReader::File &file : package.files) {
        m_file.bind(1, package.name).bind(2, file.version).bind(3, file.architecture).bind(4, file.time);
        ok &= m_file.bind(5, file.md5sum).exec();
    }
    ++m_packageCount;
    return ok;
}

void ZelManagerIndexImport::succeed()
{
    if (sqlite3_exec(m_db, "RELEASE repository_import;", nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail(databaseError());
        return;
    }
    m_open = false;
    m_state = Succeeded;
}

void ZelManagerIndexImport::fail(const QString &reason)
{
    rollback();
    m_state = Failed;
    m_errorText = reason;
}

void ZelManagerIndexImport::rollback()
{
    if (!m_open)
        return;
    m_open = false;
    sqlite3_exec(m_db, "ROLLBACK TO repository_import;RELEASE repository_import;", nullptr, nullptr, nullptr);
}

QString ZelManagerIndexImport::databaseError() const
{
    const QString reason = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString();
    return tr("The repository's database cannot be written: %1").arg(reason);
}
