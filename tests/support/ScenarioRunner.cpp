#include "tests/support/ScenarioRunner.h"

#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerScriptEngine.h"
#include "integration/ZelManagerTrigger.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TestPackageDatabase.h"
#include "tests/support/TestRepository.h"
#include "tools/ZelManagerRepositoryBuilder.h"
#include "tools/ZelManagerRepositoryIndex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {

const QString MainRepository = QStringLiteral("main");

QHash<QString, ScenarioRunner::Action> &actions();
QHash<QString, ScenarioRunner::Rule> &rules();

QSet<QString> &servedActions()
{
    static QSet<QString> keywords;
    return keywords;
}

// \n \t \r \0 \\ and \xHH; any other character after a backslash stands for itself.
QByteArray unescape(const QByteArray &text)
{
    QByteArray result;
    result.reserve(text.size());
    for (int n = 0; n < text.size(); ++n) {
        const char c = text.at(n);
        if (c != '\\' || n + 1 == text.size()) {
            result += c;
            continue;
        }
        const char next = text.at(++n);
        if (next == 'n')
            result += '\n';
        else if (next == 't')
            result += '\t';
        else if (next == 'r')
            result += '\r';
        else if (next == '0')
            result += '\0';
        else if (next == 'x' && n + 2 < text.size()) {
            result += char(text.mid(n + 1, 2).toInt(nullptr, 16));
            n += 2;
        } else
            result += next;
    }
    return result;
}

// Runs one change of requests as the panels do: inside a batch that ends
// with a refresh, so that what is checked afterwards is what was stored.
template <typename Change> void inBatch(ZelManagerDatabase *database, Change change)
{
    database->beginTransaction();
    change();
    database->endTransaction(true);
}

QStringList sortedNames(ZelManagerDatabase *database, const std::function<bool(const ZelManagerPackage &)> &test)
{
    QStringList names;
    for (const ZelManagerPackage &package : database->packages()) {
        if (test(package))
            names.append(package.name());
    }
    std::sort(names.begin(), names.end());
    return names;
}

ScenarioRunner::Action packageAction(
    const std::function<QString(ZelManagerDatabase *database, const ZelManagerPackage &package)> &operation)
{
    return [operation](ScenarioRunner &runner, const ScenarioRunner::Line &line) {
        const ZelManagerPackage package = runner.package(line, 1);
        if (package.isNull())
            return false;
        inBatch(runner.database(), [&]() { runner.setLastMessage(operation(runner.database(), package)); });
        return true;
    };
}

QString requestName(int flags)
{
    QString text;
    switch (flags & 0xF00) {
    case 0:
        text = QStringLiteral("none");
        break;
    case ZelManagerPackage::RequestInstall:
        text = QStringLiteral("install");
        break;
    case ZelManagerPackage::RequestUpgrade:
        text = QStringLiteral("upgrade");
        break;
    case ZelManagerPackage::RequestReinstall:
        text = QStringLiteral("reinstall");
        break;
    case ZelManagerPackage::RequestRemove:
        text = QStringLiteral("remove");
        break;
    default:
        text = QStringLiteral("0x%1").arg(flags & 0xF00, 0, 16);
    }
    if (flags & ZelManagerPackage::FlagAutomatic)
        text += QStringLiteral(" automatic");
    return text;
}

const QList<QPair<QString, int>> &stateBits()
{
    static const QList<QPair<QString, int>> bits = {
        { QStringLiteral("broken"), ZelManagerPackage::FlagBroken },
        { QStringLiteral("installable"), ZelManagerPackage::FlagInstallable },
        { QStringLiteral("installed"), ZelManagerPackage::FlagInstalled },
        { QStringLiteral("upgradable"), ZelManagerPackage::FlagUpgradable },
    };
    return bits;
}

QString stateNames(int flags)
{
    QStringList names;
    for (const auto &bit : stateBits()) {
        if (flags & bit.second)
            names.append(bit.first);
    }
    return names.isEmpty() ? QStringLiteral("none") : names.join(QLatin1Char(' '));
}

