#ifndef ZELMANAGERCOMMANDLINE_H
#define ZELMANAGERCOMMANDLINE_H

#include "database/ZelManagerPackage.h"
#include "tools/ZelManagerApplyPlan.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <memory>

class ZelManagerApplyRun;
class ZelManagerDatabase;
class ZelManagerInstallLock;

// The commands of the command-line tool on the engine of the window: the
// same settings store, install folder, databases, cache, requests and apply
// run, and the install lock, so that the window and the tool never apply to
// one installation at the same time.
//
// Each command returns the program's exit status. Results go to out (text,
// or one JSON document for the read-only commands with json set); messages
// go to err. Commands that change the installation take the install lock
// first and touch nothing when another program holds it.
//
// install, remove, reinstall, upgrade, apply and import mark packages as the
// window does, show the plan, ask for confirmation (unless yes), and run the
// apply with progress; a declined plan or a dry run puts the requests back as
// they were. interrupt() stops a run as the window's stop does.
class ZelManagerCommandLine : public QObject
{
    Q_OBJECT

public:
    enum ExitStatus { Success = 0, Failure = 1, UsageError = 2, Locked = 3 };

    struct Options
    {
        bool json = false;
        bool yes = false;
        bool dryRun = false;
        bool keepInstalled = false; // import: make no removal requests
        int listFilter = 0; // list: a ZelManagerPackage state or request filter
        QString category; // list: category path, levels separated by "/"
    };

    // terminal: out is a terminal (progress drawn in place).
    ZelManagerCommandLine(std::FILE *out, std::FILE *err, bool terminal, QObject *parent = nullptr);
    // Releases the lock, the triggers, the database and the settings store.
    ~ZelManagerCommandLine() override;

    int update();
    int search(const QString &text, const Options &options);
    int show(const QString &name, const Options &options);
    int list(const Options &options);
    int files(const QString &name, const Options &options);
    int owner(const QString &path, const Options &options);
    int change(ZelManagerApplyPlan::Operation operation, const QStringList &names, const Options &options);
    int upgradeAll(const Options &options);
    int apply(const Options &options);
    int cancel(const QStringList &names, bool all);
    int exportList(const QString &fileName);
    int importList(const QString &fileName, const Options &options);
    int clean();

    // The package as the read-only commands report it.
    static QJsonObject packageObject(const ZelManagerPackage &package);
    QJsonObject packageDetails(const ZelManagerPackage &package) const;

    // Set by the signal handler (async-signal-safe); checked where the
    // event loop does not turn (the confirmation prompt).
    static volatile std::sig_atomic_t s_interrupted;

signals:
    // After interrupt(): running updates cancel.
    void interrupted();

public slots:
    // Ctrl+C: stops the running apply (once), or ends the prompt.
    void interrupt();

private:
    ZelManagerDatabase *database();
    bool lock(int *status);
    int finishChange(ZelManagerApplyPlan &plan, const Options &options);
    bool confirm();
    int run(const ZelManagerApplyPlan &plan);
    int reportRun(const ZelManagerApplyPlan &plan, ZelManagerApplyRun &run);
    static QHash<QString, int> endStatus(const ZelManagerApplyPlan &plan, const ZelManagerApplyRun &run);
    static bool isDone(const ZelManagerApplyPlan::Entry &entry);
    ZelManagerPackage findPackage(const QString &name, int *status);
    QString mark(ZelManagerApplyPlan::Operation operation, const ZelManagerPackage &package, bool *changed);
    int printPackages(const QList<ZelManagerPackage> &packages, const Options &options);
    void printJson(const QJsonValue &value);
    void message(const QString &text);
    void output(const QString &text);

    std::FILE *m_out;
    std::FILE *m_err;
    bool m_terminal;
    bool m_triggersCreated = false;
    bool m_stopping = false;
    std::unique_ptr<ZelManagerInstallLock> m_lock;
    QPointer<ZelManagerApplyRun> m_run;
};

#endif // ZELMANAGERCOMMANDLINE_H
