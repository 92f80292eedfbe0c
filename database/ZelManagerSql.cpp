#include "database/ZelManagerSql.h"

#include <sqlite3.h>

QString ZelManagerSql::literal(const QString &value)
{
    QString text = value;
    text.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

int ZelManagerSql::exec(sqlite3 *db, const QString &statements)
{
    if (!db)
        return SQLITE_MISUSE;
    return sqlite3_exec(db, statements.toUtf8().constData(), nullptr, nullptr, nullptr);
}

sqlite3 *ZelManagerSql::open(const QString &fileName)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(fileName.toUtf8().constData(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    return db;
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