QString quotedMessage(const QString &message)
{
    if (message.isEmpty())
        return QStringLiteral("no message");
    QString text = QStringLiteral("the message");
    const QStringList lines = message.split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        if (n == lines.size() - 1 && lines.at(n).isEmpty())
            break;
        text += QStringLiteral("\n    | ") + lines.at(n);
    }
    if (!message.endsWith(QLatin1Char('\n')))
        text += QStringLiteral("\n    (without a final line feed)");
    return text;
}

QString ruleRequest(ScenarioRunner &runner, const ScenarioRunner::Line &line)
{
    const ZelManagerPackage package = runner.package(line, 1);
    const QString expected = line.words.mid(2).join(QLatin1Char(' '));
    const QString found = requestName(package.flags());
    if (found == expected)
        return QString();
    return QStringLiteral("request %1 (flags 0x%2)").arg(found).arg(package.flags(), 0, 16);
}

QString ruleRequestedBy(ScenarioRunner &runner, const ScenarioRunner::Line &line)
{
    QStringList expected = line.words.mid(2);
    QStringList found = runner.package(line, 1).requestedBy();
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    if (found == expected)
        return QString();
    return found.isEmpty() ? QStringLiteral("requested by nobody")
                           : QStringLiteral("requested by %1").arg(found.join(QLatin1Char(' ')));
}

QString ruleState(ScenarioRunner &runner, const ScenarioRunner::Line &line)
{
    const ZelManagerPackage package = runner.package(line, 1);
    int expected = 0;
    for (const QString &word : line.words.mid(2)) {
        for (const auto &bit : stateBits())
            expected |= word == bit.first ? bit.second : 0;
    }
    const int found = package.flags() & 0xF;
    return found == expected ? QString() : QStringLiteral("state %1").arg(stateNames(found));
}

QString ruleRequests(ScenarioRunner &runner, const ScenarioRunner::Line &line)
{
    QStringList expected = line.words.mid(1);
    std::sort(expected.begin(), expected.end());
    const QStringList found
        = sortedNames(runner.database(), [](const ZelManagerPackage &package) { return package.isRequested(); });
    if (found == expected)
        return QString();
    return found.isEmpty() ? QStringLiteral("no package requested")
                           : QStringLiteral("requests on %1").arg(found.join(QLatin1Char(' ')));
}

QString ruleMessage(ScenarioRunner &runner, const ScenarioRunner::Line &line)
{
    const QString expected = line.block.isEmpty() ? QString() : line.block.join(QLatin1Char('\n')) + QLatin1Char('\n');
    return runner.lastMessage() == expected ? QString() : quotedMessage(runner.lastMessage());
}

ScenarioRunner::Rule versionRule(const std::function<QString(const ZelManagerPackage &package)> &version)
{
    return [version](ScenarioRunner &runner, const ScenarioRunner::Line &line) {
        const QString expected = line.words.value(2) == QLatin1String("none") ? QString() : line.words.value(2);
        const QString found = version(runner.package(line, 1));
        if (found == expected)
            return QString();
        return found.isEmpty() ? QStringLiteral("no version") : QStringLiteral("version %1").arg(found);
    };
}

QString ruleBookmarked(ScenarioRunner &runner, const ScenarioRunner::Line &line)
{
    const bool found = runner.package(line, 1).isBookmarked();
    return found == (line.words.value(2) == QLatin1String("yes"))
        ? QString()
        : (found ? QStringLiteral("bookmarked") : QStringLiteral("not bookmarked"));
}

bool actionUpgradeAll(ScenarioRunner &runner, const ScenarioRunner::Line &)
{
    ZelManagerDatabase *database = runner.database();
    QString messages;
    inBatch(database, [&]() {
        const QStringList names = sortedNames(database,
            [](const ZelManagerPackage &package) { return package.isUpgradable() && !package.isRequested(); });
        for (const QString &name : names)
            messages += database->requestUpgrade(database->package(name), QString());
    });
    runner.setLastMessage(messages);
    return true;
}

bool actionCancelAll(ScenarioRunner &runner, const ScenarioRunner::Line &)
{
    ZelManagerDatabase *database = runner.database();
    inBatch(database, [&]() {
        const QStringList names
            = sortedNames(database, [](const ZelManagerPackage &package) { return package.isRequested(); });
        for (const QString &name : names)
            database->cancelRequest(database->package(name));
    });
    runner.setLastMessage(QString());
    return true;
}

