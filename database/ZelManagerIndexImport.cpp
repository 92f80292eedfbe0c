#include "database/ZelManagerIndexImport.h"

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerSql.h"
#include "database/ZelManagerSqlStatement.h"

#include <QDir>
#include <QFile>

#include <sqlite3.h>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

namespace {

// Packages per batch, and how long one side waits for the other.
const int BatchSize = 256;
const unsigned long WaitUs = 200;
// Rows per INSERT statement: one statement run for many rows spares the
// per-run work (opening the table, finding its end, resetting), which costs
// as much as writing a row.
const int RowsPerInsert = 64;

// One value of a row: a text's UTF-8 bytes (size >= 0) or a number.
struct Value
{
    const char *data;
    int size;
    qint64 number;
};

// Rows for one table, collected and written RowsPerInsert at a time; the
// rest goes row by row when flushed. Texts are bound where they lie, so they
// must stay unchanged until flush().
class TableWriter
{
public:
    TableWriter(sqlite3 *db, const char *table, int columns)
        : m_columns(columns)
        , m_single(db, insertText(table, columns, 1).constData())
        , m_multiple(db, insertText(table, columns, RowsPerInsert).constData())
        , m_values(RowsPerInsert * columns)
    {
    }
    bool isValid() const { return m_single.isValid() && m_multiple.isValid(); }
    // The next row's values, to be filled before add().
    Value *row() { return m_values.data() + m_pending * m_columns; }
    bool add() { return ++m_pending < RowsPerInsert || flush(); }
    bool flush()
    {
        bool ok = true;
        if (m_pending == RowsPerInsert) {
            bindRows(m_multiple, m_values.constData(), RowsPerInsert);
            ok = m_multiple.exec();
        } else {
            for (int row = 0; row < m_pending; ++row) {
                bindRows(m_single, m_values.constData() + row * m_columns, 1);
                ok &= m_single.exec();
            }
        }
        m_pending = 0;
        return ok;
    }

private:
    static QByteArray insertText(const char *table, int columns, int rows)
    {
        QByteArray row = "(?";
        for (int column = 1; column < columns; ++column)
            row += ",?";
        row += ')';
        QByteArray text = QByteArray("INSERT INTO ") + table + " VALUES" + row;
        for (int r = 1; r < rows; ++r)
            text += ',' + row;
        return text + ';';
    }
    void bindRows(ZelManagerSqlStatement &statement, const Value *values, int rows)
    {
        for (int index = 0; index < rows * m_columns; ++index) {
            if (values[index].size >= 0)
                statement.bindUtf8(index + 1, values[index].data, values[index].size);
            else
                statement.bind(index + 1, values[index].number);
        }
    }

    int m_columns;
    ZelManagerSqlStatement m_single;
    ZelManagerSqlStatement m_multiple;
    QVector<Value> m_values;
    int m_pending = 0;
};

// Has the system start writing what file holds so far, without waiting
// for it: the sync at the commit then has little left to wait for.
void startWriteback(const QFile &file)
{
#ifdef Q_OS_LINUX
    if (file.isOpen())
        sync_file_range(file.handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    Q_UNUSED(file)
#endif
}

} // namespace

struct ZelManagerIndexImport::Statements
{
    explicit Statements(sqlite3 *db)
        : info(db, "infos", 3)
        , file(db, "filenames", 5)
        , category(db, "categories", 2)
        , dependency(db, "dependencies", 5)
    {
    }
    bool isValid() const { return info.isValid() && file.isValid() && category.isValid() && dependency.isValid(); }
    bool write(const ZelManagerIndexBatch &batch, int &at);
    // Writes the rows still collected; the batch may be reused afterwards.
    bool flush() { return dependency.flush() & info.flush() & category.flush() & file.flush(); }

