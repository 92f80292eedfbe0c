#ifndef SCENARIORUNNER_H
#define SCENARIORUNNER_H

#include "database/ZelManagerPackage.h"
#include "tools/ZelManagerRepositoryBuilder.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QScopedPointer>
#include <QString>
#include <QStringList>

#include <functional>

class TestHttpServer;
class TestPackageDatabase;
class TestSandbox;
class ZelManagerDatabase;

// Runs one scenario file (tests/scenarios/*.scenario, format in
// tests/scenarios/README.md) in a sandbox of its own: writes the
// repositories' indexes and imports them with the repository updater,
// records the installed packages, carries out the actions through the
// database's request operations, and checks every rule of the expected end
// state. Each failing rule is reported with the file, the line, the rule and
// what was found.
//
// Actions and rules are looked up by their first word; addAction() and
// addRule() add new ones. A scenario with an action added by
// addServedAction() (the "apply" run of ScenarioApplySteps) has its
// packages built as archives with the repository tool and its repositories
// served by the test HTTP server; its installed packages have their files
// in the install folder.
class ScenarioRunner
{
public:
    // One line of a section, split at blanks. Lines starting with "|" that
    // follow it are its block (the "| " prefix removed).
    struct Line
    {
        int number = 0;
        QString text;
        QStringList words;
        QStringList block;
    };
    // An action returns false after reporting its failure with fail().
    using Action = std::function<bool(ScenarioRunner &runner, const Line &line)>;
    // A rule returns an empty text when it holds, else what was found.
    using Rule = std::function<QString(ScenarioRunner &runner, const Line &line)>;

    // workers: the room for workers that an "apply" without "limit=" gets;
    // 0 keeps the run's own limit.
    explicit ScenarioRunner(const QString &path, int workers = 0);
    ~ScenarioRunner();

    // The file's base name, which names the scenario.
    QString name() const;
    // Parses, sets up, acts and checks; false when anything failed.
    bool run();
    QStringList failures() const { return m_failures; }
    QString report() const { return m_failures.join(QLatin1Char('\n')); }

    // The counts of the file's "workers" line (each a run of the scenario),
    // empty when it has none.
    static QList<int> workerCounts(const QString &path);
    int workers() const { return m_workers; }

    static void addAction(const QString &keyword, const Action &action);
    static void addRule(const QString &keyword, const Rule &rule);
    // An action that downloads the packages' archives.
    static void addServedAction(const QString &keyword, const Action &action);

    // For actions and rules.
    ZelManagerDatabase *database() const { return m_database; }
    const TestSandbox &sandbox() const;
    QString lastMessage() const { return m_lastMessage; }
    void setLastMessage(const QString &message) { m_lastMessage = message; }
    // The package named by word index of line; a failure when unknown.
    ZelManagerPackage package(const Line &line, int word);
    void fail(const Line &line, const QString &what);

    // Served scenarios: the server (null otherwise), the install folder, and
    // the log file that the "log" scripts append to.
    TestHttpServer *server() const { return m_server.data(); }
    QString targetPath() const;
    QString logFile() const;
    // text with @PREFIX@ (the build prefix), @TARGET@ (the install folder),
    // @LOG@, and @BLANKS@ and @ZEROS@ (as many blanks or zero bytes as the
    // install folder is shorter than the build prefix) replaced, then the
    // escapes \n \t \r \0 \\ and \xHH decoded.
    QByteArray expand(const QString &text) const;
    // What actions leave for rules (the apply run's outcome).
    QString value(const QString &key) const { return m_values.value(key); }
    void setValue(const QString &key, const QString &value) { m_values.insert(key, value); }

private:
    // What the "|" block of a package line gives it.
    struct Contents
    {
        QList<QPair<QString, QString>> files; // path, text to expand
        QList<QPair<QString, int>> bigFiles; // path, KiB of random bytes
        QStringList nofix;
        QString preinst;
        QString postinst;
        QString prerm;
        QString postrm;
        QStringList serve; // how the server answers for the archive
    };
    struct Offer
    {
        QString repository;
        QString name;
        QString version;
        QString architecture = QStringLiteral("win32");
        qint64 time = 1000;
        QStringList dependencies;
        Contents contents;
        QString md5sum;
    };
    struct Installed
    {
        QString repository;
        QString name;
        QString version;
        qint64 time = 1000;
        QStringList dependencies;
        Contents contents;
    };

    bool parse();
    bool parseLine(const QString &section, const Line &line);
    bool parseOffer(const QString &repository, const Line &line);
    bool parseInstalled(const Line &line);
    bool parsePackageLine(const Line &line, QStringList &fields, QStringList &dependencies);
    bool parseContents(const Line &line, bool offered, Contents &contents);
    QString script(const QString &text) const;
    QUrl repositoryUrl(const QString &repository) const;
    QString repositoryFolder(const QString &repository) const;
    bool buildArchive(Offer &offer);
    bool rewriteArchive(const ZelManagerRepositoryBuilder &builder,
        const QList<ZelManagerRepositoryBuilder::ArchiveEntry> &entries, Offer &offer);
    bool serveArchives();
    void writeInstalledFiles(const Installed &installed, PackageInfo &info);
    bool setUp();
    bool importRepositories();
    void recordInstalled();
    void act();
    void check();

    QString m_path;
    int m_workers = 0;
    QStringList m_failures;
    QString m_architecture = QStringLiteral("win32");
    QStringList m_repositories; // names, in order of appearance
    QList<Offer> m_offers;
    QList<Installed> m_installed;
    QList<Line> m_actions;
    QList<Line> m_rules;
    QScopedPointer<TestPackageDatabase> m_fixture;
    ZelManagerDatabase *m_database = nullptr;
    QString m_lastMessage;
    bool m_served = false;
    QScopedPointer<TestHttpServer> m_server;
    QHash<QString, QString> m_values;
};

#endif // SCENARIORUNNER_H