QHash<QString, ScenarioRunner::Action> &actions()
{
    static QHash<QString, ScenarioRunner::Action> table = {
        { QStringLiteral("install"),
            packageAction([](ZelManagerDatabase *db, const ZelManagerPackage &p) { return db->requestInstall(p); }) },
        { QStringLiteral("upgrade"), packageAction([](ZelManagerDatabase *db, const ZelManagerPackage &p) {
             return db->requestUpgrade(p, QString());
         }) },
        { QStringLiteral("reinstall"),
            packageAction([](ZelManagerDatabase *db, const ZelManagerPackage &p) { return db->requestReinstall(p); }) },
        { QStringLiteral("remove"),
            packageAction([](ZelManagerDatabase *db, const ZelManagerPackage &p) { return db->requestRemove(p); }) },
        { QStringLiteral("cancel"),
            packageAction([](ZelManagerDatabase *db, const ZelManagerPackage &p) { return db->cancelRequest(p); }) },
        { QStringLiteral("bookmark"), packageAction([](ZelManagerDatabase *, ZelManagerPackage p) {
             p.setBookmarked(true);
             return QString();
         }) },
        { QStringLiteral("unbookmark"), packageAction([](ZelManagerDatabase *, ZelManagerPackage p) {
             p.setBookmarked(false);
             return QString();
         }) },
        { QStringLiteral("upgrade-all"), actionUpgradeAll },
        { QStringLiteral("cancel-all"), actionCancelAll },
    };
    return table;
}

QHash<QString, ScenarioRunner::Rule> &rules()
{
    static QHash<QString, ScenarioRunner::Rule> table = {
        { QStringLiteral("request"), ruleRequest },
        { QStringLiteral("requested-by"), ruleRequestedBy },
        { QStringLiteral("state"), ruleState },
        { QStringLiteral("requests"), ruleRequests },
        { QStringLiteral("message"), ruleMessage },
        { QStringLiteral("installed"),
            versionRule([](const ZelManagerPackage &package) { return package.installedVersion(); }) },
        { QStringLiteral("available"),
            versionRule([](const ZelManagerPackage &package) { return package.availableVersion(); }) },
        { QStringLiteral("bookmarked"), ruleBookmarked },
    };
    return table;
}

} // namespace

ScenarioRunner::ScenarioRunner(const QString &path, int workers)
    : m_path(path)
    , m_workers(workers)
{
}

QList<int> ScenarioRunner::workerCounts(const QString &path)
{
    QList<int> counts;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return counts;
    for (const QString &text : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const QString line = text.trimmed();
        if (line.startsWith(QLatin1Char('[')))
            break;
        if (!line.startsWith(QLatin1String("workers ")))
            continue;
        for (const QString &word : line.mid(8).split(QLatin1Char(' '), Qt::SkipEmptyParts))
            counts.append(word.toInt());
    }
    return counts;
}

ScenarioRunner::~ScenarioRunner()
{
    if (m_served) {
        destroyTriggers();
        ZelManagerScriptEngine::cleanup();
    }
    m_fixture.reset();
    m_server.reset();
}

QString ScenarioRunner::name() const
{
    return QFileInfo(m_path).completeBaseName();
}

void ScenarioRunner::addAction(const QString &keyword, const Action &action)
{
    actions().insert(keyword, action);
}

void ScenarioRunner::addRule(const QString &keyword, const Rule &rule)
{
    rules().insert(keyword, rule);
}

void ScenarioRunner::addServedAction(const QString &keyword, const Action &action)
{
    actions().insert(keyword, action);
    servedActions().insert(keyword);
}

QString ScenarioRunner::targetPath() const
{
    return ZelManagerSettings::instance()->targetPath();
}

QString ScenarioRunner::logFile() const
{
    return sandbox().path() + QStringLiteral("/log");
}

QByteArray ScenarioRunner::expand(const QString &text) const
{
    const QString prefix = ZelManagerSettings::instance()->toolchainRoot();
    const int gap = qMax(0, prefix.toUtf8().size() - targetPath().toUtf8().size());
    QString replaced = text;
    replaced.replace(QLatin1String("@PREFIX@"), prefix);
    replaced.replace(QLatin1String("@TARGET@"), targetPath());
    replaced.replace(QLatin1String("@LOG@"), logFile());
    replaced.replace(QLatin1String("@BLANKS@"), QString(gap, QLatin1Char(' ')));
    replaced.replace(QLatin1String("@ZEROS@"), QStringLiteral("\\0").repeated(gap));
    return unescape(replaced.toUtf8());
}

