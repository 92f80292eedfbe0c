#include "database/ZelManagerIndexImport.h"

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerSql.h"
#include "database/ZelManagerSqlStatement.h"

#include <QFile>

#include <sqlite3.h>

namespace {

// Packages per batch, and how long one side waits for the other.
const int BatchSize = 256;
const unsigned long WaitUs = 200;

} // namespace

struct ZelManagerIndexImport::Statements
{
    explicit Statements(sqlite3 *db)
        : info(db, "INSERT INTO infos VALUES(?,?,?);")
        , file(db, "INSERT INTO filenames VALUES(?,?,?,?,?);")
        , category(db, "INSERT INTO categories VALUES(?,?);")
        , dependency(db, "INSERT INTO dependencies VALUES(?,?,?,?,?);")
    {
    }
    bool isValid() const { return info.isValid() && file.isValid() && category.isValid() && dependency.isValid(); }
    bool write(const ZelManagerIndexReader::Package &package);

    ZelManagerSqlStatement info;
    ZelManagerSqlStatement file;
    ZelManagerSqlStatement category;
    ZelManagerSqlStatement dependency;
};

// Bound values stay bound between rows: what repeats is bound once.
bool ZelManagerIndexImport::Statements::write(const ZelManagerIndexReader::Package &package)
{
    bool ok = true;
    dependency.bind(2, package.name);
    for (const ZelManagerIndexReader::File &entry : package.files) {
        dependency.bind(1, entry.architecture).bind(3, entry.version);
        for (const QPair<QString, QString> &item : entry.dependencies)
            ok &= dependency.bind(4, item.first).bind(5, item.second).exec();
    }
    ok &= info.bind(1, package.name).bind(2, package.maintainer).bind(3, package.description).exec();
    category.bind(2, package.name);
    for (const QString &name : package.categories)
        ok &= category.bind(1, name).exec();
    file.bind(1, package.name);
    for (const ZelManagerIndexReader::File &entry : package.files) {
        file.bind(2, entry.version).bind(3, entry.architecture).bind(4, entry.time);
        ok &= file.bind(5, entry.md5sum).exec();
    }
    return ok;
}

// The connection is opened and closed here, on the owner's thread, so that
// stop() may interrupt it at any time while the import lives.
ZelManagerIndexImport::ZelManagerIndexImport(const QByteArray &index, const QString &file)
    : m_index(index)
    , m_fileName(file)
{
    removeFile();
    // Only the import's thread uses the connection (stop() merely
    // interrupts it): it needs no locking of its own.
    if (sqlite3_open_v2(QFile::encodeName(m_fileName).constData(), &m_db,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr)
        != SQLITE_OK) {
        sqlite3_close(m_db);
        m_db = nullptr;
    }
}

ZelManagerIndexImport::~ZelManagerIndexImport()
{
    stop();
    wait();
    ZelManagerSql::close(m_db);
    if (!m_fileTaken)
        removeFile();
}

void ZelManagerIndexImport::stop()
{
    m_stop.storeRelaxed(1);
    if (m_db)
        sqlite3_interrupt(m_db);
}

void ZelManagerIndexImport::run()
{
    m_succeeded = build();
}

bool ZelManagerIndexImport::build()
{
    if (!prepareFile() || ZelManagerSql::exec(m_db, "BEGIN;") != SQLITE_OK)
        return fail(databaseError());
    {
        Statements statements(m_db);
        if (!statements.isValid())
            return fail(databaseError());
        if (!importPackages(statements))
            return false;
    }
    // Creating the lookup indexes over all rows at once is several times
    // cheaper than keeping them up to date row by row.
    for (const QByteArray &index : qAsConst(m_indexes)) {
        if (ZelManagerSql::exec(m_db, index.constData()) != SQLITE_OK)
            return fail(m_stop.loadRelaxed() ? tr("The update was canceled.") : databaseError());
    }
    if (ZelManagerSql::exec(m_db, "COMMIT;") != SQLITE_OK)
        return fail(databaseError());
    m_progress.storeRelaxed(100);
    return true;
}

