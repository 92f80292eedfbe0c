#include "tests/support/TestDatabaseFile.h"

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerPackage.h"

#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>

namespace {

bool bindAll(sqlite3_stmt *statement, const QVariantList &values)
{
    for (int i = 0; i < values.size(); ++i) {
        const QVariant &value = values.at(i);
        int result;
        if (value.type() == QVariant::String) {
            const QByteArray text = value.toString().toUtf8();
            result = sqlite3_bind_text(statement, i + 1, text.constData(), text.size(), SQLITE_TRANSIENT);
        } else {
            result = sqlite3_bind_int64(statement, i + 1, value.toLongLong());
        }
        if (result != SQLITE_OK)
            return false;
    }
    return true;
}

} // namespace

TestDatabaseFile::TestDatabaseFile(const QString &path, Kind kind)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (sqlite3_open(path.toUtf8().constData(), &m_db) != SQLITE_OK) {
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    if (kind == Status)
        ZelManagerDatabase::createStatusTables(m_db);
    else if (kind == Repository)
        ZelManagerDatabase::createRepositoryTables(m_db);
}

TestDatabaseFile::~TestDatabaseFile()
{
    sqlite3_close(m_db);
}

bool TestDatabaseFile::exec(const QString &sql, const QVariantList &values)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &statement, nullptr) != SQLITE_OK) {
        qWarning("%s: %s", qPrintable(sql), sqlite3_errmsg(m_db));
        return false;
    }
    bool ok = bindAll(statement, values);
    int result;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) { }
    ok = ok && result == SQLITE_DONE;
    sqlite3_finalize(statement);
    return ok;
}

QList<QStringList> TestDatabaseFile::rows(const QString &sql, const QVariantList &values)
{
    QList<QStringList> result;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &statement, nullptr) != SQLITE_OK) {
        qWarning("%s: %s", qPrintable(sql), sqlite3_errmsg(m_db));
        return result;
    }
    bindAll(statement, values);
    while (sqlite3_step(statement) == SQLITE_ROW) {
        QStringList row;
        for (int column = 0; column < sqlite3_column_count(statement); ++column) {
            const char *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
            row.append(text ? QString::fromUtf8(text, sqlite3_column_bytes(statement, column)) : QString());
        }
        result.append(row);
    }
    sqlite3_finalize(statement);
    return result;
}

QString TestDatabaseFile::value(const QString &sql, const QVariantList &values)
{
    const QList<QStringList> result = rows(sql, values);
    return result.isEmpty() || result.first().isEmpty() ? QString() : result.first().first();
}

void TestDatabaseFile::addRepositoryPackage(
    const QString &name, const QString &maintainer, const QString &description, const QStringList &categories)
{
    exec(QStringLiteral("INSERT INTO infos VALUES(?,?,?);"), { name, maintainer, description });
    for (const QString &category : categories)
        exec(QStringLiteral("INSERT INTO categories VALUES(?,?);"), { category, name });
}

void TestDatabaseFile::addRepositoryFile(const QString &name, const QString &version, const QString &architecture,
    qint64 time, const QString &md5sum, const QStringList &dependencies)
{
    exec(QStringLiteral("INSERT INTO filenames VALUES(?,?,?,?,?);"), { name, version, architecture, time, md5sum });
    for (const QString &item : dependencies) {
        const QPair<QString, QString> parts = splitDependency(item);
        exec(QStringLiteral("INSERT INTO dependencies VALUES(?,?,?,?,?);"),
            { architecture, name, version, parts.first, parts.second });
    }
}

void TestDatabaseFile::addStatus(const QString &name, int flags, const QString &requested, const QString &dependants)
{
    exec(QStringLiteral("INSERT INTO status VALUES(?,?,?,?);"), { name, flags, requested, dependants });
}

void TestDatabaseFile::addInstalled(const QString &name, const QString &version, qint64 time, const QString &repository,
    const QString &maintainer, const QString &description)
{
    exec(QStringLiteral("INSERT INTO infos VALUES(?,?,?,?,?,?,?,'','','','');"),
        { name, time, QStringLiteral("0123456789abcdef0123456789abcdef"), version, maintainer, repository,
            description });
}