// "log words" appends the words to the log file; anything else is the
// script's own text.
QString ScenarioRunner::script(const QString &text) const
{
    if (!text.startsWith(QLatin1String("log ")))
        return text;
    return QStringLiteral("exec(\"/bin/sh\", 0, \"\", \"-c\", \"echo %1 >> %2\");\n").arg(text.mid(4), logFile());
}

QString ScenarioRunner::repositoryFolder(const QString &repository) const
{
    return sandbox().path() + QStringLiteral("/repositories/") + repository;
}

QUrl ScenarioRunner::repositoryUrl(const QString &repository) const
{
    if (m_server)
        return QUrl(m_server->url().toString() + QLatin1Char('/') + repository);
    return QUrl::fromLocalFile(repositoryFolder(repository));
}
const TestSandbox &ScenarioRunner::sandbox() const
{
    return m_fixture->sandbox();
}

void ScenarioRunner::fail(const Line &line, const QString &what)
{
    m_failures.append(QStringLiteral("%1:%2: %3").arg(m_path).arg(line.number).arg(what));
}

ZelManagerPackage ScenarioRunner::package(const Line &line, int word)
{
    const ZelManagerPackage package = m_database->package(line.words.value(word));
    if (package.isNull())
        fail(line, QStringLiteral("`%1`: no package %2 in the database").arg(line.text, line.words.value(word)));
    return package;
}

bool ScenarioRunner::run()
{
    if (!parse() || !setUp())
        return false;
    act();
    if (m_failures.isEmpty())
        check();
    return m_failures.isEmpty();
}

bool ScenarioRunner::parse()
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        m_failures.append(QStringLiteral("%1: cannot be read").arg(m_path));
        return false;
    }
    const QStringList texts = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    QString section;
    QList<QPair<QString, Line>> lines;
    for (int n = 0; n < texts.size(); ++n) {
        const QString text = texts.at(n).trimmed();
        if (text.startsWith(QLatin1Char('|')) && !lines.isEmpty()) {
            lines.last().second.block.append(text.mid(text.startsWith(QLatin1String("| ")) ? 2 : 1));
            continue;
        }
        if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
            continue;
        Line line { n + 1, text, text.split(QRegularExpression(QStringLiteral("\\s+"))), QStringList() };
        if (text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']'))) {
            section = text.mid(1, text.size() - 2).simplified();
            continue;
        }
        lines.append({ section, line });
    }
    bool ok = true;
    for (const auto &line : qAsConst(lines))
        ok &= parseLine(line.first, line.second);
    for (const Line &line : qAsConst(m_actions))
        m_served |= servedActions().contains(line.words.first());
    return ok;
}

bool ScenarioRunner::parseLine(const QString &section, const Line &line)
{
    const QString keyword = line.words.first();
    if (section.isEmpty() && keyword == QLatin1String("architecture") && line.words.size() == 2) {
        m_architecture = line.words.at(1);
        return true;
    }
    if (section.isEmpty() && keyword == QLatin1String("workers") && line.words.size() > 1) {
        const QStringList counts = line.words.mid(1);
        if (std::all_of(counts.cbegin(), counts.cend(), [](const QString &word) { return word.toInt() > 0; }))
            return true;
    }
    if (section == QLatin1String("repository") || section.startsWith(QLatin1String("repository ")))
        return parseOffer(section == QLatin1String("repository") ? MainRepository : section.mid(11), line);
    if (section == QLatin1String("installed"))
        return parseInstalled(line);
    if (section == QLatin1String("actions") && actions().contains(keyword)) {
        m_actions.append(line);
        return true;
    }
    if (section == QLatin1String("expect") && rules().contains(keyword)) {
        m_rules.append(line);
        return true;
    }
    fail(line, QStringLiteral("`%1` is not understood in [%2]").arg(line.text, section));
    return false;
}

