#include "database/ZelManagerSqlStatement.h"

#include "database/ZelManagerSql.h"

#include <sqlite3.h>

ZelManagerSqlStatement::ZelManagerSqlStatement(sqlite3 *db, const char *sql)
{
    if (!db)
        return;
    const int result = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
    if (result != SQLITE_OK) {
        ZelManagerSql::logFailure(db, result, sql);
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
    }
}

ZelManagerSqlStatement::ZelManagerSqlStatement(sqlite3_stmt *kept, Kept)
    : m_statement(kept)
    , m_kept(true)
{
}

ZelManagerSqlStatement::~ZelManagerSqlStatement()
{
    if (!m_kept) {
        sqlite3_finalize(m_statement);
    } else if (m_statement) {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
}

// The bytes are copied (SQLITE_TRANSIENT): the UTF-8 buffer is a temporary.
ZelManagerSqlStatement &ZelManagerSqlStatement::bind(int index, const QString &value)
{
    if (m_statement) {
        const QByteArray bytes = value.toUtf8();
        sqlite3_bind_text(m_statement, index, bytes.constData(), bytes.size(), SQLITE_TRANSIENT);
    }
    return *this;
}

ZelManagerSqlStatement &ZelManagerSqlStatement::bindUtf8(int index, const char *data, int size)
{
    if (m_statement)
        sqlite3_bind_text(m_statement, index, data, size, SQLITE_STATIC);
    return *this;
}

ZelManagerSqlStatement &ZelManagerSqlStatement::bind(int index, qint64 value)
{
    if (m_statement)
        sqlite3_bind_int64(m_statement, index, value);
    return *this;
}

bool ZelManagerSqlStatement::next()
{
    if (!m_statement)
        return false;
    const int result = sqlite3_step(m_statement);
    return checkStep(result) && result == SQLITE_ROW;
}

bool ZelManagerSqlStatement::exec()
{
    if (!m_statement)
        return false;
    int result;
    do {
        result = sqlite3_step(m_statement);
    } while (result == SQLITE_ROW);
    checkStep(result);
    sqlite3_reset(m_statement);
    return result == SQLITE_DONE;
}

bool ZelManagerSqlStatement::checkStep(int result) const
{
    if (result == SQLITE_ROW || result == SQLITE_DONE)
        return true;
    ZelManagerSql::logFailure(sqlite3_db_handle(m_statement), result, sqlite3_sql(m_statement));
    return false;
}

void ZelManagerSqlStatement::reset()
{
    if (m_statement)
        sqlite3_reset(m_statement);
}

QString ZelManagerSqlStatement::text(int column) const
{
    if (!m_statement)
        return QString();
    const char *data = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return data ? QString::fromUtf8(data, sqlite3_column_bytes(m_statement, column)) : QString();
}

const char *ZelManagerSqlStatement::utf8(int column, int &size) const
{
    const char *data = m_statement ? reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column)) : nullptr;
    size = data ? sqlite3_column_bytes(m_statement, column) : 0;
    return data ? data : "";
}

qint64 ZelManagerSqlStatement::int64(int column) const
{
    return m_statement ? sqlite3_column_int64(m_statement, column) : 0;
}
