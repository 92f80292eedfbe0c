// The journal of the package database: which installation or removal is
// under way, so that a start after a crash finds what was left half done.

#include "database/ZelManagerDatabase.h"

#include "database/ZelManagerSql.h"
#include "database/ZelManagerSqlStatement.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sqlite3.h>

namespace {

enum FileKind { NewFile = 1, OldFile = 2 };

// The version being installed, kept whole: a switch completed at the next
// start records it as the installer would have.
QString infoText(const PackageInfo &info)
{
    QJsonObject files;
    for (auto it = info.fileEntries.cbegin(); it != info.fileEntries.cend(); ++it)
        files.insert(it.key(), it.value());
    const QJsonObject object {
        { QStringLiteral("time"), QString::number(info.time) },
        { QStringLiteral("name"), info.name },
        { QStringLiteral("md5sum"), info.md5sum },
        { QStringLiteral("version"), info.version },
        { QStringLiteral("prerm"), info.prerm },
        { QStringLiteral("postrm"), info.postrm },
        { QStringLiteral("preinst"), info.preinst },
        { QStringLiteral("postinst"), info.postinst },
        { QStringLiteral("repository"), info.repository.toString() },
        { QStringLiteral("dependencies"), QJsonArray::fromStringList(info.dependencies) },
        { QStringLiteral("files"), files },
    };
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

PackageInfo infoFromText(const QString &text)
{
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    PackageInfo info;
    info.time = object.value(QStringLiteral("time")).toString().toLongLong();
    info.name = object.value(QStringLiteral("name")).toString();
    info.md5sum = object.value(QStringLiteral("md5sum")).toString();
    info.version = object.value(QStringLiteral("version")).toString();
    info.prerm = object.value(QStringLiteral("prerm")).toString();
    info.postrm = object.value(QStringLiteral("postrm")).toString();
    info.preinst = object.value(QStringLiteral("preinst")).toString();
    info.postinst = object.value(QStringLiteral("postinst")).toString();
    info.repository = QUrl(object.value(QStringLiteral("repository")).toString());
    for (const QJsonValue &item : object.value(QStringLiteral("dependencies")).toArray())
        info.dependencies.append(item.toString());
    const QJsonObject files = object.value(QStringLiteral("files")).toObject();
    for (auto it = files.constBegin(); it != files.constEnd(); ++it)
        info.fileEntries.insert(it.key(), it.value().toBool());
    return info;
}

} // namespace

bool ZelManagerDatabase::writeJournal(const JournalEntry &entry)
{
    const bool ok = inSavepoint("journal", [&] {
        if (!dropJournal(entry.package))
            return false;
        ZelManagerSqlStatement row = keptStatement("INSERT INTO journal VALUES(?,?,?,?);");
        row.bind(1, entry.package).bind(2, qint64(entry.operation)).bind(3, qint64(entry.phase));
        if (!checkWrite(row.bind(4, entry.operation == JournalRemove ? QString() : infoText(entry.info)).exec()))
            return false;
        ZelManagerSqlStatement file = keptStatement("INSERT INTO journalfiles VALUES(?,?,?);");
        for (const QString &path : entry.newFiles) {
            if (!checkWrite(file.bind(1, entry.package).bind(2, qint64(NewFile)).bind(3, path).exec()))
                return false;
        }
        for (const QString &path : entry.oldFiles) {
            if (!checkWrite(file.bind(1, entry.package).bind(2, qint64(OldFile)).bind(3, path).exec()))
                return false;
        }
        return true;
    });
    if (ok && commitProgress())
        return true;
    // Not to be committed by a later package's commit.
    const QString error = m_writeError;
    dropJournal(entry.package);
    m_writeError = error;
    return false;
}

bool ZelManagerDatabase::setJournalSwitching(const QString &package, const QStringList &oldFiles)
{
    const bool ok = inSavepoint("journal", [&] {
        ZelManagerSqlStatement phase(m_statusDb, "UPDATE journal SET phase=? WHERE package=?;");
        if (!checkWrite(phase.bind(1, qint64(JournalSwitching)).bind(2, package).exec()))
            return false;
        ZelManagerSqlStatement file(m_statusDb, "INSERT INTO journalfiles VALUES(?,?,?);");
        for (const QString &path : oldFiles) {
            if (!checkWrite(file.bind(1, package).bind(2, qint64(OldFile)).bind(3, path).exec()))
                return false;
        }
        return true;
    });
    return ok && commitProgress();
}

bool ZelManagerDatabase::dropJournal(const QString &package)
{
    ZelManagerSqlStatement row = keptStatement("DELETE FROM journal WHERE package=?;");
    ZelManagerSqlStatement files = keptStatement("DELETE FROM journalfiles WHERE package=?;");
    return checkWrite(row.bind(1, package).exec()) && checkWrite(files.bind(1, package).exec());
}

// The record follows the tables: what records() changed of it is undone
// when the writes are.
bool ZelManagerDatabase::commitOutcome(const QString &package, const std::function<bool()> &records)
{
    ZelManagerPackage record = this->package(package);
    const int flags = record.isNull() ? 0 : record.flags();
    const QStringList requested = record.isNull() ? QStringList() : record.requestedBy();
    const QStringList dependants = record.isNull() ? QStringList() : record.dependants();
    if (inSavepoint("outcome", [&] { return records() && dropJournal(package); }) && commitProgress())
        return true;
    if (!record.isNull())
        record.setStoredState(flags, requested, dependants);
    return false;
}

QList<ZelManagerDatabase::JournalEntry> ZelManagerDatabase::journal() const
{
    QList<JournalEntry> entries;
    ZelManagerSqlStatement rows(m_statusDb, "SELECT package,operation,phase,info FROM journal;");
    while (rows.next()) {
        JournalEntry entry;
        entry.package = rows.text(0);
        entry.operation = int(rows.int64(1));
        entry.phase = int(rows.int64(2));
        if (entry.operation != JournalRemove)
            entry.info = infoFromText(rows.text(3));
        entries.append(entry);
    }
    ZelManagerSqlStatement files(m_statusDb, "SELECT kind,entry FROM journalfiles WHERE package=?;");
    for (JournalEntry &entry : entries) {
        files.bind(1, entry.package);
        while (files.next())
            (files.int64(0) == OldFile ? entry.oldFiles : entry.newFiles).append(files.text(1));
        files.reset();
    }
    return entries;
}

QString ZelManagerDatabase::fileOwner(const QString &file, const QString &package) const
{
    ZelManagerSqlStatement query(
        m_statusDb, "SELECT package FROM fileentries WHERE entry=?1 COLLATE NOCASE AND package<>?2 LIMIT 1;");
    return query.bind(1, file).bind(2, package).next() ? query.text(0) : QString();
}