// "name version [field=value ...] [: dependency, dependency ...]": the
// fields before the colon, the dependency texts after it.
bool ScenarioRunner::parsePackageLine(const Line &line, QStringList &fields, QStringList &dependencies)
{
    const int colon = line.text.indexOf(QLatin1Char(':'));
    fields = line.text.left(colon).simplified().split(QLatin1Char(' '));
    if (colon >= 0) {
        for (const QString &item : line.text.mid(colon + 1).split(QLatin1Char(','))) {
            if (!item.trimmed().isEmpty())
                dependencies.append(item.trimmed());
        }
    }
    if (fields.size() < 2) {
        fail(line, QStringLiteral("`%1`: a package needs a name and a version").arg(line.text));
        return false;
    }
    return true;
}

bool ScenarioRunner::parseOffer(const QString &repository, const Line &line)
{
    Offer offer;
    QStringList fields;
    if (!parsePackageLine(line, fields, offer.dependencies))
        return false;
    offer.repository = repository;
    offer.name = fields.at(0);
    offer.version = fields.at(1);
    for (const QString &field : fields.mid(2)) {
        if (field.startsWith(QLatin1String("time=")))
            offer.time = field.mid(5).toLongLong();
        else
            offer.architecture = field;
    }
    if (!m_repositories.contains(repository))
        m_repositories.append(repository);
    m_offers.append(offer);
    return parseContents(line, true, m_offers.last().contents);
}

// The "|" lines of a package: its files, nofix patterns, scripts and, for
// an offered package, how the server answers for its archive.
bool ScenarioRunner::parseContents(const Line &line, bool offered, Contents &contents)
{
    bool ok = true;
    for (const QString &text : line.block) {
        const QString keyword = text.section(QLatin1Char(' '), 0, 0);
        const QString rest = text.mid(keyword.size() + 1);
        const QString path = rest.section(QLatin1Char(' '), 0, 0);
        if (keyword == QLatin1String("file") && !path.isEmpty()) {
            contents.files.append({ path, rest.mid(path.size() + 1) });
        } else if (keyword == QLatin1String("big") && rest.section(QLatin1Char(' '), 1, 1).toInt() > 0) {
            contents.bigFiles.append({ path, rest.section(QLatin1Char(' '), 1, 1).toInt() });
        } else if (keyword == QLatin1String("nofix") && !rest.isEmpty()) {
            contents.nofix.append(rest);
        } else if (keyword == QLatin1String("preinst") && offered) {
            contents.preinst = rest;
        } else if (keyword == QLatin1String("postinst") && offered) {
            contents.postinst = rest;
        } else if (keyword == QLatin1String("prerm")) {
            contents.prerm = rest;
        } else if (keyword == QLatin1String("postrm")) {
            contents.postrm = rest;
        } else if (keyword == QLatin1String("serve") && offered
            && QStringList({ "missing", "trickle", "drop", "stall" }).contains(path)) {
            contents.serve = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        } else {
            fail(line, QStringLiteral("`| %1` is not understood for a package").arg(text));
            ok = false;
        }
    }
    return ok;
}

bool ScenarioRunner::parseInstalled(const Line &line)
{
    Installed installed;
    QStringList fields;
    if (!parsePackageLine(line, fields, installed.dependencies))
        return false;
    installed.name = fields.at(0);
    installed.version = fields.at(1);
    installed.repository = MainRepository;
    for (const QString &field : fields.mid(2)) {
        if (field.startsWith(QLatin1String("time=")))
            installed.time = field.mid(5).toLongLong();
        else if (field.startsWith(QLatin1String("from=")))
            installed.repository = field.mid(5);
        else
            fail(line, QStringLiteral("`%1`: unknown field %2").arg(line.text, field));
    }
    m_installed.append(installed);
    return parseContents(line, false, m_installed.last().contents);
}

bool ScenarioRunner::setUp()
{
    m_fixture.reset(new TestPackageDatabase(QList<QUrl>()));
    ZelManagerSettings *settings = ZelManagerSettings::instance();
    settings->setArchitecture(m_architecture);
    if (m_served) {
        m_server.reset(new TestHttpServer);
        const QString folder = sandbox().path() + QStringLiteral("/repositories");
        if (!QDir().mkpath(folder) || !m_server->start(folder)) {
            m_failures.append(QStringLiteral("%1: the test HTTP server does not start").arg(m_path));
            return false;
        }
        settings->setCachePath(sandbox().path() + QStringLiteral("/cache"));
        createTriggers();
    }
    for (const QString &repository : qAsConst(m_repositories))
        settings->setRepository(repositoryUrl(repository), repository, true);
    m_database = m_fixture->open();
    if (!importRepositories() || (m_served && !serveArchives()))
        return false;
    recordInstalled();
    return true;
}

