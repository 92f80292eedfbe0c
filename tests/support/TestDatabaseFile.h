#ifndef TESTDATABASEFILE_H
#define TESTDATABASEFILE_H

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

struct sqlite3;

// Direct access to one SQLite file of the package database, beside the
// program's own handle: tests write rows the way the repository updater and
// the installer do and read back what the program stored.
class TestDatabaseFile
{
public:
    enum Kind { Plain, Status, Repository };

    // Opens (creating) the file; Status and Repository also create the
    // program's tables the file lacks.
    explicit TestDatabaseFile(const QString &path, Kind kind = Plain);
    ~TestDatabaseFile();
    TestDatabaseFile(const TestDatabaseFile &) = delete;
    TestDatabaseFile &operator=(const TestDatabaseFile &) = delete;

    bool isOpen() const { return m_db; }
    sqlite3 *handle() const { return m_db; }

    // Runs sql with values (strings or integers) bound to its "?" in order.
    bool exec(const QString &sql, const QVariantList &values = QVariantList());
    // Every row of a query, each column as text.
    QList<QStringList> rows(const QString &sql, const QVariantList &values = QVariantList());
    // The first column of the first row, or a null string.
    QString value(const QString &sql, const QVariantList &values = QVariantList());

    // Repository file content, as the index import writes it.
    void addRepositoryPackage(const QString &name, const QString &maintainer = QString(),
        const QString &description = QString(), const QStringList &categories = QStringList());
    // dependencies: "name" or "name comparison" items.
    void addRepositoryFile(const QString &name, const QString &version, const QString &architecture, qint64 time,
        const QString &md5sum = QString(), const QStringList &dependencies = QStringList());

    // Status file content: a "status" row, and an "infos" row of an
    // installed version.
    void addStatus(
        const QString &name, int flags, const QString &requested = QString(), const QString &dependants = QString());
    void addInstalled(const QString &name, const QString &version, qint64 time, const QString &repository = QString(),
        const QString &maintainer = QString(), const QString &description = QString());

private:
    sqlite3 *m_db = nullptr;
};

#endif // TESTDATABASEFILE_H
