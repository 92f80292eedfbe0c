#include "database/ZelManagerSql.h"

#include "diagnostics/ZelManagerLogging.h"

#include <sqlite3.h>

// Long enough for a reader of another program to finish its query.
int ZelManagerSql::s_busyTimeout = 5000;

QString ZelManagerSql::literal(const QString &value)
{
    QString text = value;
    text.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

int ZelManagerSql::exec(sqlite3 *db, const QString &statements)
{
    return exec(db, statements.toUtf8().constData());
}

int ZelManagerSql::exec(sqlite3 *db, const char *statements)
{
    if (!db)
        return SQLITE_MISUSE;
    const int result = sqlite3_exec(db, statements, nullptr, nullptr, nullptr);
    if (result != SQLITE_OK)
        logFailure(db, result, statements);
    return result;
}

sqlite3 *ZelManagerSql::open(const QString &fileName)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(fileName.toUtf8().constData(), &db) != SQLITE_OK) {
        qCWarning(zelDatabase, "cannot open %s: %s", qUtf8Printable(fileName),
            db ? sqlite3_errmsg(db) : sqlite3_errstr(SQLITE_NOMEM));
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, s_busyTimeout);
    return db;
}

int ZelManagerSql::busyTimeout()
{
    return s_busyTimeout;
}

void ZelManagerSql::setBusyTimeout(int milliseconds)
{
    s_busyTimeout = milliseconds;
}

bool ZelManagerSql::useWriteAheadLog(sqlite3 *db)
{
    if (!db)
        return false;
    sqlite3_stmt *statement = nullptr;
    bool ok = sqlite3_prepare_v2(db, "PRAGMA journal_mode=WAL;", -1, &statement, nullptr) == SQLITE_OK
        && sqlite3_step(statement) == SQLITE_ROW
        && qstricmp(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)), "wal") == 0;
    sqlite3_finalize(statement);
    if (ok)
        ok = exec(db, "PRAGMA synchronous=NORMAL;") == SQLITE_OK;
    return ok;
}

void ZelManagerSql::close(sqlite3 *db)
{
    if (db)
        sqlite3_close_v2(db);
}

bool ZelManagerSql::hasTable(sqlite3 *db, const char *table)
{
    return db
        && sqlite3_table_column_metadata(db, nullptr, table, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)
        == SQLITE_OK;
}

void ZelManagerSql::logFailure(sqlite3 *db, int result, const char *statement)
{
    if (result == SQLITE_INTERRUPT) {
        qCDebug(zelDatabase, "interrupted: %s", statement);
        return;
    }
    qCWarning(zelDatabase, "SQL failed (%d): %s; statement: %s", result,
        db ? sqlite3_errmsg(db) : sqlite3_errstr(result), statement);
}