// The archive of an offered package, built with the repository tool into
// the repository's folder; its MD5 sum goes into the index.
bool ScenarioRunner::buildArchive(Offer &offer)
{
    ZelManagerRepositoryBuilder::Manifest manifest;
    manifest.name = offer.name;
    manifest.version = offer.version;
    manifest.architecture = offer.architecture;
    manifest.maintainer = QStringLiteral("Scenario");
    manifest.description = QStringLiteral("The %1 package").arg(offer.name);
    manifest.time = offer.time;
    manifest.nofix = offer.contents.nofix;
    manifest.preinst = script(offer.contents.preinst);
    manifest.postinst = script(offer.contents.postinst);
    manifest.prerm = script(offer.contents.prerm);
    manifest.postrm = script(offer.contents.postrm);
    QList<ZelManagerRepositoryBuilder::ArchiveEntry> entries;
    for (const auto &file : qAsConst(offer.contents.files))
        entries.append({ file.first, expand(file.second) });
    QRandomGenerator generator(quint32(qHash(offer.name)));
    for (const auto &file : qAsConst(offer.contents.bigFiles)) {
        QByteArray data(file.second * 1024, Qt::Uninitialized);
        generator.fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
        entries.append({ file.first, data });
    }
    for (auto &entry : entries)
        entry.time = offer.time;
    // The tool writes only clean paths; an untidy one ("lib/./y.dll") is
    // put into the archive as given afterwards.
    QList<ZelManagerRepositoryBuilder::ArchiveEntry> clean = entries;
    bool untidy = false;
    for (auto &entry : clean) {
        untidy |= entry.path != QDir::cleanPath(entry.path);
        entry.path = QDir::cleanPath(entry.path);
    }
    ZelManagerRepositoryBuilder builder;
    builder.setIndexUpdate(false);
    if (!builder.buildPackage(manifest, clean, repositoryFolder(offer.repository))) {
        m_failures.append(QStringLiteral("%1: the archive of %2 %3 was not built: %4")
                              .arg(m_path, offer.name, offer.version, builder.errorText()));
        return false;
    }
    offer.md5sum = builder.md5sum();
    return !untidy || rewriteArchive(builder, entries, offer);
}

bool ScenarioRunner::rewriteArchive(const ZelManagerRepositoryBuilder &builder,
    const QList<ZelManagerRepositoryBuilder::ArchiveEntry> &entries, Offer &offer)
{
    QByteArray xml;
    QString error;
    ZelManagerRepositoryBuilder::ArchiveEntry control(QStringLiteral("package.xml"), QByteArray());
    bool ok = ZelManagerRepositoryBuilder::readControlFile(builder.archivePath(), &xml, &error);
    control.data = xml;
    control.time = offer.time;
    ok = ok
        && ZelManagerRepositoryBuilder::writeArchive(builder.archivePath(),
            QList<ZelManagerRepositoryBuilder::ArchiveEntry> { control } + entries, builder.compression(),
            &offer.md5sum, &error);
    if (!ok)
        m_failures.append(QStringLiteral("%1: the archive of %2 %3 was not written: %4")
                              .arg(m_path, offer.name, offer.version, error));
    return ok;
}

bool ScenarioRunner::serveArchives()
{
    for (const Offer &offer : qAsConst(m_offers)) {
        const QStringList &serve = offer.contents.serve;
        if (serve.isEmpty())
            continue;
        const QString path = QStringLiteral("/%1/%2").arg(offer.repository,
            ZelManagerRepositoryBuilder::archiveFileName(offer.name, offer.version, offer.architecture));
        const QString how = serve.first();
        const TestHttpServer::Behaviour behaviour = how == QLatin1String("missing") ? TestHttpServer::NotFound
            : how == QLatin1String("trickle")                                       ? TestHttpServer::Trickle
            : how == QLatin1String("drop")                                          ? TestHttpServer::DropAfter
                                                                                    : TestHttpServer::Stall;
        if (!m_server->setBehaviour(path, behaviour, serve.value(1).toLongLong(), serve.value(2).toInt())) {
            m_failures.append(QStringLiteral("%1: the server does not take the behaviour of %2").arg(m_path, path));
            return false;
        }
    }
    return true;
}