// The program's tables, without the lookup indexes until all rows are in
// (their texts are kept to create them again). The file is thrown away on
// any failure, so it needs no rollback journal.
bool ZelManagerIndexImport::prepareFile()
{
    if (!m_db || ZelManagerSql::exec(m_db, "PRAGMA journal_mode=OFF;PRAGMA cache_size=-32768;") != SQLITE_OK
        || !ZelManagerDatabase::createRepositoryTables(m_db))
        return false;
    QStringList names;
    {
        ZelManagerSqlStatement query(
            m_db, "SELECT name,sql FROM sqlite_master WHERE type='index' AND sql IS NOT NULL;");
        while (query.next()) {
            names.append(query.text(0));
            m_indexes.append(query.text(1).toUtf8() + ';');
        }
    }
    for (const QString &name : qAsConst(names)) {
        const QString drop
            = QStringLiteral("DROP INDEX \"%1\";").arg(QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\"")));
        if (ZelManagerSql::exec(m_db, drop) != SQLITE_OK)
            return false;
    }
    return true;
}

// The index is read by a second thread while this one writes: reading and
// writing cost about the same, so each hides the other. Packages go from the
// reader to the writer in batches through a small ring; each side only moves
// its own end of it.
bool ZelManagerIndexImport::importPackages(Statements &statements)
{
    QScopedPointer<QThread> reader(QThread::create([this]() { readIndex(); }));
    reader->start();
    const bool written = writePackages(statements);
    if (!written)
        m_stop.storeRelaxed(1);
    reader->wait();
    if (written && !m_readError.isEmpty())
        return fail(m_readError);
    return written;
}

// A package without a name cannot be offered: nothing of it is written.
void ZelManagerIndexImport::readIndex()
{
    ZelManagerIndexReader reader(m_index);
    ZelManagerIndexReader::Package package;
    Batch batch;
    bool more = true;
    while (more && !m_stop.loadRelaxed()) {
        more = reader.readPackage(package);
        if (more && !package.name.isEmpty())
            batch.append(std::move(package));
        if (batch.size() >= BatchSize || !more) {
            m_progress.storeRelaxed(reader.progress());
            if (!push(batch))
                break;
        }
    }
    if (!reader.atEnd() && !m_stop.loadRelaxed())
        m_readError = reader.errorText();
    m_readDone.storeRelease(1);
}

bool ZelManagerIndexImport::push(Batch &batch)
{
    const int head = m_head.loadRelaxed();
    while (head - m_tail.loadAcquire() >= RingSlots) {
        if (m_stop.loadRelaxed())
            return false;
        QThread::usleep(WaitUs);
    }
    m_ring[head % RingSlots] = std::move(batch);
    batch = Batch();
    m_head.storeRelease(head + 1);
    return true;
}

bool ZelManagerIndexImport::writePackages(Statements &statements)
{
    int tail = 0;
    for (;;) {
        if (m_stop.loadRelaxed())
            return fail(tr("The update was canceled."));
        if (tail == m_head.loadAcquire()) {
            // Read done before head again: the last batch is pushed before
            // the reader says it is done.
            if (m_readDone.loadAcquire() && tail == m_head.loadAcquire())
                return true;
            QThread::usleep(WaitUs);
            continue;
        }
        const Batch batch = std::move(m_ring[tail % RingSlots]);
        m_ring[tail % RingSlots] = Batch();
        m_tail.storeRelease(++tail);
        for (const ZelManagerIndexReader::Package &package : batch) {
            if (!statements.write(package))
                return fail(databaseError());
            ++m_packageCount;
        }
    }
}

bool ZelManagerIndexImport::fail(const QString &reason)
{
    m_errorText = reason;
    return false;
}

QString ZelManagerIndexImport::databaseError() const
{
    const QString reason = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : tr("cannot open %1").arg(m_fileName);
    return tr("The repository's database cannot be written: %1").arg(reason);
}

void ZelManagerIndexImport::removeFile()
{
    QFile::remove(m_fileName);
    QFile::remove(m_fileName + QStringLiteral("-journal"));
}
