#ifndef ZELMANAGERSQLSTATEMENT_H
#define ZELMANAGERSQLSTATEMENT_H

#include <QString>

struct sqlite3;
struct sqlite3_stmt;

// One prepared statement with bound values: values never become part of the
// statement text, and a statement run in a loop is parsed once.
class ZelManagerSqlStatement
{
public:
    ZelManagerSqlStatement(sqlite3 *db, const char *sql);
    // Runs a statement that its owner keeps prepared: when this object goes,
    // the statement is reset and its values cleared, not finalized.
    struct Kept
    {
    };
    ZelManagerSqlStatement(sqlite3_stmt *kept, Kept);
    ~ZelManagerSqlStatement();
    ZelManagerSqlStatement(const ZelManagerSqlStatement &) = delete;
    ZelManagerSqlStatement &operator=(const ZelManagerSqlStatement &) = delete;

    // False when db is null or the statement does not compile (a missing
    // table, for instance); every other call is then harmless. A statement
    // that does not compile or fails to run is logged.
    bool isValid() const { return m_statement; }

    // Parameters count from 1, as in SQLite.
    ZelManagerSqlStatement &bind(int index, const QString &value);
    ZelManagerSqlStatement &bind(int index, qint64 value);
    // UTF-8 bytes bound without a copy: they must stay unchanged until the
    // statement has run with them.
    ZelManagerSqlStatement &bindUtf8(int index, const char *data, int size);

    // Steps to the next row; false at the end or on failure.
    bool next();
    // Runs the statement to its end and makes it ready for new values.
    bool exec();
    // Makes the statement ready to run again (bound values are kept).
    void reset();

    QString text(int column) const;
    // The column's text as UTF-8 bytes, without a copy: valid until the next
    // step. size receives their count.
    const char *utf8(int column, int &size) const;
    qint64 int64(int column) const;

private:
    // A step's result: true for a row or the end, otherwise logged.
    bool checkStep(int result) const;

    sqlite3_stmt *m_statement = nullptr;
    bool m_kept = false;
};

#endif // ZELMANAGERSQLSTATEMENT_H