// The indexes are written by the repository tool and imported by the
// program's own updater, as a user's update would.
bool ScenarioRunner::importRepositories()
{
    bool ok = true;
    inBatch(m_database, [&]() {
        for (const QString &repository : qAsConst(m_repositories)) {
            ZelManagerRepositoryIndex index;
            for (Offer &offer : m_offers) {
                if (offer.repository != repository)
                    continue;
                if (m_served && !buildArchive(offer)) {
                    ok = false;
                    continue;
                }
                ZelManagerRepositoryIndex::Package package;
                package.name = offer.name;
                package.description = QStringLiteral("The %1 package").arg(offer.name);
                const QString md5sum = m_served
                    ? offer.md5sum
                    : QStringLiteral("%1").arg(qHash(offer.name + offer.version), 32, 16, QLatin1Char('0'));
                index.addFile(package, { offer.version, offer.architecture, offer.time, md5sum, offer.dependencies });
            }
            TestRepository::writeIndex(repositoryFolder(repository), index.toXml());
            const TestRepository::Run run = TestRepository::update(m_database, repositoryUrl(repository));
            if (!run.errorText.isEmpty() || run.finishedCount != 1) {
                m_failures.append(
                    QStringLiteral("%1: repository %2 was not imported: %3").arg(m_path, repository, run.errorText));
                ok = false;
            }
        }
    });
    return ok;
}

// Recorded the way the installer records an installation.
void ScenarioRunner::recordInstalled()
{
    inBatch(m_database, [&]() {
        for (const Installed &installed : qAsConst(m_installed)) {
            PackageInfo info;
            info.name = installed.name;
            info.version = installed.version;
            info.time = installed.time;
            info.md5sum = QStringLiteral("0123456789abcdef0123456789abcdef");
            info.repository = repositoryUrl(installed.repository);
            info.dependencies = installed.dependencies;
            if (m_served)
                writeInstalledFiles(installed, info);
            m_database->recordInstallation(info, info.fileEntries.keys());
        }
    });
}

// An installed package's files lie in the install folder as the installer
// left them (written as given, fix flags from the nofix patterns), its
// scripts are recorded, and when the repository offers the same build, so
// are its MD5 sum and time, so that a reinstall finds its archive.
void ScenarioRunner::writeInstalledFiles(const Installed &installed, PackageInfo &info)
{
    for (const Offer &offer : qAsConst(m_offers)) {
        if (offer.name == installed.name && offer.version == installed.version
            && offer.repository == installed.repository
            && ZelManagerRepositoryIndex::normalizedArchitecture(offer.architecture) == m_architecture) {
            info.md5sum = offer.md5sum;
            info.time = offer.time;
        }
    }
    info.prerm = script(installed.contents.prerm);
    info.postrm = script(installed.contents.postrm);
    QList<QRegularExpression> nofix;
    for (const QString &pattern : installed.contents.nofix)
        nofix.append(QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern)));
    for (const auto &file : installed.contents.files) {
        TestSandbox::writeFile(targetPath() + QLatin1Char('/') + file.first, expand(file.second));
        const bool exempt = std::any_of(nofix.cbegin(), nofix.cend(),
            [&file](const QRegularExpression &pattern) { return pattern.match(file.first).hasMatch(); });
        info.fileEntries.insert(file.first, !exempt);
    }
}

void ScenarioRunner::act()
{
    for (const Line &line : qAsConst(m_actions)) {
        if (!actions().value(line.words.first())(*this, line))
            return;
    }
}

void ScenarioRunner::check()
{
    for (const Line &line : qAsConst(m_rules)) {
        const int before = m_failures.size();
        const QString found = rules().value(line.words.first())(*this, line);
        if (!found.isEmpty() && m_failures.size() == before)
            fail(line, QStringLiteral("rule `%1`: found %2").arg(line.text, found));
    }
}
