#ifndef ZELMANAGERSQL_H
#define ZELMANAGERSQL_H

#include <QString>

struct sqlite3;

// Small helpers around SQLite's C interface shared by the database and the
// repository updater.
class ZelManagerSql
{
public:
    // A text value as an SQL string literal: in single quotes, every single
    // quote inside doubled, so no value can end the literal early. Statements
    // built as text must place every text value through this.
    static QString literal(const QString &value);

    // Runs one or more statements given as text; returns SQLite's result
    // code. A failure is logged with SQLite's text and the statements.
    static int exec(sqlite3 *db, const QString &statements);
    static int exec(sqlite3 *db, const char *statements);

    // Opens (creating if needed) the file; nullptr when that fails. A
    // statement that finds the file locked by another connection waits up to
    // busyTimeout() milliseconds before it fails with SQLITE_BUSY.
    static sqlite3 *open(const QString &fileName);
    static int busyTimeout();
    // For tests that hold a lock on purpose: how long to wait for it.
    static void setBusyTimeout(int milliseconds);
    // Write-ahead logging: readers do not block the writer, and a commit
    // costs no flush to disk (a killed process loses nothing committed; a
    // power cut may lose the last commits, never the file's consistency).
    // False when the file stays in its old journal mode.
    static bool useWriteAheadLog(sqlite3 *db);
    // Closes db; a statement still alive keeps the connection until it is
    // finalized (its owner may outlive the handle).
    static void close(sqlite3 *db);

    // Whether db has a table of that name.
    static bool hasTable(sqlite3 *db, const char *table);

    // Logs a failed statement: SQLite's text for db's last failure, and the
    // statement. A statement interrupted on request is no failure.
    static void logFailure(sqlite3 *db, int result, const char *statement);

private:
    static int s_busyTimeout;
};

#endif // ZELMANAGERSQL_H
