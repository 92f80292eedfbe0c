#include "ScenarioRunner.h"

#include "TestPackageDatabase.h"
#include "TestRepository.h"
#include "ZelManagerDatabase.h"
#include "ZelManagerRepositoryIndex.h"
#include "ZelManagerSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {

const QString MainRepository = QStringLiteral("main");

QHash<QString, ScenarioRunner::Action> &actions();
QHash<QString, ScenarioRunner::Rule> &rules();

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

ScenarioRunner::ScenarioRunner(const QString &path)
    : m_path(path)
{
}

ScenarioRunner::~ScenarioRunner() = default;

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
    return ok;
}

bool ScenarioRunner::parseLine(const QString &section, const Line &line)
{
    const QString keyword = line.words.first();
    if (section.isEmpty() && keyword == QLatin1String("architecture") && line.words.size() == 2) {
        m_architecture = line.words.at(1);
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
    return true;
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
    return true;
}

bool ScenarioRunner::setUp()
{
    m_fixture.reset(new TestPackageDatabase(QList<QUrl>()));
    ZelManagerSettings *settings = ZelManagerSettings::instance();
    settings->setArchitecture(m_architecture);
    for (const QString &repository : qAsConst(m_repositories)) {
        const QUrl url = QUrl::fromLocalFile(sandbox().path() + QStringLiteral("/repositories/") + repository);
        settings->setRepository(url, repository, true);
    }
    m_database = m_fixture->open();
    if (!importRepositories())
        return false;
    recordInstalled();
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
            for (const Offer &offer : qAsConst(m_offers)) {
                if (offer.repository != repository)
                    continue;
                ZelManagerRepositoryIndex::Package package;
                package.name = offer.name;
                package.description = QStringLiteral("The %1 package").arg(offer.name);
                const QString md5sum
                    = QStringLiteral("%1").arg(qHash(offer.name + offer.version), 32, 16, QLatin1Char('0'));
                index.addFile(package, { offer.version, offer.architecture, offer.time, md5sum, offer.dependencies });
            }
            const QString folder = sandbox().path() + QStringLiteral("/repositories/") + repository;
            const TestRepository::Run run
                = TestRepository::update(m_database, TestRepository::writeIndex(folder, index.toXml()));
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
            info.repository
                = QUrl::fromLocalFile(sandbox().path() + QStringLiteral("/repositories/") + installed.repository);
            info.dependencies = installed.dependencies;
            m_database->recordInstallation(info, QStringList());
        }
    });
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