    TableWriter info;
    TableWriter file;
    TableWriter category;
    TableWriter dependency;
};

// Collects the rows of the package that starts at item at of batch and moves
// at past it. The texts stay where they lie in the batch.
bool ZelManagerIndexImport::Statements::write(const ZelManagerIndexBatch &batch, int &at)
{
    const qint64 *items = batch.items.constData();
    const char *text = batch.text.constData();
    auto textOf = [&](int item) { return Value { text + items[item], int(items[item + 1]), 0 }; };
    const int name = at;
    const int maintainer = at + 2;
    const int description = at + 4;
    const int categories = at + 6;
    const int files = categories + 1 + 2 * int(items[categories]);
    bool ok = true;
    // Each table gets its rows in the order the index lists them, as when
    // they went in one by one: the rows and their numbers are the same.
    int item = files + 1;
    for (qint64 f = 0; f < items[files]; ++f) {
        const qint64 count = items[item + 7];
        const int version = item;
        const int architecture = item + 2;
        item += 8;
        for (qint64 d = 0; d < count; ++d, item += 4) {
            Value *row = dependency.row();
            row[0] = textOf(architecture);
            row[1] = textOf(name);
            row[2] = textOf(version);
            row[3] = textOf(item);
            row[4] = textOf(item + 2);
            ok &= dependency.add();
        }
    }
    at = item;
    Value *row = info.row();
    row[0] = textOf(name);
    row[1] = textOf(maintainer);
    row[2] = textOf(description);
    ok &= info.add();
    for (qint64 c = 0; c < items[categories]; ++c) {
        row = category.row();
        row[0] = textOf(categories + 1 + 2 * int(c));
        row[1] = textOf(name);
        ok &= category.add();
    }
    item = files + 1;
    for (qint64 f = 0; f < items[files]; ++f) {
        row = file.row();
        row[0] = textOf(name);
        row[1] = textOf(item);
        row[2] = textOf(item + 2);
        row[3] = Value { nullptr, -1, items[item + 4] };
        row[4] = textOf(item + 5);
        ok &= file.add();
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
    // Only the finished file has to reach the disk before it takes the
    // repository's place: the commit of the rows syncs as before.
    int synchronous = -1;
    if (!prepareFile(synchronous)
        || ZelManagerSql::exec(m_db, QStringLiteral("PRAGMA synchronous=%1;BEGIN;").arg(synchronous)) != SQLITE_OK)
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
    // is the import's longest serial step: in runs the size of the cache,
    // sorted by helper threads while this one reads the table on (the reader
    // thread is done by then, so a processor is free), it takes this thread
    // half as long. Runs of 2 MB keep both processors busier than runs of
    // 8 MB, and the last run, which this thread waits for, is short.
    if (ZelManagerSql::exec(m_db, "PRAGMA threads=2;") != SQLITE_OK)
        return fail(databaseError());
    // The rows are final, and so is each index once built: the disk writes
    // them meanwhile.
    QFile written(m_fileName);
    written.open(QIODevice::ReadOnly);
    startWriteback(written);
    for (const QByteArray &index : qAsConst(m_indexes)) {
        if (ZelManagerSql::exec(m_db, index.constData()) != SQLITE_OK)
            return fail(m_stop.loadRelaxed() ? tr("The update was canceled.") : databaseError());
        startWriteback(written);
    }
    if (ZelManagerSql::exec(m_db, "COMMIT;") != SQLITE_OK)
        return fail(databaseError());
    m_progress.storeRelaxed(100);
    return true;
}

// The program's tables, without the lookup indexes until all rows are in
// (their texts are kept to create them again). The file is thrown away on
// any failure, so it needs no rollback journal, and nothing written before
// the last commit needs syncing (synchronous receives the setting to go back
// to). Pages of 16 KB make the import and the index build a tenth cheaper
// than the default 4 KB. Rows only ever go to the end of their tables, so a
// small cache holds all the pages they touch: a large one would only cost
// the memory and the time to fill it.
bool ZelManagerIndexImport::prepareFile(int &synchronous)
{
    if (!m_db)
        return false;
    {
        ZelManagerSqlStatement query(m_db, "PRAGMA synchronous;");
        if (!query.next())
            return false;
        synchronous = int(query.int64(0));
    }
    if (ZelManagerSql::exec(
            m_db, "PRAGMA page_size=16384;PRAGMA journal_mode=OFF;PRAGMA synchronous=OFF;PRAGMA cache_size=-2048;")
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
        if (!statements.flush())
            return fail(databaseError());
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
