#include "tests/support/ScenarioApplySteps.h"

#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerApplyRun.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/ScenarioRunner.h"
#include "tests/support/TestDatabaseFile.h"
#include "tests/support/TestSandbox.h"
#include "ui/ZelManagerOperationModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

#include <archive.h>
#include <archive_entry.h>

namespace {

using Line = ScenarioRunner::Line;

const int RunTimeoutMs = 120000;

const QStringList &statusNames()
{
    static const QStringList names = { "waiting", "error", "canceling", "removing", "upgrading", "installing",
        "parsing", "downloading", "reinstalling", "removed", "finished", "downloaded" };
    return names;
}

QString outcomeName(ZelManagerApplyRun::Outcome outcome)
{
    switch (outcome) {
    case ZelManagerApplyRun::Succeeded:
        return QStringLiteral("succeeded");
    case ZelManagerApplyRun::Failed:
        return QStringLiteral("failed");
    case ZelManagerApplyRun::Stopped:
        return QStringLiteral("stopped");
    default:
        return QStringLiteral("not ended");
    }
}

// The line's text after its first count words; then its "|" lines, each
// after a line feed.
QString textAfter(const Line &line, int count)
{
    QString rest = line.text;
    for (int n = 0; n < count; ++n)
        rest = rest.section(QRegularExpression(QStringLiteral("\\s+")), 1);
    for (const QString &block : line.block)
        rest += QLatin1Char('\n') + block;
    return rest;
}

QString shown(const QByteArray &data)
{
    QString text;
    for (const char c : data.left(300)) {
        const uchar u = uchar(c);
        if (c == '\n')
            text += QStringLiteral("\\n");
        else if (c == '\\')
            text += QStringLiteral("\\\\");
        else if (u < 0x20 || u >= 0x7f)
            text += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else
            text += QLatin1Char(c);
    }
    return data.size() > 300 ? text + QStringLiteral("...") : text;
}

QByteArray gunzip(const QString &path, bool *ok)
{
    struct archive *archive = archive_read_new();
    archive_read_support_filter_gzip(archive);
    archive_read_support_format_raw(archive);
    QByteArray result;
    struct archive_entry *entry = nullptr;
    *ok = archive_read_open_filename(archive, QFile::encodeName(path).constData(), 10240) == ARCHIVE_OK
        && archive_read_next_header(archive, &entry) == ARCHIVE_OK
        && archive_filter_code(archive, 0) == ARCHIVE_FILTER_GZIP;
    char block[8192];
    la_ssize_t got = 0;
    while (*ok && (got = archive_read_data(archive, block, sizeof block)) > 0)
        result.append(block, int(got));
    *ok = *ok && got == 0;
    archive_read_free(archive);
    return result;
}

QString statusFile()
{
    const ZelManagerDatabase *database = ZelManagerDatabase::instance();
    return database->databaseFolder() + QLatin1Char('/') + database->architecture() + QStringLiteral(".db");
}

// apply [limit=N] [stop-when=NAME:STATUS]
bool actionApply(ScenarioRunner &runner, const Line &line)
{
    int limit = runner.workers();
    QString stopName;
    int stopStatus = -1;
    for (const QString &word : line.words.mid(1)) {
        if (word.startsWith(QLatin1String("limit=")) && word.mid(6).toInt() > 0) {
            limit = word.mid(6).toInt();
        } else if (word.startsWith(QLatin1String("stop-when=")) && word.count(QLatin1Char(':')) == 1
            && statusNames().contains(word.section(QLatin1Char(':'), 1))) {
            stopName = word.mid(10).section(QLatin1Char(':'), 0, 0);
            stopStatus = statusNames().indexOf(word.section(QLatin1Char(':'), 1));
        } else {
            runner.fail(line, QStringLiteral("`%1`: %2 is not understood").arg(line.text, word));
            return false;
        }
    }
    ZelManagerApplyRun run;
    run.setLimit(limit);
    if (!stopName.isEmpty()) {
        QObject::connect(run.operationModel(), &QAbstractItemModel::dataChanged, &run, [&]() {
            if (runner.database()->package(stopName).status() == stopStatus)
                run.stop();
        });
    }
    bool timedOut = false;
    QTimer::singleShot(RunTimeoutMs, &run, [&]() {
        timedOut = true;
        run.stop();
    });
    run.exec();
    runner.setValue(QStringLiteral("outcome"), outcomeName(run.outcome()));
    if (timedOut) {
        runner.fail(
            line, QStringLiteral("`%1`: the run did not end within %2 s").arg(line.text).arg(RunTimeoutMs / 1000));
        return false;
    }
    return true;
}

// put PATH CONTENT: a file in the install folder, as a user may leave one.
bool actionPut(ScenarioRunner &runner, const Line &line)
{
    const QString path = runner.targetPath() + QLatin1Char('/') + line.words.value(1);
    if (line.words.size() < 2 || !TestSandbox::writeFile(path, runner.expand(textAfter(line, 2)))) {
        runner.fail(line, QStringLiteral("`%1`: can not write %2").arg(line.text, path));
        return false;
    }
    return true;
}

bool actionDelete(ScenarioRunner &runner, const Line &line)
{
    const QString path = runner.targetPath() + QLatin1Char('/') + line.words.value(1);
    if (line.words.size() != 2 || !QFile::remove(path)) {
        runner.fail(line, QStringLiteral("`%1`: can not delete %2").arg(line.text, path));
        return false;
    }
    return true;
}

QString ruleOutcome(ScenarioRunner &runner, const Line &line)
{
    const QString found = runner.value(QStringLiteral("outcome"));
    if (found == line.words.value(1))
        return QString();
    return found.isEmpty() ? QStringLiteral("no apply run") : QStringLiteral("the run %1").arg(found);
}

// file PATH absent | present | = CONTENT | contains CONTENT | gunzips-to CONTENT
QString ruleFile(ScenarioRunner &runner, const Line &line)
{
    const QString path = runner.targetPath() + QLatin1Char('/') + line.words.value(1);
    const QString mode = line.words.value(2);
    const QFileInfo info(path);
    if (mode == QLatin1String("absent"))
        return info.exists() || info.isSymLink() ? QStringLiteral("the file is there") : QString();
    if (!info.isFile())
        return info.exists() ? QStringLiteral("no regular file") : QStringLiteral("no file");
    if (mode == QLatin1String("present"))
        return QString();
    const QByteArray expected = runner.expand(textAfter(line, 3));
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QByteArray found = file.readAll();
    if (mode == QLatin1String("gunzips-to")) {
        bool ok = false;
        found = gunzip(path, &ok);
        if (!ok)
            return QStringLiteral("no gzip data");
    } else if (mode == QLatin1String("contains")) {
        return found.contains(expected) ? QString() : QStringLiteral("the content `%1`").arg(shown(found));
    } else if (mode != QLatin1String("=")) {
        return QStringLiteral("no such check: %1").arg(mode);
    }
    return found == expected ? QString() : QStringLiteral("the content `%1`").arg(shown(found));
}

QString ruleFolder(ScenarioRunner &runner, const Line &line)
{
    const QFileInfo info(runner.targetPath() + QLatin1Char('/') + line.words.value(1));
    if (line.words.value(2) == QLatin1String("absent"))
        return info.exists() ? QStringLiteral("the folder is there") : QString();
    return info.isDir() ? QString() : QStringLiteral("no folder");
}

QMap<QString, int> recordedFiles(const QString &package)
{
    QMap<QString, int> files;
    TestDatabaseFile status(statusFile());
    const QList<QStringList> rows
        = status.rows(QStringLiteral("SELECT entry,nofix FROM fileentries WHERE package=?;"), { package });
    for (const QStringList &row : rows)
        files.insert(row.value(0), row.value(1).toInt());
    return files;
}

QString describe(const QMap<QString, int> &files)
{
    QStringList items;
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        items.append(it.key() + (it.value() ? QStringLiteral(" fix") : QStringLiteral(" nofix")));
    return items.isEmpty() ? QStringLiteral("no files recorded") : QStringLiteral("recorded: ") + items.join(", ");
}

// recorded X none | recorded X PATH [fix|nofix]
QString ruleRecorded(ScenarioRunner &runner, const Line &line)
{
    if (runner.package(line, 1).isNull())
        return QString();
    const QMap<QString, int> files = recordedFiles(line.words.value(1));
    const QString path = line.words.value(2);
    if (path == QLatin1String("none"))
        return files.isEmpty() ? QString() : describe(files);
    const QString flag = line.words.value(3);
    const bool holds
        = files.contains(path) && (flag.isEmpty() || (flag == QLatin1String("fix")) == (files.value(path) == 1));
    return holds ? QString() : describe(files);
}

QString ruleNotRecorded(ScenarioRunner &, const Line &line)
{
    const QMap<QString, int> files = recordedFiles(line.words.value(1));
    return files.contains(line.words.value(2)) ? describe(files) : QString();
}

QStringList errorsOf(const QString &package)
{
    QStringList texts;
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    for (const qint64 id : database->errorIds()) {
        const ZelManagerDatabase::ErrorRecord record = database->error(id);
        if (package.isNull() || record.package == package)
            texts.append(record.description);
    }
    return texts;
}

QString describeErrors(const QStringList &texts)
{
    if (texts.isEmpty())
        return QStringLiteral("no errors");
    QString text = QStringLiteral("the errors");
    for (const QString &error : texts)
        text += QStringLiteral("\n    | ") + QString(error).replace(QLatin1Char('\n'), QStringLiteral("\n    | "));
    return text;
}

// error X TEXT | error X contains TEXT
QString ruleError(ScenarioRunner &runner, const Line &line)
{
    const QStringList texts = errorsOf(line.words.value(1));
    const bool contains = line.words.value(2) == QLatin1String("contains");
    const QString expected = QString::fromUtf8(runner.expand(textAfter(line, contains ? 3 : 2)));
    for (const QString &text : texts) {
        if (contains ? text.contains(expected) : text == expected)
            return QString();
    }
    return describeErrors(texts);
}

// errors none | errors X none | errors X N
QString ruleErrors(ScenarioRunner &, const Line &line)
{
    const bool all = line.words.size() == 2;
    const QStringList texts = errorsOf(all ? QString() : line.words.value(1));
    const QString count = line.words.value(all ? 1 : 2);
    const int expected = count == QLatin1String("none") ? 0 : count.toInt();
    return texts.size() == expected ? QString() : describeErrors(texts);
}

QString ruleUnfixed(ScenarioRunner &, const Line &line)
{
    const bool found = ZelManagerSettings::instance()->excludedFiles().contains(line.words.value(1));
    if (found == (line.words.value(2) == QLatin1String("yes")))
        return QString();
    return found ? QStringLiteral("listed as unfixed") : QStringLiteral("not listed as unfixed");
}

// log none | log followed by "|" lines
QString ruleLog(ScenarioRunner &runner, const Line &line)
{
    const QString expected = line.block.isEmpty() ? QString() : line.block.join(QLatin1Char('\n')) + QLatin1Char('\n');
    const QString found = QFileInfo::exists(runner.logFile()) ? TestSandbox::readFile(runner.logFile()) : QString();
    if (found == expected)
        return QString();
    return found.isEmpty()
        ? QStringLiteral("an empty log")
        : QStringLiteral("the log\n    | ") + found.trimmed().replace('\n', QStringLiteral("\n    | "));
}

} // namespace

void ScenarioApplySteps::registerSteps()
{
    ScenarioRunner::addServedAction(QStringLiteral("apply"), actionApply);
    ScenarioRunner::addAction(QStringLiteral("put"), actionPut);
    ScenarioRunner::addAction(QStringLiteral("delete"), actionDelete);
    ScenarioRunner::addRule(QStringLiteral("outcome"), ruleOutcome);
    ScenarioRunner::addRule(QStringLiteral("file"), ruleFile);
    ScenarioRunner::addRule(QStringLiteral("folder"), ruleFolder);
    ScenarioRunner::addRule(QStringLiteral("recorded"), ruleRecorded);
    ScenarioRunner::addRule(QStringLiteral("not-recorded"), ruleNotRecorded);
    ScenarioRunner::addRule(QStringLiteral("error"), ruleError);
    ScenarioRunner::addRule(QStringLiteral("errors"), ruleErrors);
    ScenarioRunner::addRule(QStringLiteral("unfixed"), ruleUnfixed);
    ScenarioRunner::addRule(QStringLiteral("log"), ruleLog);
}
