#include "database/ZelManagerIndexImport.h"

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerSql.h"
#include "database/ZelManagerSqlStatement.h"

#include <QDir>
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
    bool write(const ZelManagerIndexBatch &batch, int &at);

    ZelManagerSqlStatement info;
    ZelManagerSqlStatement file;
    ZelManagerSqlStatement category;
    ZelManagerSqlStatement dependency;
};

// Writes the package that starts at item at of batch and moves at past it.
// The texts are bound where they lie in the batch; what repeats is bound
// once.
bool ZelManagerIndexImport::Statements::write(const ZelManagerIndexBatch &batch, int &at)
{
    const qint64 *items = batch.items.constData();
    const char *text = batch.text.constData();
    auto bindText = [&](ZelManagerSqlStatement &statement, int index, int item) -> ZelManagerSqlStatement & {
        return statement.bindUtf8(index, text + items[item], int(items[item + 1]));
    };
    const int name = at;
    const int maintainer = at + 2;
    const int description = at + 4;
    const int categories = at + 6;
    const int files = categories + 1 + 2 * int(items[categories]);
    bool ok = true;
    // The dependencies of every file first, then the package's other rows.
    bindText(dependency, 2, name);
    int item = files + 1;
    for (qint64 f = 0; f < items[files]; ++f) {
        bindText(dependency, 3, item);
        bindText(dependency, 1, item + 2);
        const qint64 count = items[item + 7];
        item += 8;
        for (qint64 d = 0; d < count; ++d, item += 4) {
            bindText(dependency, 4, item);
            ok &= bindText(dependency, 5, item + 2).exec();
        }
    }
    at = item;
    bindText(info, 1, name);
    bindText(info, 2, maintainer);
    ok &= bindText(info, 3, description).exec();
    bindText(category, 2, name);
    for (qint64 c = 0; c < items[categories]; ++c)
        ok &= bindText(category, 1, categories + 1 + 2 * int(c)).exec();
    bindText(file, 1, name);
    item = files + 1;
    for (qint64 f = 0; f < items[files]; ++f) {
        bindText(file, 2, item);
        bindText(file, 3, item + 2);
        file.bind(4, items[item + 4]);
        ok &= bindText(file, 5, item + 5).exec();
        item += 8 + 4 * int(items[item + 7]);
    }
    return ok;
}

// The connection is opened here, on the owner's thread, and closed by the
// import's thread when it is done (or here, when it never ran); stop() may
// interrupt it at any time until then.
ZelManagerIndexImport::ZelManagerIndexImport(const QString &indexFile, const QString &file)
    : m_indexFile(indexFile)
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
    closeDatabase();
    if (!m_fileTaken)
        removeFile();
}

void ZelManagerIndexImport::stop()
{
    m_stop.storeRelaxed(1);
    QMutexLocker lock(&m_dbLock);
    if (m_db)
        sqlite3_interrupt(m_db);
}

// Closing the connection frees its cache, and a failed file may hold tens of
// megabytes: both are done here rather than on the owner's thread, whose
// event loop would wait for them.
void ZelManagerIndexImport::run()
{
    m_succeeded = build();
    closeDatabase();
    if (!m_succeeded)
        removeFile();
}

void ZelManagerIndexImport::closeDatabase()
{
    QMutexLocker lock(&m_dbLock);
    ZelManagerSql::close(m_db);
    m_db = nullptr;
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
    // cheaper than keeping them up to date row by row. The sort behind each
    // is the import's longest serial step: in runs of 8 MB, sorted by helper
    // threads while this one reads the table on (the reader thread is done
    // by then, so a processor is free), it takes this thread half as long.
    if (ZelManagerSql::exec(m_db, "PRAGMA threads=2;PRAGMA cache_size=-8192;") != SQLITE_OK)
        return fail(databaseError());
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
// any failure, so it needs no rollback journal. Pages of 16 KB make the
// import and the index build a tenth cheaper than the default 4 KB.
bool ZelManagerIndexImport::prepareFile()
{
    if (!m_db
        || ZelManagerSql::exec(m_db, "PRAGMA page_size=16384;PRAGMA journal_mode=OFF;PRAGMA cache_size=-32768;")
            != SQLITE_OK
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
    QFile index(m_indexFile);
    if (!index.open(QIODevice::ReadOnly)) {
        m_readError = tr("The downloaded index %1 cannot be read: %2")
                          .arg(QDir::toNativeSeparators(m_indexFile), index.errorString());
        m_readDone.storeRelease(1);
        return;
    }
    ZelManagerIndexReader reader(&index);
    ZelManagerIndexBatch *batch = nextFreeSlot();
    bool more = batch;
    while (more && !m_stop.loadRelaxed()) {
        more = reader.readPackage(*batch);
        if (batch->packages >= BatchSize || !more) {
            m_progress.storeRelaxed(reader.progress());
            m_head.storeRelease(m_head.loadRelaxed() + 1);
            if (more && !(batch = nextFreeSlot()))
                break;
        }
    }
    if (!reader.atEnd() && !m_stop.loadRelaxed())
        m_readError = reader.errorText();
    m_readDone.storeRelease(1);
}

// The slot at the head once the writer has left it, emptied; nullptr when
// the import stops meanwhile.
ZelManagerIndexBatch *ZelManagerIndexImport::nextFreeSlot()
{
    const int head = m_head.loadRelaxed();
    while (head - m_tail.loadAcquire() >= RingSlots) {
        if (m_stop.loadRelaxed())
            return nullptr;
        QThread::usleep(WaitUs);
    }
    ZelManagerIndexBatch &batch = m_ring[head % RingSlots];
    batch.clear();
    return &batch;
}

bool ZelManagerIndexImport::writePackages(Statements &statements)
{
    int tail = 0;
    for (;;) {
        if (m_stop.loadRelaxed())
            return fail(tr("The update was canceled."));
        if (tail == m_head.loadAcquire()) {
            // Read done before head again: the last batch is handed over
            // before the reader says it is done.
            if (m_readDone.loadAcquire() && tail == m_head.loadAcquire())
                return true;
            QThread::usleep(WaitUs);
            continue;
        }
        const ZelManagerIndexBatch &batch = m_ring[tail % RingSlots];
        int at = 0;
        for (int package = 0; package < batch.packages; ++package) {
            if (!statements.write(batch, at))
                return fail(databaseError());
            ++m_packageCount;
        }
        m_tail.storeRelease(++tail);
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
